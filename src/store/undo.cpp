#include "store/store.h"

#include "store/calendar.h"
#include "store/cardmedia.h"
#include "store/places.h"
#include "store/queries.h"

#include <functional>

namespace tarlivo::store {

std::optional<SubjectRow> Store::subjectRow(qint32 subjectId)
{
    sql::Statement q(m_db, "SELECT NameGebiet FROM tblGebiet WHERE idGebiet = ?1");
    if (!q.bind(1, subjectId).step())
        return std::nullopt;
    return SubjectRow{subjectId, q.text(0)};
}

std::optional<LogRow> Store::logRow(qint64 logId)
{
    sql::Statement q(m_db, "SELECT Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, FachNachher, Urteil, "
                           "EXISTS (SELECT 1 FROM tblUebungUmgekehrt WHERE idUebung = ?1) "
                           "FROM tblUebung WHERE idUebung = ?1");
    if (!q.bind(1, logId).step())
        return std::nullopt;
    LogRow row;
    row.id = logId;
    row.time = q.int64(0);
    row.cardId = qint32(q.int64(1));
    row.subjectId = qint32(q.int64(2));
    row.compartmentBefore = qint32(q.int64(3));
    row.compartmentAfter = qint32(q.int64(4));
    const qint64 verdict = q.int64(5);
    row.verdict = Verdict(verdict);
    row.direction = q.int64(6) ? Direction::Reverse : Direction::Forward;
    // A value beyond 32 bits reads as something no recorded row holds.
    if (q.int64(1) != row.cardId || q.int64(2) != row.subjectId || q.int64(3) != row.compartmentBefore
        || q.int64(4) != row.compartmentAfter)
        row.id = -1;
    return row;
}

void Store::undo(const Change &change) { applyStep(change, false); }

void Store::redo(const Change &change) { applyStep(change, true); }

namespace {

template <class Row>
auto keyOf(const RowChange<Row> &c)
{
    return c.before ? c.before->id : (c.after ? c.after->id : decltype(c.before->id)(0));
}

} // namespace

// How each kind of row is written back. A step goes over its kinds in Change's
// order: every row is compared first (check), then rows coming or changing are
// written parents first (arrive), then rows going children first (leave), then what
// only the whole step can show is looked at (verify). Everything happens inside the
// step's transaction; a row that differs means someone else changed the file, and
// the throw rolls back all of the step.
class Store::StepWriter {
public:
    StepWriter(Store &store, bool forward)
        : m_store(store), m_db(store.m_db), m_forward(forward),
          m_step(forward ? QStringLiteral("redo") : QStringLiteral("undo"))
    {
    }
    const QString &step() const { return m_step; }

    template <class Row>
    const std::optional<Row> &from(const RowChange<Row> &c) const
    {
        return m_forward ? c.before : c.after;
    }
    template <class Row>
    const std::optional<Row> &to(const RowChange<Row> &c) const
    {
        return m_forward ? c.after : c.before;
    }
    template <class Row>
    bool arrives(const RowChange<Row> &c) const
    {
        return to(c).has_value();
    }
    bool arrives(const ReverseFill &fill) const { return fill.placed == m_forward; }
    template <class Entry>
    void verify(const Entry & /*row*/)
    {
    }

    // Subjects come before their cards and go after them.
    void check(const RowChange<SubjectRow> &c)
    {
        const qint32 id = keyOf(c);
        if (!(m_store.subjectRow(id) == from(c)))
            conflict(QStringLiteral("subject %1").arg(id));
        if (const auto &row = to(c)) {
            const std::optional<qint32> holder = m_store.subjectId(row->name);
            if (holder && *holder != id)
                conflict(QStringLiteral("subject name of %1").arg(id));
        }
    }
    void arrive(const RowChange<SubjectRow> &c)
    {
        const SubjectRow &row = *to(c);
        if (from(c))
            sql::Statement(m_db, "UPDATE tblGebiet SET NameGebiet = ?1 WHERE idGebiet = ?2")
                .bind(1, row.name)
                .bind(2, row.id)
                .run();
        else
            sql::Statement(m_db, "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)")
                .bind(1, row.id)
                .bind(2, row.name)
                .run();
    }
    void leave(const RowChange<SubjectRow> &c)
    {
        const qint32 id = keyOf(c);
        sql::Statement cards(m_db, "SELECT 1 FROM tblPosition WHERE idGebiet = ?1 LIMIT 1");
        if (cards.bind(1, id).step())
            conflict(QStringLiteral("cards of subject %1").arg(id));
        sql::Statement(m_db, "DELETE FROM tblGebiet WHERE idGebiet = ?1").bind(1, id).run();
    }

