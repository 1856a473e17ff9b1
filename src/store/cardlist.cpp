// The card list's changes: several cards, or a whole subject, in one write.

#include "store/cardlist.h"

#include "store/cardmedia.h"
#include "store/cards.h"
#include "store/directions.h"
#include "store/places.h"
#include "store/queries.h"

#include <sqlite3.h>

#include <unordered_map>
#include <unordered_set>

namespace tarlivo::store {
namespace {

// Each key once, in the order given: a selection may name a card twice.
std::vector<qint32> distinct(const std::vector<qint32> &ids)
{
    std::vector<qint32> result;
    result.reserve(ids.size());
    std::unordered_set<qint32> seen;
    for (qint32 id : ids) {
        if (seen.insert(id).second)
            result.push_back(id);
    }
    return result;
}

// The keys as one JSON array, bound as a single value.
QString keyList(const std::vector<qint32> &ids)
{
    QString list = QStringLiteral("[");
    for (qint32 id : ids) {
        if (list.size() > 1)
            list += QLatin1Char(',');
        list += QString::number(id);
    }
    return list + QLatin1Char(']');
}

// enteredAtColumn: where the statement reads the card's time; the list's rows go without it.
CardRow cardRowOf(const sql::Statement &q, int enteredAtColumn = 6)
{
    CardRow row;
    row.id = qint32(q.int64(0));
    row.subjectId = qint32(q.int64(1));
    row.question = q.text(2);
    row.answer = q.text(3);
    row.compartment = qint32(q.int64(4));
    row.queuePlace = qint32(q.int64(5));
    if (enteredAtColumn >= 0)
        row.enteredAt = q.isNull(enteredAtColumn) ? kNoEnteredAt : q.int64(enteredAtColumn);
    // The reverse place follows the time: compartment, queue place, time.
    const int reverse = enteredAtColumn >= 0 ? enteredAtColumn + 1 : 7;
    if (!q.isNull(reverse))
        row.reverse = ReversePlace{qint32(q.int64(reverse)), qint32(q.int64(reverse + 1)),
                                   enteredAtColumn >= 0 ? q.int64(reverse + 2) : 0};
    return row;
}

} // namespace

CardList::CardList(Store &store) : StorePart(store) {}

std::vector<CardRow> CardList::cardRowsOrThrow(const std::vector<qint32> &cardIds)
{
    std::unordered_map<qint32, CardRow> found;
    {
        sql::Statement q(m_db, queries::kCardRows);
        q.bind(1, keyList(cardIds));
        while (q.step()) {
            CardRow row = cardRowOf(q);
            found.emplace(row.id, std::move(row));
        }
    }
    std::vector<CardRow> rows;
    rows.reserve(cardIds.size());
    for (qint32 id : cardIds) {
        auto it = found.find(id);
        if (it == found.end())
            throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("card %1").arg(id));
        rows.push_back(std::move(it->second));
    }
    return rows;
}

Change CardList::deleteCards(const std::vector<qint32> &cardIds)
{
    Change change;
    const std::vector<qint32> ids = distinct(cardIds);
    if (ids.empty())
        return change;
    StoreAccess::prepareWrite(m_store);
    LargeCache cache(m_db, ids.size());
    sql::WriteTransaction tx(m_db);
    std::vector<CardRow> rows = cardRowsOrThrow(ids);
    // Two statements over all the keys, the positions first (they refer to the cards).
    const QString keys = keyList(ids);
    MediaLibrary(m_store).recordOfCards(keys, change);
    sql::Statement(m_db, queries::kDeletePositions).bind(1, keys).run();
    sql::Statement(m_db, queries::kDeleteCards).bind(1, keys).run();
    tx.commit();
    change.cards.reserve(rows.size());
    for (CardRow &row : rows)
        change.cards.push_back({std::move(row), std::nullopt});
    return change;
}

