#pragma once

#include "store/internal.h"

namespace tarlivo {

// The search index's catching up after an import: tblSucheStand marks how far the
// trigram index tblSuche reaches (see the schema's version 3).
class SearchIndex : StorePart {
public:
    explicit SearchIndex(Store &store);

    qint64 backlog();
    qint64 catchUp(int maxCards);
};

} // namespace tarlivo
