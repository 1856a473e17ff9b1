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
    requireSubject(subjectId);
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

std::optional<SubjectRow> Cards::subjectRow(qint32 subjectId)
{
    sql::Statement q(m_db, "SELECT NameGebiet FROM tblGebiet WHERE idGebiet = ?1");
    if (!q.bind(1, subjectId).step())
        return std::nullopt;
    return SubjectRow{subjectId, q.text(0)};
}

void Cards::requireSubject(qint32 subjectId, SubjectRow *row)
{
    std::optional<SubjectRow> found = subjectRow(subjectId);
    if (!found)
        throw StoreError(StoreErrorKind::NotFound, path(), QStringLiteral("subject %1").arg(subjectId));
    if (row)
        *row = std::move(*found);
}

std::optional<LogRow> Cards::logRow(qint64 logId)
{
    sql::Statement q(m_db, "SELECT Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, FachNachher, Urteil, "
                           "EXISTS (SELECT 1 FROM tblUebungUmgekehrt WHERE idUebung = ?1) "
                           "FROM tblUebung WHERE idUebung = ?1");
    if (!q.bind(1, logId).step())
        return std::nullopt;
    LogRow row;
    row.id = logId;
    row.time = q.int64(0);
    row.cardId = qint32(q.int64(1));
    row.subjectId = qint32(q.int64(2));
    row.compartmentBefore = qint32(q.int64(3));
    row.compartmentAfter = qint32(q.int64(4));
    const qint64 verdict = q.int64(5);
    row.verdict = Verdict(verdict);
    row.direction = q.int64(6) ? Direction::Reverse : Direction::Forward;
    // A value beyond 32 bits reads as something no recorded row holds.
    if (q.int64(1) != row.cardId || q.int64(2) != row.subjectId || q.int64(3) != row.compartmentBefore
        || q.int64(4) != row.compartmentAfter)
        row.id = -1;
    return row;
}

void StepRows<SubjectRow>::check(Step &step, const RowChange<SubjectRow> &c)
{
    const qint32 id = Step::key(c).id;
    Cards cards(step.store());
    if (!(cards.subjectRow(id) == step.from(c)))
        step.conflict(QStringLiteral("subject %1").arg(id));
    if (const auto &row = step.to(c)) {
        const std::optional<qint32> holder = cards.subjectId(row->name);
        if (holder && *holder != id)
            step.conflict(QStringLiteral("subject name of %1").arg(id));
    }
}

void StepRows<SubjectRow>::arrive(Step &step, const RowChange<SubjectRow> &c)
{
    const SubjectRow &row = *step.to(c);
    if (step.from(c))
        sql::Statement(step.db(), "UPDATE tblGebiet SET NameGebiet = ?1 WHERE idGebiet = ?2")
            .bind(1, row.name)
            .bind(2, row.id)
            .run();
    else
        sql::Statement(step.db(), "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)")
            .bind(1, row.id)
            .bind(2, row.name)
            .run();
}

void StepRows<SubjectRow>::leave(Step &step, const RowChange<SubjectRow> &c)
{
    const qint32 id = Step::key(c).id;
    sql::Statement cards(step.db(), "SELECT 1 FROM tblPosition WHERE idGebiet = ?1 LIMIT 1");
    if (cards.bind(1, id).step())
        step.conflict(QStringLiteral("cards of subject %1").arg(id));
    sql::Statement(step.db(), "DELETE FROM tblGebiet WHERE idGebiet = ?1").bind(1, id).run();
}

void StepRows<CardRow>::check(Step &step, const RowChange<CardRow> &c)
{
    const qint32 id = Step::key(c).id;
    if (!(Cards(step.store()).cardRow(id) == step.from(c)))
        step.conflict(QStringLiteral("card %1").arg(id));
    if (!step.from(c)) {
        sql::Statement q(step.db(), "SELECT 1 FROM tblPosition WHERE idFrageAntwort = ?1");
        if (q.bind(1, id).step())
            step.conflict(QStringLiteral("position of card %1").arg(id));
    }
}

