#pragma once

#include "store/change.h"
#include "store/media.h"
#include "store/sqlite.h"
#include "store/storeerror.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarlivo::store {

namespace backup {
class Job;
}

// What the first bytes of a file say it is.
enum class FileFormat { Missing, Empty, SQLite, Jet3, Jet4, Unknown, Unreadable };
FileFormat sniffFormat(const QString &path);

struct CardText {
    QString question; // a NULL text (imported files) arrives as a null QString
    QString answer;
};

// One row of the card list: the card, its place and its subject's name.
struct CardListRow {
    CardRow card;
    QString subject;
};

// The card list's sort columns. Fach sorts like the practice order.
enum class CardOrder { Practice, Question, Answer, Compartment, Subject };
// A card found by a search, with its place in the practice order.
struct HitPlace {
    qint32 compartment;
    qint32 queuePlace;
    qint32 id;
    bool operator<(const HitPlace &o) const
    {
        return compartment != o.compartment ? compartment < o.compartment
               : queuePlace != o.queuePlace ? queuePlace < o.queuePlace
                                            : id < o.id;
    }
};
// Part of the hits of a search, in key order: those among the cards with keys after
// `from` up to `last` (inclusive); done when no card after `last` is left to look at.
struct HitSlice {
    std::vector<HitPlace> hits;
    qint64 last = 0;
    bool done = false;
};
// The first hits of a search in practice order; complete when every card was looked at.
struct FirstHits {
    std::vector<qint32> ids;
    bool complete = false;
};
// One card of an import, as the file gives it.
struct BulkCard {
    QString subject; // the subject's name
    QString question;
    QString answer;
    qint32 compartment = 1;               // 1 and up
    std::optional<qint64> enteredAt = {}; // when it came into its compartment; none: now
    std::vector<MediaInput> media = {};   // at most one of each kind per side
    // Its reverse place, when the file gives one; a subject the import creates for
    // such cards practises both ways.
    std::optional<qint32> reverseCompartment = {};
    std::optional<qint64> reverseEnteredAt = {};
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
    // The cards come in file order, and their queue places (both ways) follow another
    // trainer's rule: by compartment, then by their time (none: after every time),
    // then in file order. They are given at the end, so that the cards can be
    // written while the file is still read. Otherwise each card queues as it comes.
    bool queueByTime = false;
};

struct BulkImportResult {
    QStringList subjectsCreated;
    qint64 cardsStored = 0;
    qint64 duplicatesSkipped = 0;
    qint64 progressKept = 0; // stored beyond compartment 1 or with their time
    bool cancelled = false;  // then nothing was stored
};

struct StoreOptions {
    // A copy of the file beside it before the first change of each day.
    bool backups = true;
    int keepBackups = 7;
    std::function<QDate()> today; // default: the local date
    // Told, never blocking. The copy is taken in the background as the store opens;
    // the first change of the day waits for it only when it comes before the copy is done.
    std::function<void(const StoreError &)> backupFailed;
    int busyTimeoutMs = 3000;    // wait for another running copy
    std::function<qint64()> now; // seconds since 1970 UTC; default: the clock
};

// How many cards sit in one compartment.
struct CompartmentCount {
    qint32 compartment = 0;
    qint64 count = 0;
    bool operator==(const CompartmentCount &o) const { return compartment == o.compartment && count == o.count; }
};

// The verdicts of one local calendar day.
struct DayVerdicts {
    QDate day;
    qint64 right = 0;
    qint64 almostRight = 0;
    qint64 wrong = 0;
    qint64 total() const { return right + almostRight + wrong; }
};

// Everything the statistics window shows for one subject or for all.
struct Statistics {
    std::vector<CompartmentCount> compartments; // ascending
    qint64 cards = 0;
    // The reverse places, likewise (none where no subject was practised the other way).
    std::vector<CompartmentCount> reverseCompartments;
    qint64 reversePlaces = 0;
    std::vector<DayVerdicts> days; // oldest first, the last one is today
    qint64 today = 0;              // verdicts given today
    qint32 streak = 0;             // see Store::practiceStreak
};

// What is due of one subject, one compartment or all. Days are learning days
// (Store::learningDay).
struct DueFigures {
    qint64 dueNow = 0;
    qint64 dueWithinWeek = 0; // today and the six days after
    qint64 cards = 0;
    std::optional<qint64> nextDueDay; // the earliest due day of its cards; none without cards
};
struct SubjectDue {
    qint32 subjectId = 0;
    QString name;
    DueFigures figures;
};
struct CompartmentDue {
    qint32 compartment = 0;
    qint32 days = 0; // its interval
    DueFigures figures;
};

