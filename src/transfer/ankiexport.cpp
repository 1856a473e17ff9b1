#include "transfer/ankiexport.h"

#include "store/cardstream.h"
#include "store/files.h"
#include "store/rules.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"
#include "transfer/ziplibrary.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryFile>

#include <sqlite3.h>

#include <limits>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

// Anki's collection as its versions before 2.1.28 wrote it (schema 11).
constexpr const char *kCollectionSchema = R"sql(
CREATE TABLE col (id integer PRIMARY KEY, crt integer NOT NULL, mod integer NOT NULL, scm integer NOT NULL,
    ver integer NOT NULL, dty integer NOT NULL, usn integer NOT NULL, ls integer NOT NULL, conf text NOT NULL,
    models text NOT NULL, decks text NOT NULL, dconf text NOT NULL, tags text NOT NULL);
CREATE TABLE notes (id integer PRIMARY KEY, guid text NOT NULL, mid integer NOT NULL, mod integer NOT NULL,
    usn integer NOT NULL, tags text NOT NULL, flds text NOT NULL, sfld integer NOT NULL, csum integer NOT NULL,
    flags integer NOT NULL, data text NOT NULL);
CREATE TABLE cards (id integer PRIMARY KEY, nid integer NOT NULL, did integer NOT NULL, ord integer NOT NULL,
    mod integer NOT NULL, usn integer NOT NULL, type integer NOT NULL, queue integer NOT NULL, due integer NOT NULL,
    ivl integer NOT NULL, factor integer NOT NULL, reps integer NOT NULL, lapses integer NOT NULL,
    left integer NOT NULL, odue integer NOT NULL, odid integer NOT NULL, flags integer NOT NULL, data text NOT NULL);
CREATE TABLE revlog (id integer PRIMARY KEY, cid integer NOT NULL, usn integer NOT NULL, ease integer NOT NULL,
    ivl integer NOT NULL, lastIvl integer NOT NULL, factor integer NOT NULL, time integer NOT NULL,
    type integer NOT NULL);
CREATE TABLE graves (usn integer NOT NULL, oid integer NOT NULL, type integer NOT NULL);
CREATE INDEX ix_notes_usn ON notes (usn);
CREATE INDEX ix_cards_usn ON cards (usn);
CREATE INDEX ix_revlog_usn ON revlog (usn);
CREATE INDEX ix_cards_nid ON cards (nid);
CREATE INDEX ix_cards_sched ON cards (did, queue, due);
CREATE INDEX ix_revlog_cid ON revlog (cid);
CREATE INDEX ix_notes_csum ON notes (csum);
)sql";

constexpr qint64 kNoteType = 1'700'000'000'000;