    // A card's text row and its places.
    void check(const RowChange<CardRow> &c)
    {
        const qint32 id = keyOf(c);
        if (!(m_store.cardRow(id) == from(c)))
            conflict(QStringLiteral("card %1").arg(id));
        if (!from(c)) {
            sql::Statement q(m_db, "SELECT 1 FROM tblPosition WHERE idFrageAntwort = ?1");
            if (q.bind(1, id).step())
                conflict(QStringLiteral("position of card %1").arg(id));
        }
    }
    void arrive(const RowChange<CardRow> &c)
    {
        const auto &was = from(c);
        const CardRow &row = *to(c);
        if (!m_store.subjectRow(row.subjectId))
            conflict(QStringLiteral("subject %1 of card %2").arg(row.subjectId).arg(row.id));
        if (!was) {
            sql::Statement(m_db, "INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) "
                                 "VALUES (?1, ?2, ?3, ?4)")
                .bind(1, row.id)
                .bind(2, row.subjectId)
                .bind(3, row.question)
                .bind(4, row.answer)
                .run();
            Places(m_store, Direction::Forward)
                .add(row.id, row.subjectId, Place{row.compartment, row.queuePlace, row.enteredAt});
            if (row.reverse)
                Places(m_store, Direction::Reverse).add(row.id, row.subjectId, *row.reverse);
            return;
        }
        // Only what differs: rewriting equal texts would still redo their search entries.
        if (was->subjectId != row.subjectId || was->question != row.question || was->answer != row.answer
            || was->question.isNull() != row.question.isNull() || was->answer.isNull() != row.answer.isNull())
            sql::Statement(m_db, "UPDATE tblFrageAntwort SET idGebiet = ?1, Frage = ?2, Antwort = ?3 "
                                 "WHERE idFrageAntwort = ?4")
                .bind(1, row.subjectId)
                .bind(2, row.question)
                .bind(3, row.answer)
                .bind(4, row.id)
                .run();
        if (was->compartment != row.compartment || was->queuePlace != row.queuePlace || was->enteredAt != row.enteredAt)
            Places(m_store, Direction::Forward).put(row.id, Place{row.compartment, row.queuePlace, row.enteredAt});
        if (was->reverse != row.reverse)
            Places(m_store, Direction::Reverse).write(row.id, row.reverse);
    }
    void leave(const RowChange<CardRow> &c)
    {
        const qint32 id = from(c)->id;
        Places(m_store, Direction::Forward).remove(id);
        sql::Statement(m_db, "DELETE FROM tblFrageAntwort WHERE idFrageAntwort = ?1").bind(1, id).run();
    }
    // A card coming back to its place finds it taken when another card was put
    // there meanwhile.
    void verify(const RowChange<CardRow> &c)
    {
        const auto &was = from(c);
        const auto &row = to(c);
        if (!row)
            return;
        if ((!was || was->queuePlace != row->queuePlace)
            && Places(m_store, Direction::Forward).holders(row->queuePlace) > 1)
            conflict(QStringLiteral("queue place %1").arg(row->queuePlace));
        if (row->reverse && !(was && was->reverse && was->reverse->queuePlace == row->reverse->queuePlace)
            && Places(m_store, Direction::Reverse).holders(row->reverse->queuePlace) > 1)
            conflict(QStringLiteral("reverse queue place %1").arg(row->reverse->queuePlace));
    }