struct SubjectLanguages {
    QString question;
    QString answer;
    bool operator==(const SubjectLanguages &o) const { return question == o.question && answer == o.answer; }
};

// The card store: subjects, cards and their places, in one SQLite file. Every method
// reads the file afresh (nothing is cached but prepared statements), every change is
// one write transaction, and every failure is a StoreError.
class Store {
public:
    static constexpr int kSchemaVersion = 9;
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
    // Opened for reading only (the file or its folder is not writable): every change
    // throws ReadOnly, and nothing is ever written to the file or beside it.
    bool isReadOnly() const { return m_readOnly; }

    // Subjects, in German alphabetical order without regard to case.
    QStringList allSubjects();
    QStringList subjectsWithCards();
    std::optional<qint32> subjectId(const QString &name);
    bool subjectExists(const QString &name) { return subjectId(name).has_value(); }
    // Throws Duplicate when the name is taken (checked inside the write).
    void addSubject(const QString &name);
    // Throws NotFound when oldName names no subject, Duplicate when newName is
    // another subject's (in any capitals) or oldName unchanged. The same subject
    // in other capitals is a rename.
    void renameSubject(const QString &oldName, const QString &newName);

    // Stores a card in compartment 1 at the end of the queue; returns its key. When
    // change is given it receives the rows written, for undo.
    qint32 addCard(qint32 subjectId, const QString &question, const QString &answer, Change *change = nullptr);
    // The compartments holding places of the subject in that direction, ascending.
    std::vector<qint32> compartments(qint32 subjectId, Direction direction = Direction::Forward);
    // The card of the subject whose place in that compartment has waited longest.
    std::optional<qint32> headCard(qint32 subjectId, qint32 compartment, Direction direction = Direction::Forward);
    // The cards of the subject's places in that direction in asking order: the highest
    // compartment first, each in queue order.
    std::vector<qint32> placesInOrder(qint32 subjectId, Direction direction);
    std::optional<CardText> cardText(qint32 cardId);
    // A verdict on the card, counted from the compartment the file holds for it:
    // Richtig one up, Fast Richtig the same, Falsch 1; the card goes to the end of
    // the queue and the verdict into the log, in one transaction. Throws NotFound,
    // Limit (detail kTopCompartment for a Richtig in the top compartment). Returns
    // the rows touched, for undo. A Reverse verdict moves only the card's reverse place
    // (NotFound without one).
    Change judgeCard(qint32 cardId, Verdict verdict, Direction direction = Direction::Forward);
    static constexpr const char *kTopCompartment = "top compartment";
    // Throws NotFound when the card row is missing. When change is given it receives
    // the card as it was and as it is now, for undo.
    void saveCardText(qint32 cardId, const QString &question, const QString &answer, Change *change = nullptr);

    // Takes a step back (undo) or forward again (redo): writes the rows of the
    // change as they were before (undo) or after (redo), in one transaction, and
    // only while the file holds every one of them exactly as the step left it and
    // the keys and queue places of rows coming back are free. Otherwise throws
    // Conflict (detail "undo" or "redo") and writes nothing.
    void undo(const Change &change);
    void redo(const Change &change);

    // Statistics, for one subject or (nullopt) all. Days are local calendar days;
    // "today" is the local date of the clock in StoreOptions::now.
    std::vector<CompartmentCount> cardsPerCompartment(std::optional<qint32> subjectId,
                                                      Direction direction = Direction::Forward);
    qint64 cardCount(std::optional<qint32> subjectId);
    // Whether the file has the index of subject and question (the first import into
    // a large subject builds it), and whether the subject holds a card of these
    // texts: quick with that index, a look at every card without it.
    bool hasTextIndex();
    bool holdsCard(qint32 subjectId, const QString &question, const QString &answer);
    // One entry per day from first to last, inclusive, days without verdicts too.
    std::vector<DayVerdicts> verdictsPerDay(std::optional<qint32> subjectId, QDate first, QDate last);
    // Days in a row with at least one verdict, ending today; a today without
    // verdicts yet does not break the run (the day is not over), so it then ends
    // yesterday.
    qint32 practiceStreak(std::optional<qint32> subjectId);
    // All of the above at once, with the last `days` days (today included).
    Statistics statistics(std::optional<qint32> subjectId, int days = 30);
    // The local date now, by StoreOptions::now.
    QDate today() const;

