#include "transfer/exporter.h"

#include "store/cardstream.h"
#include "store/files.h"
#include "store/rules.h"
#include "transfer/ankiexport.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdio>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

constexpr qsizetype kFlushAt = 1 << 20;

// Whether any byte of the eight in x equals b (exact, no false answers).
inline bool hasByte(quint64 x, unsigned char b)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    const quint64 v = x ^ (ones * b);
    return ((v - ones) & ~v & (ones * 0x80)) != 0;
}

// A field is quoted only where a reader would otherwise split it: a separator,
// quote or line break inside, or a leading # that would read as a header line.
// Eight bytes are checked at a time: a million cards pass through here.
bool needsQuotes(const char *data, int size, char separator)
{
    if (size > 0 && data[0] == '#')
        return true;
    int i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 x;
        std::memcpy(&x, data + i, 8);
        if (hasByte(x, '"') || hasByte(x, '\n') || hasByte(x, '\r') || hasByte(x, (unsigned char)separator))
            return true;
    }
    for (; i < size; ++i)
        if (data[i] == '"' || data[i] == '\n' || data[i] == '\r' || data[i] == separator)
            return true;
    return false;
}

void appendField(std::string &out, const char *data, int size, char separator)
{
    if (!needsQuotes(data, size, separator)) {
        out.append(data, size_t(size));
        return;
    }
    out.push_back('"');
    const char *from = data;
    const char *end = data + size;
    while (const char *q = static_cast<const char *>(std::memchr(from, '"', size_t(end - from)))) {
        out.append(from, size_t(q - from + 1));
        out.push_back('"');
        from = q + 1;
    }
    out.append(from, size_t(end - from));
    out.push_back('"');
}

// Text as XML element content. Control characters XML 1.0 cannot hold are left
// out; a carriage return is written as a reference, so that reading keeps it.
void appendXml(std::string &out, const char *data, int size)
{
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '\r':
            out.append("&#13;");
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n')
                out.push_back(c);
        }
    }
}

// The file being written; removed unless it was renamed into place.
struct TemporaryOutput : QFile {
    explicit TemporaryOutput(const QString &target)
        : QFile(target + QStringLiteral(".tarlivo-%1").arg(QCoreApplication::applicationPid()))
    {
    }
    ~TemporaryOutput() override
    {
        if (!kept)
            remove();
    }
    bool kept = false;
};

using Line = StreamedPlace;

// ISO 8601 local time with its UTC offset, "2026-12-08T09:15:00+01:00". A million
// cards pass through here, their times spread over the year: asking the time zone
// for each would double the export.
class EnteredAtFormat {
public:
    // KDE's files write local time without the offset (zone false).
    void append(std::string &out, qint64 enteredAt, bool zone = true)
    {
        const int offset = m_offsets.at(enteredAt);
        const qint64 local = enteredAt + offset;
        const qint64 localDay = rules::floorDiv(local, rules::kSecondsPerDay);
        const qint64 secs = local - localDay * rules::kSecondsPerDay;
        int year, month, dayOfMonth;
        QDate::fromJulianDay(localDay + rules::kJulianDayOf1970).getDate(&year, &month, &dayOfMonth);
        if (year < 1 || year > 9999) {
            // Four digits do not hold it: as Qt writes it, which Qt reads back.
            const QDateTime at = QDateTime::fromSecsSinceEpoch(enteredAt);
            out.append(
                (zone ? at.toString(Qt::ISODate) : at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))).toStdString());
            return;
        }
        const int away = offset < 0 ? -offset : offset;
        char text[] = "0000-00-00T00:00:00+00:00";
        put(text, 4, year);
        put(text + 5, 2, month);
        put(text + 8, 2, dayOfMonth);
        put(text + 11, 2, int(secs / 3600));
        put(text + 14, 2, int(secs / 60 % 60));
        put(text + 17, 2, int(secs % 60));
        text[19] = offset < 0 ? '-' : '+';
        put(text + 20, 2, away / 3600);
        put(text + 23, 2, away / 60 % 60);
        out.append(text, zone ? sizeof text - 1 : 19);
    }

