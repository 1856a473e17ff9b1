#pragma once

#include "store/store.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace tarlivo::transfer {

struct ExportResult {
    qint64 cards = 0;
    qint64 subjects = 0;
    bool cancelled = false; // then the file was not written
    QStringList leftOut;    // what the file's kind cannot carry, in sentences
};

// Writes the cards of one subject (or of all when subject is empty) in practice
// order to a UTF-8 file both Tarlivo and Anki read: tab-separated, or for a name
// ending in .csv semicolon-separated with a byte order mark; for a name ending in
// .kvtml as kvtml 2 for KWordQuiz and Parley, one lesson per subject and each
// card's compartment as its answer's grade, its pictures and sounds in a folder
// beside it, a subject "A::B" as lesson B in lesson A; for .apkg as an Anki package with the
// cards' pictures and sounds (transfer/ankiexport.h). The file appears whole
// or not at all. keepGoing(cards written, cards in all) false cancels. Throws
// TransferError, StoreError.
ExportResult exportCards(store::Store &store, const QString &path, const QString &subject = {},
                         const std::function<bool(qint64, qint64)> &keepGoing = {});

} // namespace tarlivo::transfer
