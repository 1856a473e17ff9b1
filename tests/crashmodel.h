#pragma once

// What the driver's reports say the database must hold (see crash_driver.cpp).

#include "rawdb.h"
#include "store/history.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace crashmodel {

#ifdef TARLIVO_CRASH_DRIVER
// Starts the driver as a process of its own, its windows offscreen.
inline void startDriver(QProcess &driver, const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
    driver.setProcessEnvironment(env);
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.start(QStringLiteral(TARLIVO_CRASH_DRIVER), args);
}
#endif

inline QString unhex(const QString &field) { return QString::fromUtf8(QByteArray::fromHex(field.mid(1).toLatin1())); }

// One reported change: "> KIND fields..." and, once committed, "< KIND result".
struct Op {
    QChar kind;
    QStringList fields;
    QString result; // the id a "< S" or "< C" line reported
};

inline std::optional<Op> parseIntent(const QString &line)
{
    const QStringList parts = line.split(QLatin1Char(' '));
    if (parts.size() < 2 || parts[0] != QLatin1String(">") || parts[1].size() != 1)
        return std::nullopt;
    return Op{parts[1][0], parts.mid(2), QString()};
}

// Keys are never reused, also after a deletion: the next is one above the largest ever given.
template <class Map>
qint64 nextKey(const Map &map, qint64 &sequence)
{
    sequence = std::max(sequence, map.empty() ? 0 : map.rbegin()->first) + 1;
    return sequence;
}

// The card keys a card-list report names, from field `from` on.
inline QList<qint64> cardKeys(const QStringList &f, int from)
{
    QList<qint64> keys;
    for (int i = from; i < f.size(); ++i)
        keys << f[i].toLongLong();
    return keys;
}

inline qint64 largestQueuePlace(const rawdb::State &s)
{
    qint64 largest = 0;
    for (const auto &entry : s.cards)
        largest = std::max(largest, entry.second.queuePlace);
    return largest;
}

// The subject the windows find for name: the oldest whose name compares equal.
inline std::optional<qint64> subjectNamed(const rawdb::State &s, const QString &name)
{
    for (const auto &[id, n] : s.subjects)
        if (tarlivo::store::compareNames(n, name) == 0)
            return id;
    return std::nullopt;
}

// A card's time set anew by a change: the driver's clock is real, so the model
// knows only that it is no earlier than any time the file held before.
inline void freshEnteredAt(const rawdb::State &s, rawdb::Card &card)
{
    qint64 floor = 0;
    for (const auto &entry : s.cards)
        floor = std::max(floor, entry.second.enteredAt);
    card.enteredAt = floor;
    card.enteredAtFresh = true;
}

// A new day ("> T day"): the windows open the file afresh and take the day's copy
// beside it; the file's rows stay as they are.
inline QString applyNewDay(const rawdb::State &, const Op &op)
{
    bool ok = false;
    op.fields.value(0).toInt(&ok);
    return ok ? QString() : QStringLiteral("new day without its number");
}

// ---- Both directions --------------------------------------------------------

inline qint64 largestReverseQueuePlace(const rawdb::State &s)
{
    qint64 largest = 0;
    for (const auto &entry : s.cards)
        largest = std::max(largest, entry.second.reverseQueuePlace);
    return largest;
}

inline bool practisesReverse(const rawdb::State &s, qint64 subject)
{
    const auto it = s.directions.find(subject);
    return it != s.directions.end() && (it->second == 1 || it->second == 2);
}

// A reverse place at the end of compartment 1's queue, entered now.
inline void newReversePlace(const rawdb::State &s, rawdb::Card &card)
{
    qint64 floor = 0;
    for (const auto &entry : s.cards)
        floor = std::max({floor, entry.second.enteredAt, entry.second.reverseEnteredAt});
    card.reverseCompartment = 1;
    card.reverseQueuePlace = largestReverseQueuePlace(s) + 1;
    card.reverseEnteredAt = floor;
    card.reverseEnteredAtFresh = true;
}

// Cards stored from key `from` on get their reverse place where their subject is practised so.
inline void reversePlacesForNewCards(rawdb::State &s, qint64 from)
{
    for (auto it = s.cards.lower_bound(from); it != s.cards.end(); ++it)
        if (it->second.reverseCompartment < 0 && practisesReverse(s, it->second.subject))
            newReversePlace(s, it->second);
}

