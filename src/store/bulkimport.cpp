#include "store/bulkimport.h"
#include "store/cardmedia.h"
#include "store/directions.h"
#include "store/numbertest.h"
#include "store/places.h"
#include "store/queries.h"
#include "store/rules.h"
#include "store/schema.h"
#include "store/store.h"
#include "store/syncschema.h"

#include <QDateTime>
#include <QHash>
#include <QStringEncoder>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tarlivo::store {
namespace {

// How many cards pass between two questions whether to go on.
constexpr qint64 kAskEvery = 256;

using rules::textOf;
// The same, taken over: the reading thread made the text, and a copy would touch
// its count again from this one.
QString takeText(QString &s) { return s.isNull() ? QStringLiteral("") : std::move(s); }

// Duplicates are found by a hash of subject and texts; only a hit reads the card
// back to compare, so memory stays at a few words a card whatever the texts.
size_t cardHash(qint32 subject, const QString &question, const QString &answer)
{
    return qHashMulti(0, subject, question, answer);
}

// A day bucket's key: subject, compartment and learning day. Hashed, as another
// trainer's times bring thousands of days and each card counts in one.
using BucketKey = std::tuple<qint32, qint32, qint64>;
struct BucketKeyHash {
    size_t operator()(const BucketKey &k) const
    {
        return qHashMulti(0, std::get<0>(k), std::get<1>(k), std::get<2>(k));
    }
};

// A card waiting for its batch to be written.
struct Pending {
    QString question;
    QString answer;
    qint32 subject;
    qint32 compartment;
    qint64 queuePlace;
    size_t hash;
    qint64 enteredAt;
    qint64 tag;
    std::vector<MediaInput> media;
    std::optional<ReversePlace> reverse = {};
    // Queued by time (BulkImportOptions::queueByTime): what the place is given from at the end.
    qint64 queueTime = 0; // the file's time, or none: after every time
    std::optional<qint32> reverseCompartment = {};
    qint64 reverseEnteredAt = 0;
};

// A card written whose places are given at the end, in the queue's order.
struct Queued {
    qint32 compartment;
    qint32 subject;
    qint64 time;
    qint32 key; // in file order
    std::optional<qint32> reverseCompartment;
    qint64 reverseEnteredAt;
};

// The queue's order of the cards queued, as their indexes: by compartment, then
// time, then file order. Small keys are sorted, not the cards; a file's cards often
// come in order already.
std::vector<quint32> queueOrder(const std::vector<Queued> &queued)
{
    struct Rank {
        qint32 compartment;
        quint32 index;
        qint64 time;
        bool operator<(const Rank &o) const
        {
            return std::tie(compartment, time, index) < std::tie(o.compartment, o.time, o.index);
        }
    };
    std::vector<Rank> ranks;
    ranks.reserve(queued.size());
    for (size_t i = 0; i < queued.size(); ++i)
        ranks.push_back(Rank{queued[i].compartment, quint32(i), queued[i].time});
    if (!std::is_sorted(ranks.begin(), ranks.end()))
        std::sort(ranks.begin(), ranks.end());
    std::vector<quint32> order(ranks.size());
    for (size_t r = 0; r < ranks.size(); ++r)
        order[r] = ranks[r].index;
    return order;
}

// Asked through the text index: whether the subject holds a card of these texts.
bool holdsTexts(sql::Database &db, qint32 subject, const QString &question, const QString &answer)
{
    // A question of no text may stand as NULL.
    sql::Statement q(db, question.isEmpty() ? "SELECT Antwort FROM tblFrageAntwort WHERE idGebiet = ?1 AND "
                                              "(Frage = ?2 OR Frage IS NULL)"
                                            : "SELECT Antwort FROM tblFrageAntwort WHERE idGebiet = ?1 AND Frage = ?2");
    q.bind(1, subject).bind(2, textOf(question));
    while (q.step())
        if (textOf(q.text(0)) == textOf(answer))
            return true;
    return false;
}

// Cards written so far are known by key; cards still waiting in the batch by
// -(their index + 1), until the batch is written.
class DuplicateIndex {
public:
    explicit DuplicateIndex(sql::Database &db) : m_db(db) {}

