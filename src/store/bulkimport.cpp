#include "store/numbertest.h"
#include "store/queries.h"
#include "store/store.h"

#include <QHash>

#include <sqlite3.h>

#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace tarlivo {
namespace {

constexpr qint64 kInt32Max = std::numeric_limits<qint32>::max();
// How many cards pass between two questions whether to go on.
constexpr qint64 kAskEvery = 256;

QString textOf(const QString &s) { return s.isNull() ? QStringLiteral("") : s; }

// Duplicates are found by a hash of subject and texts; only a hit reads the card
// back to compare, so memory stays at a few words a card whatever the texts.
size_t cardHash(qint32 subject, const QString &frage, const QString &antwort)
{
    return qHashMulti(0, subject, frage, antwort);
}

class DuplicateIndex {
public:
    explicit DuplicateIndex(sql::Database &db) : m_db(db) {}

    bool contains(qint32 subject, const QString &frage, const QString &antwort)
    {
        const auto range = m_cards.equal_range(cardHash(subject, frage, antwort));
        for (auto it = range.first; it != range.second; ++it) {
            sql::Statement q(m_db, queries::kCardText);
            q.bind(1, it->second);
            if (q.step() && q.text(0) == textOf(frage) && q.text(1) == textOf(antwort))
                return true;
        }
        return false;
    }

    void add(qint32 subject, const QString &frage, const QString &antwort, qint32 cardId)
    {
        m_cards.emplace(cardHash(subject, frage, antwort), cardId);
    }

    // The cards the subject holds before the import.
    void addExisting(qint32 subject)
    {
        sql::Statement q(m_db, "SELECT f.idFrageAntwort, f.Frage, f.Antwort FROM tblPosition AS p "
                               "JOIN tblFrageAntwort AS f USING (idFrageAntwort) WHERE p.idGebiet = ?1");
        q.bind(1, subject);
        while (q.step())
            add(subject, textOf(q.text(1)), textOf(q.text(2)), qint32(q.int64(0)));
    }

private:
    sql::Database &m_db;
    std::unordered_multimap<size_t, qint32> m_cards;
};

} // namespace

BulkImportResult Store::importCards(const std::function<bool(BulkCard &)> &next, const BulkImportOptions &options)
{
    BulkImportResult result;
    prepareWrite();
    sql::WriteTransaction tx(m_db);

    QHash<QString, qint32> subjects; // as spelt in the import
    std::unordered_set<qint32> created;
    DuplicateIndex duplicates(m_db);
    auto subjectFor = [&](const QString &name) -> qint32 {
        const auto known = subjects.constFind(name);
        if (known != subjects.constEnd())
            return *known;
        qint32 id;
        if (const std::optional<qint32> existing = subjectId(name)) {
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
        return id;
    };

    qint64 stelle = nextStelle();
    qint64 read = 0;
    BulkCard card;
    while (next(card)) {
        ++read;
        if (options.keepGoing && read % kAskEvery == 0 && !options.keepGoing(read)) {
            result = BulkImportResult();
            result.cancelled = true;
            return result; // the transaction rolls back
        }
        if (card.fach < 1)
            throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("compartment below 1"));
        const qint32 subject = subjectFor(card.subject);
        if (options.skipDuplicates && duplicates.contains(subject, card.frage, card.antwort)) {
            ++result.duplicatesSkipped;
            continue;
        }
        if (stelle > kInt32Max)
            throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
        sql::Statement insert(m_db, "INSERT INTO tblFrageAntwort (idGebiet, Frage, Antwort) VALUES (?1, ?2, ?3)");
        insert.bind(1, subject).bind(2, textOf(card.frage)).bind(3, textOf(card.antwort)).run();
        const qint64 cardId = sqlite3_last_insert_rowid(m_db.handle());
        if (cardId > kInt32Max)
            throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("card key"));
        sql::Statement position(m_db, "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                                      "VALUES (?1, ?2, ?3, ?4)");
        position.bind(1, cardId).bind(2, card.fach).bind(3, stelle).bind(4, subject).run();
        ++stelle;
        if (options.skipDuplicates)
            duplicates.add(subject, card.frage, card.antwort, qint32(cardId));
        ++result.cardsStored;
    }
    if (options.keepGoing && !options.keepGoing(read)) {
        result = BulkImportResult();
        result.cancelled = true;
        return result;
    }
    tx.commit();
    return result;
}

} // namespace tarlivo
