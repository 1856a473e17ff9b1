#pragma once

#include "store/internal.h"

#include <optional>
#include <vector>

namespace tarlivo::store {

// The statistics: places counted per compartment from the queue indexes, verdicts
// per day from the log's time indexes.
class Counts : StorePart {
public:
    explicit Counts(Store &store);

    std::vector<CompartmentCount> cardsPerCompartment(std::optional<qint32> subjectId, Direction direction);
    qint64 cardCount(std::optional<qint32> subjectId);
    std::vector<DayVerdicts> verdictsPerDay(std::optional<qint32> subjectId, QDate first, QDate last);
    qint32 practiceStreak(std::optional<qint32> subjectId);
    Statistics statistics(std::optional<qint32> subjectId, int days);
};

} // namespace tarlivo::store