QString escapeHtml(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '[':
            out += QLatin1String("&#91;");
            break; // never read as a sound reference
        case '\n':
            out += QLatin1String("<br>");
            break;
        case '\r':
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A name that reads back unchanged from <img src="..."> and [sound:...].
QString safeName(const QString &name, qint64 id)
{
    QString safe;
    for (const QChar c : name)
        safe += (c.unicode() < 32 || QStringLiteral("[]\"<>&/\\").contains(c)) ? QChar(u'_') : c;
    return safe.trimmed().isEmpty() ? QStringLiteral("datei%1").arg(id) : safe.trimmed();
}

QJsonObject noteType(qint64 deck)
{
    auto field = [](const char *name, int ord) {
        return QJsonObject{{"name", QLatin1String(name)},
                           {"ord", ord},
                           {"sticky", false},
                           {"rtl", false},
                           {"font", "Arial"},
                           {"size", 20},
                           {"media", QJsonArray()}};
    };
    const QJsonObject card{{"name", "Karte 1"},
                           {"ord", 0},
                           {"qfmt", "{{Frage}}"},
                           {"afmt", "{{FrontSide}}\n\n<hr id=answer>\n\n{{Antwort}}"},
                           {"bqfmt", ""},
                           {"bafmt", ""},
                           {"did", QJsonValue::Null}};
    return QJsonObject{
        {"id", kNoteType},
        {"name", "Basic"},
        {"type", 0},
        {"mod", 0},
        {"usn", -1},
        {"sortf", 0},
        {"did", deck},
        {"tmpls", QJsonArray{card}},
        {"flds", QJsonArray{field("Frage", 0), field("Antwort", 1)}},
        {"css", ".card { font-family: arial; font-size: 20px; text-align: center; color: black; "
                "background-color: white; }"},
        {"latexPre", "\\documentclass[12pt]{article}\n\\special{papersize=3in,5in}\n\\usepackage[utf8]{inputenc}\n"
                     "\\usepackage{amssymb,amsmath}\n\\pagestyle{empty}\n\\setlength{\\parindent}{0in}\n"
                     "\\begin{document}\n"},
        {"latexPost", "\\end{document}"},
        {"req", QJsonArray{QJsonArray{0, "any", QJsonArray{0}}}},
        {"tags", QJsonArray()},
        {"vers", QJsonArray()},
    };
}

QJsonObject deck(qint64 id, const QString &name)
{
    return QJsonObject{{"id", id},
                       {"name", name},
                       {"mod", 0},
                       {"usn", -1},
                       {"lrnToday", QJsonArray{0, 0}},
                       {"revToday", QJsonArray{0, 0}},
                       {"newToday", QJsonArray{0, 0}},
                       {"timeToday", QJsonArray{0, 0}},
                       {"collapsed", false},
                       {"desc", ""},
                       {"dyn", 0},
                       {"conf", 1},
                       {"extendNew", 10},
                       {"extendRev", 50}};
}

QJsonObject deckOptions()
{
    return QJsonObject{
        {"1", QJsonObject{
                  {"id", 1},
                  {"name", "Default"},
                  {"mod", 0},
                  {"usn", 0},
                  {"maxTaken", 60},
                  {"autoplay", true},
                  {"timer", 0},
                  {"replayq", true},
                  {"dyn", false},
                  {"new", QJsonObject{{"delays", QJsonArray{1, 10}},
                                      {"ints", QJsonArray{1, 4, 7}},
                                      {"initialFactor", 2500},
                                      {"order", 1},
                                      {"perDay", 20},
                                      {"bury", false}}},
                  {"lapse",
                   QJsonObject{
                       {"delays", QJsonArray{10}}, {"mult", 0}, {"minInt", 1}, {"leechFails", 8}, {"leechAction", 0}}},
                  {"rev", QJsonObject{{"perDay", 200},
                                      {"ease4", 1.3},
                                      {"maxIvl", 36500},
                                      {"hardFactor", 1.2},
                                      {"bury", false},
                                      {"fuzz", 0.05}}}}}};
}

struct Card {
    qint64 id;
    qint64 subject;
    QString question;
    QString answer;
    qint32 compartment;
    std::optional<qint64> enteredAt;
};

using Link = StreamedMedia;

struct ZipDiscard {
    void operator()(zip_t *z) const { zipLibrary()->discard(z); }
};

} // namespace

