#pragma once

#include "store/internal.h"
#include "store/step.h"

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
    // The rows as the file holds them now.
    std::optional<SubjectRow> subjectRow(qint32 subjectId);
    std::optional<LogRow> logRow(qint64 logId);
    // Throws NotFound when the subject is gone; fills row when given.
    void requireSubject(qint32 subjectId, SubjectRow *row = nullptr);

private:
    QStringList subjectNames(const char *query);
};

// Subjects come before their cards and go after them.
template <>
struct StepRows<SubjectRow> : NothingToVerify {
    static void check(Step &step, const RowChange<SubjectRow> &c);
    static void arrive(Step &step, const RowChange<SubjectRow> &c);
    static void leave(Step &step, const RowChange<SubjectRow> &c);
};

// A card's text row and its places.
template <>
struct StepRows<CardRow> {
    static void check(Step &step, const RowChange<CardRow> &c);
    static void arrive(Step &step, const RowChange<CardRow> &c);
    static void leave(Step &step, const RowChange<CardRow> &c);
    static void verify(Step &step, const RowChange<CardRow> &c);
};

// The practice log.
template <>
struct StepRows<LogRow> : NothingToVerify {
    static void check(Step &step, const RowChange<LogRow> &c);
    static void arrive(Step &step, const RowChange<LogRow> &c);
    static void leave(Step &step, const RowChange<LogRow> &c);
};

} // namespace tarlivo::store
