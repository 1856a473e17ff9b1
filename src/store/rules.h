#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QTime>

#include <limits>

// Rules more than one part of the program counts by, each written once.
namespace tarlivo::store::rules {

inline constexpr qint64 kSecondsPerDay = 86400;
// 1 January 1970 as a Julian day number, the count dates are kept in.
inline constexpr qint64 kJulianDayOf1970 = 2440588;
// A learning day begins at 04:00 local wall-clock time, so that practice after
// midnight still counts for the evening before.
inline constexpr qint64 kLearningDayStart = 4 * 3600;
inline QTime learningDayStartTime() { return QTime::fromMSecsSinceStartOfDay(int(kLearningDayStart * 1000)); }

// Division rounding towards minus infinity: times before 1970 count down.
inline qint64 floorDiv(qint64 a, qint64 b) { return a / b - (a % b < 0 ? 1 : 0); }

// The learning day (a Julian day number) of a time whose local clock is offset
// seconds ahead of UTC.
inline qint64 learningDayAt(qint64 secsSinceEpoch, int offset)
{
    return floorDiv(secsSinceEpoch + offset - kLearningDayStart, kSecondsPerDay) + kJulianDayOf1970;
}

inline int offsetFromUtc(qint64 secsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secsSinceEpoch).offsetFromUtc();
}

// The local clock's offset from UTC for many times, such as an import or an export
// of a million cards brings: the C library looks at the zone file again for every
// local time, a system call each. A UTC day whose ends have the same offset has that
// offset throughout, so it is asked twice per day; only a day the clocks change in
// is asked time by time.
class LocalOffsets {
public:
    int at(qint64 secsSinceEpoch)
    {
        const qint64 day = floorDiv(secsSinceEpoch, kSecondsPerDay);
        auto it = m_days.constFind(day);
        if (it == m_days.constEnd()) {
            const int offset = offsetFromUtc(day * kSecondsPerDay);
            const bool even = offsetFromUtc(day * kSecondsPerDay + kSecondsPerDay - 1) == offset;
            it = m_days.insert(day, even ? offset : kMixed);
        }
        return *it == kMixed ? offsetFromUtc(secsSinceEpoch) : *it;
    }

private:
    static constexpr int kMixed = std::numeric_limits<int>::min();
    QHash<qint64, int> m_days; // by UTC day since 1970
};

// The tables hold text, never NULL, for what the program writes.
inline QString textOf(const QString &s) { return s.isNull() ? QStringLiteral("") : s; }

} // namespace tarlivo::store::rules
