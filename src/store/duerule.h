#pragma once

#include <QtGlobal>

namespace tarlivo::store {

// The due rule, the one place it is written: a place that came into its compartment
// on learning day enteredDay is due from the learning day its interval (in days)
// later. Learning days are Julian day numbers (Store::learningDay).
constexpr qint64 dueDay(qint64 enteredDay, qint64 interval) { return enteredDay + interval; }
constexpr bool isDue(qint64 enteredDay, qint64 interval, qint64 today) { return dueDay(enteredDay, interval) <= today; }

// The same rule in SQL, for queries over the day buckets whose interval is a column:
// written as a range of the entered day, so that the buckets' index serves. Each
// argument is SQL text.
#define TARLIVO_SQL_DUE_DAY(entered, interval) entered " + " interval
#define TARLIVO_SQL_DUE(entered, interval, today) entered " <= " today " - " interval
#define TARLIVO_SQL_NOT_DUE(entered, interval, today) entered " > " today " - " interval

static_assert(isDue(10, 0, 10) && isDue(10, 2, 12) && !isDue(10, 2, 11));

} // namespace tarlivo::store
