#pragma once

#include "store/internal.h"
#include "store/step.h"

#include <optional>
#include <vector>

namespace tarlivo::store {

// Typed and chosen answers: how each subject judges typed answers (tblGebietToleranz,
// the defaults kept as no row), and the other cards' texts a choice is made of.
class Answers : StorePart {
public:
    explicit Answers(Store &store);

    std::optional<ToleranceRow> toleranceRow(qint32 subjectId);
    // Writes the row, or (nullopt) takes it away: the defaults again.
    void writeTolerance(qint32 subjectId, const std::optional<ToleranceRow> &row);
    AnswerTolerances answerTolerances(qint32 subjectId);
    Change setAnswerTolerances(qint32 subjectId, const AnswerTolerances &tolerances);
    std::vector<QString> otherAnswers(qint32 subjectId, qint32 cardId, CardSide side, int count, quint32 seed);
};

// A subject's tolerances come after their subject and go before it.
template <>
struct StepRows<ToleranceRow> : NothingToVerify {
    static void check(Step &step, const RowChange<ToleranceRow> &c);
    static void arrive(Step &step, const RowChange<ToleranceRow> &c);
    static void leave(Step &step, const RowChange<ToleranceRow> &c);
};

} // namespace tarlivo::store