    bool contains(size_t fullHash, const Pending &card, const std::vector<Pending> &pending)
    {
        const quint32 hash = quint32(fullHash);
        for (size_t i = hash & m_mask; m_slots[i].key != 0; i = (i + 1) & m_mask) {
            const Slot *it = &m_slots[i];
            if (it->hash != hash)
                continue;
            if (it->key < 0) {
                const Pending &other = pending[size_t(-it->key - 1)];
                if (other.subject == card.subject && other.question == card.question && other.answer == card.answer)
                    return true;
                continue;
            }
            sql::Statement q(m_db, queries::kCardText);
            q.bind(1, it->key);
            if (q.step() && textOf(q.text(0)) == card.question && textOf(q.text(1)) == card.answer)
                return true;
        }
        return m_probed.count(card.subject) && probe(card);
    }

    void add(size_t hash, qint64 key)
    {
        if (2 * (m_used + 1) > m_slots.size())
            grow();
        place(quint32(hash), qint32(key));
        ++m_used;
    }

    // The batch is written: its cards now have keys.
    void settle(const std::vector<Pending> &pending, const std::vector<qint64> &keys)
    {
        for (size_t p = 0; p < pending.size(); ++p) {
            const quint32 hash = quint32(pending[p].hash);
            for (size_t i = hash & m_mask; m_slots[i].key != 0; i = (i + 1) & m_mask)
                if (m_slots[i].hash == hash && m_slots[i].key == -qint32(p) - 1)
                    m_slots[i].key = qint32(keys[p]);
        }
    }

    // The cards the subject holds before the import: a large subject is asked
    // through the text index card by card, a small one read once.
    void addExisting(qint32 subject)
    {
        if (m_mayProbe) {
            sql::Statement q(m_db, "SELECT count(*) FROM (SELECT 1 FROM tblPosition WHERE idGebiet = ?1 LIMIT ?2)");
            q.bind(1, subject).bind(2, kReadUpTo + 1);
            if (q.step() && q.int64(0) > kReadUpTo) {
                m_db.exec(schema::kTextIndex[1]);
                m_probed.insert(subject);
                return;
            }
        }
        read(subject);
    }

    // A large import drops the text index: the subjects asked through it are read
    // instead, no more than the import writes.
    void dropTextIndex()
    {
        m_db.exec(("DROP INDEX IF EXISTS " + std::string(schema::kTextIndex[0])).c_str());
        m_mayProbe = false;
        for (qint32 subject : m_probed)
            read(subject);
        m_probed.clear();
    }

private:
    static constexpr qint64 kReadUpTo = 2000;

    bool probe(const Pending &card) { return holdsTexts(m_db, card.subject, card.question, card.answer); }

    void read(qint32 subject)
    {
        // A subject's cards lie all over a large file: read in key order, each page
        // is read once, one after the other, rather than all over the file in the
        // order of the queue; through a memory map, no page is copied into the cache.
        struct Mapped {
            sql::Database &db;
            explicit Mapped(sql::Database &d) : db(d) { db.exec("PRAGMA mmap_size = 17179869184"); }
            ~Mapped() { sqlite3_exec(db.handle(), "PRAGMA mmap_size = 0", nullptr, nullptr, nullptr); }
        } mapped(m_db);
        sql::Statement q(m_db, "SELECT idFrageAntwort, Frage, Antwort FROM tblFrageAntwort WHERE idFrageAntwort IN "
                               "(SELECT idFrageAntwort FROM tblPosition WHERE idGebiet = ?1)");
        q.bind(1, subject);
        while (q.step())
            add(cardHash(subject, textOf(q.text(1)), textOf(q.text(2))), q.int64(0));
    }

    // Open addressing over a power-of-two table at most half full; key 0 marks a
    // free slot (card keys start at 1, waiting cards count below 0). Eight bytes a
    // slot: a million cards take 16 MB, so the import's memory stays small.
    struct Slot {
        quint32 hash = 0; // the low half of the card's hash
        qint32 key = 0;
    };

    void place(quint32 hash, qint32 key)
    {
        size_t i = hash & m_mask;
        while (m_slots[i].key != 0)
            i = (i + 1) & m_mask;
        m_slots[i] = Slot{hash, key};
    }

    void grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        m_mask = m_slots.size() - 1;
        for (const Slot &slot : old)
            if (slot.key != 0)
                place(slot.hash, slot.key);
    }

