#include "store/store.h"

#include "store/queries.h"

namespace tarlivo {
namespace {

template <class Row>
const std::optional<Row> &fromSide(const RowChange<Row> &c, bool forward)
{
    return forward ? c.before : c.after;
}

template <class Row>
const std::optional<Row> &toSide(const RowChange<Row> &c, bool forward)
{
    return forward ? c.after : c.before;
}

template <class Row>
auto keyOf(const RowChange<Row> &c)
{
    return c.before ? c.before->id : (c.after ? c.after->id : decltype(c.before->id)(0));
}

} // namespace

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
    row.zeitpunkt = q.int64(0);
    row.cardId = qint32(q.int64(1));
    row.subjectId = qint32(q.int64(2));
    row.fachVorher = qint32(q.int64(3));
    row.fachNachher = qint32(q.int64(4));
    const qint64 urteil = q.int64(5);
    row.urteil = Verdict(urteil);
    row.direction = q.int64(6) ? Direction::Reverse : Direction::Forward;
    // A value beyond 32 bits reads as something no recorded row holds.
    if (q.int64(1) != row.cardId || q.int64(2) != row.subjectId || q.int64(3) != row.fachVorher
        || q.int64(4) != row.fachNachher)
        row.id = -1;
    return row;
}

void Store::undo(const Change &change) { applyStep(change, false); }

void Store::redo(const Change &change) { applyStep(change, true); }

