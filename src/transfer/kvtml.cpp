#include "transfer/kvtml.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QDateTime>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>

namespace tarlivo::transfer {
namespace {

using foreign::elementText;
using foreign::readToken;

// The entries as read, with what is known of each beside them, so that the cards
// become the result in place.
struct Entries {
    // graded: the answer's first grade is read; the question's is the reverse one
    enum : quint8 { Deactivated = 1, Graded = 2, ReverseGraded = 4 };
    std::vector<ForeignCard> cards;
    std::vector<quint8> state;

    ForeignCard &add()
    {
        cards.emplace_back();
        cards.back().number = qint64(cards.size());
        state.push_back(0);
        return cards.back();
    }
    ForeignCard &last() { return cards.back(); }
    size_t size() const { return cards.size(); }
};

struct Lesson {
    int parent = -1;
    QString name;
};

qint32 fachOfGrade(qint64 grade) { return grade <= 0 ? 1 : qint32(std::min<qint64>(grade, 7)) + 1; }

// KDE writes local time without a zone; Qt reads such a time as local time too.
std::optional<qint64> localTime(const QString &text)
{
    const QDateTime at = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    return at.isValid() ? std::optional<qint64>(at.toSecsSinceEpoch()) : std::nullopt;
}

// Entries become cards, or refusals, in file order; each goes to its lesson's
// subject, else to the default one.
ForeignCards finish(Entries &entries, const std::vector<int> &lessonOf, const std::vector<Lesson> &lessons,
                    const QString &defaultName)
{
    auto nameOf = [&](int lesson) {
        QStringList parts;
        for (int l = lesson; l >= 0; l = lessons[size_t(l)].parent) {
            const QString name = lessons[size_t(l)].name.trimmed();
            // The lesson KWordQuiz and Parley make on their own says nothing.
            parts.prepend(name.isEmpty() || name == QLatin1String("Default Lesson") ? defaultName : name);
        }
        return parts.join(QLatin1String("::"));
    };
    std::vector<QString> subjectNames(lessons.size());
    for (size_t l = 0; l < lessons.size(); ++l)
        subjectNames[l] = nameOf(int(l));
    ForeignCards result;
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        ForeignCard &card = entries.cards[i];
        LineProblem problem = LineProblem::OneField;
        if (entries.state[i] & Entries::Deactivated)
            problem = LineProblem::Deactivated;
        else if (card.frage.trimmed().isEmpty())
            problem = LineProblem::EmptyFrage;
        else if (card.antwort.trimmed().isEmpty())
            problem = LineProblem::EmptyAntwort;
        if (problem != LineProblem::OneField) {
            result.refused.push_back(RefusedLine{card.number, problem, QString(), true});
            continue;
        }
        card.subject = lessonOf[i] >= 0 ? subjectNames[size_t(lessonOf[i])] : defaultName;
        if (kept != i)
            entries.cards[kept] = std::move(card);
        ++kept;
    }
    entries.cards.resize(kept);
    result.cards = std::move(entries.cards);
    return result;
}

// kvtml 2: <entries> holds the entries, <lessons> nested <container>s referring to
// them by id. Elements elsewhere that refer to entries (word types, synonyms) are
// passed over.
ForeignCards readVersion2(QXmlStreamReader &xml, const QString &path)
{
    enum class Opened { Other, Entry, Translation, Grade, Lesson };
    // The sections below the root that matter; names are compared only there.
    enum class Section { Other, Information, Entries, Lessons };
    std::vector<Opened> open; // below the root
    Section section = Section::Other;
    Entries entries;
    // KDE numbers its entries; an id that is no number refers to nothing.
    QHash<qint64, size_t> entryById;
    std::vector<Lesson> lessons;
    std::vector<std::pair<qint64, int>> references; // entry id, lesson
    std::vector<int> lessonStack;
    QString title;
    QString translation; // the id of the translation being read
    bool inGrade = false;
    bool reverseGrade = false; // the question's grade: how the answer -> question way stands
    qint64 gradeValue = 0;

    while (!xml.atEnd()) {
        readToken(xml, path);
        if (xml.isEndElement()) {
            if (open.empty())
                break;
            switch (open.back()) {
            case Opened::Entry:
                translation.clear();
                break;
            case Opened::Translation:
                translation.clear();
                break;
            case Opened::Grade:
                if (reverseGrade)
                    entries.last().reverseFach = fachOfGrade(gradeValue);
                else
                    entries.last().fach = fachOfGrade(gradeValue);
                inGrade = false;
                break;
            case Opened::Lesson:
                lessonStack.pop_back();
                break;
            case Opened::Other:
                break;
            }
            open.pop_back();
            continue;
        }
        if (!xml.isStartElement())
            continue;
        const QStringView name = xml.name();
        const size_t depth = open.size();
        if (depth == 0)
            section = name == QLatin1String("information") ? Section::Information
                      : name == QLatin1String("entries")   ? Section::Entries
                      : name == QLatin1String("lessons")   ? Section::Lessons
                                                           : Section::Other;
        const bool inEntry = depth >= 2 && open[1] == Opened::Entry;
        Opened opened = Opened::Other;
        if (depth == 1 && section == Section::Information && name == QLatin1String("title")) {
            title = elementText(xml, path, 0);
            continue;
        }
        if (depth == 1 && section == Section::Entries && name == QLatin1String("entry")) {
            bool numbered = false;
            const qint64 id = xml.attributes().value(QLatin1String("id")).toLongLong(&numbered);
            if (numbered)
                entryById.insert(id, entries.size());
            entries.add();
            opened = Opened::Entry;
        } else if (inEntry && depth == 2 && name == QLatin1String("deactivated")) {
            if (elementText(xml, path, entries.last().number).trimmed() == QLatin1String("true"))
                entries.state.back() |= Entries::Deactivated;
            continue;
        } else if (inEntry && depth == 2 && name == QLatin1String("translation")) {
            translation = xml.attributes().value(QLatin1String("id")).toString();
            opened = Opened::Translation;
        } else if (inEntry && depth == 3 && open.back() == Opened::Translation && name == QLatin1String("text")) {
            ForeignCard &card = entries.last();
            const QString text = elementText(xml, path, card.number);
            if (translation == QLatin1String("0") && card.frage.isEmpty())
                card.frage = text;
            else if (translation == QLatin1String("1") && card.antwort.isEmpty())
                card.antwort = text;
            continue;
        } else if (inEntry && depth == 3 && name == QLatin1String("grade")
                   && ((translation == QLatin1String("1") && !(entries.state.back() & Entries::Graded))
                       || (translation == QLatin1String("0") && !(entries.state.back() & Entries::ReverseGraded)))) {
            reverseGrade = translation == QLatin1String("0");
            entries.state.back() |= reverseGrade ? Entries::ReverseGraded : Entries::Graded;
            inGrade = true;
            gradeValue = 0;
            opened = Opened::Grade;
        } else if (inGrade && depth == 4 && name == QLatin1String("currentgrade")) {
            gradeValue = elementText(xml, path, entries.last().number).trimmed().toLongLong();
            continue;
        } else if (inGrade && depth == 4 && name == QLatin1String("date")) {
            (reverseGrade ? entries.last().reverseSeit : entries.last().seit) =
                localTime(elementText(xml, path, entries.last().number));
            continue;
        } else if (depth >= 1 && section == Section::Lessons && (depth == 1 || open.back() == Opened::Lesson)) {
            // Only a lesson's own children count: a container inside anything else is no lesson.
            const bool inLesson = depth > 1;
            if (name == QLatin1String("container")) {
                lessons.push_back(Lesson{lessonStack.empty() ? -1 : lessonStack.back(), QString()});
                lessonStack.push_back(int(lessons.size()) - 1);
                opened = Opened::Lesson;
            } else if (inLesson && name == QLatin1String("name")) {
                lessons[size_t(lessonStack.back())].name = elementText(xml, path, 0);
                continue;
            } else if (inLesson && name == QLatin1String("entry")) {
                bool numbered = false;
                const qint64 id = xml.attributes().value(QLatin1String("id")).toLongLong(&numbered);
                if (numbered)
                    references.emplace_back(id, lessonStack.back());
            }
        }
        open.push_back(opened);
    }
    foreign::checkEnd(xml, path);
    std::vector<int> lessonOf(entries.size(), -1);
    for (const auto &[id, lesson] : references) {
        const auto it = entryById.constFind(id);
        // An entry in several lessons goes to the first.
        if (it != entryById.constEnd() && lessonOf[*it] < 0)
            lessonOf[*it] = lesson;
    }
    return finish(entries, lessonOf, lessons, foreign::defaultSubject(title, path));
}

// kvtml 1: <e> entries with <o> and <t>, the lesson in the entry's "m" attribute,
// the lessons' names in <lesson><desc no="...">; grade and date "from;to".
ForeignCards readVersion1(QXmlStreamReader &xml, const QString &path, const QString &title)
{
    Entries entries;
    std::vector<Lesson> lessons;
    QHash<QString, int> lessonByNumber;
    std::vector<QString> lessonRef;
    int depth = 1;
    bool inEntry = false;
    while (!xml.atEnd()) {
        readToken(xml, path);
        if (xml.isEndElement()) {
            if (--depth == 0)
                break;
            if (depth == 1)
                inEntry = false;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        const QStringView name = xml.name();
        const QXmlStreamAttributes attributes = xml.attributes();
        if (depth == 1 && name == QLatin1String("e")) {
            entries.add();
            lessonRef.push_back(attributes.value(QLatin1String("m")).toString());
            inEntry = true;
        } else if (inEntry && depth == 2 && name == QLatin1String("o")) {
            ForeignCard &card = entries.last();
            const QString text = elementText(xml, path, card.number);
            if (card.frage.isEmpty())
                card.frage = text;
            continue;
        } else if (inEntry && depth == 2 && name == QLatin1String("t")) {
            ForeignCard &card = entries.last();
            if (!(entries.state.back() & Entries::Graded)) {
                entries.state.back() |= Entries::Graded;
                card.fach = fachOfGrade(attributes.value(QLatin1String("g")).split(u';').first().toLongLong());
                const qint64 date = attributes.value(QLatin1String("d")).split(u';').first().toLongLong();
                if (date > 0)
                    card.seit = date;
            }
            const QString text = elementText(xml, path, card.number);
            if (card.antwort.isEmpty())
                card.antwort = text;
            continue;
        } else if (depth == 2 && name == QLatin1String("desc")) {
            const QString number = attributes.value(QLatin1String("no")).toString();
            lessonByNumber.insert(number, int(lessons.size()));
            lessons.push_back(Lesson{-1, elementText(xml, path, 0)});
            continue;
        }
        ++depth;
    }
    foreign::checkEnd(xml, path);
    std::vector<int> lessonOf(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        lessonOf[i] = lessonByNumber.value(lessonRef[i], -1);
    return finish(entries, lessonOf, lessons, foreign::defaultSubject(title, path));
}

} // namespace

ForeignCards readKvtml(QXmlStreamReader &xml, const QString &path)
{
    const QXmlStreamAttributes attributes = xml.attributes();
    if (attributes.value(QLatin1String("version")).startsWith(u'2'))
        return readVersion2(xml, path);
    return readVersion1(xml, path, attributes.value(QLatin1String("title")).toString());
}

} // namespace tarlivo::transfer
