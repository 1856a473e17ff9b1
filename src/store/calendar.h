#pragma once

#include "store/internal.h"
#include "store/step.h"

#include <optional>
#include <vector>

namespace tarlivo::store {

// The calendar and the intervals: when places fall due, counted from the day
// buckets, and the intervals a subject changed from the default (tblIntervall).
class Calendar : StorePart {
public:
    explicit Calendar(Store &store);

    std::optional<IntervalRow> intervalRow(qint32 subjectId, qint32 compartment);
    qint32 interval(qint32 subjectId, qint32 compartment);
    // Writes the row, or (nullopt) takes it away: the default again.
    void writeInterval(qint32 subjectId, qint32 compartment, const std::optional<IntervalRow> &row);
    Change setInterval(qint32 subjectId, qint32 compartment, std::optional<qint32> days);
    std::vector<SubjectDue> dueBySubject();
    DueFigures dueFigures(qint32 subjectId);
    std::vector<CompartmentDue> dueByCompartment(qint32 subjectId);
    bool isDue(qint32 cardId, Direction direction);
    std::optional<qint32> highestDueCompartment(qint32 subjectId, Direction direction);
    std::vector<qint64> forecast(std::optional<qint32> subjectId, int days);
};

// A compartment's interval; absent: its default.
template <>
struct StepRows<IntervalRow> : NothingToVerify {
    static void check(Step &step, const RowChange<IntervalRow> &c);
    static void arrive(Step &step, const RowChange<IntervalRow> &c);
    static void leave(Step &step, const RowChange<IntervalRow> &c);
};

} // namespace tarlivo::store