Change CardList::moveCardsToSubject(const std::vector<qint32> &cardIds, qint32 subjectId)
{
    Change change;
    const std::vector<qint32> ids = distinct(cardIds);
    StoreAccess::prepareWrite(m_store);
    LargeCache cache(m_db, ids.size());
    sql::WriteTransaction tx(m_db);
    Cards(m_store).requireSubject(subjectId);
    std::vector<CardRow> rows = cardRowsOrThrow(ids);
    for (CardRow &row : rows) {
        if (row.subjectId == subjectId)
            continue; // already there: nothing of it changes
        // The position row follows by trigger; compartment and queue place stay.
        sql::Statement(m_db, "UPDATE tblFrageAntwort SET idGebiet = ?1 WHERE idFrageAntwort = ?2")
            .bind(1, subjectId)
            .bind(2, row.id)
            .run();
        CardRow after = row;
        after.subjectId = subjectId;
        change.cards.push_back({std::move(row), std::move(after)});
    }
    tx.commit();
    return change;
}

Change CardList::setCompartment(const std::vector<qint32> &cardIds, qint32 compartment, Direction direction)
{
    if (compartment < 1)
        throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("compartment below 1"));
    Change change;
    const std::vector<qint32> ids = distinct(cardIds);
    if (ids.empty())
        return change;
    StoreAccess::prepareWrite(m_store);
    LargeCache cache(m_db, ids.size());
    sql::WriteTransaction tx(m_db);
    std::vector<CardRow> rows = cardRowsOrThrow(ids);
    const bool reverse = direction == Direction::Reverse;
    Places places(m_store, direction);
    const qint64 first = places.next();
    if (first + qint64(rows.size()) - 1 > kInt32Max)
        throw StoreError(StoreErrorKind::Limit, path(), QStringLiteral("queue place"));
    qint32 queuePlace = qint32(first);
    const qint64 enteredAt = StoreAccess::now(m_store);
    for (CardRow &row : rows) {
        const Place place{compartment, queuePlace++, enteredAt};
        places.put(row.id, place);
        CardRow after = row;
        if (reverse) {
            after.reverse = place;
        } else {
            after.compartment = place.compartment;
            after.queuePlace = place.queuePlace;
            after.enteredAt = place.enteredAt;
        }
        change.cards.push_back({std::move(row), std::move(after)});
    }
    tx.commit();
    return change;
}

Change CardList::deleteSubject(qint32 subjectId)
{
    Change change;
    StoreAccess::prepareWrite(m_store);
    LargeCache cache(m_db, 1000);
    sql::WriteTransaction tx(m_db);
    SubjectRow subject;
    Cards(m_store).requireSubject(subjectId, &subject);
    {
        sql::Statement q(m_db, queries::kSubjectCardRows);
        q.bind(1, subjectId);
        while (q.step())
            change.cards.push_back({cardRowOf(q), std::nullopt});
    }
    {
        std::vector<qint32> ids;
        ids.reserve(change.cards.size());
        for (const auto &c : change.cards)
            ids.push_back(c.before->id);
        MediaLibrary(m_store).recordOfCards(keyList(ids), change);
    }
    {
        sql::Statement q(m_db, queries::kIntervalsOfSubject);
        q.bind(1, subjectId);
        while (q.step())
            change.intervals.push_back({IntervalRow{subjectId, qint32(q.int64(0)), qint32(q.int64(1))}, std::nullopt});
    }
    if (std::optional<DirectionRow> direction = Directions(m_store).directionRow(subjectId))
        change.directions.push_back({direction, std::nullopt});
    sql::Statement(m_db, "DELETE FROM tblIntervall WHERE idGebiet = ?1").bind(1, subjectId).run();
    sql::Statement(m_db, "DELETE FROM tblPosition WHERE idGebiet = ?1").bind(1, subjectId).run();
    sql::Statement(m_db, "DELETE FROM tblFrageAntwort WHERE idGebiet = ?1").bind(1, subjectId).run();
    sql::Statement(m_db, "DELETE FROM tblGebiet WHERE idGebiet = ?1").bind(1, subjectId).run();
    tx.commit();
    change.subjects.push_back({std::move(subject), std::nullopt});
    return change;
}