AnkiExport exportAnkiPackage(Store &store, const QString &path, const QString &subject,
                             const std::function<bool(qint64, qint64)> &keepGoing)
{
    const ZipLibrary *zip = zipLibrary();
    if (!zip)
        throw TransferError(text::zipLibraryMissing(path));
    std::vector<Card> cards;
    std::map<qint64, QString> subjects;
    std::map<qint64, QString> mediaNames;
    std::unordered_map<qint64, std::vector<Link>> links;
    {
        CardStream stream(store, CardStream::Mode::Plain);
        const std::optional<qint32> wanted = subject.isEmpty() ? std::nullopt : store.subjectId(subject);
        if (!subject.isEmpty() && !wanted)
            throw TransferError(text::subjectNotFound(subject));
        stream.cards(wanted, [&](StreamedCard &&card) {
            subjects.emplace(card.subject, card.subjectName);
            cards.push_back({card.id, card.subject, std::move(card.question), std::move(card.answer), card.compartment,
                             card.enteredAt});
        });
        links = stream.mediaLinks();
        for (auto &[id, name] : stream.mediaNames())
            mediaNames.emplace(id, std::move(name));
    }

    // Anki's days count from the collection's creation: the earliest day a card falls
    // due, so that no due day is negative.
    const qint64 today = store.learningToday();
    std::vector<qint64> dueDays(cards.size(), today);
    qint64 firstDay = today;
    for (size_t i = 0; i < cards.size(); ++i) {
        const Card &c = cards[i];
        if (c.compartment > 1 && c.enteredAt)
            dueDays[i] = Store::learningDay(*c.enteredAt) + store.interval(qint32(c.subject), c.compartment);
        firstDay = std::min(firstDay, dueDays[i]);
    }
    const qint64 crt = QDateTime(QDate::fromJulianDay(firstDay), rules::learningDayStartTime()).toSecsSinceEpoch();
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();

    // The collection, written into a temporary file of its own.
    QTemporaryFile collectionFile(QDir::temp().filePath(QStringLiteral("tarlivo-anki-XXXXXX.anki2")));
    if (!collectionFile.open())
        throw TransferError(text::exportFailed(path, files::fileReason(collectionFile)));
    collectionFile.close();
    std::map<qint64, QString> exportNames; // media key -> name in the package
    {
        sql::Database out;
        out.open(collectionFile.fileName(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        out.exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF");
        out.exec("BEGIN");
        out.exec(kCollectionSchema);
        QJsonObject decks{{"1", deck(1, QStringLiteral("Default"))}};
        std::map<qint64, qint64> deckOf;
        qint64 nextDeck = nowMs;
        for (const auto &[id, name] : subjects) {
            deckOf[id] = nextDeck;
            decks.insert(QString::number(nextDeck), deck(nextDeck, name));
            ++nextDeck;
        }
        const qint64 firstDeck = deckOf.empty() ? 1 : deckOf.begin()->second;
        const QJsonObject conf{{"activeDecks", QJsonArray{1}},
                               {"curDeck", 1},
                               {"newSpread", 0},
                               {"collapseTime", 1200},
                               {"timeLim", 0},
                               {"estTimes", true},
                               {"dueCounts", true},
                               {"curModel", kNoteType},
                               {"nextPos", qint64(cards.size()) + 1},
                               {"sortType", "noteFld"},
                               {"sortBackwards", false},
                               {"addToCur", true}};
        const auto json = [](const QJsonObject &o) {
            return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
        };
        sql::Statement(out, "INSERT INTO col VALUES (1, ?1, ?2, ?2, 11, 0, 0, 0, ?3, ?4, ?5, ?6, '{}')")
            .bind(1, crt)
            .bind(2, nowMs)
            .bind(3, json(conf))
            .bind(4, json(QJsonObject{{QString::number(kNoteType), noteType(firstDeck)}}))
            .bind(5, json(decks))
            .bind(6, json(deckOptions()))
            .run();

        QSet<QString> taken;
        const std::vector<Link> none;
        auto linksOf = [&](qint64 card) -> const std::vector<Link> & {
            const auto it = links.find(card);
            return it == links.end() ? none : it->second;
        };
        auto fieldOf = [&](const Card &c, CardSide side) {
            QString html = escapeHtml(side == CardSide::Question ? c.question : c.answer);
            for (const Link &l : linksOf(c.id)) {
                if (l.side != side)
                    continue;
                auto name = exportNames.find(l.media);
                if (name == exportNames.end()) {
                    QString candidate = safeName(mediaNames[l.media], l.media);
                    const QFileInfo info(candidate);
                    for (int n = 2; taken.contains(candidate); ++n)
                        candidate = info.completeBaseName() + QStringLiteral("-%1").arg(n)
                                    + (info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix());
                    taken.insert(candidate);
                    name = exportNames.emplace(l.media, candidate).first;
                }
                if (!html.isEmpty() && l.kind == MediaKind::Picture)
                    html += QLatin1String("<br>");
                html += l.kind == MediaKind::Picture
                            ? QStringLiteral("<img src=\"%1\">")
                                  .arg(QString(name->second).replace(QLatin1Char('&'), QLatin1String("&amp;")))
                            : QStringLiteral("[sound:%1]").arg(name->second);
            }
            return html;
        };
        qint64 position = 0;
        for (size_t i = 0; i < cards.size(); ++i) {
            const Card &c = cards[i];
            const qint64 id = nowMs + qint64(i);
            const QString question = fieldOf(c, CardSide::Question);
            const QString answer = fieldOf(c, CardSide::Answer);
            const QString sortField = c.question.isNull() ? QStringLiteral("") : c.question;
            const QByteArray sha = QCryptographicHash::hash(sortField.toUtf8(), QCryptographicHash::Sha1);
            const qint64 csum = qint64(quint32(quint8(sha[0])) << 24 | quint32(quint8(sha[1])) << 16
                                       | quint32(quint8(sha[2])) << 8 | quint32(quint8(sha[3])));
            sql::Statement(out, "INSERT INTO notes VALUES (?1, ?2, ?3, ?4, -1, '', ?5, ?6, ?7, 0, '')")
                .bind(1, id)
                .bind(2, QStringLiteral("tarlivo%1-%2").arg(c.id).arg(nowMs, 0, 36))
                .bind(3, kNoteType)
                .bind(4, nowMs / 1000)
                .bind(5, question + QChar(0x1f) + answer)
                .bind(6, sortField)
                .bind(7, csum)
                .run();
            const bool review = c.compartment > 1;
            sql::Statement(out, "INSERT INTO cards VALUES (?1, ?2, ?3, 0, ?4, -1, ?5, ?5, ?6, ?7, 2500, 0, 0, 0, 0, 0, "
                                "0, '')")
                .bind(1, id)
                .bind(2, id)
                .bind(3, deckOf[c.subject])
                .bind(4, nowMs / 1000)
                .bind(5, review ? 2 : 0)
                .bind(6, review ? dueDays[i] - firstDay : ++position)
                .bind(7, review ? Store::defaultInterval(c.compartment) : 0)
                .run();
            if (keepGoing && i % 256 == 255 && !keepGoing(qint64(i) + 1, qint64(cards.size())))
                return AnkiExport{0, 0, true};
        }
        out.exec("COMMIT");
        out.close();
    }

    // The package: the collection, the media map, and each file under its number.
    QFile collection(collectionFile.fileName());
    if (!collection.open(QIODevice::ReadOnly))
        throw TransferError(text::exportFailed(path, files::fileReason(collection)));
    std::vector<QByteArray> buffers; // libzip reads them when the archive is closed
    buffers.reserve(exportNames.size() + 2);
    buffers.push_back(collection.readAll());
    QJsonObject map;
    int number = 0;
    for (const auto &[id, name] : exportNames)
        map.insert(QString::number(number++), name);
    buffers.push_back(QJsonDocument(map).toJson(QJsonDocument::Compact));
    const QString temp = files::freshTemporary(path, QStringLiteral("tmp"));
    int error = 0;
    std::unique_ptr<zip_t, ZipDiscard> archive(
        zip->open(QFile::encodeName(temp).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    if (!archive)
        throw TransferError(text::exportFailed(path, QStringLiteral("zip %1").arg(error)));
    auto add = [&](const QByteArray &name, const QByteArray &bytes, bool packed) {
        zip_source_t *source = zip->sourceBuffer(archive.get(), bytes.constData(), bytes.size(), 0);
        const zip_int64_t index = source ? zip->fileAdd(archive.get(), name.constData(), source, ZIP_FL_OVERWRITE) : -1;
        if (index < 0) {
            if (source)
                zip->sourceFree(source);
            throw TransferError(text::exportFailed(path, QString::fromUtf8(zip->strerror(archive.get()))));
        }
        // Pictures and sounds are packed already: deflating them again gains nothing.
        if (packed)
            zip->setFileCompression(archive.get(), zip_uint64_t(index), ZIP_CM_STORE, 0);
    };
    add("collection.anki2", buffers[0], false);
    add("media", buffers[1], false);
    number = 0;
    for (const auto &[id, name] : exportNames) {
        buffers.push_back(store.mediaBytes(id));
        add(QByteArray::number(number++), buffers.back(), true);
    }
    if (zip->close(archive.get()) != 0) {
        const QString detail = QString::fromUtf8(zip->strerror(archive.get()));
        QFile::remove(temp);
        throw TransferError(text::exportFailed(path, detail));
    }
    static_cast<void>(archive.release()); // freed by zip_close
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
        const QString detail = files::errnoText();
        QFile::remove(temp);
        throw TransferError(text::exportFailed(path, detail));
    }
    return AnkiExport{qint64(cards.size()), qint64(subjects.size()), false};
}

} // namespace tarlivo::transfer
