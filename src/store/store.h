#pragma once

#include "store/sqlite.h"
#include "store/storeerror.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarlivo {

// What the first bytes of a file say it is.
enum class FileFormat { Missing, Empty, SQLite, Jet3, Jet4, Unknown, Unreadable };
FileFormat sniffFormat(const QString &path);

struct CardText {
    QString frage; // a NULL text (imported files) arrives as a null QString
    QString antwort;
};

// One card of an import, as the file gives it.
struct BulkCard {
    QString subject; // the subject's name
    QString frage;
    QString antwort;
    qint32 fach = 1; // 1 and up
};

struct BulkImportOptions {
    // Leaves out a card whose Frage and Antwort stand already in its subject, or
    // earlier in the same import.
    bool skipDuplicates = true;
    // Whether a card may go into a subject that exists already; when false every
    // subject named must be new (the caller has chosen free names).
    bool joinExistingSubjects = true;
    // Asked now and then with the cards read so far; false cancels.
    std::function<bool(qint64 cardsRead)> keepGoing;
};

struct BulkImportResult {
    QStringList subjectsCreated;
    qint64 cardsStored = 0;
    qint64 duplicatesSkipped = 0;
    bool cancelled = false; // then nothing was stored
};

struct StoreOptions {
    // A copy of the file beside it before the first change of each day.
    bool backups = true;
    int keepBackups = 7;
    std::function<QDate()> today;                         // default: the local date
    std::function<void(const StoreError &)> backupFailed; // told, never blocking
    int busyTimeoutMs = 3000;                             // wait for another running copy
};

// The card store: subjects, cards and their places, in one SQLite file. Every method
// reads the file afresh (nothing is cached but prepared statements), every change is
// one write transaction, and every failure is a StoreError.
class Store {
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr qint32 kApplicationId = 0x54726c76; // "Trlv"

    // Opens the store at path, creating it with its empty tables when the file is
    // missing or empty. A file that cannot serve is left exactly as it was.
    static std::unique_ptr<Store> open(const QString &path, StoreOptions options = {});
    // Writes the empty tables into a fresh database (used for new files and imports).
    static void createSchema(sql::Database &db);

    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    const QString &path() const { return m_db.path(); }

    // Subjects, in German alphabetical order without regard to case.
    QStringList allSubjects();
    QStringList subjectsWithCards();
    std::optional<qint32> subjectId(const QString &name);
    bool subjectExists(const QString &name) { return subjectId(name).has_value(); }
    // Throws Duplicate when the name is taken (checked inside the write).
    void addSubject(const QString &name);
    // Throws NotFound when oldName names no subject, Duplicate when newName is taken.
    void renameSubject(const QString &oldName, const QString &newName);

    // Stores a card in compartment 1 at the end of the queue; returns its key.
    qint32 addCard(qint32 subjectId, const QString &frage, const QString &antwort);
    // The compartments holding cards of the subject, ascending.
    std::vector<qint32> compartments(qint32 subjectId);
    // The card of the subject in that compartment that has waited longest.
    std::optional<qint32> headCard(qint32 subjectId, qint32 fach);
    std::optional<CardText> cardText(qint32 cardId);
    // Puts the card into newFach at the end of the queue. Throws Limit, NotFound.
    void moveCard(qint32 cardId, qint32 newFach);
    // Throws NotFound when the card row is missing.
    void saveCardText(qint32 cardId, const QString &frage, const QString &antwort);

    // Stores every card next() hands out, in that order, in one write transaction
    // after the day's backup: each at the end of the queue in its compartment,
    // creating the subjects named. Cancelled, or anything thrown (also by next()):
    // nothing is stored. Throws Duplicate for a subject that exists when joining is
    // off, Internal for an invalid subject name, Limit when the queue is full.
    BulkImportResult importCards(const std::function<bool(BulkCard &)> &next, const BulkImportOptions &options = {});

    // Everything the program relies on, checked; empty when the file is sound.
    // Files taken over from the older program may hold two cards on one place.
    QStringList checkInvariants(bool allowSharedStelle = false);

    // The connection itself, for tools and tests (query plans, size limits).
    sql::Database &database() { return m_db; }

private:
    Store(StoreOptions options);
    void connect(const QString &path);
    void verifySchema();
    // Before every change: the file is still ours and writable; today's backup exists.
    void prepareWrite();
    void ensureSameFile();
    void backupIfDue();
    qint32 nextStelle();
    QStringList subjectNames(const char *query);

    sql::Database m_db;
    StoreOptions m_options;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    QDate m_backupChecked;
};

} // namespace tarlivo