Change CardList::editCard(qint32 cardId, const QString &question, const QString &answer,
                          const std::vector<MediaEdit> &media)
{
    Change change;
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    std::vector<CardRow> rows = cardRowsOrThrow({cardId});
    CardRow after = rows.front();
    after.question = question.isNull() ? QStringLiteral("") : question;
    after.answer = answer.isNull() ? QStringLiteral("") : answer;
    sql::Statement(m_db, "UPDATE tblFrageAntwort SET Frage = ?1, Antwort = ?2 WHERE idFrageAntwort = ?3")
        .bind(1, after.question)
        .bind(2, after.answer)
        .bind(3, cardId)
        .run();
    MediaLibrary(m_store).applyEdits(cardId, media, change);
    tx.commit();
    if (!(after == rows.front()))
        change.cards.push_back({std::move(rows.front()), std::move(after)});
    return change;
}

std::vector<SubjectRow> CardList::subjectRows()
{
    std::vector<SubjectRow> rows;
    sql::Statement q(m_db, queries::kSubjectRows);
    while (q.step())
        rows.push_back({qint32(q.int64(0)), q.text(1)});
    return rows;
}

namespace {

CardListRow listRowOf(const sql::Statement &q) { return {cardRowOf(q, -1), q.text(6)}; }

} // namespace

std::vector<CardListRow> CardList::cardPage(std::optional<qint32> subjectId, qint64 offset, int limit, bool fromEnd)
{
    const char *query = subjectId ? (fromEnd ? queries::kPageSubjectFromEnd : queries::kPageSubject)
                                  : (fromEnd ? queries::kPageAllFromEnd : queries::kPageAll);
    sql::Statement q(m_db, query);
    if (subjectId)
        q.bind(1, *subjectId);
    q.bind(2, limit).bind(3, offset);
    std::vector<CardListRow> rows;
    while (q.step())
        rows.push_back(listRowOf(q));
    return rows;
}

std::vector<CardListRow> CardList::cardListRows(const std::vector<qint32> &cardIds)
{
    std::vector<CardListRow> rows;
    rows.reserve(cardIds.size());
    for (qint32 id : cardIds) {
        sql::Statement q(m_db, queries::kListRow);
        if (q.bind(1, id).step())
            rows.push_back(listRowOf(q));
    }
    return rows;
}

// The store's card list, as its callers know it.
Change Store::deleteCards(const std::vector<qint32> &cardIds) { return CardList(*this).deleteCards(cardIds); }
Change Store::moveCardsToSubject(const std::vector<qint32> &cardIds, qint32 subjectId)
{
    return CardList(*this).moveCardsToSubject(cardIds, subjectId);
}
Change Store::setCompartment(const std::vector<qint32> &cardIds, qint32 compartment, Direction direction)
{
    return CardList(*this).setCompartment(cardIds, compartment, direction);
}
Change Store::deleteSubject(qint32 subjectId) { return CardList(*this).deleteSubject(subjectId); }
Change Store::editCard(qint32 cardId, const QString &question, const QString &answer,
                       const std::vector<MediaEdit> &media)
{
    return CardList(*this).editCard(cardId, question, answer, media);
}
std::vector<SubjectRow> Store::subjectRows() { return CardList(*this).subjectRows(); }
std::vector<CardListRow> Store::cardPage(std::optional<qint32> subjectId, qint64 offset, int limit, bool fromEnd)
{
    return CardList(*this).cardPage(subjectId, offset, limit, fromEnd);
}
std::vector<CardListRow> Store::cardListRows(const std::vector<qint32> &cardIds)
{
    return CardList(*this).cardListRows(cardIds);
}

} // namespace tarlivo::store
