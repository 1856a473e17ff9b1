#include "transfer/kvtml.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

#include <algorithm>
#include <memory>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

using foreign::ForeignReader;
using foreign::XmlAttributes;
using foreign::XmlHandler;

// The entries as read, with what is known of each beside them, so that the cards
// become the result in place. Where the subjects are given, each entry goes on as
// soon as it is read, and only the one being read is held.
struct Entries {
    // graded: the answer's first grade is read; the question's is the reverse one
    enum : quint8 { Deactivated = 1, Graded = 2, ReverseGraded = 4 };
    std::vector<ForeignCard> cards;
    std::vector<quint8> state;
    qint64 numbered = 0;

    ForeignCard &add()
    {
        cards.emplace_back();
        cards.back().number = ++numbered;
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

// A picture past this is refused when shown anyway; a sound is kept up to the size
// the card list takes.
constexpr qint64 kMaxPictureBytes = 20 * 1024 * 1024;
constexpr qint64 kMaxSoundBytes = 64 * 1024 * 1024;

// The bytes of a picture or sound a kvtml file names: a path relative to the file,
// an absolute one or a file URL; null when it is missing, unreadable, too large or
// not of the kind its element says.
QByteArray mediaBeside(const QString &kvtmlPath, const QString &reference, MediaKind kind, QString *name)
{
    const QString path = reference.startsWith(QLatin1String("file:")) ? QUrl(reference).toLocalFile()
                                                                      : QFileInfo(kvtmlPath).dir().filePath(reference);
    *name = QFileInfo(path).fileName();
    MediaKind named = MediaKind::Picture;
    if (name->isEmpty() || !mediaKindOfName(*name, &named) || named != kind)
        return {};
    QFile file(path);
    const qint64 limit = kind == MediaKind::Picture ? kMaxPictureBytes : kMaxSoundBytes;
    if (!QFileInfo(path).isFile() || file.size() > limit || !file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(limit + 1);
    return bytes.size() > limit || bytes.isEmpty() ? QByteArray() : bytes;
}

// A side showing a picture or playing a sound needs no text.
bool hasMedia(const ForeignCard &card, CardSide side)
{
    return std::any_of(card.media.begin(), card.media.end(), [side](const MediaInput &m) { return m.side == side; });
}

qint32 compartmentOfGrade(qint64 grade) { return grade <= 0 ? 1 : qint32(std::min<qint64>(grade, 7)) + 1; }

std::string_view trimmed(std::string_view text)
{
    const size_t from = text.find_first_not_of(" \t\r\n");
    if (from == std::string_view::npos)
        return {};
    return text.substr(from, text.find_last_not_of(" \t\r\n") - from + 1);
}

// The number written at text[from, from + digits), or -1.
int digitsAt(std::string_view text, size_t from, size_t digits)
{
    int value = 0;
    for (size_t i = from; i < from + digits; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// KDE writes local time without a zone, as yyyy-MM-ddTHH:mm:ss, read here digit by
// digit; other ISO forms go the slow way, through QDateTime, which reads them as
// local time too.
std::optional<qint64> localTime(std::string_view utf8, foreign::LocalTimes &clock)
{
    const std::string_view t = trimmed(utf8);
    if (t.size() == 19 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' && t[16] == ':') {
        const QDate date(digitsAt(t, 0, 4), digitsAt(t, 5, 2), digitsAt(t, 8, 2));
        const QTime time(digitsAt(t, 11, 2), digitsAt(t, 14, 2), digitsAt(t, 17, 2));
        if (date.isValid() && time.isValid())
            return clock.seconds(date, time);
    }
    const QDateTime at =
        QDateTime::fromString(QString::fromUtf8(t.data(), qsizetype(std::min<size_t>(t.size(), 64))), Qt::ISODate);
    return at.isValid() ? std::optional<qint64>(at.toSecsSinceEpoch()) : std::nullopt;
}

// Why an entry is no card; OneField: it is one.
LineProblem problemOf(const ForeignCard &card, quint8 state)
{
    if (state & Entries::Deactivated)
        return LineProblem::Deactivated;
    if (foreign::isBlank(card.question) && !hasMedia(card, CardSide::Question))
        return LineProblem::EmptyQuestion;
    if (foreign::isBlank(card.answer) && !hasMedia(card, CardSide::Answer))
        return LineProblem::EmptyAnswer;
    return LineProblem::OneField;
}

// The entries read so far go on, as cards or refusals, their subjects left to the caller.
void passOn(Entries &entries, ForeignCards &to)
{
    for (size_t i = 0; i < entries.size(); ++i) {
        const LineProblem problem = problemOf(entries.cards[i], entries.state[i]);
        if (problem != LineProblem::OneField)
            to.refused.push_back(RefusedLine{entries.cards[i].number, problem, QString(), true});
        else
            to.cards.push_back(std::move(entries.cards[i]));
    }
    entries.cards.clear();
    entries.state.clear();
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
        const LineProblem problem = problemOf(card, entries.state[i]);
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
class Version2Reader : public ForeignReader {
public:
    explicit Version2Reader(const QString &path) : m_path(path) {}

    bool start(int rootDepth, std::string_view name, const XmlAttributes &attributes) override
    {
        const size_t depth = size_t(rootDepth - 1); // below the root
        if (depth == 0)
            section = name == "information" ? Section::Information
                      : name == "entries"   ? Section::Entries
                      : name == "lessons"   ? Section::Lessons
                                            : Section::Other;
        const bool inEntry = depth >= 2 && open[1] == Opened::Entry;
        Opened opened = Opened::Other;
        if (depth == 1 && section == Section::Information && name == "title")
            return want(Text::Title);
        if (depth == 1 && section == Section::Entries && name == "entry") {
            bool numbered = false;
            const qint64 id = subjectsGiven ? 0 : foreign::toNumber(attributes.value("id"), &numbered);
            if (numbered)
                entryIds.emplace_back(id, entries.size());
            entries.add();
            opened = Opened::Entry;
        } else if (inEntry && depth == 2 && name == "deactivated") {
            return want(Text::Deactivated);
        } else if (inEntry && depth == 2 && name == "translation") {
            const std::string_view id = attributes.value("id");
            translation = id == "0" ? 0 : id == "1" ? 1 : -1;
            opened = Opened::Translation;
        } else if (inEntry && depth == 3 && open.back() == Opened::Translation && name == "text") {
            return translation >= 0 && want(Text::Translation);
        } else if (inEntry && depth == 3 && open.back() == Opened::Translation
                   && (name == "image" || name == "sound")) {
            return translation >= 0 && want(name == "image" ? Text::Image : Text::Sound);
        } else if (inEntry && depth == 3 && name == "grade"
                   && ((translation == 1 && !(entries.state.back() & Entries::Graded))
                       || (translation == 0 && !(entries.state.back() & Entries::ReverseGraded)))) {
            reverseGrade = translation == 0;
            entries.state.back() |= reverseGrade ? Entries::ReverseGraded : Entries::Graded;
            inGrade = true;
            gradeValue = 0;
            opened = Opened::Grade;
        } else if (inGrade && depth == 4 && name == "currentgrade") {
            return want(Text::CurrentGrade);
        } else if (inGrade && depth == 4 && name == "date") {
            return want(Text::Date);
        } else if (depth >= 1 && section == Section::Lessons && !subjectsGiven
                   && (depth == 1 || open.back() == Opened::Lesson)) {
            // Only a lesson's own children count: a container inside anything else is no lesson.
            const bool inLesson = depth > 1;
            if (name == "container") {
                lessons.push_back(Lesson{lessonStack.empty() ? -1 : lessonStack.back(), QString()});
                lessonStack.push_back(int(lessons.size()) - 1);
                opened = Opened::Lesson;
            } else if (inLesson && name == "name") {
                return want(Text::LessonName);
            } else if (inLesson && name == "entry") {
                bool numbered = false;
                const qint64 id = foreign::toNumber(attributes.value("id"), &numbered);
                if (numbered)
                    references.emplace_back(id, lessonStack.back());
            }
        }
        open.push_back(opened);
        return false;
    }

    void text(int, std::string_view utf8) override
    {
        switch (m_wanted) {
        case Text::Title:
            title = foreign::textOf(utf8, m_path, 0);
            break;
        case Text::LessonName:
            lessons[size_t(lessonStack.back())].name = foreign::textOf(utf8, m_path, 0);
            break;
        case Text::Deactivated:
            if (trimmed(utf8) == "true")
                entries.state.back() |= Entries::Deactivated;
            break;
        case Text::Translation: {
            ForeignCard &card = entries.last();
            QString &side = translation == 0 ? card.question : card.answer;
            if (side.isEmpty())
                side = foreign::textOf(utf8, m_path, card.number);
            break;
        }
        case Text::CurrentGrade:
            gradeValue = foreign::toNumber(utf8);
            break;
        case Text::Image:
            takeMedia(utf8, MediaKind::Picture);
            break;
        case Text::Sound:
            takeMedia(utf8, MediaKind::Sound);
            break;
        case Text::Date:
            (reverseGrade ? entries.last().reverseEnteredAt : entries.last().enteredAt) = localTime(utf8, clock);
            break;
        }
    }

    void end(int) override
    {
        if (open.empty())
            return;
        switch (open.back()) {
        case Opened::Entry:
            translation = -1;
            if (subjectsGiven)
                passOn(entries, settled);
            break;
        case Opened::Translation:
            translation = -1;
            break;
        case Opened::Grade:
            if (reverseGrade)
                entries.last().reverseCompartment = compartmentOfGrade(gradeValue);
            else
                entries.last().compartment = compartmentOfGrade(gradeValue);
            inGrade = false;
            break;
        case Opened::Lesson:
            lessonStack.pop_back();
            break;
        case Opened::Other:
            break;
        }
        open.pop_back();
    }

    ForeignCards finish() override
    {
        if (subjectsGiven) {
            ForeignCards rest;
            passOn(entries, rest);
            return rest;
        }
        // Of entries with the same id, the last counts.
        std::stable_sort(entryIds.begin(), entryIds.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        std::vector<int> lessonOf(entries.size(), -1);
        for (const auto &[id, lesson] : references) {
            const auto it = std::upper_bound(entryIds.begin(), entryIds.end(), id,
                                             [](qint64 value, const auto &e) { return value < e.first; });
            // An entry in several lessons goes to the first.
            if (it != entryIds.begin() && std::prev(it)->first == id && lessonOf[std::prev(it)->second] < 0)
                lessonOf[std::prev(it)->second] = lesson;
        }
        return transfer::finish(entries, lessonOf, lessons, foreign::defaultSubject(title, m_path));
    }

private:
    enum class Opened { Other, Entry, Translation, Grade, Lesson };
    // The sections below the root that matter; names are compared only there.
    enum class Section { Other, Information, Entries, Lessons };
    // What the text asked for is.
    enum class Text { Title, Deactivated, Translation, CurrentGrade, Date, LessonName, Image, Sound };

    // A side keeps its first picture and first sound; the others, and files that
    // cannot be read, are counted for the report.
    void takeMedia(std::string_view utf8, MediaKind kind)
    {
        ForeignCard &card = entries.last();
        const CardSide side = translation == 0 ? CardSide::Question : CardSide::Answer;
        const QString reference = QString::fromUtf8(trimmed(utf8).data(), qsizetype(trimmed(utf8).size()));
        if (reference.isEmpty())
            return;
        const bool taken = std::any_of(card.media.begin(), card.media.end(),
                                       [&](const MediaInput &m) { return m.side == side && m.kind == kind; });
        QString name;
        QByteArray bytes = taken ? QByteArray() : mediaBeside(m_path, reference, kind, &name);
        if (bytes.isNull()) {
            ++card.mediaMissing;
            return;
        }
        card.media.push_back({side, kind, name, std::move(bytes)});
    }

    bool want(Text what)
    {
        m_wanted = what;
        return true;
    }

    const QString &m_path;
    Text m_wanted = Text::Title;
    std::vector<Opened> open; // below the root
    Section section = Section::Other;
    Entries entries;
    // KDE numbers its entries; an id that is no number refers to nothing.
    std::vector<std::pair<qint64, size_t>> entryIds; // id, entry

    std::vector<Lesson> lessons;
    std::vector<std::pair<qint64, int>> references; // entry id, lesson
    std::vector<int> lessonStack;
    QString title;
    int translation = -1; // the id of the translation being read: 0, 1, or another
    bool inGrade = false;
    bool reverseGrade = false; // the question's grade: how the answer -> question way stands
    qint64 gradeValue = 0;
    foreign::LocalTimes clock;
};

// kvtml 1: <e> entries with <o> and <t>, the lesson in the entry's "m" attribute,
// the lessons' names in <lesson><desc no="...">; grade and date "from;to". The
// <desc>s of <type>, <tense> and <usage> name other things.
class Version1Reader : public ForeignReader {
public:
    Version1Reader(const QString &path, QString fileTitle) : m_path(path), title(std::move(fileTitle)) {}

    bool start(int depth, std::string_view name, const XmlAttributes &attributes) override
    {
        if (depth == 1)
            inLessons = name == "lesson";
        if (depth == 1 && name == "e") {
            entries.add();
            if (!subjectsGiven)
                lessonRef.push_back(QString::fromUtf8(attributes.value("m")));
            inEntry = true;
        } else if (inEntry && depth == 2 && name == "o") {
            return want(Text::Question);
        } else if (inEntry && depth == 2 && name == "t") {
            ForeignCard &card = entries.last();
            if (!(entries.state.back() & Entries::Graded)) {
                entries.state.back() |= Entries::Graded;
                card.compartment = compartmentOfGrade(foreign::toNumber(firstOf(attributes.value("g"))));
                const qint64 date = foreign::toNumber(firstOf(attributes.value("d")));
                if (date > 0)
                    card.enteredAt = date;
            }
            return want(Text::Answer);
        } else if (inLessons && depth == 2 && name == "desc") {
            lessonByNumber.insert(QString::fromUtf8(attributes.value("no")), int(lessons.size()));
            lessons.push_back(Lesson{-1, QString()});
            return want(Text::LessonName);
        }
        return false;
    }

    void text(int, std::string_view utf8) override
    {
        if (m_wanted == Text::LessonName) {
            lessons.back().name = foreign::textOf(utf8, m_path, 0);
            return;
        }
        ForeignCard &card = entries.last();
        QString &side = m_wanted == Text::Question ? card.question : card.answer;
        const QString text = foreign::textOf(utf8, m_path, card.number);
        if (side.isEmpty())
            side = text;
    }

    void end(int depth) override
    {
        if (depth == 1 && inEntry && subjectsGiven)
            passOn(entries, settled);
        if (depth == 1)
            inEntry = inLessons = false;
    }

    ForeignCards finish() override
    {
        if (subjectsGiven) {
            ForeignCards rest;
            passOn(entries, rest);
            return rest;
        }
        std::vector<int> lessonOf(entries.size());
        for (size_t i = 0; i < entries.size(); ++i)
            lessonOf[i] = lessonByNumber.value(lessonRef[i], -1);
        return transfer::finish(entries, lessonOf, lessons, foreign::defaultSubject(title, m_path));
    }

private:
    enum class Text { Question, Answer, LessonName };

    // "from;to": the from side is the question -> answer direction.
    static std::string_view firstOf(std::string_view pair) { return pair.substr(0, pair.find(';')); }

    bool want(Text what)
    {
        m_wanted = what;
        return true;
    }

    const QString &m_path;
    QString title;
    Text m_wanted = Text::Question;
    Entries entries;
    std::vector<Lesson> lessons;
    QHash<QString, int> lessonByNumber;
    std::vector<QString> lessonRef;
    bool inEntry = false;
    bool inLessons = false;
};

} // namespace

std::unique_ptr<foreign::ForeignReader> kvtmlReader(const foreign::XmlAttributes &root, const QString &path)
{
    if (root.value("version").substr(0, 1) == "2")
        return std::make_unique<Version2Reader>(path);
    return std::make_unique<Version1Reader>(path, QString::fromUtf8(root.value("title")));
}

} // namespace tarlivo::transfer