    // The calendar (store/calendar.cpp). A learning day begins at 04:00 local wall-clock
    // time, so that practice after midnight still counts for the evening before; it
    // is told by its Julian day number. A card is due from the learning day its
    // interval after the one on which it came into its compartment.
    static qint64 learningDay(qint64 secsSinceEpoch);
    qint64 learningToday() const { return learningDay(now()); }
    // Compartment 1 is due at once, compartment n waits 2^(n-2) days, at most a year.
    static qint32 defaultInterval(qint32 compartment);
    static constexpr qint32 kMaxInterval = 3650;
    qint32 interval(qint32 subjectId, qint32 compartment);
    // Sets one compartment's interval (0 to kMaxInterval days; nullopt: the
    // default). Throws Limit, NotFound. Returns the row touched, for undo.
    Change setInterval(qint32 subjectId, qint32 compartment, std::optional<qint32> days);
    // Every subject holding cards, in the order of allSubjects().
    std::vector<SubjectDue> dueBySubject();
    // One subject's figures, counting the places of the directions it practises.
    DueFigures dueFigures(qint32 subjectId);
    // Compartments 1 to 10 and every higher one holding cards, ascending.
    std::vector<CompartmentDue> dueByCompartment(qint32 subjectId);
    bool isDue(qint32 cardId, Direction direction = Direction::Forward);
    // The highest compartment of the subject whose head card is due.
    std::optional<qint32> highestDueCompartment(qint32 subjectId, Direction direction = Direction::Forward);

    // Both directions (store/directions.cpp). How the subject is practised.
    DirectionSetting direction(qint32 subjectId);
    // Whether any subject is practised the other way too.
    bool hasReverseSubjects();
    // Sets it. A setting with the reverse side gives every card of the subject without
    // a reverse place one (also when it was set already: cards moved in since):
    // compartment 1, at the end of its queue, due at once; going back keeps them. keepGoing is asked now and then;
    // false cancels and leaves the file as it was (nullopt). Throws NotFound, Limit.
    std::optional<Change> setDirection(qint32 subjectId, DirectionSetting setting,
                                       const std::function<bool()> &keepGoing = {});
    static bool practises(DirectionSetting setting, Direction direction)
    {
        return setting == DirectionSetting::Both || int(setting) == int(direction);
    }
    // Cards falling due on each of the next `days` learning days; the first entry,
    // today, holds every card due now.
    std::vector<qint64> forecast(std::optional<qint32> subjectId, int days = 30);

    // Reading aloud (store/readaloud.cpp). The languages a subject's questions and
    // answers are read in, as locale names ("fr", "en_GB"); empty: none. Throws
    // NotFound for a subject that is gone.
    SubjectLanguages subjectLanguages(qint32 subjectId);
    void setSubjectLanguages(qint32 subjectId, const SubjectLanguages &languages);
    // A practice setting that is on or off, fallback while the user never changed it.
    bool setting(const QString &name, bool fallback);
    void setSetting(const QString &name, bool on);

    // Typed and chosen answers (store/answers.cpp). How the subject judges typed
    // answers; the defaults while it never changed them.
    AnswerTolerances answerTolerances(qint32 subjectId);
    // Sets them (the defaults are kept as no row). Throws NotFound. Returns the row
    // touched, for undo.
    Change setAnswerTolerances(qint32 subjectId, const AnswerTolerances &tolerances);
    // Up to count texts of that side from other cards of the subject, distinct from
    // each other and from the card's own (blanks at the ends aside), picked at random
    // from seed: a small subject is read whole, a large one probed through the queue
    // index, so a million cards cost no more than a hundred.
    std::vector<QString> otherAnswers(qint32 subjectId, qint32 cardId, CardSide side, int count, quint32 seed);

