#pragma once

#include "store/store.h"
#include "transfer/delimited.h"
#include "transfer/foreignfile.h"
#include "transfer/importtypes.h"
#include "transfer/textdecode.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace tarlivo::transfer {

class AnkiPackage;

// A file chosen for import: delimited text, an Anki package, a KWordQuiz or Parley
// file (kvtml) or a Pauker lesson.
class ImportFile {
public:
    enum class Kind { Text, Anki, Kvtml, Pauker };

    // Reads and checks the file; throws TransferError.
    static std::unique_ptr<ImportFile> open(const QString &path);
    ~ImportFile();

    Kind kind() const { return m_kind; }
    // kvtml and Pauker: the cards come with their subjects and their progress.
    bool foreign() const { return m_kind == Kind::Kvtml || m_kind == Kind::Pauker; }
    const QString &path() const { return m_path; }

    // Text files.
    Encoding encoding() const { return m_encoding; }
    QChar separator() const;
    bool separatorFromHeader() const;
    void setSeparator(QChar separator);
    bool hasSubjectColumn() const;
    // Anki packages.
    QString collectionName() const;
    QStringList decks() const;

    struct Item {
        qint64 line = 0;
        bool refused = false;
        RefusedLine refusal;
        store::BulkCard card; // subject: the Gebiet column or the deck, else empty
        int media = 0;        // references dropped
        int unusedFields = 0;
    };
    bool next(Item &item);
    void restart();
    // kvtml and Pauker: one subject takes every card, so the file's lessons are not
    // waited for; from the next restart().
    void setOneSubject(bool one);

private:
    ImportFile() = default;
    QString m_path;
    Encoding m_encoding = Encoding::Utf8;
    std::unique_ptr<DelimitedText> m_text;
    DelimitedText::Record m_record;
    std::unique_ptr<AnkiPackage> m_anki;
    Kind m_kind = Kind::Text;
    // kvtml and Pauker: read as the cards are asked for.
    std::unique_ptr<ForeignFile> m_foreign;
    ForeignCard m_foreignCard;
    bool m_oneSubject = false;
    // Text files: the last subject name found valid; lines come in runs of one subject.
    QString m_lastValidSubject;
};

struct ImportSettings {
    // For a text file without a Gebiet column; for kvtml and Pauker, when given,
    // the one subject for all cards instead of the file's lessons.
    QString targetSubject;
    bool skipDuplicates = true;
};

// The subject each deck goes to: its own name where that is free and valid, else
// with " (2)", " (3)" ... appended.
struct DeckPlan {
    QHash<QString, QString> subjectOf;
    QList<QPair<QString, QString>> renamed; // deck, subject
};
DeckPlan planDecks(store::Store &store, const QStringList &decks);

struct ImportPreview {
    static constexpr int kCardsShown = 50;
    static constexpr int kRefusalsListed = 200;
    // A text file is previewed by its head: the lines the window can show and
    // a little more, whatever the file's size.
    static constexpr int kHeadLines = 1000;
    bool whole = true;            // the counts are the whole file's, not the head's
    QList<store::BulkCard> cards; // the first ones, as they will be stored
    QList<RefusedLine> refused;
    qint64 cardCount = 0;      // the cards read, duplicates included
    qint64 duplicateCount = 0; // of those, left out as already there (when skipped)
    qint64 refusedCount = 0;
    qint64 mediaDropped = 0;
    int unusedColumns = 0; // further columns the import leaves out
    DeckPlan decks;
};
// Reads the file once, a text file only its head; throws TransferError, StoreError.
ImportPreview previewImport(ImportFile &file, store::Store &store, const ImportSettings &settings);

// Stores the file's cards, all or nothing. keepGoing(cards read) is asked now and
// then; false cancels. Throws TransferError, StoreError.
ImportSummary runImport(ImportFile &file, store::Store &store, const ImportSettings &settings,
                        const std::function<bool(qint64)> &keepGoing = {});

} // namespace tarlivo::transfer