// "> H subject setting": the plan window's direction. Turning the reverse side on
// gives every card of the subject without a reverse place one, its queue place the
// first free one plus how far its key lies beyond the first such card's.
inline QString applyDirection(rawdb::State &s, const QStringList &f)
{
    const qint64 subject = f.value(0).toLongLong();
    const qint64 setting = f.value(1).toLongLong();
    if (!s.subjects.count(subject))
        return QStringLiteral("direction of subject %1, which is not there").arg(subject);
    if (setting == 0)
        s.directions.erase(subject);
    else
        s.directions[subject] = setting;
    const qint64 next = largestReverseQueuePlace(s) + 1;
    qint64 first = -1;
    for (auto &[key, card] : s.cards) {
        if (card.subject != subject || card.reverseCompartment >= 0 || setting == 0)
            continue;
        if (first < 0)
            first = key;
        newReversePlace(s, card);
        card.reverseQueuePlace = next + key - first;
    }
    return {};
}

// "> W kind card fach": a verdict on the card's reverse place.
inline QString applyReverseVerdict(rawdb::State &s, const QStringList &f)
{
    const qint64 card = f.value(1).toLongLong();
    auto it = s.cards.find(card);
    if (it == s.cards.end() || it->second.reverseCompartment < 1)
        return QStringLiteral("reverse verdict on card %1, which has no reverse place").arg(card);
    const QChar kind = f.value(0).isEmpty() ? QChar() : f.value(0).at(0);
    const qint64 before = it->second.reverseCompartment;
    const qint64 queuePlace = largestReverseQueuePlace(s) + 1;
    newReversePlace(s, it->second);
    it->second.reverseCompartment = kind == QLatin1Char('R') ? before + 1 : kind == QLatin1Char('F') ? before : 1;
    it->second.reverseQueuePlace = queuePlace;
    const qint64 verdict = kind == QLatin1Char('R') ? 3 : kind == QLatin1Char('F') ? 2 : 1;
    s.log[nextKey(s.log, s.logSeq)] =
        rawdb::Verdict{card, it->second.subject, before, it->second.reverseCompartment, verdict, true};
    return {};
}