    // The card list (store/cardlist.cpp). Each change is one write transaction and
    // returns the rows it touched. A card or subject that is gone (another running copy
    // deleted it) throws NotFound, a compartment out of range Limit; nothing is written.
    Change deleteCards(const std::vector<qint32> &cardIds);
    // Compartment and queue place stay.
    Change moveCardsToSubject(const std::vector<qint32> &cardIds, qint32 subjectId);
    // Each card to the end of that compartment's queue, in the order given. Reverse:
    // the cards' reverse places (a card without one gets one).
    Change setCompartment(const std::vector<qint32> &cardIds, qint32 compartment,
                          Direction direction = Direction::Forward);
    // The subject with all its cards.
    Change deleteSubject(qint32 subjectId);
    // Both texts as given, nothing trimmed; the media edits in the same step.
    Change editCard(qint32 cardId, const QString &question, const QString &answer,
                    const std::vector<MediaEdit> &media = {});
    // The card's rows as the file holds them now; a card without its position row
    // reads with compartment 0, which no recorded row has.
    std::optional<CardRow> cardRow(qint32 cardId);
    // Subjects with their keys, in the order of allSubjects().
    std::vector<SubjectRow> subjectRows();
    // A page of the practice order (compartment, queue place), counted from the end
    // when fromEnd is set (the rows still come first to last): a jump to the end
    // reads as little as one to the start.
    std::vector<CardListRow> cardPage(std::optional<qint32> subjectId, qint64 offset, int limit, bool fromEnd);
    // The keys of the cards whose Frage or Antwort contains search (any letter case,
    // umlauts included; an empty text matches all), in the order asked for.
    std::vector<qint32> cardIds(std::optional<qint32> subjectId, const QString &search, CardOrder order);
    // The same hits in two cheaper parts, for a text that many cards hold: the first
    // `limit` in practice order, found by reading the cards in that order, at most
    // `budget` of them; and all of them, a slice at a time, looking at no more than
    // `limit` cards a slice (sort the slices' hits to have the practice order).
    FirstHits firstHits(std::optional<qint32> subjectId, const QString &search, int limit, int budget);
    HitSlice hitSlice(std::optional<qint32> subjectId, const QString &search, qint64 from, int limit);
    // The rows for keys, in their order; keys no longer there are left out.
    std::vector<CardListRow> cardListRows(const std::vector<qint32> &cardIds);
    // The index finds texts of at least this many characters.
    static constexpr int kMinSearchLength = 3;

    // Stores every card next() hands out, in that order, in one write transaction
    // after the day's backup: each at the end of the queue in its compartment,
    // creating the subjects named. The cards wait for the search index
    // (catchUpSearchIndex). Cancelled, or anything thrown (also by next()):
    // nothing is stored. Throws Duplicate for a subject that exists when joining is
    // off, Internal for an invalid subject name, Limit when the queue is full.
    BulkImportResult importCards(const std::function<bool(BulkCard &)> &next, const BulkImportOptions &options = {});

    // Writes a new store file at path (nothing may be there yet) holding exactly these
    // subjects and cards: their keys, texts (NULL stays NULL), compartments and queue
    // places as given (two cards may share a place), every card entered at enteredAt, in one
    // write. The rows' own times and reverse places are not read. For files taken over
    // whole from the older program. Throws StoreError.
    static void createWithRows(const QString &path, const std::vector<SubjectRow> &subjects,
                               const std::vector<CardRow> &cards, qint64 enteredAt);

    // The cards an import left out of the search index (they are found all the same,
    // more slowly). catchUpSearchIndex indexes the next maxCards of them in one write
    // transaction, without the day's backup, and returns how many still wait; while the
    // day's copy is taken it writes nothing and returns 0 (the next change wakes it).
    qint64 searchBacklog();
    qint64 catchUpSearchIndex(int maxCards);
    // The cards the program indexes in one step: a few milliseconds' work.
    static constexpr int kSearchIndexStep = 500;

    // Everything the program relies on, checked; empty when the file is sound.
    // Files taken over from the older program may hold two cards on one place.
    QStringList checkInvariants(bool allowSharedQueuePlace = false);

    // Pictures and sounds (store/cardmedia.cpp): at most one of each kind per side, each
    // content stored once whatever the number of cards using it; a content goes with
    // the last card using it.
    std::vector<MediaFile> cardMedia(qint64 cardId, CardSide side) const;
    QByteArray mediaBytes(qint64 mediaId) const;
    // The keys among cardIds whose cards hold a picture or a sound.
    std::vector<qint32> cardsWithMedia(const std::vector<qint32> &cardIds);

    // Waits for the day's copy this store started in the background, if any (tests
    // that must know what it shows).
    void waitForDayCopy();

    // Changes when another connection (another running copy) committed a write since
    // the last call, never for this store's own. Throws StoreError.
    qint64 dataVersion();

private:
    friend struct StoreAccess; // store/internal.h: the parts' way in
    Store(StoreOptions options);
    void connect(const QString &path);
    void verifySchema();
    void setUpConnection();
    // A read-only file of an earlier version: read into memory and upgraded there.
    void readIntoMemory();
    // Brings a file written by an earlier version up to kSchemaVersion.
    void upgradeSchema(qint64 version);
    // Before every change: the file is still ours and writable; today's backup exists.
    void prepareWrite();
    void ensureSameFile();
    void backupIfDue();
    void startBackup();
    QDate backupDay() const;
    QString backupPrefix() const;
    QString backupTarget(QDate day) const;
    qint64 now() const;

    sql::Database m_db;
    StoreOptions m_options;
    bool m_readOnly = false;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    QDate m_backupChecked;
    std::shared_ptr<backup::Job> m_backupJob; // the day's copy under way
};

} // namespace tarlivo::store
