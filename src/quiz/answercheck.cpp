#include "quiz/answercheck.h"

#include <QChar>
#include <QStringList>

#include <algorithm>
#include <array>
#include <string>

using namespace tarlivo::store;

namespace tarlivo::quiz {
namespace {

using Text = std::u32string;

// Folds applied to both sides before comparing, as bits of a set.
constexpr unsigned kCase = 1;
constexpr unsigned kAccents = 2;
constexpr unsigned kPunctuation = 4;
// With kAccents: ä, ö, ü written as ae, oe, ue (ß is ss either way).
constexpr unsigned kUmlautsSpelled = 8;
constexpr unsigned kFoldSets = 16;

Text toText(const QString &s)
{
    const QList<uint> ucs4 = s.toUcs4();
    return Text(ucs4.begin(), ucs4.end());
}

QString toQString(const Text &t) { return QString::fromUcs4(t.data(), qsizetype(t.size())); }

// Bidirectional marks say how to show a text, not what it says.
bool isDirectionMark(char32_t c)
{
    return c == 0x200E || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// White space runs (line breaks too) as one blank, none at the ends.
Text squeezed(const Text &t)
{
    Text out;
    out.reserve(t.size());
    bool blank = false;
    for (const char32_t c : t) {
        if (QChar::isSpace(c)) {
            blank = !out.empty();
            continue;
        }
        if (isDirectionMark(c))
            continue;
        if (blank)
            out.push_back(U' ');
        blank = false;
        out.push_back(c);
    }
    return out;
}

Text normalized(const QString &s) { return squeezed(toText(s.normalized(QString::NormalizationForm_C))); }

Text withoutAccents(const Text &t, bool spellUmlauts)
{
    QString spelled;
    spelled.reserve(qsizetype(t.size()));
    for (const char32_t c : t) {
        switch (c) {
        case U'ß':
            spelled += QStringLiteral("ss");
            continue;
        case U'ẞ':
            spelled += QStringLiteral("SS");
            continue;
        default:
            break;
        }
        if (spellUmlauts) {
            const char *pair = c == U'ä'   ? "ae"
                               : c == U'ö' ? "oe"
                               : c == U'ü' ? "ue"
                               : c == U'Ä' ? "Ae"
                               : c == U'Ö' ? "Oe"
                               : c == U'Ü' ? "Ue"
                                           : nullptr;
            if (pair) {
                spelled += QLatin1String(pair);
                continue;
            }
        }
        const char32_t one[1] = {c};
        spelled += QString::fromUcs4(one, 1);
    }
    const Text decomposed = toText(spelled.normalized(QString::NormalizationForm_D));
    Text out;
    out.reserve(decomposed.size());
    for (const char32_t c : decomposed) {
        const QChar::Category category = QChar::category(c);
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_Enclosing)
            out.push_back(c);
    }
    return out;
}

Text caseFolded(Text t)
{
    for (char32_t &c : t)
        c = QChar::toCaseFolded(c);
    return t;
}

// Unicode punctuation only: letters, digits and symbols of every script stay.
Text withoutPunctuation(const Text &t)
{
    Text kept;
    kept.reserve(t.size());
    for (const char32_t c : t) {
        if (!QChar::isPunct(c))
            kept.push_back(c);
    }
    return squeezed(kept);
}

bool isFoldSet(unsigned set) { return !(set & kUmlautsSpelled) || (set & kAccents); }

qsizetype letters(const Text &t)
{
    return std::count_if(t.begin(), t.end(), [](char32_t c) { return QChar::isLetter(c); });
}

// Every way of folding one text, computed once for all the comparisons: accents
// first, then letter case, then punctuation, each from the form before it.
struct Forms {
    std::array<Text, kFoldSets> folds;
    std::array<qsizetype, kFoldSets> letterCounts{}; // for the typo rule
    explicit Forms(const Text &t)
    {
        folds[0] = t;
        for (unsigned set = 1; set < kFoldSets; ++set) {
            if (!isFoldSet(set))
                continue;
            if (set & kPunctuation)
                folds[set] = withoutPunctuation(folds[set & ~kPunctuation]);
            else if (set & kCase)
                folds[set] = caseFolded(folds[set & ~kCase]);
            else
                folds[set] = withoutAccents(t, (set & kUmlautsSpelled) != 0);
        }
        for (unsigned set = 0; set < kFoldSets; ++set)
            letterCounts[set] = letters(folds[set]);
    }
};

// Damerau-Levenshtein distance at most one (one letter wrong, missing, extra, or two
// neighbours swapped), in one pass.
bool oneEditApart(const Text &a, const Text &b)
{
    const size_t na = a.size();
    const size_t nb = b.size();
    if ((na > nb ? na - nb : nb - na) > 1)
        return false;
    size_t p = 0;
    while (p < na && p < nb && a[p] == b[p])
        ++p;
    if (p == na && p == nb)
        return true;
    const auto sameFrom = [&](size_t i, size_t j) {
        return a.size() - i == b.size() - j && std::equal(a.begin() + qsizetype(i), a.end(), b.begin() + qsizetype(j));
    };
    if (na == nb) {
        if (sameFrom(p + 1, p + 1))
            return true;
        return p + 1 < na && a[p] == b[p + 1] && a[p + 1] == b[p] && sameFrom(p + 2, p + 2);
    }
    return na > nb ? sameFrom(p + 1, p) : sameFrom(p, p + 1);
}

Verdict weaker(Verdict a, Verdict b) { return int(a) < int(b) ? a : b; }

Verdict verdictOf(Slip slip, const AnswerTolerances &t)
{
    switch (slip) {
    case Slip::Case:
        return t.letterCase;
    case Slip::Accents:
        return t.accents;
    case Slip::Punctuation:
        return t.punctuation;
    case Slip::Typo:
        return t.typo;
    }
    return Verdict::Wrong;
}

struct Outcome {
    Verdict verdict = Verdict::Wrong;
    bool matched = false; // exact or through tolerances
    bool exact = false;
    std::vector<Slip> slips;
    bool typo() const { return !slips.empty() && slips.back() == Slip::Typo; }
    // Better: the higher verdict, then exact, then fewer slips, then a tolerance
    // rather than a typo.
    bool betterThan(const Outcome &o) const
    {
        if (matched != o.matched)
            return matched;
        if (verdict != o.verdict)
            return int(verdict) > int(o.verdict);
        if (exact != o.exact)
            return exact;
        if (slips.size() != o.slips.size())
            return slips.size() < o.slips.size();
        return !typo() && o.typo();
    }
};

Outcome outcomeOf(unsigned set, bool typo, const AnswerTolerances &tolerances)
{
    Outcome o;
    o.matched = true;
    o.verdict = Verdict::Right;
    const auto add = [&](Slip slip) {
        o.slips.push_back(slip);
        o.verdict = weaker(o.verdict, verdictOf(slip, tolerances));
    };
    if (set & kCase)
        add(Slip::Case);
    if (set & kAccents)
        add(Slip::Accents);
    if (set & kPunctuation)
        add(Slip::Punctuation);
    if (typo)
        add(Slip::Typo);
    return o;
}

// The texts an alternative accepts: as written, and with each part in round brackets
// either left out or kept without its brackets (every choice for up to four such
// parts, beyond that all kept or all left out).
std::vector<Text> variantsOf(const Text &alternative)
{
    std::vector<std::pair<size_t, size_t>> groups; // the brackets' positions
    size_t depth = 0;
    size_t open = 0;
    for (size_t i = 0; i < alternative.size(); ++i) {
        if (alternative[i] == U'(') {
            if (depth++ == 0)
                open = i;
        } else if (alternative[i] == U')' && depth > 0) {
            if (--depth == 0)
                groups.emplace_back(open, i);
        }
    }
    std::vector<Text> variants{alternative};
    if (groups.empty())
        return variants;
    const auto build = [&](unsigned kept) {
        Text out;
        size_t from = 0;
        for (size_t g = 0; g < groups.size(); ++g) {
            const auto [start, end] = groups[g];
            out.append(alternative, from, start - from);
            if (kept & (1U << std::min<size_t>(g, 31)))
                out.append(alternative, start + 1, end - start - 1);
            from = end + 1;
        }
        out.append(alternative, from, Text::npos);
        return squeezed(out);
    };
    if (groups.size() <= 4) {
        for (unsigned kept = 0; kept < (1U << groups.size()); ++kept)
            variants.push_back(build(kept));
    } else {
        variants.push_back(build(0));
        variants.push_back(build(~0U));
    }
    return variants;
}

struct Alternative {
    Text shown;
    std::vector<Forms> variants;
};

Outcome compare(const Alternative &expected, const Forms &typed, const AnswerTolerances &tolerances)
{
    Outcome best;
    for (const Forms &variant : expected.variants) {
        if (variant.folds[0] == typed.folds[0]) {
            Outcome exact = outcomeOf(0, false, tolerances);
            exact.exact = true;
            return exact;
        }
    }
    for (const Forms &variant : expected.variants) {
        for (unsigned set = 1; set < kFoldSets; ++set) {
            if (!isFoldSet(set))
                continue;
            const Text &e = variant.folds[set];
            const Text &t = typed.folds[set];
            Outcome o;
            if (e == t)
                o = outcomeOf(set & ~kUmlautsSpelled, false, tolerances);
            else if (variant.letterCounts[set] >= 5 && oneEditApart(e, t))
                o = outcomeOf(set & ~kUmlautsSpelled, true, tolerances);
            if (o.betterThan(best))
                best = o;
        }
        // One typo and nothing else, after no fold at all.
        if (variant.letterCounts[0] >= 5 && oneEditApart(variant.folds[0], typed.folds[0])) {
            const Outcome o = outcomeOf(0, true, tolerances);
            if (o.betterThan(best))
                best = o;
        }
    }
    return best;
}

// Splits at ";" before the texts are normalised: NFC makes the Greek question mark
// a semicolon, which must not part a Greek answer.
std::vector<Text> partsOf(const QString &s)
{
    std::vector<Text> parts;
    for (const QString &piece : s.split(QLatin1Char(';'))) {
        Text t = normalized(piece);
        if (!t.empty())
            parts.push_back(std::move(t));
    }
    return parts;
}

QString joined(const std::vector<Alternative> &alternatives)
{
    QStringList shown;
    for (const Alternative &a : alternatives)
        shown << toQString(a.shown);
    return shown.join(QStringLiteral("; "));
}

void merge(std::vector<Slip> &into, const std::vector<Slip> &from)
{
    for (const Slip s : from) {
        if (std::find(into.begin(), into.end(), s) == into.end())
            into.push_back(s);
    }
    std::sort(into.begin(), into.end());
}

// Where the shown answer differs from the typed text: letter by letter when both are
// as long, else the stretch between their common beginning and end.
std::vector<Mark> marksOf(const Text &answer, const Text &typed)
{
    std::vector<std::pair<size_t, size_t>> ranges; // in code points
    if (answer.size() == typed.size()) {
        for (size_t i = 0; i < answer.size(); ++i) {
            if (answer[i] == typed[i])
                continue;
            if (!ranges.empty() && ranges.back().second == i)
                ranges.back().second = i + 1;
            else
                ranges.emplace_back(i, i + 1);
        }
    } else {
        const size_t shorter = std::min(answer.size(), typed.size());
        size_t p = 0;
        while (p < shorter && answer[p] == typed[p])
            ++p;
        size_t s = 0;
        while (s < shorter - p && answer[answer.size() - 1 - s] == typed[typed.size() - 1 - s])
            ++s;
        if (p < answer.size() - s)
            ranges.emplace_back(p, answer.size() - s);
    }
    std::vector<Mark> marks;
    size_t cp = 0;
    int unit = 0;
    const auto advanceTo = [&](size_t to) {
        for (; cp < to; ++cp)
            unit += answer[cp] > 0xFFFF ? 2 : 1;
    };
    for (const auto &[from, to] : ranges) {
        advanceTo(from);
        const int start = unit;
        advanceTo(to);
        marks.push_back({start, unit - start});
    }
    return marks;
}

} // namespace

QString slipName(Slip slip)
{
    switch (slip) {
    case Slip::Case:
        return QStringLiteral("Groß-/Kleinschreibung");
    case Slip::Accents:
        return QStringLiteral("Akzente");
    case Slip::Punctuation:
        return QStringLiteral("Satzzeichen");
    case Slip::Typo:
        return QStringLiteral("Tippfehler");
    }
    return {};
}

QString Judgement::headline() const
{
    QString line = verdict == Verdict::Right         ? QStringLiteral("Richtig")
                   : verdict == Verdict::AlmostRight ? QStringLiteral("Fast richtig")
                                                     : QStringLiteral("Falsch");
    if (!slips.empty()) {
        QStringList names;
        for (const Slip s : slips)
            names << slipName(s);
        line += QStringLiteral(": ") + names.join(QStringLiteral(", "));
    }
    return line;
}

QString Judgement::text() const
{
    if (exact)
        return headline();
    return headline() + QStringLiteral("\nRichtig ist: ") + answer;
}

Judgement judge(const QString &stored, const QString &typed, const AnswerTolerances &tolerances)
{
    std::vector<Alternative> alternatives;
    for (Text &part : partsOf(stored)) {
        Alternative a;
        for (const Text &variant : variantsOf(part))
            a.variants.emplace_back(variant);
        a.shown = std::move(part);
        alternatives.push_back(std::move(a));
    }
    Judgement j;
    j.answer = joined(alternatives);
    const Text whole = normalized(typed);
    if (whole.empty() || alternatives.empty()) {
        j.marks = marksOf(toText(j.answer), whole);
        return j;
    }

    // Any one alternative.
    const Forms typedForms(whole);
    Outcome best;
    const Alternative *nearest = nullptr;
    for (const Alternative &a : alternatives) {
        const Outcome o = compare(a, typedForms, tolerances);
        if (o.betterThan(best)) {
            best = o;
            nearest = &a;
        }
    }
    // Or all of them, in any order: each typed part matched to the best alternative left.
    const std::vector<Text> typedParts = partsOf(typed);
    if (alternatives.size() > 1 && typedParts.size() == alternatives.size()) {
        std::vector<bool> used(alternatives.size(), false);
        Outcome all = outcomeOf(0, false, tolerances);
        all.exact = true;
        for (const Text &part : typedParts) {
            const Forms forms(part);
            Outcome partBest;
            size_t chosen = alternatives.size();
            for (size_t i = 0; i < alternatives.size(); ++i) {
                if (used[i])
                    continue;
                const Outcome o = compare(alternatives[i], forms, tolerances);
                if (o.betterThan(partBest)) {
                    partBest = o;
                    chosen = i;
                }
            }
            if (!partBest.matched) {
                all.matched = false;
                break;
            }
            used[chosen] = true;
            all.verdict = weaker(all.verdict, partBest.verdict);
            all.exact = all.exact && partBest.exact;
            merge(all.slips, partBest.slips);
        }
        if (all.matched && all.betterThan(best)) {
            best = all;
            nearest = nullptr;
        }
    }
    if (!best.matched) {
        j.marks = marksOf(toText(j.answer), whole);
        return j;
    }
    j.verdict = best.verdict;
    j.exact = best.exact;
    j.slips = best.slips;
    if (nearest) {
        j.answer = toQString(nearest->shown);
        if (!j.exact)
            j.marks = marksOf(nearest->shown, whole);
    }
    return j;
}

} // namespace tarlivo::quiz
