#pragma once

#include "store/internal.h"
#include "store/step.h"

#include <functional>
#include <optional>

namespace tarlivo::store {

// Both directions: how each subject is practised (tblRichtung, forward only kept as no
// row), and the reverse places a subject's cards are given at once when it is
// practised the other way (the places themselves are Places').
class Directions : StorePart {
public:
    explicit Directions(Store &store);

    DirectionSetting direction(qint32 subjectId);
    bool hasReverseSubjects();
    std::optional<Change> setDirection(qint32 subjectId, DirectionSetting setting,
                                       const std::function<bool()> &keepGoing);

    std::optional<DirectionRow> directionRow(qint32 subjectId);
    // Writes the row, or (nullopt or forward) takes it away.
    void writeDirection(qint32 subjectId, const std::optional<DirectionRow> &row);
    // Gives every card of the subject without a reverse place one; nullopt when none lacked one.
    std::optional<ReverseFill> fillReverse(qint32 subjectId, const std::function<bool()> &keepGoing);
    // Makes the fill's places again (place) or takes them away, after checking that the
    // file holds it as the step left it; step names the step in a conflict.
    void applyFill(const ReverseFill &fill, bool place, const QString &step);

private:
    struct Cancelled {};
    // Writes the fill's places; returns how many. Throws Cancelled when keepGoing said no.
    qint64 insertFill(const ReverseFill &fill, const std::function<bool()> &keepGoing);
    bool anyReversePlace(qint32 subjectId);
};

// A subject's direction; absent: forward only.
template <>
struct StepRows<DirectionRow> : NothingToVerify {
    static void check(Step &step, const RowChange<DirectionRow> &c);
    static void arrive(Step &step, const RowChange<DirectionRow> &c);
    static void leave(Step &step, const RowChange<DirectionRow> &c);
};

// Reverse places made at once; applyFill compares them as it writes.
template <>
struct StepRows<ReverseFill> : NothingToVerify {
    static void check(Step & /*step*/, const ReverseFill & /*fill*/) {}
    static void arrive(Step &step, const ReverseFill &fill);
    static void leave(Step &step, const ReverseFill &fill);
};

} // namespace tarlivo::store
