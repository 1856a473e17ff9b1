#include "store/searchindex.h"

#include "store/collation.h"
#include "store/queries.h"

#include <algorithm>

namespace tarlivo::store {
namespace {

// The query the trigram index answers: each spelling of the text as a phrase it
// finds as a substring, letter case folded. A spelling shorter than three letters
// ("ßa" for "ssa") the index cannot find.
QString searchPhrase(const QString &text)
{
    QStringList phrases;
    for (QString v : searchVariants(text)) {
        v.replace(QLatin1Char('"'), QLatin1String("\"\""));
        phrases << QLatin1Char('"') + v + QLatin1Char('"');
    }
    return phrases.join(QLatin1String(" OR "));
}

} // namespace

Search::Search(Store &store) : StorePart(store) {}

std::vector<qint32> Search::cardIds(std::optional<qint32> subjectId, const QString &search, CardOrder order)
{
    const bool filtered = !search.isEmpty();
    const char *const *queries = queries::kKeysByPractice;
    switch (order) {
    case CardOrder::Practice:
    case CardOrder::Compartment:
        break;
    case CardOrder::Question:
        queries = queries::kKeysByQuestion;
        break;
    case CardOrder::Answer:
        queries = queries::kKeysByAnswer;
        break;
    case CardOrder::Subject:
        queries = queries::kKeysBySubject;
        break;
    }
    sql::Statement q(m_db, queries[filtered ? 1 : 0]);
    if (filtered)
        q.bind(1, searchPhrase(search)).bind(3, search);
    if (subjectId)
        q.bind(2, *subjectId);
    else
        q.bindNull(2);
    std::vector<qint32> ids;
    while (q.step())
        ids.push_back(qint32(q.int64(0)));
    return ids;
}

FirstHits Search::firstHits(std::optional<qint32> subjectId, const QString &search, int limit, int budget)
{
    sql::Statement q(m_db, subjectId ? queries::kTextsInPracticeOrder : queries::kAllTextsInPracticeOrder);
    if (subjectId)
        q.bind(1, *subjectId);
    const QStringList variants = searchVariants(search);
    FirstHits first;
    int read = 0;
    while (int(first.ids.size()) < limit && read < budget) {
        if (!q.step()) {
            first.complete = true;
            break;
        }
        ++read;
        if (containsFolded(q.text(1), variants) || containsFolded(q.text(2), variants))
            first.ids.push_back(qint32(q.int64(0)));
    }
    return first;
}

HitSlice Search::hitSlice(std::optional<qint32> subjectId, const QString &search, qint64 from, int limit)
{
    HitSlice slice;
    slice.last = from;
    // One read for both parts: the index up to its mark, the cards after it read directly.
    sql::ReadTransaction tx(m_db);
    qint64 mark = 0;
    {
        sql::Statement q(m_db, "SELECT BisKarte FROM tblSucheStand");
        if (q.step())
            mark = q.int64(0);
    }
    int looked = 0;
    auto take = [&](sql::Statement &q) {
        while (q.step()) {
            ++looked;
            slice.last = q.int64(0);
            if (!q.isNull(1) && (!subjectId || q.int64(3) == *subjectId))
                slice.hits.push_back({qint32(q.int64(1)), qint32(q.int64(2)), qint32(slice.last)});
        }
    };
    if (from < mark) {
        sql::Statement q(m_db, queries::kIndexHitSlice);
        q.bind(1, searchPhrase(search)).bind(2, from).bind(3, mark).bind(4, limit);
        take(q);
        if (looked == limit)
            return slice;
    }
    sql::Statement q(m_db, queries::kUnindexedHitSlice);
    q.bind(1, search).bind(2, std::max(from, mark)).bind(3, limit - looked);
    const int before = looked;
    take(q);
    slice.done = looked - before < limit - before;
    return slice;
}

qint64 Search::backlog()
{
    sql::Statement q(m_db, "SELECT COUNT(*) FROM tblFrageAntwort "
                           "WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand)");
    return q.step() ? q.int64(0) : 0;
}

qint64 Search::catchUp(int maxCards)
{
    // Not a change of the user's: no backup is due for it. A write while the day's copy
    // is taken would make it start over, and the first change wait for a whole copy:
    // the index waits (the next change wakes it).
    if (!StoreAccess::prepareQuietWrite(m_store))
        return 0;
    sql::WriteTransaction tx(m_db);
    // The next cards by key, read where the mark stands now: another running copy
    // may have moved it meanwhile.
    sql::Statement(m_db, "INSERT INTO tblSuche (rowid, Frage, Antwort) "
                         "SELECT idFrageAntwort, Frage, Antwort FROM tblFrageAntwort "
                         "WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand) "
                         "ORDER BY idFrageAntwort LIMIT ?1")
        .bind(1, maxCards)
        .run();
    sql::Statement(m_db, "UPDATE tblSucheStand SET BisKarte = COALESCE((SELECT MAX(idFrageAntwort) FROM "
                         "(SELECT idFrageAntwort FROM tblFrageAntwort WHERE idFrageAntwort > BisKarte "
                         "ORDER BY idFrageAntwort LIMIT ?1)), BisKarte)")
        .bind(1, maxCards)
        .run();
    const qint64 left = backlog();
    tx.commit();
    return left;
}

std::vector<qint32> Store::cardIds(std::optional<qint32> subjectId, const QString &search, CardOrder order)
{
    return Search(*this).cardIds(subjectId, search, order);
}
FirstHits Store::firstHits(std::optional<qint32> subjectId, const QString &search, int limit, int budget)
{
    return Search(*this).firstHits(subjectId, search, limit, budget);
}
HitSlice Store::hitSlice(std::optional<qint32> subjectId, const QString &search, qint64 from, int limit)
{
    return Search(*this).hitSlice(subjectId, search, from, limit);
}
qint64 Store::searchBacklog() { return Search(*this).backlog(); }
qint64 Store::catchUpSearchIndex(int maxCards) { return Search(*this).catchUp(maxCards); }

} // namespace tarlivo::store