    sql::Database &m_db;
    bool m_mayProbe = true;
    std::unordered_set<qint32> m_probed; // subjects asked through the text index
    std::vector<Slot> m_slots = std::vector<Slot>(1024);
    size_t m_mask = 1023;
    size_t m_used = 0;
};

// A position index is written at one place while the cards come in long runs of
// one subject and compartment (a file of another trainer comes sorted so); cards
// that change between them all the time go all over it, a search from the root for
// each. Once an import has written that many cards, and at least as many as the
// file held, sorting them all into fresh indexes at the end is the cheaper way.
constexpr qint64 kRebuildFrom = 20000;
constexpr qint64 kLongRun = 64;

// Rows go in kBatch at a time, in one statement each: the per-statement costs
// (and the sequence update of AUTOINCREMENT) are paid once a batch, not once a row.
constexpr int kBatch = 256;

std::string batchInsert(const char *head, const char *row, int rows)
{
    std::string sql = head;
    for (int i = 0; i < rows; ++i)
        sql += (i ? "," : "") + std::string(row);
    return sql;
}

const std::string &cardInsert(int rows)
{
    static const std::string batch =
        batchInsert("INSERT INTO tblFrageAntwort (idGebiet, Frage, Antwort) VALUES ", "(?,?,?)", kBatch);
    static const std::string single =
        batchInsert("INSERT INTO tblFrageAntwort (idGebiet, Frage, Antwort) VALUES ", "(?,?,?)", 1);
    return rows == kBatch ? batch : single;
}

const std::string &positionInsert(int rows)
{
    static const std::string batch =
        batchInsert("INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) VALUES ", "(?,?,?,?)", kBatch);
    static const std::string single =
        batchInsert("INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) VALUES ", "(?,?,?,?)", 1);
    return rows == kBatch ? batch : single;
}

const std::string &enteredAtInsert(int rows)
{
    static const std::string batch =
        batchInsert("INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) VALUES ", "(?,?,?)", kBatch);
    static const std::string single =
        batchInsert("INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) VALUES ", "(?,?,?)", 1);
    return rows == kBatch ? batch : single;
}

// Runs a prepared insert whose values are bound; resets it in any case.
void runInsert(sql::Database &db, sqlite3_stmt *stmt)
{
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_DONE)
        db.fail(rc);
}

// Binds text as UTF-8 written at *out, which moves past it. Qt's encoder is far
// quicker than SQLite's own conversion of UTF-16, and the buffer is the batch's one.
void bindText(sql::Database &db, sqlite3_stmt *stmt, int index, const QString &text, QStringEncoder &utf8, char *&out)
{
    char *const from = out;
    out = utf8.appendToBuffer(from, text);
    const int rc = sqlite3_bind_text(stmt, index, from, int(out - from), SQLITE_STATIC);
    if (rc != SQLITE_OK)
        db.fail(rc);
}

} // namespace

BulkImport::BulkImport(Store &store) : StorePart(store) {}

bool BulkImport::hasTextIndex()
{
    sql::Statement q(m_db, "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?1");
    return q.bind(1, QString::fromLatin1(schema::kTextIndex[0])).step();
}

bool BulkImport::holdsCard(qint32 subjectId, const QString &question, const QString &answer)
{
    return holdsTexts(m_db, subjectId, question, answer);
}

