// Both directions: a subject's choice, and the reverse places it gives its cards.
#include "store/directions.h"

#include "store/cards.h"
#include "store/numbertest.h"
#include "store/places.h"
#include "store/queries.h"
#include "store/schema.h"

#include <QElapsedTimer>

#include <sqlite3.h>

namespace tarlivo::store {
namespace {

// Asks keepGoing now and then while one long statement runs; a false answer
// interrupts it, and the write it belongs to is rolled back.
class CancelWatch {
public:
    CancelWatch(sqlite3 *db, const std::function<bool()> &keepGoing) : m_db(db), m_keepGoing(keepGoing)
    {
        if (!m_keepGoing)
            return;
        m_clock.start();
        sqlite3_progress_handler(m_db, 20000, &CancelWatch::tick, this);
    }
    ~CancelWatch()
    {
        if (m_keepGoing)
            sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
    }
    CancelWatch(const CancelWatch &) = delete;
    CancelWatch &operator=(const CancelWatch &) = delete;
    bool cancelled() const { return m_cancelled; }

private:
    static int tick(void *self)
    {
        auto *watch = static_cast<CancelWatch *>(self);
        // The dialog is asked a few times a second, not at every tick.
        if (watch->m_clock.elapsed() < 50)
            return 0;
        watch->m_clock.restart();
        watch->m_cancelled = !watch->m_keepGoing();
        return watch->m_cancelled ? 1 : 0;
    }