void StepRows<CardRow>::arrive(Step &step, const RowChange<CardRow> &c)
{
    const auto &was = step.from(c);
    const CardRow &row = *step.to(c);
    Store &store = step.store();
    if (!Cards(store).subjectRow(row.subjectId))
        step.conflict(QStringLiteral("subject %1 of card %2").arg(row.subjectId).arg(row.id));
    if (!was) {
        sql::Statement(step.db(), "INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) "
                                  "VALUES (?1, ?2, ?3, ?4)")
            .bind(1, row.id)
            .bind(2, row.subjectId)
            .bind(3, row.question)
            .bind(4, row.answer)
            .run();
        Places(store, Direction::Forward)
            .add(row.id, row.subjectId, Place{row.compartment, row.queuePlace, row.enteredAt});
        if (row.reverse)
            Places(store, Direction::Reverse).add(row.id, row.subjectId, *row.reverse);
        return;
    }
    // Only what differs: rewriting equal texts would still redo their search entries.
    if (was->subjectId != row.subjectId || was->question != row.question || was->answer != row.answer
        || was->question.isNull() != row.question.isNull() || was->answer.isNull() != row.answer.isNull())
        sql::Statement(step.db(), "UPDATE tblFrageAntwort SET idGebiet = ?1, Frage = ?2, Antwort = ?3 "
                                  "WHERE idFrageAntwort = ?4")
            .bind(1, row.subjectId)
            .bind(2, row.question)
            .bind(3, row.answer)
            .bind(4, row.id)
            .run();
    if (was->compartment != row.compartment || was->queuePlace != row.queuePlace || was->enteredAt != row.enteredAt)
        Places(store, Direction::Forward).put(row.id, Place{row.compartment, row.queuePlace, row.enteredAt});
    if (was->reverse != row.reverse)
        Places(store, Direction::Reverse).write(row.id, row.reverse);
}

void StepRows<CardRow>::leave(Step &step, const RowChange<CardRow> &c)
{
    const qint32 id = step.from(c)->id;
    Places(step.store(), Direction::Forward).remove(id);
    sql::Statement(step.db(), "DELETE FROM tblFrageAntwort WHERE idFrageAntwort = ?1").bind(1, id).run();
}

// A card coming back to its place finds it taken when another card was put there meanwhile.
void StepRows<CardRow>::verify(Step &step, const RowChange<CardRow> &c)
{
    const auto &was = step.from(c);
    const auto &row = step.to(c);
    if (!row)
        return;
    if ((!was || was->queuePlace != row->queuePlace)
        && Places(step.store(), Direction::Forward).holders(row->queuePlace) > 1)
        step.conflict(QStringLiteral("queue place %1").arg(row->queuePlace));
    if (row->reverse && !(was && was->reverse && was->reverse->queuePlace == row->reverse->queuePlace)
        && Places(step.store(), Direction::Reverse).holders(row->reverse->queuePlace) > 1)
        step.conflict(QStringLiteral("reverse queue place %1").arg(row->reverse->queuePlace));
}

void StepRows<LogRow>::check(Step &step, const RowChange<LogRow> &c)
{
    const qint64 id = Step::key(c).id;
    if (!(Cards(step.store()).logRow(id) == step.from(c)))
        step.conflict(QStringLiteral("log row %1").arg(id));
}

void StepRows<LogRow>::arrive(Step &step, const RowChange<LogRow> &c)
{
    if (step.from(c))
        leave(step, c);
    const LogRow &row = *step.to(c);
    sql::Statement(step.db(), "INSERT INTO tblUebung (idUebung, Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, "
                              "FachNachher, Urteil) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .bind(1, row.id)
        .bind(2, row.time)
        .bind(3, row.cardId)
        .bind(4, row.subjectId)
        .bind(5, row.compartmentBefore)
        .bind(6, row.compartmentAfter)
        .bind(7, qint64(row.verdict))
        .run();
    if (row.direction == Direction::Reverse)
        sql::Statement(step.db(), "INSERT INTO tblUebungUmgekehrt (idUebung) VALUES (?1)").bind(1, row.id).run();
}

void StepRows<LogRow>::leave(Step &step, const RowChange<LogRow> &c)
{
    sql::Statement(step.db(), "DELETE FROM tblUebung WHERE idUebung = ?1").bind(1, step.from(c)->id).run();
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
