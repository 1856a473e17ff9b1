#include "store/statistics.h"

#include "store/queries.h"

#include <QDateTime>

#include <algorithm>
#include <map>

namespace tarlivo::store {

namespace {

// Seconds since 1970 UTC at which the local day begins.
qint64 dayStart(QDate day) { return day.startOfDay().toSecsSinceEpoch(); }

} // namespace

Counts::Counts(Store &store) : StorePart(store) {}

std::vector<CompartmentCount> Counts::cardsPerCompartment(std::optional<qint32> subjectId, Direction direction)
{
    const bool reverse = direction == Direction::Reverse;
    sql::Statement q(m_db, subjectId
                               ? (reverse ? queries::kReversePerCompartment : queries::kCardsPerCompartment)
                               : (reverse ? queries::kReversePerCompartmentAll : queries::kCardsPerCompartmentAll));
    if (subjectId)
        q.bind(1, *subjectId);
    std::map<qint32, qint64> counts;
    while (q.step())
        counts[qint32(q.int64(0))] += q.int64(1);
    std::vector<CompartmentCount> result;
    result.reserve(counts.size());
    for (const auto &[compartment, count] : counts)
        result.push_back({compartment, count});
    return result;
}

qint64 Counts::cardCount(std::optional<qint32> subjectId)
{
    sql::Statement q(m_db, subjectId ? queries::kCardCount : queries::kCardCountAll);
    if (subjectId)
        q.bind(1, *subjectId);
    return q.step() ? q.int64(0) : 0;
}

std::vector<DayVerdicts> Counts::verdictsPerDay(std::optional<qint32> subjectId, QDate first, QDate last)
{
    std::vector<DayVerdicts> result;
    if (!first.isValid() || !last.isValid())
        return result;
    qint64 start = dayStart(first);
    for (QDate day = first; day <= last; day = day.addDays(1)) {
        const qint64 end = dayStart(day.addDays(1));
        DayVerdicts counts;
        counts.day = day;
        sql::Statement q(m_db, subjectId ? queries::kVerdictsBetween : queries::kVerdictsBetweenAll);
        if (subjectId)
            q.bind(1, *subjectId);
        q.bind(2, start).bind(3, end);
        if (q.step()) {
            counts.right = q.int64(0);
            counts.almostRight = q.int64(1);
            counts.wrong = q.int64(2);
        }
        result.push_back(counts);
        start = end;
    }
    return result;
}

qint32 Counts::practiceStreak(std::optional<qint32> subjectId)
{
    const auto practised = [&](QDate day) {
        sql::Statement q(m_db, subjectId ? queries::kPractisedBetween : queries::kPractisedBetweenAll);
        if (subjectId)
            q.bind(1, *subjectId);
        return q.bind(2, dayStart(day)).bind(3, dayStart(day.addDays(1))).step();
    };
    QDate day = m_store.today();
    if (!practised(day))
        day = day.addDays(-1);
    qint32 streak = 0;
    while (practised(day)) {
        ++streak;
        day = day.addDays(-1);
    }
    return streak;
}

Statistics Counts::statistics(std::optional<qint32> subjectId, int days)
{
    Statistics s;
    s.compartments = cardsPerCompartment(subjectId, Direction::Forward);
    for (const CompartmentCount &c : s.compartments)
        s.cards += c.count;
    s.reverseCompartments = cardsPerCompartment(subjectId, Direction::Reverse);
    for (const CompartmentCount &c : s.reverseCompartments)
        s.reversePlaces += c.count;
    const QDate last = m_store.today();
    s.days = verdictsPerDay(subjectId, last.addDays(1 - std::max(days, 1)), last);
    s.today = s.days.back().total();
    s.streak = practiceStreak(subjectId);
    return s;
}

// The store's statistics, as its callers know them.
std::vector<CompartmentCount> Store::cardsPerCompartment(std::optional<qint32> subjectId, Direction direction)
{
    return Counts(*this).cardsPerCompartment(subjectId, direction);
}
qint64 Store::cardCount(std::optional<qint32> subjectId) { return Counts(*this).cardCount(subjectId); }
std::vector<DayVerdicts> Store::verdictsPerDay(std::optional<qint32> subjectId, QDate first, QDate last)
{
    return Counts(*this).verdictsPerDay(subjectId, first, last);
}
qint32 Store::practiceStreak(std::optional<qint32> subjectId) { return Counts(*this).practiceStreak(subjectId); }
Statistics Store::statistics(std::optional<qint32> subjectId, int days)
{
    return Counts(*this).statistics(subjectId, days);
}

} // namespace tarlivo::store
