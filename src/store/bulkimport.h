#pragma once

#include "store/internal.h"

#include <functional>
#include <vector>

namespace tarlivo::store {

// The bulk import: many cards from a file in one write transaction, each at the end
// of its compartment's queue, with the triggers' work (search index, day buckets,
// sync's journal) done once for all of them; and a new file written from whole rows.
class BulkImport : StorePart {
public:
    explicit BulkImport(Store &store);

    BulkImportResult importCards(const std::function<bool(BulkCard &)> &next, const BulkImportOptions &options);
    bool hasTextIndex();
    bool holdsCard(qint32 subjectId, const QString &question, const QString &answer);

    static void createWithRows(const QString &path, const std::vector<SubjectRow> &subjects,
                               const std::vector<CardRow> &cards, qint64 enteredAt);
};

} // namespace tarlivo::store
