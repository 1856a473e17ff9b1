#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <optional>
#include <vector>

// Taking over the data file of the older Access-based program: its tables are read by
// tarlivo-mdb-reader in a process of its own, written into a new store beside the
// file, checked, and only then put in the old file's place, which is kept under a
// name of its own.
namespace tarlivo {

// The three tables as read. A null QString is a NULL text, an empty one an empty text.
struct LegacySubject {
    qint32 id = 0;
    QString name;
};
struct LegacyCard {
    qint32 id = 0;
    std::optional<qint32> subject;
    QString frage;
    QString antwort;
};
struct LegacyPosition {
    std::optional<qint32> card;
    std::optional<qint32> fach;
    std::optional<qint32> stelle;
};
struct LegacyData {
    int jetVersion = -1;
    std::vector<LegacySubject> subjects;
    std::vector<LegacyCard> cards;
    std::vector<LegacyPosition> positions;
    QStringList missingTables; // tables the file lacks or the reader could not open
};

// What was taken over, and every repair of broken data that this needed.
struct LegacyImportReport {
    int subjects = 0; // subjects in the new store, made ones included
    int cards = 0;
    int cardsWithoutPosition = 0;                   // given compartment 1 at the end of the queue
    int cardsWithoutPlace = 0;                      // position without a queue place: put at the end
    int positionsWithoutCard = 0;                   // left out
    int duplicatePositions = 0;                     // a card's second position row, left out
    int cardsWithoutSubject = 0;                    // filed under orphanSubject
    QString orphanSubject;                          // the subject made for them; empty when none was needed
    int compartmentsRaised = 0;                     // compartment below 1 or missing, set to 1
    QStringList unnamedSubjects;                    // names given to subjects whose name was NULL
    QList<QPair<QString, QString>> renamedSubjects; // old and new name of doubled names
    QString originalPath;                           // where the old file now lies
};

class LegacyImportError : public std::exception {
public:
    enum Kind {
        ReaderMissing, // detail: the reader's path
        ReaderCrashed, // the reader died
        ReaderFailed,  // the reader stopped with an error of its own, or its stream broke
        Stalled,       // the reader went silent
        CannotOpen,    // not an Access file the reader can open
        Truncated,     // the file has lost its end
        MissingTable,  // table: the table
        MissingColumn, // table, column
        Damaged,       // table, column: a row or text that cannot be read
        CountMismatch, // table, declared, read
        BadValue,      // table, column, detail: the value
        DuplicateKey,  // table, detail: the key
        Busy,          // another running copy is taking the file over
        Changed,       // the file was replaced meanwhile
        WriteFailed,   // the new store could not be written; detail: why
        Unsound,       // the new store failed its check (a program fault); detail: what
        Cancelled,     // the user cancelled
    };

    LegacyImportError(Kind kind, QString path, QString detail = {})
        : m_kind(kind), m_path(std::move(path)), m_detail(std::move(detail)), m_what(m_detail.toUtf8())
    {
    }

    Kind kind() const noexcept { return m_kind; }
    const QString &path() const noexcept { return m_path; } // the old file
    const QString &detail() const noexcept { return m_detail; }
    const char *what() const noexcept override { return m_what.constData(); }

    QString table;
    QString column;
    qint64 declared = 0;
    qint64 read = 0;
    bool diskFull = false; // WriteFailed: the disk is full
    bool readOnly = false; // WriteFailed: the directory is not writable

private:
    Kind m_kind;
    QString m_path;
    QString m_detail;
    QByteArray m_what;
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

// Writes data into a new store at storePath (which must not exist), repairing broken
// data as the report says. Throws LegacyImportError; storePath may then be left half
// written, and the caller removes it.
LegacyImportReport writeLegacyStore(const LegacyData &data, const QString &storePath);

// The whole take-over of the Access file at path: read, write a store beside it,
// check it, keep the old file under a name of its own (never replacing one) and put
// the store in its place. At every moment path holds either the whole old file or the
// whole new store; on failure the old file is untouched and nothing is left behind.
// Returns nothing when path is no longer an Access file (another copy took it over).
std::optional<LegacyImportReport> importLegacyFile(const QString &path, const LegacyImportOptions &options);

// The name under which the old file is kept: "Tarlivo-Access-Original.mdb", then
// "Tarlivo-Access-Original-2.mdb" and so on, beside path.
QString legacyOriginalName(const QString &path, int number);

} // namespace tarlivo