    sqlite3 *m_db;
    const std::function<bool()> &m_keepGoing;
    QElapsedTimer m_clock;
    bool m_cancelled = false;
};

} // namespace

Directions::Directions(Store &store) : StorePart(store) {}

std::optional<DirectionRow> Directions::directionRow(qint32 subjectId)
{
    sql::Statement q(m_db, "SELECT Richtung FROM tblRichtung WHERE idGebiet = ?1");
    if (!q.bind(1, subjectId).step())
        return std::nullopt;
    const qint64 value = q.int64(0);
    return DirectionRow{subjectId, value == 1 ? DirectionSetting::Reverse : DirectionSetting::Both};
}

DirectionSetting Directions::direction(qint32 subjectId)
{
    const std::optional<DirectionRow> found = directionRow(subjectId);
    return found ? found->setting : DirectionSetting::Forward;
}

bool Directions::hasReverseSubjects()
{
    sql::Statement q(m_db, "SELECT 1 FROM tblRichtung LIMIT 1");
    return q.step();
}

void Directions::writeDirection(qint32 subjectId, const std::optional<DirectionRow> &row)
{
    if (!row || row->setting == DirectionSetting::Forward) {
        sql::Statement(m_db, "DELETE FROM tblRichtung WHERE idGebiet = ?1").bind(1, subjectId).run();
        return;
    }
    sql::Statement(m_db, "INSERT INTO tblRichtung (idGebiet, Richtung) VALUES (?1, ?2) "
                         "ON CONFLICT (idGebiet) DO UPDATE SET Richtung = excluded.Richtung")
        .bind(1, subjectId)
        .bind(2, qint64(row->setting))
        .run();
}

bool Directions::anyReversePlace(qint32 subjectId)
{
    sql::Statement q(m_db, "SELECT 1 FROM tblPositionUmgekehrt WHERE idGebiet = ?1 LIMIT 1");
    return q.bind(1, subjectId).step();
}

std::optional<ReverseFill> Directions::fillReverse(qint32 subjectId, const std::function<bool()> &keepGoing)
{
    // Which cards lack a place, and so how far the queue places reach.
    const bool anyPlace = anyReversePlace(subjectId);
    ReverseFill fill{subjectId, 0, 0, 0, 0, StoreAccess::now(m_store)};
    qint64 firstKey = 0;
    qint64 lastKey = 0;
    {
        sql::Statement q(m_db, anyPlace ? queries::kLackingReverse : queries::kAllLackingReverse);
        if (!q.bind(1, subjectId).step() || q.int64(0) == 0)
            return std::nullopt;
        fill.count = q.int64(0);
        firstKey = q.int64(1);
        lastKey = q.int64(2);
    }
    fill.queuePlaceBase = qint64(Places(m_store, Direction::Reverse).next()) - firstKey;
    if (fill.queuePlaceBase + lastKey > kInt32Max)
        throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
    fill.firstQueuePlace = qint32(fill.queuePlaceBase + firstKey);
    fill.lastQueuePlace = qint32(fill.queuePlaceBase + lastKey);
    insertFill(fill, keepGoing);
    return fill;
}

qint64 Directions::insertFill(const ReverseFill &fill, const std::function<bool()> &keepGoing)
{
    const bool anyPlace = anyReversePlace(fill.subjectId);
    const qint64 day = Store::learningDay(fill.enteredAt);
    // Row by row the triggers would check and count each place; the fill takes its
    // places from the subject's own cards and counts them all in one bucket.
    for (const char *name : schema::kReverseInsertTriggerNames)
        m_db.exec(("DROP TRIGGER " + QByteArray(name)).constData());
    CancelWatch watch(m_db.handle(), keepGoing);
    try {
        sql::Statement(m_db, anyPlace ? queries::kFillReverse : queries::kFillReverseFirst)
            .bind(1, fill.subjectId)
            .bind(2, fill.queuePlaceBase)
            .bind(3, fill.enteredAt)
            .bind(4, day)
            .run();
    } catch (const StoreError &) {
        if (watch.cancelled())
            throw Cancelled{};
        throw;
    }
    const qint64 written = sqlite3_changes(m_db.handle());
    sql::Statement(m_db, "INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl) VALUES (?1, 1, 1, ?2, ?3) "
                         "ON CONFLICT DO UPDATE SET Anzahl = Anzahl + excluded.Anzahl")
        .bind(1, fill.subjectId)
        .bind(2, day)
        .bind(3, written)
        .run();
    m_db.exec(schema::kReverseInsertTriggers);
    return written;
}

void Directions::applyFill(const ReverseFill &fill, bool place, const QString &step)
{
    const auto conflict = [&] {
        throw StoreError(StoreErrorKind::Conflict, path(), step + QStringLiteral(": reverse places"));
    };
    const auto inRange = [&](bool madeByFill) {
        sql::Statement q(m_db, madeByFill ? "SELECT COUNT(*) FROM tblPositionUmgekehrt WHERE Stelle BETWEEN ?1 AND ?2 "
                                            "AND idGebiet = ?3 AND Fach = 1 AND Seit = ?4"
                                          : "SELECT COUNT(*) FROM tblPositionUmgekehrt WHERE Stelle BETWEEN ?1 AND ?2");
        q.bind(1, fill.firstQueuePlace).bind(2, fill.lastQueuePlace);
        if (madeByFill)
            q.bind(3, fill.subjectId).bind(4, fill.enteredAt);
        q.step();
        return q.int64(0);
    };
    if (!place) {
        // Taken away: every place of the fill as it was made, and nothing else in its range.
        if (inRange(true) != fill.count || inRange(false) != fill.count)
            conflict();
        sql::Statement(m_db, "DELETE FROM tblPositionUmgekehrt WHERE Stelle BETWEEN ?1 AND ?2")
            .bind(1, fill.firstQueuePlace)
            .bind(2, fill.lastQueuePlace)
            .run();
        return;
    }
    // Made again: the same cards lack a place, and the range is free.
    {
        sql::Statement q(m_db, queries::kLackingReverse);
        q.bind(1, fill.subjectId).step();
        if (q.int64(0) != fill.count || q.int64(1) + fill.queuePlaceBase != fill.firstQueuePlace
            || q.int64(2) + fill.queuePlaceBase != fill.lastQueuePlace)
            conflict();
    }
    if (inRange(false) != 0)
        conflict();
    insertFill(fill, {});
}

std::optional<Change> Directions::setDirection(qint32 subjectId, DirectionSetting setting,
                                               const std::function<bool()> &keepGoing)
{
    Change change;
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    Cards(m_store).requireSubject(subjectId);
    const std::optional<DirectionRow> before = directionRow(subjectId);
    const std::optional<DirectionRow> after =
        setting == DirectionSetting::Forward ? std::nullopt : std::optional<DirectionRow>({subjectId, setting});
    if (!(before == after)) {
        writeDirection(subjectId, after);
        change.directions.push_back({before, after});
    }
    // Also when the setting stays: cards moved in since have no reverse place yet.
    if (Store::practises(setting, Direction::Reverse)) {
        try {
            if (const std::optional<ReverseFill> fill = fillReverse(subjectId, keepGoing))
                change.fills.push_back(*fill);
        } catch (const Cancelled &) {
            return std::nullopt; // rolled back with the transaction
        }
    }
    if (change.isEmpty())
        return change;
    tx.commit();
    return change;
}

void StepRows<DirectionRow>::check(Step &step, const RowChange<DirectionRow> &c)
{
    const qint32 id = Step::key(c).subjectId;
    if (!(Directions(step.store()).directionRow(id) == step.from(c)))
        step.conflict(QStringLiteral("direction of subject %1").arg(id));
}

void StepRows<DirectionRow>::arrive(Step &step, const RowChange<DirectionRow> &c)
{
    const DirectionRow &row = *step.to(c);
    if (!Cards(step.store()).subjectRow(row.subjectId))
        step.conflict(QStringLiteral("subject %1 of a direction").arg(row.subjectId));
    Directions(step.store()).writeDirection(row.subjectId, row);
}

void StepRows<DirectionRow>::leave(Step &step, const RowChange<DirectionRow> &c)
{
    Directions(step.store()).writeDirection(step.from(c)->subjectId, std::nullopt);
}

void StepRows<ReverseFill>::arrive(Step &step, const ReverseFill &fill)
{
    Directions(step.store()).applyFill(fill, true, step.name());
}

void StepRows<ReverseFill>::leave(Step &step, const ReverseFill &fill)
{
    Directions(step.store()).applyFill(fill, false, step.name());
}

// The store's operations on directions, as its callers know them.
DirectionSetting Store::direction(qint32 subjectId) { return Directions(*this).direction(subjectId); }
bool Store::hasReverseSubjects() { return Directions(*this).hasReverseSubjects(); }
std::optional<Change> Store::setDirection(qint32 subjectId, DirectionSetting setting,
                                          const std::function<bool()> &keepGoing)
{
    return Directions(*this).setDirection(subjectId, setting, keepGoing);
}

} // namespace tarlivo::store