BulkImportResult BulkImport::importCards(const std::function<bool(BulkCard &)> &next, const BulkImportOptions &options)
{
    BulkImportResult result;
    StoreAccess::prepareWrite(m_store);
    // Each row written here refers to one just written or checked in the same
    // transaction, so SQLite's own key checks would only repeat ours, at a third
    // of the import's time. They are back on for every other change.
    struct ForeignKeysOff {
        sql::Database &db;
        explicit ForeignKeysOff(sql::Database &d) : db(d) { db.exec("PRAGMA foreign_keys = OFF"); }
        ~ForeignKeysOff() { sqlite3_exec(db.handle(), "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr); }
    } keysChecked(m_db);
    sql::WriteTransaction tx(m_db);
    // Indexing the texts would take four times as long as the rest of the import:
    // the cards wait for the index instead (Store::catchUpSearchIndex), and a search
    // reads them meanwhile. Dropped inside this write, the trigger is back when it ends.
    m_db.exec("DROP TRIGGER trgSucheInsert");
    // The day buckets likewise: counted here and added once at the end, instead of
    // two bucket writes per card.
    for (const char *trigger : schema::kBucketTriggerNames)
        m_db.exec(("DROP TRIGGER " + std::string(trigger)).c_str());
    m_db.exec("DROP TRIGGER trgPositionInsertSubject");
    // Sync's journal likewise: a trigger's row for every card costs about as much as
    // the card's own rows; the rows are written at the end, all at once.
    // The new cards' trigger is dropped as well, not only kept quiet.
    m_db.exec("INSERT INTO tblAbgleichStill (Nr) VALUES (1)");
    const auto [journalName, journalTrigger] = newCardTrigger();
    m_db.exec(("DROP TRIGGER " + journalName).constData());
    // Each batch is journalled once written, while the file is still read; before the
    // first sync, not at all (its fill gives the rows).
    const bool journalled = fillState(m_db) != NotFilled;
    const qint64 journalAt = journalTime(m_db);
    std::unordered_map<BucketKey, qint64, BucketKeyHash> buckets;

    QHash<QString, qint32> subjects; // as spelt in the import
    std::unordered_set<qint32> created;
    DuplicateIndex duplicates(m_db);
    QString lastName;
    qint32 lastId = 0;
    auto subjectFor = [&](const QString &name) -> qint32 {
        // Cards come in runs of one subject.
        if (!lastName.isNull() && name == lastName)
            return lastId;
        const auto known = subjects.constFind(name);
        if (known != subjects.constEnd()) {
            lastName = name;
            return lastId = *known;
        }
        qint32 id;
        if (const std::optional<qint32> existing = m_store.subjectId(name)) {
            id = *existing;
            if (!options.joinExistingSubjects && !created.count(id))
                throw StoreError(StoreErrorKind::Duplicate, path(), name);
            if (options.skipDuplicates && !created.count(id))
                duplicates.addExisting(id);
        } else {
            // The same checks as for a subject typed in.
            if (name.isEmpty() || readsAsNumber(name))
                throw StoreError(StoreErrorKind::Internal, path(), QStringLiteral("invalid subject name"));
            sql::Statement insert(m_db, "INSERT INTO tblGebiet (NameGebiet) VALUES (?1)");
            insert.bind(1, name).run();
            const qint64 rowid = sqlite3_last_insert_rowid(m_db.handle());
            if (rowid > kInt32Max)
                throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("subject key"));
            id = qint32(rowid);
            created.insert(id);
            result.subjectsCreated << name;
        }
        subjects.insert(name, id);
        lastName = name;
        return lastId = id;
    };

    qint64 keysBefore = 0;
    {
        sql::Statement q(m_db, "SELECT ifnull(max(idFrageAntwort), 0) FROM tblPosition");
        if (q.step())
            keysBefore = q.int64(0);
    }
    std::pair<qint32, qint32> lastPlace{0, 0}; // subject and compartment
    qint64 placeChanges = 0;
    bool large = false;
    bool indexesDropped = false;
    bool placeIndexDropped = false;

    qint64 firstKey = 0, lastKey = -1; // of the cards written
    std::vector<Queued> queued;
    // Queued by time, cards that come in the queue's order (as a Pauker lesson's do) are
    // placed as they are written, where the places follow their keys; from the first
    // card out of that order on, all are placed at the end.
    bool placedAsRead = options.queueByTime;
    std::pair<qint32, qint64> lastQueued{std::numeric_limits<qint32>::min(), 0}; // compartment, time
    auto dropScatteredIndexes = [&] {
        if (large && placeChanges * kLongRun > result.cardsStored && !indexesDropped) {
            for (const auto &index : schema::kScatteredPositionIndexes)
                m_db.exec(("DROP INDEX " + std::string(index[0])).c_str());
            indexesDropped = true;
        }
    };
    qint64 queuePlace = Places(m_store, Direction::Forward).next();
    qint64 reverseQueuePlace = Places(m_store, Direction::Reverse).next();
    std::vector<Pending> pending;
    pending.reserve(kBatch);
    std::vector<qint64> keys;
    QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    std::vector<char> texts; // the UTF-8 of one statement's texts
    // Writes the waiting cards: a whole batch in one statement per table, a rest
    // at the end row by row.
    auto flush = [&] {
        const int n = int(pending.size());
        if (n == 0)
            return;
        const int perStatement = n == kBatch ? kBatch : 1;
        keys.clear();
        sqlite3_stmt *cards = m_db.prepared(cardInsert(perStatement).c_str());
        sqlite3_stmt *positions = m_db.prepared(positionInsert(perStatement).c_str());
        sqlite3_stmt *times = m_db.prepared(enteredAtInsert(perStatement).c_str());
        for (int first = 0; first < n; first += perStatement) {
            qsizetype room = 1; // never empty: an empty text binds as text, not NULL
            for (int i = 0; i < perStatement; ++i) {
                const Pending &p = pending[size_t(first) + size_t(i)];
                room += utf8.requiredSpace(p.question.size()) + utf8.requiredSpace(p.answer.size());
            }
            if (texts.size() < size_t(room))
                texts.resize(size_t(room));
            char *out = texts.data();
            for (int i = 0; i < perStatement; ++i) {
                const Pending &p = pending[size_t(first) + size_t(i)];
                sqlite3_bind_int64(cards, 3 * i + 1, p.subject);
                bindText(m_db, cards, 3 * i + 2, p.question, utf8, out);
                bindText(m_db, cards, 3 * i + 3, p.answer, utf8, out);
            }
            runInsert(m_db, cards);
            // The rows of one statement take consecutive keys, the last one reported.
            const qint64 last = sqlite3_last_insert_rowid(m_db.handle());
            if (last > kInt32Max)
                throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("card key"));
            if (firstKey == 0)
                firstKey = last - perStatement + 1;
            lastKey = last;
            for (int i = 0; i < perStatement; ++i) {
                const Pending &p = pending[size_t(first) + size_t(i)];
                const qint64 key = last - perStatement + 1 + i;
                keys.push_back(key);
                if (options.queueByTime)
                    queued.push_back(Queued{p.compartment, p.subject, p.queueTime, qint32(key), p.reverseCompartment,
                                            p.reverseEnteredAt});
                if (!options.queueByTime || placedAsRead) {
                    const qint64 place = placedAsRead ? queuePlace + qint64(queued.size()) - 1 : p.queuePlace;
                    if (place > kInt32Max)
                        throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
                    sqlite3_bind_int64(positions, 4 * i + 1, key);
                    sqlite3_bind_int64(positions, 4 * i + 2, p.compartment);
                    sqlite3_bind_int64(positions, 4 * i + 3, place);
                    sqlite3_bind_int64(positions, 4 * i + 4, p.subject);
                }
                sqlite3_bind_int64(times, 3 * i + 1, key);
                sqlite3_bind_int64(times, 3 * i + 2, p.enteredAt);
                sqlite3_bind_int64(times, 3 * i + 3, p.tag);
                ++buckets[{p.subject, p.compartment, p.tag}];
            }
            if (!options.queueByTime || placedAsRead)
                runInsert(m_db, positions);
            runInsert(m_db, times);
        }
        MediaLibrary media(m_store);
        for (size_t p = 0; p < pending.size(); ++p)
            for (const MediaInput &m : pending[p].media)
                media.link(qint32(keys[p]), m.side, m.kind, media.add(m.name, m.kind, m.bytes, nullptr));
        for (int i = 0; i < n; ++i)
            if (pending[size_t(i)].reverse)
                Places(m_store, Direction::Reverse).write(qint32(keys[size_t(i)]), pending[size_t(i)].reverse);
        if (options.skipDuplicates)
            duplicates.settle(pending, keys);
        if (journalled)
            journalNewCards(m_db, keys.front(), keys.back(), journalAt);
        result.cardsStored += n;
        pending.clear();
        // The highest key bounds how many positions the file held.
        if (!large && result.cardsStored >= std::max(kRebuildFrom, keysBefore)) {
            large = true;
            duplicates.dropTextIndex();
        }
        dropScatteredIndexes();
    };

    // Subjects that had a direction before the import, and those it creates for cards
    // with a reverse place: they practise both ways.
    std::map<qint32, bool> practisedReverse;
    std::unordered_set<qint32> createdBoth;
    const qint64 nowEnteredAt = StoreAccess::now(m_store);
    const qint64 nowDay = Store::learningDay(nowEnteredAt);
    qint64 lastEnteredAt = nowEnteredAt;
    qint64 lastDay = nowDay;
    rules::LocalOffsets offsets;
    auto reverseOf = [&](qint32 subject, std::optional<qint32> compartment,
                         qint64 enteredAt) -> std::optional<ReversePlace> {
        if (reverseQueuePlace > kInt32Max)
            throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
        auto known = practisedReverse.find(subject);
        if (known == practisedReverse.end())
            known = practisedReverse.emplace(subject, Store::practises(m_store.direction(subject), Direction::Reverse))
                        .first;
        if (compartment && created.count(subject))
            createdBoth.insert(subject);
        if (compartment || known->second || createdBoth.count(subject))
            return ReversePlace{compartment.value_or(1), qint32(reverseQueuePlace++), enteredAt};
        return std::nullopt;
    };
    qint64 read = 0;
    BulkCard card;
    while (next(card)) {
        ++read;
        if (options.keepGoing && read % kAskEvery == 0 && !options.keepGoing(read)) {
            result = BulkImportResult();
            result.cancelled = true;
            return result; // the transaction rolls back
        }
        if (card.compartment < 1)
            throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("compartment below 1"));
        const bool progress = card.compartment > 1 || card.enteredAt.has_value();
        const qint64 enteredAt = card.enteredAt.value_or(nowEnteredAt);
        if (enteredAt != lastEnteredAt) {
            lastEnteredAt = enteredAt;
            lastDay = rules::learningDayAt(enteredAt, offsets.at(enteredAt));
        }
        Pending p{takeText(card.question),
                  takeText(card.answer),
                  subjectFor(card.subject),
                  card.compartment,
                  queuePlace,
                  0,
                  enteredAt,
                  lastDay,
                  std::move(card.media)};
        card.media.clear();
        // A card with a picture or sound is never a duplicate: the same words may ask
        // about many maps.
        if (options.skipDuplicates && p.media.empty()) {
            p.hash = cardHash(p.subject, p.question, p.answer);
            if (duplicates.contains(p.hash, p, pending)) {
                ++result.duplicatesSkipped;
                continue;
            }
            duplicates.add(p.hash, -qint64(pending.size()) - 1);
        }
        if (card.reverseCompartment && *card.reverseCompartment < 1)
            throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("compartment below 1"));
        if (options.queueByTime) {
            p.queueTime = card.enteredAt.value_or(std::numeric_limits<qint64>::max());
            p.reverseCompartment = card.reverseCompartment;
            p.reverseEnteredAt = card.reverseEnteredAt.value_or(nowEnteredAt);
            const std::pair<qint32, qint64> rank{p.compartment, p.queueTime};
            if (placedAsRead && rank < lastQueued) {
                // The places written so far may be another's now: all go in at the end.
                placedAsRead = false;
                if (firstKey > 0)
                    sql::Statement(m_db, "DELETE FROM tblPosition WHERE idFrageAntwort BETWEEN ?1 AND ?2")
                        .bind(1, firstKey)
                        .bind(2, lastKey)
                        .run();
            }
            lastQueued = rank;
        } else {
            if (queuePlace > kInt32Max)
                throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
            ++queuePlace;
            p.reverse = reverseOf(p.subject, card.reverseCompartment, card.reverseEnteredAt.value_or(nowEnteredAt));
        }
        if (progress)
            ++result.progressKept;
        if ((!options.queueByTime || placedAsRead) && lastPlace != std::pair(p.subject, p.compartment)) {
            lastPlace = {p.subject, p.compartment};
            ++placeChanges;
        }
        pending.push_back(std::move(p));
        if (int(pending.size()) == kBatch)
            flush();
    }
    flush();
    if (options.keepGoing && !options.keepGoing(read)) {
        result = BulkImportResult();
        result.cancelled = true;
        return result;
    }
    if (options.queueByTime) {
        // Each card's place is its rank in the queue's order. The rows go in by key,
        // as the table keeps them: in the queue's order they would land all over it.
        const std::vector<quint32> order = queueOrder(queued);
        if (!placedAsRead) {
            if (queuePlace + qint64(queued.size()) - 1 > kInt32Max)
                throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
            std::vector<qint32> placeOf(queued.size());
            for (size_t rank = 0; rank < order.size(); ++rank) {
                placeOf[order[rank]] = qint32(queuePlace + qint64(rank));
                // Places out of the keys' order go all over every queue index: each run
                // in order counts as a change of place.
                if (rank > 0 && order[rank] != order[rank - 1] + 1)
                    ++placeChanges;
            }
            for (const Queued &q : queued)
                if (lastPlace != std::pair(q.subject, q.compartment)) {
                    lastPlace = {q.subject, q.compartment};
                    ++placeChanges;
                }
            dropScatteredIndexes();
            if (indexesDropped) {
                m_db.exec(("DROP INDEX " + std::string(schema::kPlaceIndex[0])).c_str());
                placeIndexDropped = true;
            }
            const size_t whole = queued.size() - queued.size() % kBatch;
            for (size_t first = 0; first < queued.size();) {
                const int perStatement = first < whole ? kBatch : 1;
                sqlite3_stmt *positions = m_db.prepared(positionInsert(perStatement).c_str());
                for (int i = 0; i < perStatement; ++i) {
                    const Queued &q = queued[first + size_t(i)];
                    sqlite3_bind_int64(positions, 4 * i + 1, q.key);
                    sqlite3_bind_int64(positions, 4 * i + 2, q.compartment);
                    sqlite3_bind_int64(positions, 4 * i + 3, placeOf[first + size_t(i)]);
                    sqlite3_bind_int64(positions, 4 * i + 4, q.subject);
                }
                runInsert(m_db, positions);
                first += size_t(perStatement);
            }
        }
        Places reverse(m_store, Direction::Reverse);
        bool reversed = false;
        for (const quint32 i : order) {
            const Queued &q = queued[i];
            if (const std::optional<ReversePlace> place =
                    reverseOf(q.subject, q.reverseCompartment, q.reverseEnteredAt)) {
                reverse.write(q.key, place);
                reversed = true;
            }
        }
        if (reversed && journalled)
            journalReversePlaces(m_db, firstKey, lastKey, journalAt);
    }
    if (indexesDropped) {
        // The reading is through by now: SQLite may sort on the other core too.
        m_db.exec("PRAGMA threads = 2");
        for (const auto &index : schema::kScatteredPositionIndexes)
            m_db.exec(index[1]);
        if (placeIndexDropped)
            m_db.exec(schema::kPlaceIndex[1]);
        m_db.exec("PRAGMA threads = 0");
    }
    for (const auto &[key, count] : buckets)
        sql::Statement(m_db,
                       "INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl) VALUES (?1, 0, ?2, ?3, ?4) "
                       "ON CONFLICT DO UPDATE SET Anzahl = Anzahl + excluded.Anzahl")
            .bind(1, std::get<0>(key))
            .bind(2, std::get<1>(key))
            .bind(3, std::get<2>(key))
            .bind(4, count)
            .run();
    if (journalled)
        journalNewSubjects(m_db, std::vector<qint32>(created.begin(), created.end()), journalAt);
    m_db.exec("DELETE FROM tblAbgleichStill");
    // Its cards that came before the first one with a reverse place get theirs now
    // (journalled by the triggers again).
    for (qint32 subject : createdBoth) {
        Directions directions(m_store);
        directions.writeDirection(subject, DirectionRow{subject, DirectionSetting::Both});
        directions.fillReverse(subject, {});
    }
    m_db.exec(schema::kSearchInsertTrigger);
    m_db.exec(schema::kBucketTriggers);
    m_db.exec(schema::kPositionInsertSubjectTrigger);
    m_db.exec(journalTrigger.constData());
    tx.commit();
    return result;
}

bool Store::hasTextIndex() { return BulkImport(*this).hasTextIndex(); }

bool Store::holdsCard(qint32 subjectId, const QString &question, const QString &answer)
{
    return BulkImport(*this).holdsCard(subjectId, question, answer);
}

BulkImportResult Store::importCards(const std::function<bool(BulkCard &)> &next, const BulkImportOptions &options)
{
    return BulkImport(*this).importCards(next, options);
}

void Store::createWithRows(const QString &path, const std::vector<SubjectRow> &subjects,
                           const std::vector<CardRow> &cards, qint64 enteredAt)
{
    BulkImport::createWithRows(path, subjects, cards, enteredAt);
}

} // namespace tarlivo::store
