// Subjects and cards one at a time: their names, texts, verdicts and rows.
#include "store/cards.h"

#include "store/numbertest.h"
#include "store/places.h"
#include "store/queries.h"
#include "store/rules.h"

#include <sqlite3.h>

namespace tarlivo::store {

using rules::textOf;

Cards::Cards(Store &store) : StorePart(store) {}

QStringList Cards::subjectNames(const char *query)
{
    QStringList names;
    sql::Statement q(m_db, query);
    while (q.step())
        names << q.text(0);
    return names;
}

QStringList Cards::allSubjects() { return subjectNames(queries::kAllSubjects); }

QStringList Cards::subjectsWithCards() { return subjectNames(queries::kSubjectsWithCards); }

std::optional<qint32> Cards::subjectId(const QString &name)
{
    sql::Statement q(m_db, queries::kSubjectId);
    q.bind(1, textOf(name));
    if (!q.step())
        return std::nullopt;
    return toInt32(q.int64(0), path());
}

void Cards::addSubject(const QString &name)
{
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    if (subjectId(name))
        throw StoreError(StoreErrorKind::Duplicate, path());
    sql::Statement insert(m_db, "INSERT INTO tblGebiet (NameGebiet) VALUES (?1)");
    insert.bind(1, textOf(name)).run();
    toInt32(sqlite3_last_insert_rowid(m_db.handle()), path());
    tx.commit();
}

void Cards::renameSubject(const QString &oldName, const QString &newName)
{
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    const std::optional<qint32> id = subjectId(oldName);
    if (!id)
        throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("no subject named so"));
    // Another subject of that name, in any capitals, or this one's name unchanged.
    const std::optional<qint32> holder = subjectId(newName);
    if (holder && (holder != id || newName == oldName))
        throw StoreError(StoreErrorKind::Duplicate, path());
    sql::Statement update(m_db, "UPDATE tblGebiet SET NameGebiet = ?1 WHERE idGebiet = ?2");
    update.bind(1, textOf(newName)).bind(2, *id).run();
    tx.commit();
}

qint32 Cards::addCard(qint32 subjectId, const QString &question, const QString &answer, Change *change)
{
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    {
        sql::Statement exists(m_db, "SELECT 1 FROM tblGebiet WHERE idGebiet = ?1");
        if (!exists.bind(1, subjectId).step())
            throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("subject %1").arg(subjectId));
    }
    Places forward(m_store, Direction::Forward);
    const qint32 queuePlace = forward.next();
    sql::Statement card(m_db, "INSERT INTO tblFrageAntwort (idGebiet, Frage, Antwort) VALUES (?1, ?2, ?3)");
    card.bind(1, subjectId).bind(2, textOf(question)).bind(3, textOf(answer)).run();
    // The key of the row just inserted: no other writer can slip in between.
    const qint32 cardId = toInt32(sqlite3_last_insert_rowid(m_db.handle()), path());
    const qint64 enteredAt = StoreAccess::now(m_store);
    forward.add(cardId, subjectId, Place{1, queuePlace, enteredAt});
    // A subject practised the other way too gives the new card both places.
    std::optional<ReversePlace> reverse;
    if (Store::practises(m_store.direction(subjectId), Direction::Reverse)) {
        Places backward(m_store, Direction::Reverse);
        reverse = Place{1, backward.next(), enteredAt};
        backward.add(cardId, subjectId, *reverse);
    }
    tx.commit();
    if (change) {
        *change = Change{};
        change->cards.push_back({std::nullopt, CardRow{cardId, subjectId, textOf(question), textOf(answer), 1,
                                                       queuePlace, enteredAt, reverse}});
    }
    return cardId;
}

std::optional<CardText> Cards::cardText(qint32 cardId)
{
    sql::Statement q(m_db, queries::kCardText);
    q.bind(1, cardId);
    if (!q.step())
        return std::nullopt;
    return CardText{q.text(0), q.text(1)};
}

void Cards::saveCardText(qint32 cardId, const QString &question, const QString &answer, Change *change)
{
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    std::optional<CardRow> before;
    if (change)
        before = cardRow(cardId);
    sql::Statement update(m_db, "UPDATE tblFrageAntwort SET Frage = ?1, Antwort = ?2 WHERE idFrageAntwort = ?3");
    update.bind(1, textOf(question)).bind(2, textOf(answer)).bind(3, cardId).run();
    if (sqlite3_changes(m_db.handle()) != 1)
        throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("card %1").arg(cardId));
    tx.commit();
    if (change) {
        CardRow after = *before;
        after.question = textOf(question);
        after.answer = textOf(answer);
        *change = Change{};
        change->cards.push_back({before, after});
    }
}