// Applies op to state as the program must have; an error text when it cannot
// have happened so (or the reported key is not the one the store must assign).
inline QString apply(rawdb::State &s, const Op &op)
{
    const QStringList &f = op.fields;
    switch (op.kind.toLatin1()) {
    case 'S': {
        const qint64 id = nextKey(s.subjects, s.subjectSeq);
        if (!op.result.isEmpty() && op.result.toLongLong() != id)
            return QStringLiteral("new subject got key %1, expected %2").arg(op.result).arg(id);
        s.subjects[id] = unhex(f.value(0));
        return {};
    }
    case 'R': {
        const std::optional<qint64> id = subjectNamed(s, unhex(f.value(0)));
        if (!id)
            return QStringLiteral("renamed a subject that is not there");
        s.subjects[*id] = unhex(f.value(1));
        return {};
    }
    case 'C': {
        const std::optional<qint64> subject = subjectNamed(s, unhex(f.value(0)));
        if (!subject)
            return QStringLiteral("stored a card under a subject that is not there");
        const qint64 id = nextKey(s.cards, s.cardSeq);
        if (!op.result.isEmpty() && op.result.toLongLong() != id)
            return QStringLiteral("new card got key %1, expected %2").arg(op.result).arg(id);
        rawdb::Card c;
        c.subject = *subject;
        c.question = unhex(f.value(1));
        c.answer = unhex(f.value(2));
        c.compartment = 1;
        c.queuePlace = largestQueuePlace(s) + 1;
        freshEnteredAt(s, c);
        s.cards[id] = c;
        reversePlacesForNewCards(s, id);
        return {};
    }
    case 'V': {
        const qint64 card = f.value(1).toLongLong();
        auto it = s.cards.find(card);
        if (it == s.cards.end())
            return QStringLiteral("verdict on card %1, which is not there").arg(card);
        // The card moves from its own compartment, whatever the list's text says.
        const QChar kind = f.value(0).isEmpty() ? QChar() : f.value(0).at(0);
        const qint64 queuePlace = largestQueuePlace(s) + 1;
        const qint64 before = it->second.compartment;
        it->second.compartment = kind == QLatin1Char('R') ? before + 1 : kind == QLatin1Char('F') ? before : 1;
        it->second.queuePlace = queuePlace;
        freshEnteredAt(s, it->second);
        // One log row per verdict, with the compartments before and after.
        const qint64 verdict = kind == QLatin1Char('R') ? 3 : kind == QLatin1Char('F') ? 2 : 1;
        s.log[nextKey(s.log, s.logSeq)] =
            rawdb::Verdict{card, it->second.subject, before, it->second.compartment, verdict};
        return {};
    }
    case 'E': {
        auto it = s.cards.find(f.value(0).toLongLong());
        if (it == s.cards.end())
            return QStringLiteral("edit of card %1, which is not there").arg(f.value(0));
        it->second.question = unhex(f.value(1));
        it->second.answer = unhex(f.value(2));
        return {};
    }
    case 'D': {
        for (qint64 card : cardKeys(f, 0))
            if (s.cards.erase(card) != 1)
                return QStringLiteral("deleted card %1, which is not there").arg(card);
        return {};
    }
    case 'M': {
        const qint64 subject = f.value(0).toLongLong();
        if (!s.subjects.count(subject))
            return QStringLiteral("moved cards to subject %1, which is not there").arg(subject);
        for (qint64 card : cardKeys(f, 1)) {
            auto it = s.cards.find(card);
            if (it == s.cards.end())
                return QStringLiteral("moved card %1, which is not there").arg(card);
            it->second.subject = subject;
        }
        return {};
    }
    case 'K': {
        const qint64 compartment = f.value(0).toLongLong();
        for (qint64 card : cardKeys(f, 1)) {
            auto it = s.cards.find(card);
            if (it == s.cards.end())
                return QStringLiteral("compartment for card %1, which is not there").arg(card);
            const qint64 queuePlace = largestQueuePlace(s) + 1;
            it->second.compartment = compartment;
            it->second.queuePlace = queuePlace;
            freshEnteredAt(s, it->second);
        }
        return {};
    }
    case 'I': {
        // Into the subject of that name, or a new one; each card at the end of compartment 1.
        const QString name = unhex(f.value(0));
        std::optional<qint64> subject = subjectNamed(s, name);
        if (!subject) {
            subject = nextKey(s.subjects, s.subjectSeq);
            s.subjects[*subject] = name;
        }
        const qint64 firstNew = std::max(s.cardSeq, s.cards.empty() ? 0 : s.cards.rbegin()->first) + 1;
        for (int i = 1; i + 1 < f.size(); i += 2) {
            rawdb::Card c;
            c.subject = *subject;
            c.question = unhex(f[i]);
            c.answer = unhex(f[i + 1]);
            c.compartment = 1;
            c.queuePlace = largestQueuePlace(s) + 1;
            freshEnteredAt(s, c);
            s.cards[nextKey(s.cards, s.cardSeq)] = c;
        }
        reversePlacesForNewCards(s, firstNew);
        return {};
    }
    case 'G': {
        const qint64 subject = f.value(0).toLongLong();
        if (s.subjects.erase(subject) != 1)
            return QStringLiteral("deleted subject %1, which is not there").arg(subject);
        for (auto it = s.cards.begin(); it != s.cards.end();)
            it = it->second.subject == subject ? s.cards.erase(it) : std::next(it);
        for (auto it = s.intervals.begin(); it != s.intervals.end();)
            it = it->first.first == subject ? s.intervals.erase(it) : std::next(it);
        s.directions.erase(subject);
        return {};
    }
    case 'A': {
        // A compartment's interval; the default one is kept as no row.
        const qint64 subject = f.value(0).toLongLong();
        const qint64 compartment = f.value(1).toLongLong();
        const qint64 days = f.value(2).toLongLong();
        if (!s.subjects.count(subject))
            return QStringLiteral("interval of subject %1, which is not there").arg(subject);
        const qint64 standard =
            compartment <= 1 ? 0 : std::min<qint64>(qint64(1) << std::min<qint64>(compartment - 2, 20), 365);
        if (days == standard)
            s.intervals.erase({subject, compartment});
        else
            s.intervals[{subject, compartment}] = days;
        return {};
    }
    case 'T':
        return applyNewDay(s, op);
    case 'H':
        return applyDirection(s, f);
    case 'W':
        return applyReverseVerdict(s, f);
    case 'Z':
        return {}; // sync with a file that changes nothing of its own: the rows stay
    case 'O': {
        // A subject's tolerances for typed answers; the defaults are no row.
        const qint64 subject = f.value(0).toLongLong();
        if (!s.subjects.count(subject))
            return QStringLiteral("tolerances of subject %1, which is not there").arg(subject);
        if (f.value(1) == QLatin1String("2,2,3,2"))
            s.tolerances.erase(subject);
        else
            s.tolerances[subject] = f.value(1);
        return {};
    }
    default:
        return QStringLiteral("unknown change %1").arg(op.kind);
    }
}

// A picture put on a card's question, or removed ("> B card name").
inline QString applyPicture(rawdb::State &s, const Op &op)
{
    const qint64 card = op.fields.value(0).toLongLong();
    if (!s.cards.count(card))
        return QStringLiteral("picture on card %1, which is not there").arg(card);
    if (op.fields.value(1) == QLatin1String("-"))
        s.pictures.erase(card);
    else
        s.pictures[card] = op.fields.value(1);
    return {};
}

// A card's pictures go with it.
inline void dropPicturesOfGoneCards(rawdb::State &s)
{
    for (auto it = s.pictures.begin(); it != s.pictures.end();)
        it = s.cards.count(it->first) ? std::next(it) : s.pictures.erase(it);
}

