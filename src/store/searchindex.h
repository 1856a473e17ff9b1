#pragma once

#include "store/internal.h"

#include <optional>
#include <vector>

namespace tarlivo::store {

// Finding cards by their texts: through the trigram index tblSuche as far as
// tblSucheStand marks it, the cards after the mark read directly; and the index's
// catching up with those after an import (see the schema's version 3).
class Search : StorePart {
public:
    explicit Search(Store &store);

    std::vector<qint32> cardIds(std::optional<qint32> subjectId, const QString &search, CardOrder order);
    FirstHits firstHits(std::optional<qint32> subjectId, const QString &search, int limit, int budget);
    HitSlice hitSlice(std::optional<qint32> subjectId, const QString &search, qint64 from, int limit);

    qint64 backlog();
    qint64 catchUp(int maxCards);
};

} // namespace tarlivo::store