    // The practice log.
    void check(const RowChange<LogRow> &c)
    {
        if (!(m_store.logRow(keyOf(c)) == from(c)))
            conflict(QStringLiteral("log row %1").arg(keyOf(c)));
    }
    void arrive(const RowChange<LogRow> &c)
    {
        if (from(c))
            leave(c);
        const LogRow &row = *to(c);
        sql::Statement(m_db, "INSERT INTO tblUebung (idUebung, Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, "
                             "FachNachher, Urteil) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
            .bind(1, row.id)
            .bind(2, row.time)
            .bind(3, row.cardId)
            .bind(4, row.subjectId)
            .bind(5, row.compartmentBefore)
            .bind(6, row.compartmentAfter)
            .bind(7, qint64(row.verdict))
            .run();
        if (row.direction == Direction::Reverse)
            sql::Statement(m_db, "INSERT INTO tblUebungUmgekehrt (idUebung) VALUES (?1)").bind(1, row.id).run();
    }
    void leave(const RowChange<LogRow> &c)
    {
        sql::Statement(m_db, "DELETE FROM tblUebung WHERE idUebung = ?1").bind(1, from(c)->id).run();
    }

    // A compartment's interval; absent: its default.
    void check(const RowChange<IntervalRow> &c)
    {
        const IntervalRow &key = c.before ? *c.before : *c.after;
        if (!(Calendar(m_store).intervalRow(key.subjectId, key.compartment) == from(c)))
            conflict(QStringLiteral("interval of subject %1, compartment %2").arg(key.subjectId).arg(key.compartment));
    }
    void arrive(const RowChange<IntervalRow> &c)
    {
        const IntervalRow &row = *to(c);
        if (!m_store.subjectRow(row.subjectId))
            conflict(QStringLiteral("subject %1 of an interval").arg(row.subjectId));
        Calendar(m_store).writeInterval(row.subjectId, row.compartment, row);
    }
    void leave(const RowChange<IntervalRow> &c)
    {
        Calendar(m_store).writeInterval(from(c)->subjectId, from(c)->compartment, std::nullopt);
    }

    // A media file; one coming back must not find its content stored under another key.
    void check(const RowChange<MediaRow> &c)
    {
        const qint64 id = c.before ? c.before->id : c.after->id;
        if (!(MediaLibrary(m_store).row(id) == from(c)))
            conflict(QStringLiteral("media file %1").arg(id));
        if (!from(c) && to(c) && MediaLibrary(m_store).holdsContent(to(c)->checksum))
            conflict(QStringLiteral("content of media file %1").arg(id));
    }
    void arrive(const RowChange<MediaRow> &c)
    {
        if (from(c))
            return; // a file's rows never change, they only come and go
        MediaLibrary(m_store).insertRow(*to(c));
    }
    void leave(const RowChange<MediaRow> &c)
    {
        const qint64 id = from(c)->id;
        MediaLibrary media(m_store);
        if (media.inUse(id))
            conflict(QStringLiteral("cards of media file %1").arg(id));
        media.removeRow(id);
    }

    // A card side's file; a file no card shows any more goes by trigger.
    void check(const RowChange<MediaLinkRow> &c)
    {
        const MediaLinkRow &key = c.before ? *c.before : *c.after;
        if (!(MediaLibrary(m_store).linkRow(key.cardId, key.side, key.kind) == from(c)))
            conflict(QStringLiteral("media of card %1").arg(key.cardId));
    }
    void arrive(const RowChange<MediaLinkRow> &c)
    {
        if (from(c))
            leave(c);
        const MediaLinkRow &row = *to(c);
        MediaLibrary media(m_store);
        if (!m_store.cardText(row.cardId) || !media.holds(row.mediaId, row.kind))
            conflict(QStringLiteral("media of card %1").arg(row.cardId));
        media.link(row.cardId, row.side, row.kind, row.mediaId);
    }
    void leave(const RowChange<MediaLinkRow> &c) { MediaLibrary(m_store).unlink(*from(c)); }

    // A subject's direction; absent: forward only.
    void check(const RowChange<DirectionRow> &c)
    {
        const qint32 id = c.before ? c.before->subjectId : c.after->subjectId;
        if (!(m_store.directionRow(id) == from(c)))
            conflict(QStringLiteral("direction of subject %1").arg(id));
    }
    void arrive(const RowChange<DirectionRow> &c)
    {
        const DirectionRow &row = *to(c);
        if (!m_store.subjectRow(row.subjectId))
            conflict(QStringLiteral("subject %1 of a direction").arg(row.subjectId));
        m_store.writeDirection(row.subjectId, row);
    }
    void leave(const RowChange<DirectionRow> &c) { m_store.writeDirection(from(c)->subjectId, std::nullopt); }

    // A subject's tolerances likewise come after their subject and go before it.
    void check(const RowChange<ToleranceRow> &c)
    {
        const qint32 id = c.before ? c.before->subjectId : c.after->subjectId;
        if (!(m_store.toleranceRow(id) == from(c)))
            conflict(QStringLiteral("tolerances of subject %1").arg(id));
    }
    void arrive(const RowChange<ToleranceRow> &c)
    {
        const ToleranceRow &row = *to(c);
        if (!m_store.subjectRow(row.subjectId))
            conflict(QStringLiteral("subject %1 of tolerances").arg(row.subjectId));
        m_store.writeTolerance(row.subjectId, row);
    }
    void leave(const RowChange<ToleranceRow> &c) { m_store.writeTolerance(from(c)->subjectId, std::nullopt); }

    // Reverse places made at once; applyFill compares them as it writes.
    void check(const ReverseFill & /*fill*/) {}
    void arrive(const ReverseFill &fill) { m_store.applyFill(fill, true, m_step); }
    void leave(const ReverseFill &fill) { m_store.applyFill(fill, false, m_step); }

private:
    [[noreturn]] void conflict(const QString &what) const
    {
        throw StoreError(StoreErrorKind::Conflict, m_store.path(), m_step + QStringLiteral(": ") + what);
    }

    Store &m_store;
    sql::Database &m_db;
    bool m_forward;
    QString m_step;
};

// Writes one side of a step over the other, phase by phase over every kind.
void Store::applyStep(const Change &change, bool forward)
{
    prepareWrite();
    sql::WriteTransaction tx(m_db);
    StepWriter writer(*this, forward);
    change.forEachKind([&](const auto &rows) {
        for (const auto &row : rows)
            writer.check(row);
    });
    change.forEachKind([&](const auto &rows) {
        for (const auto &row : rows)
            if (writer.arrives(row))
                writer.arrive(row);
    });
    // Rows go in the opposite order of kinds: children before their parents.
    std::vector<std::function<void()>> leaving;
    change.forEachKind([&](const auto &rows) {
        leaving.emplace_back([&writer, &rows] {
            for (const auto &row : rows)
                if (!writer.arrives(row))
                    writer.leave(row);
        });
    });
    for (auto kind = leaving.rbegin(); kind != leaving.rend(); ++kind)
        (*kind)();
    change.forEachKind([&](const auto &rows) {
        for (const auto &row : rows)
            writer.verify(row);
    });
    tx.commit();
}

} // namespace tarlivo::store