private:
    // Writes value as `digits` decimal digits, from the right.
    static void put(char *at, int digits, int value)
    {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            at[i] = char('0' + value % 10);
    }

    rules::LocalOffsets m_offsets;
};

// A card's picture or sound, as the kvtml export references it.
using MediaLink = StreamedMedia;

// The pictures and sounds of a kvtml export, written into a folder beside it named
// after it, each file once under a name of its own. Removed again unless kept, as
// the file itself is.
class MediaFolder {
public:
    explicit MediaFolder(const QString &target)
        : m_name(QFileInfo(target).completeBaseName() + QStringLiteral("_Medien")),
          m_dir(QFileInfo(target).dir().filePath(m_name))
    {
    }
    // Files written anew are removed, a file written over stays.
    ~MediaFolder()
    {
        if (kept)
            return;
        for (const QString &file : m_written)
            QFile::remove(file);
        if (m_made)
            QDir().rmdir(m_dir);
    }

    // The reference a translation gives for the file: a path relative to the export.
    QByteArray reference(Store &store, qint64 media, const QString &storedName, const QString &target)
    {
        auto it = m_references.find(media);
        if (it != m_references.end())
            return it->second;
        if (!QFileInfo(m_dir).isDir()) {
            if (!QDir().mkpath(m_dir))
                throw TransferError(text::exportFailed(m_dir, files::errnoText()));
            m_made = true;
        }
        QString name;
        for (const QChar c : storedName)
            name += c.unicode() < 32 || QStringLiteral("/\\:*?\"<>|").contains(c) ? QChar(u'_') : c;
        name = name.trimmed();
        if (name.isEmpty() || name.startsWith(u'.'))
            name = QStringLiteral("datei%1").arg(media) + name;
        const QFileInfo info(name);
        QString candidate = name;
        // A file of the same name from an export before is written over: the folder is the export's.
        for (int n = 2; m_taken.contains(candidate.toCaseFolded()); ++n)
            candidate = info.completeBaseName() + QStringLiteral("-%1").arg(n)
                        + (info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix());
        m_taken.insert(candidate.toCaseFolded());
        QFile out(path(candidate));
        const bool existed = out.exists();
        const QByteArray bytes = store.mediaBytes(media);
        errno = 0;
        if (!out.open(QIODevice::WriteOnly))
            throw TransferError(text::exportFailed(target, files::fileReason(out)));
        if (!existed)
            m_written << out.fileName();
        if (out.write(bytes) != bytes.size() || !out.flush())
            throw TransferError(text::exportFailed(target, files::fileReason(out)));
        return m_references.emplace(media, (m_name + QLatin1Char('/') + candidate).toUtf8()).first->second;
    }

    bool kept = false;

private:
    QString path(const QString &name) const { return QDir(m_dir).filePath(name); }

    QString m_name;
    QString m_dir;
    bool m_made = false;
    QStringList m_written;
    QSet<QString> m_taken;
    std::unordered_map<qint64, QByteArray> m_references;
};

// A lesson of the kvtml export: a subject "A::B" is lesson B inside lesson A.
struct LessonNode {
    QByteArray name;
    std::vector<size_t> subjects; // whose entries it holds
    std::vector<size_t> children; // nodes
};

} // namespace