// Undo and redo ("> U", "> Y"). The program keeps each step as the rows it
// changed, before and after; so does the model. Each run starts with no steps.
template <class Row, class Key = qint64>
using StepRows = std::map<Key, std::pair<std::optional<Row>, std::optional<Row>>>; // key: (before, after)

template <class Key, class Row>
std::optional<Row> rowAt(const std::map<Key, Row> &rows, const Key &key)
{
    const auto it = rows.find(key);
    return it == rows.end() ? std::nullopt : std::optional<Row>(it->second);
}

template <class Key, class Row>
StepRows<Row, Key> differing(const std::map<Key, Row> &before, const std::map<Key, Row> &after)
{
    StepRows<Row, Key> rows;
    for (const auto &[key, row] : before)
        if (!(rowAt(after, key) == std::optional<Row>(row)))
            rows[key] = {row, rowAt(after, key)};
    for (const auto &[key, row] : after)
        if (!before.count(key))
            rows[key] = {std::nullopt, row};
    return rows;
}

// Whether the rows are as the step left them (undo) or found them (redo).
template <class Key, class Row>
bool holds(const std::map<Key, Row> &now, const StepRows<Row, Key> &step, bool undo)
{
    for (const auto &[key, sides] : step)
        if (!(rowAt(now, key) == (undo ? sides.second : sides.first)))
            return false;
    return true;
}

template <class Key, class Row>
void put(std::map<Key, Row> &now, const StepRows<Row, Key> &step, bool undo)
{
    for (const auto &[key, sides] : step) {
        const std::optional<Row> &row = undo ? sides.first : sides.second;
        if (row)
            now[key] = *row;
        else
            now.erase(key);
    }
}

struct Step {
    StepRows<QString> subjects;
    StepRows<rawdb::Card> cards;
    StepRows<rawdb::Verdict> log;
    StepRows<qint64, std::pair<qint64, qint64>> intervals;
    StepRows<QString> pictures;
    StepRows<qint64> directions;
    StepRows<QString> tolerances;
};

struct Steps {
    std::deque<Step> undo;
    std::deque<Step> redo;
};

// The changes the program records as steps: not the subject window's.
inline bool isStep(QChar kind) { return QStringLiteral("CVEDMKGABWHO").contains(kind); }

// Takes the newest step back (or again). Keys given stay given: sequences are left alone.
inline QString takeStep(rawdb::State &s, Steps &steps, bool undo)
{
    std::deque<Step> &from = undo ? steps.undo : steps.redo;
    if (from.empty())
        return {}; // the menu entry is disabled
    const Step &step = from.back();
    if (!holds(s.subjects, step.subjects, undo) || !holds(s.cards, step.cards, undo) || !holds(s.log, step.log, undo)
        || !holds(s.intervals, step.intervals, undo) || !holds(s.pictures, step.pictures, undo)
        || !holds(s.directions, step.directions, undo) || !holds(s.tolerances, step.tolerances, undo))
        return QStringLiteral("%1 of a step whose rows changed since").arg(undo ? "undo" : "redo");
    put(s.subjects, step.subjects, undo);
    put(s.cards, step.cards, undo);
    put(s.log, step.log, undo);
    put(s.intervals, step.intervals, undo);
    put(s.pictures, step.pictures, undo);
    put(s.directions, step.directions, undo);
    put(s.tolerances, step.tolerances, undo);
    (undo ? steps.redo : steps.undo).push_back(std::move(from.back()));
    from.pop_back();
    return {};
}

// apply() for one run of the program, keeping its steps.
inline QString apply(rawdb::State &s, Steps &steps, const Op &op)
{
    if (op.kind == QLatin1Char('U') || op.kind == QLatin1Char('Y'))
        return takeStep(s, steps, op.kind == QLatin1Char('U'));
    const rawdb::State before = s;
    const QString error = op.kind == QLatin1Char('B') ? applyPicture(s, op) : apply(s, op);
    dropPicturesOfGoneCards(s);
    if (error.isEmpty() && op.kind == QLatin1Char('I') && !(s == before))
        steps.redo.clear(); // its cards may take the places of steps taken back
    if (!error.isEmpty() || !isStep(op.kind) || s == before)
        return error; // an empty change is no step
    steps.undo.push_back(Step{differing(before.subjects, s.subjects), differing(before.cards, s.cards),
                              differing(before.log, s.log), differing(before.intervals, s.intervals),
                              differing(before.pictures, s.pictures), differing(before.directions, s.directions),
                              differing(before.tolerances, s.tolerances)});
    if (steps.undo.size() > size_t(tarlivo::store::History::kMaxSteps))
        steps.undo.pop_front();
    steps.redo.clear();
    return {};
}

} // namespace crashmodel
