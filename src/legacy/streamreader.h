#pragma once

// Runs tarlivo-mdb-reader on an old Access file and takes its stream apart into LegacyData.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace tarlivo::legacy {

// The three tables as read. A null QString is a NULL text, an empty one an empty text.
struct LegacySubject {
    qint32 id = 0;
    QString name;
};
struct LegacyCard {
    qint32 id = 0;
    std::optional<qint32> subject;
    QString question;
    QString answer;
};
struct LegacyPosition {
    std::optional<qint32> card;
    std::optional<qint32> compartment;
    std::optional<qint32> queuePlace;
};
struct LegacyData {
    int jetVersion = -1;
    std::vector<LegacySubject> subjects;
    std::vector<LegacyCard> cards;
    std::vector<LegacyPosition> positions;
    QStringList missingTables; // tables the file lacks or the reader could not open
};

struct LegacyImportOptions {
    QString readerPath;
    // Told how many cards have been read of how many the file declares (0 until
    // known); returning false cancels the import.
    std::function<bool(qint64 cardsRead, qint64 cardsDeclared)> progress;
    // The reader is given up for dead when it sends nothing for this long.
    int stallTimeoutMs = 30000;
};

// Runs the reader on path and collects what it sends. Throws LegacyImportError when
// the reader dies, fails, goes silent, or any table yields another number of rows
// than it declares. Missing tables are only listed.
LegacyData readLegacyFile(const QString &path, const LegacyImportOptions &options);

} // namespace tarlivo::legacy