// Writes one side of a step over the other. Everything is compared first inside the
// transaction; a row that differs means someone else changed the file, and nothing
// of the step may be written then, so the transaction is rolled back by the throw.
void Store::applyStep(const Change &change, bool forward)
{
    const QString step = forward ? QStringLiteral("redo") : QStringLiteral("undo");
    const auto conflict = [&](const QString &what) {
        throw StoreError(StoreErrorKind::Conflict, path(), step + QStringLiteral(": ") + what);
    };
    prepareWrite();
    sql::WriteTransaction tx(m_db);

    for (const auto &c : change.subjects) {
        const qint32 id = keyOf(c);
        if (!(subjectRow(id) == fromSide(c, forward)))
            conflict(QStringLiteral("subject %1").arg(id));
        const auto &to = toSide(c, forward);
        if (to) {
            const std::optional<qint32> holder = subjectId(to->name);
            if (holder && *holder != id)
                conflict(QStringLiteral("subject name of %1").arg(id));
        }
    }
    for (const auto &c : change.cards) {
        const qint32 id = keyOf(c);
        const auto &from = fromSide(c, forward);
        if (!(cardRow(id) == from))
            conflict(QStringLiteral("card %1").arg(id));
        if (!from) {
            sql::Statement q(m_db, "SELECT 1 FROM tblPosition WHERE idFrageAntwort = ?1");
            if (q.bind(1, id).step())
                conflict(QStringLiteral("position of card %1").arg(id));
        }
    }
    for (const auto &c : change.log) {
        if (!(logRow(keyOf(c)) == fromSide(c, forward)))
            conflict(QStringLiteral("log row %1").arg(keyOf(c)));
    }
    for (const auto &c : change.directions) {
        const qint32 id = c.before ? c.before->subjectId : c.after->subjectId;
        if (!(directionRow(id) == fromSide(c, forward)))
            conflict(QStringLiteral("direction of subject %1").arg(id));
    }
    for (const auto &c : change.tolerances) {
        const qint32 id = c.before ? c.before->subjectId : c.after->subjectId;
        if (!(toleranceRow(id) == fromSide(c, forward)))
            conflict(QStringLiteral("tolerances of subject %1").arg(id));
    }
    for (const auto &c : change.intervals) {
        const IntervalRow &key = c.before ? *c.before : *c.after;
        if (!(intervalRow(key.subjectId, key.fach) == fromSide(c, forward)))
            conflict(QStringLiteral("interval of subject %1, compartment %2").arg(key.subjectId).arg(key.fach));
    }

    for (const auto &c : change.media) {
        const qint64 id = c.before ? c.before->id : c.after->id;
        const auto &from = fromSide(c, forward);
        if (!(mediaRow(id) == from))
            conflict(QStringLiteral("media file %1").arg(id));
        const auto &to = toSide(c, forward);
        if (!from && to) {
            sql::Statement q(m_db, "SELECT 1 FROM tblMedium WHERE Pruefsumme = ?1");
            if (q.bindBlob(1, to->checksum).step())
                conflict(QStringLiteral("content of media file %1").arg(id));
        }
    }
    for (const auto &c : change.mediaLinks) {
        const MediaLinkRow &key = c.before ? *c.before : *c.after;
        if (!(mediaLink(key.cardId, key.side, key.kind) == fromSide(c, forward)))
            conflict(QStringLiteral("media of card %1").arg(key.cardId));
    }
    // Files coming back before the cards that show them.
    for (const auto &c : change.media) {
        const auto &to = toSide(c, forward);
        if (!to || fromSide(c, forward))
            continue;
        sql::Statement(m_db, "INSERT INTO tblMedium (idMedium, Name, Art, Inhalt, Pruefsumme) "
                             "VALUES (?1, ?2, ?3, ?4, ?5)")
            .bind(1, to->id)
            .bind(2, to->name)
            .bind(3, qint64(to->kind))
            .bindBlob(4, to->bytes)
            .bindBlob(5, to->checksum)
            .run();
    }

    // Subjects come before their cards and go after them.
    for (const auto &c : change.subjects) {
        const auto &from = fromSide(c, forward);
        const auto &to = toSide(c, forward);
        if (!to)
            continue;
        if (from) {
            sql::Statement q(m_db, "UPDATE tblGebiet SET NameGebiet = ?1 WHERE idGebiet = ?2");
            q.bind(1, to->name).bind(2, to->id).run();
        } else {
            sql::Statement q(m_db, "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)");
            q.bind(1, to->id).bind(2, to->name).run();
        }
    }
    for (const auto &c : change.cards) {
        const auto &from = fromSide(c, forward);
        if (!toSide(c, forward)) {
            sql::Statement position(m_db, "DELETE FROM tblPosition WHERE idFrageAntwort = ?1");
            position.bind(1, from->id).run();
            sql::Statement card(m_db, "DELETE FROM tblFrageAntwort WHERE idFrageAntwort = ?1");
            card.bind(1, from->id).run();
        }
    }
    for (const auto &c : change.cards) {
        const auto &from = fromSide(c, forward);
        const auto &to = toSide(c, forward);
        if (!to)
            continue;
        if (!subjectRow(to->subjectId))
            conflict(QStringLiteral("subject %1 of card %2").arg(to->subjectId).arg(to->id));
        if (from) {
            // Only what differs: rewriting equal texts would still redo their search entries.
            if (from->subjectId != to->subjectId || from->frage != to->frage || from->antwort != to->antwort
                || from->frage.isNull() != to->frage.isNull() || from->antwort.isNull() != to->antwort.isNull()) {
                sql::Statement q(m_db, "UPDATE tblFrageAntwort SET idGebiet = ?1, Frage = ?2, Antwort = ?3 "
                                       "WHERE idFrageAntwort = ?4");
                q.bind(1, to->subjectId).bind(2, to->frage).bind(3, to->antwort).bind(4, to->id).run();
            }
            if (from->fach != to->fach || from->stelle != to->stelle) {
                sql::Statement q(m_db, "UPDATE tblPosition SET Fach = ?1, Stelle = ?2 WHERE idFrageAntwort = ?3");
                q.bind(1, to->fach).bind(2, to->stelle).bind(3, to->id).run();
            }
            if (from->seit != to->seit)
                writeSeit(to->id, to->seit);
            if (from->reverse != to->reverse)
                writeReverse(to->id, to->reverse);
        } else {
            sql::Statement card(m_db, "INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) "
                                      "VALUES (?1, ?2, ?3, ?4)");
            card.bind(1, to->id).bind(2, to->subjectId).bind(3, to->frage).bind(4, to->antwort).run();
            sql::Statement position(m_db, "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                                          "VALUES (?1, ?2, ?3, ?4)");
            position.bind(1, to->id).bind(2, to->fach).bind(3, to->stelle).bind(4, to->subjectId).run();
            writeSeit(to->id, to->seit);
            if (to->reverse)
                writeReverse(to->id, to->reverse);
        }
    }
    // Links after their card came back; a file no card shows any more goes by trigger.
    for (const auto &c : change.mediaLinks) {
        const auto &from = fromSide(c, forward);
        const auto &to = toSide(c, forward);
        if (from)
            sql::Statement(m_db, "DELETE FROM tblKarteMedium WHERE idFrageAntwort = ?1 AND Seite = ?2 AND Art = ?3")
                .bind(1, from->cardId)
                .bind(2, qint64(from->side))
                .bind(3, qint64(from->kind))
                .run();
        if (!to)
            continue;
        sql::Statement card(m_db, "SELECT 1 FROM tblFrageAntwort WHERE idFrageAntwort = ?1");
        sql::Statement file(m_db, "SELECT 1 FROM tblMedium WHERE idMedium = ?1 AND Art = ?2");
        if (!card.bind(1, to->cardId).step() || !file.bind(1, to->mediaId).bind(2, qint64(to->kind)).step())
            conflict(QStringLiteral("media of card %1").arg(to->cardId));
        linkMedia(to->cardId, to->side, to->kind, to->mediaId);
    }
    for (const auto &c : change.media) {
        const auto &from = fromSide(c, forward);
        if (!from || toSide(c, forward))
            continue;
        sql::Statement used(m_db, "SELECT 1 FROM tblKarteMedium WHERE idMedium = ?1");
        if (used.bind(1, from->id).step())
            conflict(QStringLiteral("cards of media file %1").arg(from->id));
        sql::Statement(m_db, "DELETE FROM tblMedium WHERE idMedium = ?1").bind(1, from->id).run();
    }
    // Directions after their subject came back, before it goes; a fill after its
    // cards came back (undo of a later deletion is a step of its own).
    for (const auto &c : change.directions) {
        const auto &to = toSide(c, forward);
        const qint32 id = c.before ? c.before->subjectId : c.after->subjectId;
        if (to && !subjectRow(id))
            conflict(QStringLiteral("subject %1 of a direction").arg(id));
        writeDirection(id, to);
    }
    for (const ReverseFill &fill : change.fills)
        applyFill(fill, forward);
    // Tolerances likewise after their subject came back, before it goes.
    for (const auto &c : change.tolerances) {
        const auto &to = toSide(c, forward);
        const qint32 id = c.before ? c.before->subjectId : c.after->subjectId;
        if (to && !subjectRow(id))
            conflict(QStringLiteral("subject %1 of tolerances").arg(id));
        writeTolerance(id, to);
    }
    // Intervals after their subject came back, before it goes.
    for (const auto &c : change.intervals) {
        const auto &to = toSide(c, forward);
        const IntervalRow &key = c.before ? *c.before : *c.after;
        if (to) {
            if (!subjectRow(to->subjectId))
                conflict(QStringLiteral("subject %1 of an interval").arg(to->subjectId));
            sql::Statement q(m_db, "INSERT INTO tblIntervall (idGebiet, Fach, Tage) VALUES (?1, ?2, ?3) "
                                   "ON CONFLICT (idGebiet, Fach) DO UPDATE SET Tage = excluded.Tage");
            q.bind(1, to->subjectId).bind(2, to->fach).bind(3, to->tage).run();
        } else {
            sql::Statement q(m_db, "DELETE FROM tblIntervall WHERE idGebiet = ?1 AND Fach = ?2");
            q.bind(1, key.subjectId).bind(2, key.fach).run();
        }
    }
    for (const auto &c : change.subjects) {
        if (toSide(c, forward))
            continue;
        const qint32 id = keyOf(c);
        sql::Statement cards(m_db, "SELECT 1 FROM tblPosition WHERE idGebiet = ?1 LIMIT 1");
        if (cards.bind(1, id).step())
            conflict(QStringLiteral("cards of subject %1").arg(id));
        sql::Statement q(m_db, "DELETE FROM tblGebiet WHERE idGebiet = ?1");
        q.bind(1, id).run();
    }
    for (const auto &c : change.log) {
        const auto &from = fromSide(c, forward);
        const auto &to = toSide(c, forward);
        if (!to) {
            sql::Statement q(m_db, "DELETE FROM tblUebung WHERE idUebung = ?1");
            q.bind(1, from->id).run();
            continue;
        }
        if (from) {
            sql::Statement q(m_db, "DELETE FROM tblUebung WHERE idUebung = ?1");
            q.bind(1, from->id).run();
        }
        sql::Statement q(m_db, "INSERT INTO tblUebung (idUebung, Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, "
                               "FachNachher, Urteil) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        q.bind(1, to->id)
            .bind(2, to->zeitpunkt)
            .bind(3, to->cardId)
            .bind(4, to->subjectId)
            .bind(5, to->fachVorher)
            .bind(6, to->fachNachher)
            .bind(7, qint64(to->urteil))
            .run();
        if (to->direction == Direction::Reverse)
            sql::Statement(m_db, "INSERT INTO tblUebungUmgekehrt (idUebung) VALUES (?1)").bind(1, to->id).run();
    }

    // A card coming back to its place finds it taken when another card was put
    // there meanwhile.
    for (const auto &c : change.cards) {
        const auto &from = fromSide(c, forward);
        const auto &to = toSide(c, forward);
        if (!to || (from && from->stelle == to->stelle))
            continue;
        sql::Statement q(m_db, queries::kCardsAtStelle);
        if (q.bind(1, to->stelle).step() && q.int64(0) > 1)
            conflict(QStringLiteral("queue place %1").arg(to->stelle));
    }
    for (const auto &c : change.cards) {
        const auto &from = fromSide(c, forward);
        const auto &to = toSide(c, forward);
        if (!to || !to->reverse || (from && from->reverse && from->reverse->stelle == to->reverse->stelle))
            continue;
        sql::Statement q(m_db, "SELECT COUNT(*) FROM tblPositionUmgekehrt WHERE Stelle = ?1");
        if (q.bind(1, to->reverse->stelle).step() && q.int64(0) > 1)
            conflict(QStringLiteral("reverse queue place %1").arg(to->reverse->stelle));
    }
    tx.commit();
}

} // namespace tarlivo
