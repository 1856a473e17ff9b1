// The calendar: when cards fall due, counted from the day buckets.
#include "store/store.h"

#include "store/calendar.h"
#include "store/cards.h"
#include "store/duerule.h"
#include "store/places.h"
#include "store/queries.h"
#include "store/rules.h"

#include <QDateTime>

#include <algorithm>
#include <map>

namespace tarlivo::store {
namespace {

// One row of queries::kDueByCompartment.
struct CompartmentRow {
    qint32 subjectId;
    qint32 compartment;
    qint32 days;
    DueFigures figures;
};

CompartmentRow compartmentOf(const sql::Statement &q)
{
    const auto count = [&](int column) { return q.isNull(column) ? 0 : q.int64(column); };
    CompartmentRow row{qint32(q.int64(0)), qint32(q.int64(1)), qint32(q.int64(2)), {}};
    // Column 7, the direction, is summed over: a compartment counts both.
    row.figures.dueNow = count(3);
    row.figures.dueWithinWeek = row.figures.dueNow + count(4);
    row.figures.cards = row.figures.dueWithinWeek + count(5);
    if (!q.isNull(6))
        row.figures.nextDueDay = q.int64(6);
    return row;
}

void add(DueFigures &sum, const DueFigures &f)
{
    sum.dueNow += f.dueNow;
    sum.dueWithinWeek += f.dueWithinWeek;
    sum.cards += f.cards;
    if (f.nextDueDay)
        sum.nextDueDay = sum.nextDueDay ? std::min(*sum.nextDueDay, *f.nextDueDay) : *f.nextDueDay;
}

} // namespace

qint64 Store::learningDay(qint64 secsSinceEpoch)
{
    // By the wall clock at that time, not the seconds less four hours: on the days
    // the clocks change the day still begins at 04:00.
    const QDateTime local = QDateTime::fromSecsSinceEpoch(secsSinceEpoch);
    if (!local.isValid())
        return QDate().toJulianDay(); // beyond every calendar: no day
    return rules::learningDayAt(secsSinceEpoch, local.offsetFromUtc());
}

qint32 Store::defaultInterval(qint32 compartment)
{
    // The due queries ask it too (tarlivo_standardintervall).
    if (compartment <= 1)
        return 0;
    if (compartment >= 11)
        return 365;
    return qint32(1) << (compartment - 2);
}

std::optional<IntervalRow> Calendar::intervalRow(qint32 subjectId, qint32 compartment)
{
    sql::Statement q(m_db, queries::kInterval);
    if (!q.bind(1, subjectId).bind(2, compartment).step())
        return std::nullopt;
    return IntervalRow{subjectId, compartment, qint32(q.int64(0))};
}

Calendar::Calendar(Store &store) : StorePart(store) {}

void Calendar::writeInterval(qint32 subjectId, qint32 compartment, const std::optional<IntervalRow> &row)
{
    if (row)
        sql::Statement(m_db, "INSERT INTO tblIntervall (idGebiet, Fach, Tage) VALUES (?1, ?2, ?3) "
                             "ON CONFLICT (idGebiet, Fach) DO UPDATE SET Tage = excluded.Tage")
            .bind(1, subjectId)
            .bind(2, compartment)
            .bind(3, row->days)
            .run();
    else
        sql::Statement(m_db, "DELETE FROM tblIntervall WHERE idGebiet = ?1 AND Fach = ?2")
            .bind(1, subjectId)
            .bind(2, compartment)
            .run();
}

qint32 Calendar::interval(qint32 subjectId, qint32 compartment)
{
    const std::optional<IntervalRow> row = intervalRow(subjectId, compartment);
    return row ? row->days : Store::defaultInterval(compartment);
}

Change Calendar::setInterval(qint32 subjectId, qint32 compartment, std::optional<qint32> days)
{
    if (compartment < 1 || (days && (*days < 0 || *days > Store::kMaxInterval)))
        throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("interval"));
    // The default is kept as no row, so that a later change of the default reaches it.
    const qint32 intervalDays = days.value_or(Store::defaultInterval(compartment));
    const bool changed = intervalDays != Store::defaultInterval(compartment);
    Change change;
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    Cards(m_store).requireSubject(subjectId);
    const std::optional<IntervalRow> before = intervalRow(subjectId, compartment);
    std::optional<IntervalRow> after;
    if (changed)
        after = IntervalRow{subjectId, compartment, intervalDays};
    writeInterval(subjectId, compartment, after);
    tx.commit();
    if (!(before == after))
        change.intervals.push_back({before, after});
    return change;
}

std::vector<SubjectDue> Calendar::dueBySubject()
{
    std::map<qint32, DueFigures> figures;
    {
        sql::Statement q(m_db, queries::kDueByCompartment);
        q.bind(1, m_store.learningToday()).bindNull(2);
        while (q.step()) {
            const CompartmentRow row = compartmentOf(q);
            add(figures[row.subjectId], row.figures);
        }
    }
    std::vector<SubjectDue> result;
    for (const SubjectRow &subject : m_store.subjectRows()) {
        const auto it = figures.find(subject.id);
        if (it != figures.end() && it->second.cards > 0)
            result.push_back({subject.id, subject.name, it->second});
    }
    return result;
}

