#pragma once

#include "store/store.h"

#include <QString>

#include <functional>

namespace tarlivo::transfer {

// Writes an Anki package (collection.anki2 in the classic layout every Anki version
// and AnkiDroid read): one deck per subject, one note of the type "Basic" (fields
// Frage, Antwort) per card, its pictures as <img> and its sounds as [sound:...] with
// the files in the package. A card beyond compartment 1 is in review, with its
// compartment's default interval and due on the day it falls due here.
// exportCards hands a name ending in .apkg here. keepGoing(cards written, cards in
// all) false cancels; nothing is written then.
struct AnkiExport {
    qint64 cards = 0;
    qint64 subjects = 0;
    bool cancelled = false;
};
AnkiExport exportAnkiPackage(store::Store &store, const QString &path, const QString &subject,
                             const std::function<bool(qint64, qint64)> &keepGoing);

} // namespace tarlivo::transfer
