#pragma once

#include "store/internal.h"

#include <optional>

namespace tarlivo::store {

// Subjects and cards one at a time: the subjects' names (tblGebiet), a card's texts
// (tblFrageAntwort) with its places, and the verdict on it with its log row (tblUebung).
class Cards : StorePart {
public:
    explicit Cards(Store &store);

    QStringList allSubjects();
    QStringList subjectsWithCards();
    std::optional<qint32> subjectId(const QString &name);
    void addSubject(const QString &name);
    void renameSubject(const QString &oldName, const QString &newName);
    qint32 addCard(qint32 subjectId, const QString &question, const QString &answer, Change *change);
    std::optional<CardText> cardText(qint32 cardId);
    void saveCardText(qint32 cardId, const QString &question, const QString &answer, Change *change);
    Change judgeCard(qint32 cardId, Verdict verdict, Direction direction);
    std::optional<CardRow> cardRow(qint32 cardId);

private:
    QStringList subjectNames(const char *query);
};

} // namespace tarlivo::store