DueFigures Calendar::dueFigures(qint32 subjectId)
{
    DueFigures sum;
    sql::Statement q(m_db, queries::kDueByCompartment);
    q.bind(1, m_store.learningToday()).bind(2, subjectId);
    while (q.step())
        add(sum, compartmentOf(q).figures);
    return sum;
}

std::vector<CompartmentDue> Calendar::dueByCompartment(qint32 subjectId)
{
    std::map<qint32, CompartmentDue> byCompartment;
    for (qint32 compartment = 1; compartment <= 10; ++compartment)
        byCompartment[compartment] = CompartmentDue{compartment, Store::defaultInterval(compartment), {}};
    {
        sql::Statement q(m_db, queries::kDueByCompartment);
        q.bind(1, m_store.learningToday()).bind(2, subjectId);
        while (q.step()) {
            const CompartmentRow row = compartmentOf(q);
            CompartmentDue &due = byCompartment[row.compartment];
            due.compartment = row.compartment;
            due.days = row.days;
            add(due.figures, row.figures);
        }
    }
    // Compartments without cards show their interval too.
    {
        sql::Statement q(m_db, queries::kIntervalsOfSubject);
        q.bind(1, subjectId);
        while (q.step()) {
            const auto it = byCompartment.find(qint32(q.int64(0)));
            if (it != byCompartment.end())
                it->second.days = qint32(q.int64(1));
        }
    }
    std::vector<CompartmentDue> result;
    result.reserve(byCompartment.size());
    for (const auto &entry : byCompartment)
        result.push_back(entry.second);
    return result;
}

bool Calendar::isDue(qint32 cardId, Direction direction)
{
    sql::Statement q(m_db, direction == Direction::Reverse ? queries::kCardDayReverse : queries::kCardDay);
    if (!q.bind(1, cardId).step())
        return false;
    return tarlivo::store::isDue(q.int64(2), interval(qint32(q.int64(0)), qint32(q.int64(1))), m_store.learningToday());
}

std::optional<qint32> Calendar::highestDueCompartment(qint32 subjectId, Direction direction)
{
    Places places(m_store, direction);
    const std::vector<qint32> held = places.compartments(subjectId);
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        const std::optional<qint32> head = places.headCard(subjectId, *it);
        if (head && isDue(*head, direction))
            return *it;
    }
    return std::nullopt;
}

std::vector<qint64> Calendar::forecast(std::optional<qint32> subjectId, int days)
{
    std::vector<qint64> result(size_t(std::max(days, 0)), 0);
    if (days <= 0)
        return result;
    const qint64 today = m_store.learningToday();
    sql::Statement q(m_db, queries::kForecast);
    q.bind(1, today).bind(3, today + days - 1);
    if (subjectId)
        q.bind(2, *subjectId);
    else
        q.bindNull(2);
    while (q.step())
        if (!q.isNull(1))
            result[size_t(q.int64(0) - today)] += q.int64(1);
    return result;
}

void StepRows<IntervalRow>::check(Step &step, const RowChange<IntervalRow> &c)
{
    const IntervalRow &key = Step::key(c);
    if (!(Calendar(step.store()).intervalRow(key.subjectId, key.compartment) == step.from(c)))
        step.conflict(QStringLiteral("interval of subject %1, compartment %2").arg(key.subjectId).arg(key.compartment));
}

void StepRows<IntervalRow>::arrive(Step &step, const RowChange<IntervalRow> &c)
{
    const IntervalRow &row = *step.to(c);
    if (!Cards(step.store()).subjectRow(row.subjectId))
        step.conflict(QStringLiteral("subject %1 of an interval").arg(row.subjectId));
    Calendar(step.store()).writeInterval(row.subjectId, row.compartment, row);
}

void StepRows<IntervalRow>::leave(Step &step, const RowChange<IntervalRow> &c)
{
    Calendar(step.store()).writeInterval(step.from(c)->subjectId, step.from(c)->compartment, std::nullopt);
}

// The store's calendar operations, as its callers know them.
qint32 Store::interval(qint32 subjectId, qint32 compartment)
{
    return Calendar(*this).interval(subjectId, compartment);
}
Change Store::setInterval(qint32 subjectId, qint32 compartment, std::optional<qint32> days)
{
    return Calendar(*this).setInterval(subjectId, compartment, days);
}
std::vector<SubjectDue> Store::dueBySubject() { return Calendar(*this).dueBySubject(); }
DueFigures Store::dueFigures(qint32 subjectId) { return Calendar(*this).dueFigures(subjectId); }
std::vector<CompartmentDue> Store::dueByCompartment(qint32 subjectId)
{
    return Calendar(*this).dueByCompartment(subjectId);
}
bool Store::isDue(qint32 cardId, Direction direction) { return Calendar(*this).isDue(cardId, direction); }
std::optional<qint32> Store::highestDueCompartment(qint32 subjectId, Direction direction)
{
    return Calendar(*this).highestDueCompartment(subjectId, direction);
}
std::vector<qint64> Store::forecast(std::optional<qint32> subjectId, int days)
{
    return Calendar(*this).forecast(subjectId, days);
}

} // namespace tarlivo::store