ExportResult exportCards(Store &store, const QString &path, const QString &subject,
                         const std::function<bool(qint64, qint64)> &keepGoing)
{
    if (path.endsWith(QLatin1String(".apkg"), Qt::CaseInsensitive)) {
        const AnkiExport written = exportAnkiPackage(store, path, subject, keepGoing);
        return ExportResult{written.cards, written.subjects, written.cancelled, {}};
    }
    ExportResult result;
    const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    const bool kvtml = path.endsWith(QLatin1String(".kvtml"), Qt::CaseInsensitive);
    const char separator = csv ? ';' : '\t';
    CardStream stream(store, CardStream::Mode::Mapped);

    std::vector<std::pair<qint64, QByteArray>> subjects;
    for (const SubjectRow &row : stream.subjects(subject))
        subjects.emplace_back(row.id, row.name.toUtf8());
    if (!subject.isEmpty() && subjects.empty())
        throw TransferError(text::subjectNotFound(subject));
    // The sides' languages, where reading aloud is set: one locale per side for the file.
    QString locales[2];
    bool localesDiffer = false;
    if (kvtml)
        for (const auto &s : subjects) {
            const SubjectLanguages languages = store.subjectLanguages(qint32(s.first));
            const QString sides[2] = {languages.question, languages.answer};
            for (int side = 0; side < 2; ++side) {
                if (sides[side].isEmpty())
                    continue;
                if (locales[side].isEmpty())
                    locales[side] = sides[side];
                localesDiffer = localesDiffer || locales[side] != sides[side];
            }
        }
    // Two more columns, only when some subject exported is practised the other way.
    bool withReverse = false;
    for (const auto &s : subjects)
        withReverse = withReverse || Store::practises(store.direction(qint32(s.first)), Direction::Reverse);
    const qint64 total =
        stream.placeCount(subject.isEmpty() ? std::nullopt : std::optional<qint32>(qint32(subjects.front().first)));

    // Written beside the target and renamed over it when complete, so the file
    // appears whole or not at all. Not forced to disk: it is a copy of what the store
    // keeps safe, and syncing 100 MB would double the time of a large export.
    TemporaryOutput file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw TransferError(text::exportFailed(path, files::fileReason(file)));
    std::string out;
    out.reserve(kFlushAt + 65536);
    auto flush = [&] {
        if (file.write(out.data(), qint64(out.size())) != qint64(out.size()))
            throw TransferError(text::exportFailed(path, files::fileReason(file)));
        out.clear();
    };
    if (kvtml) {
        // kvtml 2 as KWordQuiz and Parley write it; the DTD named is never fetched.
        out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!DOCTYPE kvtml PUBLIC \"kvtml2.dtd\" \"http://edu.kde.org/kvtml/kvtml2.dtd\">\n"
                   "<kvtml version=\"2.0\">\n <information>\n  <generator>Tarlivo</generator>\n  <title>");
        const QByteArray title = QFileInfo(path).completeBaseName().toUtf8();
        appendXml(out, title.constData(), int(title.size()));
        out.append("</title>\n </information>\n <identifiers>\n");
        for (int side = 0; side < 2; ++side) {
            const QByteArray locale = locales[side].isEmpty() ? QByteArray("de") : locales[side].toUtf8();
            out.append("  <identifier id=\"").append(std::to_string(side)).append("\">\n   <name>");
            out.append(side == 0 ? "Frage" : "Antwort").append("</name>\n   <locale>");
            appendXml(out, locale.constData(), int(locale.size()));
            out.append("</locale>\n  </identifier>\n");
        }
        out.append(" </identifiers>\n <entries>\n");
    } else {
        if (csv)
            out.append("\xEF\xBB\xBF");
        const QByteArray sep(1, separator);
        out.append("#separator:").append(csv ? "semicolon" : "tab").append("\n");
        out.append("#html:false\n");
        out.append(("#columns:Frage" + sep + "Antwort" + sep + "Fach" + sep + "Gebiet" + sep + "Seit").constData());
        if (withReverse)
            out.append((sep + "Fach umgekehrt" + sep + "Seit umgekehrt").constData());
        out.append("\n");
        out.append("#deck column:4\n");
    }

    // The cards in practice order.
    std::vector<qint32> subjectIds;
    subjectIds.reserve(subjects.size());
    for (const auto &s : subjects)
        subjectIds.push_back(qint32(s.first));
    const std::vector<Line> lines = stream.places(subjectIds, withReverse);

    // The cards' pictures and sounds: kvtml references them, a text file cannot hold them.
    std::unordered_map<qint64, std::vector<MediaLink>> mediaOf = stream.mediaLinks();
    std::unordered_map<qint64, QString> mediaNames;
    {
        // Only the cards exported count; most stores have no media, and then no set is made.
        if (!mediaOf.empty()) {
            std::unordered_map<qint64, bool> exported;
            exported.reserve(lines.size());
            for (const Line &line : lines)
                exported.emplace(line.card, true);
            for (auto it = mediaOf.begin(); it != mediaOf.end();)
                it = exported.count(it->first) ? std::next(it) : mediaOf.erase(it);
        }
        if (!mediaOf.empty())
            mediaNames = stream.mediaNames();
    }
    std::optional<MediaFolder> folder;
    if (kvtml && !mediaOf.empty())
        folder.emplace(path);
    qint64 above8 = 0;
    auto appendMedia = [&](qint64 card, CardSide side) {
        const auto it = mediaOf.find(card);
        if (it == mediaOf.end())
            return;
        for (const MediaLink &link : it->second) {
            if (link.side != side)
                continue;
            const QByteArray ref = folder->reference(store, link.media, mediaNames[link.media], path);
            out.append(link.kind == MediaKind::Picture ? "    <image>" : "    <sound>");
            appendXml(out, ref.constData(), int(ref.size()));
            out.append(link.kind == MediaKind::Picture ? "</image>\n" : "</sound>\n");
        }
    };

    std::vector<bool> written(subjects.size());
    // kvtml: each subject's entries, numbered from 0 in file order, are one run.
    std::vector<std::pair<qint64, qint64>> entriesOf(subjects.size(), {-1, -1});
    EnteredAtFormat enteredAtFormat;
    struct Cancelled {};
    auto writeEntry = [&](const Line &line, const char *question, int questionSize, const char *answer,
                          int answerSize) {
        const qint64 id = result.cards;
        std::pair<qint64, qint64> &run = entriesOf[line.subject];
        if (run.first < 0)
            run.first = id;
        run.second = id;
        out.append("  <entry id=\"").append(std::to_string(id)).append("\">\n   <translation id=\"0\">\n    <text>");
        appendXml(out, question, questionSize);
        out.append("</text>\n");
        // The reverse place as the question side's grade: how well the answer brings the question back.
        if (line.reverse) {
            out.append("    <grade>\n     <currentgrade>")
                .append(std::to_string(std::min<qint64>(line.reverse->first - 1, 7)))
                .append("</currentgrade>\n     <count>0</count>\n     <errorcount>0</errorcount>\n     <date>");
            enteredAtFormat.append(out, line.reverse->second, false);
            out.append("</date>\n    </grade>\n");
        }
        appendMedia(line.card, CardSide::Question);
        out.append("   </translation>\n   <translation id=\"1\">\n    <text>");
        appendXml(out, answer, answerSize);
        out.append("</text>\n");
        if (line.compartment > 1 || line.enteredAt) {
            out.append("    <grade>\n     <currentgrade>")
                .append(std::to_string(std::min<qint64>(line.compartment - 1, 7)))
                .append("</currentgrade>\n     <count>0</count>\n     <errorcount>0</errorcount>\n");
            if (line.enteredAt) {
                out.append("     <date>");
                enteredAtFormat.append(out, *line.enteredAt, false);
                out.append("</date>\n");
            }
            out.append("    </grade>\n");
        }
        appendMedia(line.card, CardSide::Answer);
        out.append("   </translation>\n  </entry>\n");
        above8 += line.compartment > 8 || (line.reverse && line.reverse->first > 8);
    };
    auto writeText = [&](const Line &line, const char *question, int questionSize, const char *answer, int answerSize) {
        appendField(out, question, questionSize, separator);
        out.push_back(separator);
        appendField(out, answer, answerSize, separator);
        out.push_back(separator);
        out.append(std::to_string(line.compartment));
        out.push_back(separator);
        const QByteArray &name = subjects[line.subject].second;
        appendField(out, name.constData(), int(name.size()), separator);
        out.push_back(separator);
        if (line.enteredAt)
            enteredAtFormat.append(out, *line.enteredAt);
        if (withReverse) {
            // Empty cells for a card without a reverse place.
            out.push_back(separator);
            if (line.reverse)
                out.append(std::to_string(line.reverse->first));
            out.push_back(separator);
            if (line.reverse)
                enteredAtFormat.append(out, line.reverse->second);
        }
        out.push_back('\n');
    };
    auto writeLine = [&](const Line &line, const char *question, int questionSize, const char *answer, int answerSize) {
        if (kvtml)
            writeEntry(line, question, questionSize, answer, answerSize);
        else
            writeText(line, question, questionSize, answer, answerSize);
        ++result.cards;
        written[line.subject] = true;
        if (out.size() >= kFlushAt) {
            flush();
            if (keepGoing && !keepGoing(result.cards, total))
                throw Cancelled();
        }
    };
    try {
        stream.texts(lines,
                     [&](size_t index, const char *question, int questionSize, const char *answer, int answerSize) {
                         writeLine(lines[index], question, questionSize, answer, answerSize);
                     });
    } catch (const Cancelled &) {
        return ExportResult{0, 0, true, {}};
    }
    for (bool w : written)
        result.subjects += w ? 1 : 0;
    if (kvtml) {
        out.append(" </entries>\n <lessons>\n");
        // A subject "A::B" is lesson B inside lesson A, as the kvtml import reads it back;
        // a name with an empty part stays one lesson.
        std::vector<LessonNode> nodes(1); // 0: the root
        for (size_t i = 0; i < subjects.size(); ++i) {
            if (entriesOf[i].first < 0)
                continue;
            QList<QByteArray> names;
            for (const QString &part : QString::fromUtf8(subjects[i].second).split(QLatin1String("::")))
                names << part.toUtf8();
            if (std::any_of(names.begin(), names.end(), [](const QByteArray &n) { return n.trimmed().isEmpty(); }))
                names = {subjects[i].second};
            size_t at = 0;
            for (const QByteArray &name : names) {
                const auto child = std::find_if(nodes[at].children.begin(), nodes[at].children.end(),
                                                [&](size_t c) { return nodes[c].name == name; });
                if (child != nodes[at].children.end()) {
                    at = *child;
                    continue;
                }
                nodes.push_back(LessonNode{name, {}, {}});
                nodes[at].children.push_back(nodes.size() - 1);
                at = nodes.size() - 1;
            }
            nodes[at].subjects.push_back(i);
        }
        std::function<void(size_t, int)> writeLesson = [&](size_t node, int depth) {
            const std::string indent(size_t(depth), ' ');
            out.append(indent).append(" <container>\n").append(indent).append("  <name>");
            appendXml(out, nodes[node].name.constData(), int(nodes[node].name.size()));
            out.append("</name>\n").append(indent).append("  <inpractice>true</inpractice>\n");
            for (size_t i : nodes[node].subjects)
                for (qint64 id = entriesOf[i].first; id <= entriesOf[i].second; ++id)
                    out.append(indent).append("  <entry id=\"").append(std::to_string(id)).append("\"/>\n");
            for (size_t child : nodes[node].children)
                writeLesson(child, depth + 1);
            out.append(indent).append(" </container>\n");
        };
        for (size_t child : nodes[0].children)
            writeLesson(child, 1);
        out.append(" </lessons>\n</kvtml>\n");
        // What the file cannot carry is told.
        if (above8 > 0)
            result.leftOut << text::kvtmlGradesMerged(above8);
        if (localesDiffer)
            result.leftOut << text::kvtmlOneLocale(locales[0], locales[1]);
    } else {
        qint64 withMedia = 0;
        for (const Line &line : lines)
            withMedia += mediaOf.count(line.card);
        if (withMedia > 0)
            result.leftOut << text::textLeavesMedia(withMedia);
    }
    flush();
    file.close();
    if (file.error() != QFile::NoError)
        throw TransferError(text::exportFailed(path, files::fileReason(file)));
    if (::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        throw TransferError(text::exportFailed(path, files::errnoText()));
    file.kept = true;
    if (folder)
        folder->kept = true;
    return result;
}

} // namespace tarlivo::transfer
