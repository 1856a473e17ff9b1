#pragma once

#include "store/media.h"

#include <QString>

#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace tarlivo::store {

// The rows one user action touched, each as it stood before and after; a row that
// did not exist (or no longer exists) is absent. Undo writes the rows back as they
// were before, redo as they were after, each only while the file still holds the
// other side exactly.
struct SubjectRow {
    qint32 id = 0;
    QString name;
    bool operator==(const SubjectRow &o) const { return id == o.id && name == o.name; }
};

// Which way a card is asked: its Frage (Forward) or its Antwort (Reverse).
enum class Direction { Forward = 0, Reverse = 1 };
// Which ways a subject is practised; a subject that never chose is Forward.
enum class DirectionSetting { Forward = 0, Reverse = 1, Both = 2 };

// A card's place for the reverse direction: its own compartment, queue place and time.
struct ReversePlace {
    qint32 compartment = 1;
    qint32 queuePlace = 0;
    qint64 enteredAt = 0;
    bool operator==(const ReversePlace &o) const
    {
        return compartment == o.compartment && queuePlace == o.queuePlace && enteredAt == o.enteredAt;
    }
    bool operator!=(const ReversePlace &o) const { return !(*this == o); }
};

// A card's text row and its position row together: they only ever change together.
struct CardRow {
    qint32 id = 0;
    qint32 subjectId = 0;
    QString question; // NULL texts (files of the older program) stay null QStrings
    QString answer;
    qint32 compartment = 1;
    qint32 queuePlace = 0;
    qint64 enteredAt = 0;                     // when it came into its compartment, seconds since 1970 UTC
    std::optional<ReversePlace> reverse = {}; // none until its subject is practised the other way
    bool operator==(const CardRow &o) const
    {
        return id == o.id && subjectId == o.subjectId && question.isNull() == o.question.isNull()
               && question == o.question && answer.isNull() == o.answer.isNull() && answer == o.answer
               && compartment == o.compartment && queuePlace == o.queuePlace && enteredAt == o.enteredAt
               && reverse == o.reverse;
    }
};

// A compartment's interval changed from its default; a subject's compartment
// without a row waits the default.
struct IntervalRow {
    qint32 subjectId = 0;
    qint32 compartment = 0;
    qint32 days = 0;
    bool operator==(const IntervalRow &o) const
    {
        return subjectId == o.subjectId && compartment == o.compartment && days == o.days;
    }
};

enum class Verdict { Wrong = 1, AlmostRight = 2, Right = 3 };

// How a subject's typed answers count a difference only in letter case, only in
// accents and marks, only in punctuation, or one typo: as right, almost right or wrong.
struct AnswerTolerances {
    Verdict letterCase = Verdict::AlmostRight;
    Verdict accents = Verdict::AlmostRight;
    Verdict punctuation = Verdict::Right;
    Verdict typo = Verdict::AlmostRight;
    bool operator==(const AnswerTolerances &o) const
    {
        return letterCase == o.letterCase && accents == o.accents && punctuation == o.punctuation && typo == o.typo;
    }
    bool operator!=(const AnswerTolerances &o) const { return !(*this == o); }
};

// A subject's tolerances changed from the defaults; a subject without a row has those.
struct ToleranceRow {
    qint32 subjectId = 0;
    AnswerTolerances tolerances;
    bool operator==(const ToleranceRow &o) const { return subjectId == o.subjectId && tolerances == o.tolerances; }
};

// One row of the practice log.
struct LogRow {
    qint64 id = 0;
    qint64 time = 0; // seconds since 1970, UTC
    qint32 cardId = 0;
    qint32 subjectId = 0;
    qint32 compartmentBefore = 0;
    qint32 compartmentAfter = 0;
    Verdict verdict = Verdict::Wrong;
    Direction direction = Direction::Forward; // the compartments are the reverse place's when Reverse
    bool operator==(const LogRow &o) const
    {
        return id == o.id && time == o.time && cardId == o.cardId && subjectId == o.subjectId
               && compartmentBefore == o.compartmentBefore && compartmentAfter == o.compartmentAfter
               && verdict == o.verdict && direction == o.direction;
    }
};

// A subject's direction; Forward is kept as no row.
struct DirectionRow {
    qint32 subjectId = 0;
    DirectionSetting setting = DirectionSetting::Forward;
    bool operator==(const DirectionRow &o) const { return subjectId == o.subjectId && setting == o.setting; }
};

// Reverse places given at once to every card of a subject that had none: compartment
// 1, each card's queue place queuePlaceBase + its key (so in key order, from firstQueuePlace
// to lastQueuePlace), all entered at enteredAt. Kept as a range, not as rows: a subject may
// hold half a million cards.
struct ReverseFill {
    qint32 subjectId = 0;
    qint64 queuePlaceBase = 0;
    qint32 firstQueuePlace = 0;
    qint32 lastQueuePlace = 0;
    qint64 count = 0;
    qint64 enteredAt = 0;
    bool placed = true; // the places exist on the step's after side
    void reverse() { placed = !placed; }
};

template <class Row>
struct RowChange {
    std::optional<Row> before;
    std::optional<Row> after;
    void reverse() { std::swap(before, after); }
};

struct Change {
    std::vector<RowChange<SubjectRow>> subjects;
    std::vector<RowChange<CardRow>> cards;
    std::vector<RowChange<LogRow>> log;
    // Absent before or after: the compartment waits its default.
    std::vector<RowChange<IntervalRow>> intervals;
    // A card side's files, and the files themselves when they came or went with it.
    std::vector<RowChange<MediaLinkRow>> mediaLinks;
    std::vector<RowChange<MediaRow>> media;
    // Absent before or after: the subject is practised forward only.
    std::vector<RowChange<DirectionRow>> directions;
    std::vector<ReverseFill> fills;
    // Absent before or after: the subject judges typed answers by the defaults.
    std::vector<RowChange<ToleranceRow>> tolerances;

    // Every kind of row, in the order rows come back in: a kind after those its rows
    // refer to. This is the one list of kinds; a new kind is added here, and how its
    // rows are written back (its StepRows, store/step.h) beside the part owning its table.
    template <class Visit>
    void forEachKind(Visit &&visit) const
    {
        visitKinds(*this, visit);
    }
    template <class Visit>
    void forEachKind(Visit &&visit)
    {
        visitKinds(*this, visit);
    }

    bool isEmpty() const
    {
        bool empty = true;
        forEachKind([&](const auto &rows) { empty = empty && rows.empty(); });
        return empty;
    }
    // True when no rows of kinds other than these changed.
    template <class... Rows>
    bool holdsOnly() const
    {
        bool only = true;
        forEachKind([&](const auto &rows) {
            using Entry = typename std::decay_t<decltype(rows)>::value_type;
            if (!(std::is_same_v<Entry, RowChange<Rows>> || ...))
                only = only && rows.empty();
        });
        return only;
    }
    // The same step the other way: what was after is before.
    Change reversed() const
    {
        Change other = *this;
        other.forEachKind([](auto &rows) {
            for (auto &row : rows)
                row.reverse();
        });
        return other;
    }

private:
    template <class Self, class Visit>
    static void visitKinds(Self &self, Visit &visit)
    {
        visit(self.media);
        visit(self.subjects);
        visit(self.cards);
        visit(self.mediaLinks);
        visit(self.directions);
        visit(self.fills);
        visit(self.intervals);
        visit(self.log);
        visit(self.tolerances);
    }
};

} // namespace tarlivo::store
