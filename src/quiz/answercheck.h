#pragma once

#include "store/change.h"

#include <QString>

#include <vector>

namespace tarlivo::quiz {

// The kinds of near miss a typed answer may hold, each judged as its subject says.
enum class Slip { Case, Accents, Punctuation, Typo };

// A part of the shown answer that differs from what was typed, in UTF-16 units.
struct Mark {
    int start = 0;
    int length = 0;
    bool operator==(const Mark &o) const { return start == o.start && length == o.length; }
};

struct Judgement {
    store::Verdict verdict = store::Verdict::Wrong;
    bool exact = false;       // typed as stored (an alternative or a bracket's choice)
    std::vector<Slip> slips;  // what was forgiven or held against it, in Slip's order
    QString answer;           // the right answer as shown
    std::vector<Mark> marks;  // where the answer differs from the typed text
    QString headline() const; // "Fast richtig: Groß-/Kleinschreibung"
    QString text() const;     // the headline, and unless exact "Richtig ist: …"
};

// German name of a slip, as the result and the tolerance window say it.
QString slipName(Slip slip);

// Judges a typed answer against the stored side. Both are taken as Unicode NFC with
// white space runs as one blank and none at the ends; the stored text may list
// alternatives split at ";" (any one of them, or all in any order) and optional parts
// in round brackets. Linear in the texts' lengths for each alternative.
Judgement judge(const QString &stored, const QString &typed, const store::AnswerTolerances &tolerances = {});

} // namespace tarlivo::quiz
