#include "store/places.h"

#include "store/numbertest.h"
#include "store/rules.h"

#include <sqlite3.h>

namespace tarlivo::store {
namespace {

// Hops from one compartment to the next through the index instead of reading every
// card of the subject: a few steps whatever the number of cards. Ties on Stelle can
// only come from files of the older program; the card key then keeps their order stable.
#define TARLIVO_PLACE_READS(table)                                                                                     \
    "SELECT MAX(Stelle) FROM " table,                                                                                  \
        "WITH RECURSIVE f (Fach) AS ("                                                                                 \
        " SELECT MIN(Fach) FROM " table " WHERE idGebiet = ?1"                                                         \
        " UNION ALL"                                                                                                   \
        " SELECT (SELECT MIN(Fach) FROM " table " WHERE idGebiet = ?1 AND Fach > f.Fach)"                              \
        " FROM f WHERE f.Fach IS NOT NULL)"                                                                            \
        " SELECT Fach FROM f WHERE Fach IS NOT NULL",                                                                  \
        "SELECT idFrageAntwort FROM " table                                                                            \
        " WHERE idGebiet = ?1 AND Fach = ?2 ORDER BY Stelle, idFrageAntwort LIMIT 1",                                  \
        "SELECT idFrageAntwort FROM " table " WHERE idGebiet = ?1 ORDER BY Fach DESC, Stelle, idFrageAntwort",         \
        "SELECT COUNT(*) FROM " table " WHERE Stelle = ?1"

const Places::Statements kForward = {
    TARLIVO_PLACE_READS("tblPosition"),
    "UPDATE tblPosition SET Fach = ?2, Stelle = ?3 WHERE idFrageAntwort = ?1",
    "DELETE FROM tblPosition WHERE idFrageAntwort = ?1",
    "position of card %1",
};
// The card's subject comes from its own row, so a place is never made for a card that is gone.
const Places::Statements kReverse = {
    TARLIVO_PLACE_READS("tblPositionUmgekehrt"),
    "INSERT INTO tblPositionUmgekehrt (idFrageAntwort, idGebiet, Fach, Stelle, Seit, Tag) "
    "SELECT idFrageAntwort, idGebiet, ?2, ?3, ?4, ?5 FROM tblFrageAntwort "
    "WHERE idFrageAntwort = ?1 ON CONFLICT (idFrageAntwort) DO UPDATE SET "
    "Fach = excluded.Fach, Stelle = excluded.Stelle, Seit = excluded.Seit, Tag = excluded.Tag",
    "DELETE FROM tblPositionUmgekehrt WHERE idFrageAntwort = ?1",
    "card %1",
};
#undef TARLIVO_PLACE_READS

} // namespace

const Places::Statements &Places::statements(Direction direction)
{
    return direction == Direction::Reverse ? kReverse : kForward;
}

Places::Places(Store &store, Direction direction)
    : StorePart(store), m_direction(direction), m_sql(statements(direction))
{
}

qint32 Places::next()
{
    sql::Statement q(m_db, m_sql.maxQueuePlace);
    if (!q.step() || q.isNull(0))
        return 1;
    const qint64 largest = q.int64(0);
    if (largest >= kInt32Max)
        throw StoreError(StoreErrorKind::Limit, m_store.path(), QStringLiteral("queue place"));
    return qint32(largest + 1);
}

std::vector<qint32> Places::keys(const char *query, qint32 subjectId)
{
    sql::Statement q(m_db, query);
    q.bind(1, subjectId);
    std::vector<qint32> result;
    while (q.step())
        result.push_back(toInt32(q.int64(0), m_store.path()));
    return result;
}

std::vector<qint32> Places::compartments(qint32 subjectId) { return keys(m_sql.compartments, subjectId); }

std::vector<qint32> Places::inOrder(qint32 subjectId) { return keys(m_sql.inOrder, subjectId); }

std::optional<qint32> Places::headCard(qint32 subjectId, qint32 compartment)
{
    sql::Statement q(m_db, m_sql.headCard);
    q.bind(1, subjectId).bind(2, compartment);
    if (!q.step())
        return std::nullopt;
    return toInt32(q.int64(0), m_store.path());
}

qint64 Places::holders(qint32 queuePlace)
{
    sql::Statement q(m_db, m_sql.atQueuePlace);
    return q.bind(1, queuePlace).step() ? q.int64(0) : 0;
}

void Places::put(qint32 cardId, const Place &place)
{
    const bool reverse = m_direction == Direction::Reverse;
    sql::Statement q(m_db, m_sql.put);
    q.bind(1, cardId).bind(2, place.compartment).bind(3, place.queuePlace);
    if (reverse)
        q.bind(4, place.enteredAt).bind(5, Store::learningDay(place.enteredAt));
    q.run();
    if (sqlite3_changes(m_db.handle()) != 1)
        throw StoreError(StoreErrorKind::NotFound, m_store.path(), QString::fromLatin1(m_sql.missing).arg(cardId));
    if (!reverse)
        writeEnteredAt(cardId, place.enteredAt);
}

void Places::add(qint32 cardId, qint32 subjectId, const Place &place)
{
    if (m_direction == Direction::Reverse) {
        put(cardId, place);
        return;
    }
    sql::Statement(m_db, "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) VALUES (?1, ?2, ?3, ?4)")
        .bind(1, cardId)
        .bind(2, place.compartment)
        .bind(3, place.queuePlace)
        .bind(4, subjectId)
        .run();
    writeEnteredAt(cardId, place.enteredAt);
}

void Places::write(qint32 cardId, const std::optional<Place> &place)
{
    if (place)
        put(cardId, *place);
    else
        remove(cardId);
}

void Places::remove(qint32 cardId) { sql::Statement(m_db, m_sql.remove).bind(1, cardId).run(); }

void Places::writeEnteredAt(qint32 cardId, qint64 enteredAt)
{
    if (enteredAt == kNoEnteredAt) {
        // Undo brings back a card as it was read: without its time.
        sql::Statement(m_db, "DELETE FROM tblFachSeit WHERE idFrageAntwort = ?1").bind(1, cardId).run();
        return;
    }
    sql::Statement q(m_db, "INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) VALUES (?1, ?2, ?3) "
                           "ON CONFLICT (idFrageAntwort) DO UPDATE SET Seit = excluded.Seit, Tag = excluded.Tag");
    q.bind(1, cardId).bind(2, enteredAt).bind(3, Store::learningDay(enteredAt)).run();
}

// The store's queue reads, as its callers know them.
std::vector<qint32> Store::compartments(qint32 subjectId, Direction direction)
{
    return Places(*this, direction).compartments(subjectId);
}

std::optional<qint32> Store::headCard(qint32 subjectId, qint32 compartment, Direction direction)
{
    return Places(*this, direction).headCard(subjectId, compartment);
}

std::vector<qint32> Store::placesInOrder(qint32 subjectId, Direction direction)
{
    return Places(*this, direction).inOrder(subjectId);
}

} // namespace tarlivo::store