Change Cards::judgeCard(qint32 cardId, Verdict verdict, Direction direction)
{
    const bool reverse = direction == Direction::Reverse;
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(m_db);
    // The compartment the card is in now, read inside this write: another window or
    // running copy may have moved it since it was shown.
    const std::optional<CardRow> before = cardRow(cardId);
    if (!before || before->compartment < 1 || (reverse && !before->reverse))
        throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("position of card %1").arg(cardId));
    const qint32 compartment = reverse ? before->reverse->compartment : before->compartment;
    if (verdict == Verdict::Right && compartment == kInt32Max)
        throw StoreError(StoreErrorKind::Limit, path(), QString::fromLatin1(Store::kTopCompartment));
    const qint32 newCompartment = verdict == Verdict::Right         ? compartment + 1
                                  : verdict == Verdict::AlmostRight ? compartment
                                                                    : 1;
    Places places(m_store, direction);
    const qint32 queuePlace = places.next();
    const qint64 at = StoreAccess::now(m_store);
    places.put(cardId, Place{newCompartment, queuePlace, at});
    LogRow log{0, at, cardId, before->subjectId, compartment, newCompartment, verdict, direction};
    sql::Statement insert(m_db, "INSERT INTO tblUebung (Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, "
                                "FachNachher, Urteil) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, log.time)
        .bind(2, log.cardId)
        .bind(3, log.subjectId)
        .bind(4, log.compartmentBefore)
        .bind(5, log.compartmentAfter)
        .bind(6, qint64(verdict))
        .run();
    log.id = sqlite3_last_insert_rowid(m_db.handle());
    if (reverse)
        sql::Statement(m_db, "INSERT INTO tblUebungUmgekehrt (idUebung) VALUES (?1)").bind(1, log.id).run();
    tx.commit();

    Change change;
    CardRow after = *before;
    if (reverse) {
        after.reverse = ReversePlace{newCompartment, queuePlace, at};
    } else {
        after.compartment = newCompartment;
        after.queuePlace = queuePlace;
        after.enteredAt = at;
    }
    change.cards.push_back({before, after});
    change.log.push_back({std::nullopt, log});
    return change;
}

std::optional<CardRow> Cards::cardRow(qint32 cardId)
{
    sql::Statement q(m_db, queries::kCardRow);
    if (!q.bind(1, cardId).step())
        return std::nullopt;
    CardRow row;
    row.id = cardId;
    row.subjectId = toInt32(q.int64(0), path());
    row.question = q.text(1);
    row.answer = q.text(2);
    row.compartment = q.isNull(3) ? 0 : toInt32(q.int64(3), path());
    row.queuePlace = q.isNull(4) ? 0 : toInt32(q.int64(4), path());
    row.enteredAt = q.isNull(5) ? kNoEnteredAt : q.int64(5);
    if (!q.isNull(6))
        row.reverse = ReversePlace{toInt32(q.int64(6), path()), toInt32(q.int64(7), path()), q.int64(8)};
    return row;
}

// The store's operations on subjects and cards, as its callers know them.
QStringList Store::allSubjects() { return Cards(*this).allSubjects(); }
QStringList Store::subjectsWithCards() { return Cards(*this).subjectsWithCards(); }
std::optional<qint32> Store::subjectId(const QString &name) { return Cards(*this).subjectId(name); }
void Store::addSubject(const QString &name) { Cards(*this).addSubject(name); }
void Store::renameSubject(const QString &oldName, const QString &newName)
{
    Cards(*this).renameSubject(oldName, newName);
}
qint32 Store::addCard(qint32 subjectId, const QString &question, const QString &answer, Change *change)
{
    return Cards(*this).addCard(subjectId, question, answer, change);
}
std::optional<CardText> Store::cardText(qint32 cardId) { return Cards(*this).cardText(cardId); }
void Store::saveCardText(qint32 cardId, const QString &question, const QString &answer, Change *change)
{
    Cards(*this).saveCardText(cardId, question, answer, change);
}
Change Store::judgeCard(qint32 cardId, Verdict verdict, Direction direction)
{
    return Cards(*this).judgeCard(cardId, verdict, direction);
}
std::optional<CardRow> Store::cardRow(qint32 cardId) { return Cards(*this).cardRow(cardId); }

} // namespace tarlivo::store
