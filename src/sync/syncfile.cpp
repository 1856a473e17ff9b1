#include "sync/syncfile.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QtEndian>

using namespace tarlivo::store;

namespace tarlivo::sync {
namespace {

constexpr char kMagic[] = "TRLVABG1";
constexpr qsizetype kMagicSize = 8;
constexpr qsizetype kHeaderSize = kMagicSize + 8 + 32;
constexpr int kFormat = 1;
constexpr qsizetype kMaxText = 16 * 1024 * 1024;

QCborValue clockValue(const SyncClock &c) { return QCborArray{c.time, c.machine}; }

QCborArray clocksValue(const SyncClock *clocks, int n)
{
    QCborArray a;
    for (int i = 0; i < n; ++i)
        a.append(clockValue(clocks[i]));
    return a;
}

QCborValue textValue(const QString &text) { return text.isNull() ? QCborValue(nullptr) : QCborValue(text); }

QCborMap subjectValue(const SyncSubject &s)
{
    QCborMap m;
    m.insert(QStringLiteral("id"), s.id);
    m.insert(QStringLiteral("da"), s.alive);
    m.insert(QStringLiteral("uhr"), clocksValue(s.clocks, kSubjectFields));
    if (!s.alive)
        return m;
    m.insert(QStringLiteral("name"), s.name);
    QCborArray iv;
    for (const auto &[compartment, days] : s.intervals)
        iv.append(QCborArray{compartment, days});
    m.insert(QStringLiteral("iv"), iv);
    m.insert(QStringLiteral("ri"), s.direction);
    if (s.tolerances) {
        QCborArray t;
        for (qint32 v : *s.tolerances)
            t.append(v);
        m.insert(QStringLiteral("tol"), t);
    }
    if (s.languages)
        m.insert(QStringLiteral("spr"), QCborArray{s.languages->first, s.languages->second});
    return m;
}

QCborMap cardValue(const SyncCard &c)
{
    QCborMap m;
    m.insert(QStringLiteral("id"), c.id);
    m.insert(QStringLiteral("da"), c.alive);
    m.insert(QStringLiteral("uhr"), clocksValue(c.clocks, kCardFields));
    if (!c.alive)
        return m;
    m.insert(QStringLiteral("g"), c.subject);
    m.insert(QStringLiteral("f"), textValue(c.question));
    m.insert(QStringLiteral("a"), textValue(c.answer));
    m.insert(QStringLiteral("fach"), c.compartment);
    m.insert(QStringLiteral("seit"), c.enteredAt);
    if (c.reverse)
        m.insert(QStringLiteral("um"), QCborArray{c.reverse->first, c.reverse->second});
    if (c.queuePlace)
        m.insert(QStringLiteral("st"), c.queuePlace);
    if (c.reverseQueuePlace)
        m.insert(QStringLiteral("umst"), c.reverseQueuePlace);
    if (!c.media.empty()) {
        QCborArray media;
        for (const SyncMedia &x : c.media)
            media.append(QCborArray{x.side, x.kind, x.name, x.checksum});
        m.insert(QStringLiteral("med"), media);
    }
    return m;
}

QCborMap verdictValue(const SyncVerdict &v)
{
    QCborMap m;
    m.insert(QStringLiteral("id"), v.id);
    m.insert(QStringLiteral("da"), v.alive);
    m.insert(QStringLiteral("uhr"), clockValue(v.clock));
    if (!v.alive)
        return m;
    m.insert(QStringLiteral("k"), v.card);
    m.insert(QStringLiteral("g"), v.subject);
    m.insert(QStringLiteral("z"), v.time);
    m.insert(QStringLiteral("vor"), v.compartmentBefore);
    m.insert(QStringLiteral("nach"), v.compartmentAfter);
    m.insert(QStringLiteral("u"), v.verdict);
    if (v.reverse)
        m.insert(QStringLiteral("um"), true);
    return m;
}

// Reading: every value checked for its type; a value out of place makes the file damaged.
struct Bad {};

QCborValue field(const QCborMap &m, const char *key) { return m.value(QLatin1String(key)); }

QString text(const QCborValue &v, bool nullable = false)
{
    if (nullable && v.isNull())
        return QString();
    if (!v.isString())
        throw Bad{};
    QString s = v.toString();
    if (s.size() > kMaxText)
        throw Bad{};
    if (s.isNull())
        s = QLatin1String(""); // an empty text is not a missing one
    return s;
}

qint64 integer(const QCborValue &v, qint64 low, qint64 high)
{
    if (!v.isInteger())
        throw Bad{};
    const qint64 x = v.toInteger();
    if (x < low || x > high)
        throw Bad{};
    return x;
}

constexpr qint64 kInt32Low = -2147483647LL - 1;
constexpr qint64 kInt32High = 2147483647LL;
constexpr qint64 kTimeHigh = qint64(1) << 50;

QString identity(const QCborValue &v)
{
    const QString s = text(v);
    if (s.isEmpty() || s.size() > 64)
        throw Bad{};
    return s;
}

SyncClock clockOf(const QCborValue &v)
{
    if (!v.isArray() || v.toArray().size() != 2)
        throw Bad{};
    const QCborArray a = v.toArray();
    SyncClock c;
    c.time = integer(a.at(0), 0, kTimeHigh);
    c.machine = text(a.at(1));
    if (c.machine.size() > 64)
        throw Bad{};
    return c;
}

void clocksOf(const QCborValue &v, SyncClock *out, int n)
{
    if (!v.isArray() || v.toArray().size() != n)
        throw Bad{};
    const QCborArray a = v.toArray();
    for (int i = 0; i < n; ++i)
        out[i] = clockOf(a.at(i));
}

QCborArray array(const QCborValue &v)
{
    if (!v.isArray())
        throw Bad{};
    return v.toArray();
}

bool boolean(const QCborValue &v)
{
    if (!v.isBool())
        throw Bad{};
    return v.toBool();
}

QCborMap map(const QCborValue &v)
{
    if (!v.isMap())
        throw Bad{};
    return v.toMap();
}

SyncSubject subjectOf(const QCborValue &value)
{
    const QCborMap m = map(value);
    SyncSubject s;
    s.id = identity(field(m, "id"));
    s.alive = boolean(field(m, "da"));
    clocksOf(field(m, "uhr"), s.clocks, kSubjectFields);
    if (!s.alive)
        return s;
    s.name = text(field(m, "name"));
    if (s.name.trimmed().isEmpty())
        throw Bad{};
    for (const QCborValue &x : array(field(m, "iv"))) {
        const QCborArray pair = array(x);
        if (pair.size() != 2)
            throw Bad{};
        s.intervals.emplace_back(qint32(integer(pair.at(0), 1, kInt32High)), qint32(integer(pair.at(1), 0, 3650)));
    }
    s.direction = qint32(integer(field(m, "ri"), 0, 2));
    if (m.contains(QLatin1String("tol"))) {
        const QCborArray t = array(field(m, "tol"));
        if (t.size() != 4)
            throw Bad{};
        std::vector<qint32> v;
        for (const QCborValue &x : t)
            v.push_back(qint32(integer(x, 1, 3)));
        s.tolerances = v;
    }
    if (m.contains(QLatin1String("spr"))) {
        const QCborArray l = array(field(m, "spr"));
        if (l.size() != 2)
            throw Bad{};
        s.languages = std::make_pair(text(l.at(0)), text(l.at(1)));
    }
    return s;
}

SyncCard cardOf(const QCborValue &value)
{
    const QCborMap m = map(value);
    SyncCard c;
    c.id = identity(field(m, "id"));
    c.alive = boolean(field(m, "da"));
    clocksOf(field(m, "uhr"), c.clocks, kCardFields);
    if (!c.alive)
        return c;
    c.subject = identity(field(m, "g"));
    c.question = text(field(m, "f"), true);
    c.answer = text(field(m, "a"), true);
    c.compartment = qint32(integer(field(m, "fach"), 1, kInt32High));
    c.enteredAt = integer(field(m, "seit"), -kTimeHigh, kTimeHigh);
    if (m.contains(QLatin1String("um"))) {
        const QCborArray r = array(field(m, "um"));
        if (r.size() != 2)
            throw Bad{};
        c.reverse = std::make_pair(qint32(integer(r.at(0), 1, kInt32High)), integer(r.at(1), -kTimeHigh, kTimeHigh));
    }
    // Files written before they carried queue places hold none.
    if (m.contains(QLatin1String("st")))
        c.queuePlace = integer(field(m, "st"), 1, kInt32High);
    if (m.contains(QLatin1String("umst")))
        c.reverseQueuePlace = integer(field(m, "umst"), 1, kInt32High);
    if (m.contains(QLatin1String("med"))) {
        for (const QCborValue &x : array(field(m, "med"))) {
            const QCborArray a = array(x);
            if (a.size() != 4 || !a.at(3).isByteArray() || a.at(3).toByteArray().size() != 32)
                throw Bad{};
            c.media.push_back(
                {qint32(integer(a.at(0), 0, 1)), qint32(integer(a.at(1), 0, 1)), text(a.at(2)), a.at(3).toByteArray()});
        }
        if (c.media.size() > 4)
            throw Bad{};
    }
    return c;
}

SyncVerdict verdictOf(const QCborValue &value)
{
    const QCborMap m = map(value);
    SyncVerdict v;
    v.id = identity(field(m, "id"));
    v.alive = boolean(field(m, "da"));
    v.clock = clockOf(field(m, "uhr"));
    if (!v.alive)
        return v;
    v.card = identity(field(m, "k"));
    v.subject = identity(field(m, "g"));
    v.time = integer(field(m, "z"), -kTimeHigh, kTimeHigh);
    v.compartmentBefore = qint32(integer(field(m, "vor"), kInt32Low, kInt32High));
    v.compartmentAfter = qint32(integer(field(m, "nach"), kInt32Low, kInt32High));
    v.verdict = qint32(integer(field(m, "u"), 1, 3));
    v.reverse = m.contains(QLatin1String("um")) && boolean(field(m, "um"));
    return v;
}

// The body, checked against its header; nullopt (with the reason) when it does not hold.
std::optional<QCborMap> body(const QByteArray &bytes, ReadResult *why)
{
    *why = ReadResult::Damaged;
    if (bytes.size() < kHeaderSize)
        return (*why = ReadResult::Incomplete), std::nullopt;
    if (bytes.left(kMagicSize) != QByteArray(kMagic, kMagicSize))
        return std::nullopt;
    const quint64 length = qFromBigEndian<quint64>(bytes.constData() + kMagicSize);
    const qint64 have = bytes.size() - kHeaderSize;
    if (length > quint64(kMaxFileSize))
        return std::nullopt;
    if (qint64(length) > have)
        return (*why = ReadResult::Incomplete), std::nullopt;
    if (qint64(length) < have)
        return std::nullopt;
    const QByteArray content = bytes.mid(kHeaderSize);
    if (QCryptographicHash::hash(content, QCryptographicHash::Sha256) != bytes.mid(kMagicSize + 8, 32))
        return std::nullopt;
    QCborParserError error;
    const QCborValue value = QCborValue::fromCbor(content, &error);
    if (error.error != QCborError::NoError || !value.isMap())
        return std::nullopt;
    *why = ReadResult::Ok;
    return value.toMap();
}

constexpr qint64 kMaxNumber = 99999999;
constexpr qint64 kMaxPart = 9999;
// The most file numbers a list of covered or applied files may name: beyond it a file
// counts as damaged rather than filling the memory.
constexpr qint64 kMaxCovered = 4000000;

FileHeader headerOf(const QCborMap &m, BodyKind kind)
{
    FileHeader h;
    if (integer(field(m, "v"), 1, 1000) > kFormat)
        throw Bad{};
    const qint64 art = m.contains(QLatin1String("art")) ? integer(field(m, "art"), 0, 3) : 0;
    if (art != qint64(kind))
        throw Bad{};
    h.collection = identity(field(m, "sammlung"));
    h.machine = identity(field(m, "maschine"));
    h.host = text(field(m, "rechner"));
    h.number = integer(field(m, "nr"), kind == BodyKind::Acks ? 0 : 1, kMaxNumber);
    h.written = integer(field(m, "zeit"), 0, kTimeHigh);
    if (m.contains(QLatin1String("teil")))
        h.part = qint32(integer(field(m, "teil"), 1, kMaxPart));
    if (m.contains(QLatin1String("letzter")))
        h.last = boolean(field(m, "letzter"));
    return h;
}

QCborMap headerValue(const FileHeader &header, BodyKind kind)
{
    QCborMap m;
    m.insert(QStringLiteral("v"), kFormat);
    if (kind != BodyKind::Changes)
        m.insert(QStringLiteral("art"), qint64(kind));
    m.insert(QStringLiteral("sammlung"), header.collection);
    m.insert(QStringLiteral("maschine"), header.machine);
    m.insert(QStringLiteral("rechner"), header.host);
    m.insert(QStringLiteral("nr"), header.number);
    m.insert(QStringLiteral("zeit"), header.written);
    if (header.part != 1 || !header.last) {
        m.insert(QStringLiteral("teil"), header.part);
        m.insert(QStringLiteral("letzter"), header.last);
    }
    return m;
}

// Runs of numbers: [[1, 40], [42, 42]].
QCborMap coversValue(const SyncCovers &covers)
{
    QCborMap m;
    for (const auto &[machine, numbers] : covers) {
        QCborArray runs;
        for (auto it = numbers.begin(); it != numbers.end();) {
            const qint64 first = *it;
            qint64 last = first;
            while (++it != numbers.end() && *it == last + 1)
                last = *it;
            runs.append(QCborArray{first, last});
        }
        m.insert(machine, runs);
    }
    return m;
}

SyncCovers coversOf(const QCborValue &value)
{
    SyncCovers covers;
    qint64 total = 0;
    const QCborMap m = map(value);
    for (auto it = m.constBegin(); it != m.constEnd(); ++it) {
        std::set<qint64> &numbers = covers[identity(it.key())];
        for (const QCborValue &x : array(it.value())) {
            const QCborArray run = array(x);
            if (run.size() != 2)
                throw Bad{};
            const qint64 first = integer(run.at(0), 1, kMaxNumber);
            const qint64 last = integer(run.at(1), first, kMaxNumber);
            total += last - first + 1;
            if (total > kMaxCovered)
                throw Bad{};
            for (qint64 n = first; n <= last; ++n)
                numbers.insert(numbers.end(), n);
        }
    }
    return covers;
}

QByteArray envelope(const QCborMap &m)
{
    const QByteArray content = m.toCborValue().toCbor();
    QByteArray out(kMagic, kMagicSize);
    char length[8];
    qToBigEndian<quint64>(quint64(content.size()), length);
    out.append(length, 8);
    out.append(QCryptographicHash::hash(content, QCryptographicHash::Sha256));
    out.append(content);
    return out;
}

} // namespace

QString fileName(qint64 number, qint32 part)
{
    const QString n = QStringLiteral("%1").arg(number, 8, 10, QLatin1Char('0'));
    return part ? QStringLiteral("%1-%2.tarlivo").arg(n).arg(part, 4, 10, QLatin1Char('0'))
                : QStringLiteral("%1.tarlivo").arg(n);
}

QString snapshotName(qint64 number, qint32 part) { return QStringLiteral("stand-") + fileName(number, part); }

QString acksName() { return QStringLiteral("quittung.tarlivo"); }

FileKind kindOfName(const QString &name, qint64 *number, qint32 *part)
{
    // Syncthing keeps both sides of a conflict ("x.sync-conflict-20261208-101010-ABCDEFG.tarlivo")
    // and writes into ".syncthing.x.tmp"; Nextcloud's client "x (conflicted copy 2026-12-08 101010).tarlivo".
    if (name.contains(QLatin1String(".sync-conflict-"))
        || (name.startsWith(QLatin1String(".syncthing.")) && name.endsWith(QLatin1String(".tmp")))
        || name.contains(QLatin1String(" (conflicted copy ")))
        return FileKind::ToolCopy;
    if (name.startsWith(QLatin1Char('.')) && name.contains(QLatin1String(".tmp-")))
        return FileKind::OwnTemp;
    if (name == acksName())
        return FileKind::Acks;
    static const QRegularExpression numbered(QStringLiteral("^(stand-)?([0-9]{8})(-([0-9]{4}))?\\.tarlivo$"));
    const QRegularExpressionMatch match = numbered.match(name);
    if (!match.hasMatch())
        return FileKind::Other;
    const qint32 p = match.captured(4).isEmpty() ? 0 : qint32(match.captured(4).toInt());
    if (!match.captured(3).isEmpty() && p == 0)
        return FileKind::Other;
    if (number)
        *number = match.captured(2).toLongLong();
    if (part)
        *part = p;
    if (match.captured(1).isEmpty())
        return FileKind::Changes;
    return p ? FileKind::SnapshotPart : FileKind::Snapshot;
}

QByteArray encode(const FileHeader &header, const SyncBatch &batch, BodyKind kind)
{
    QCborMap m = headerValue(header, kind);
    QCborArray subjects;
    for (const SyncSubject &s : batch.subjects)
        subjects.append(subjectValue(s));
    QCborArray cards;
    for (const SyncCard &c : batch.cards)
        cards.append(cardValue(c));
    QCborArray log;
    for (const SyncVerdict &v : batch.log)
        log.append(verdictValue(v));
    m.insert(QStringLiteral("gebiete"), subjects);
    m.insert(QStringLiteral("karten"), cards);
    m.insert(QStringLiteral("log"), log);
    return envelope(m);
}

QByteArray encodeSnapshot(const SnapshotIndex &index)
{
    QCborMap m = headerValue(index.header, BodyKind::Snapshot);
    m.insert(QStringLiteral("deckt"), coversValue(index.covers));
    QCborArray parts;
    for (const QByteArray &checksum : index.parts)
        parts.append(checksum);
    m.insert(QStringLiteral("teile"), parts);
    if (index.media) {
        QCborArray media;
        for (const QByteArray &checksum : *index.media)
            media.append(checksum);
        m.insert(QStringLiteral("medien"), media);
    }
    return envelope(m);
}

ReadResult decodeSnapshot(const QByteArray &bytes, const QString &collection, SnapshotIndex *index)
{
    ReadResult why;
    const std::optional<QCborMap> m = body(bytes, &why);
    if (!m)
        return why;
    try {
        SnapshotIndex x;
        x.header = headerOf(*m, BodyKind::Snapshot);
        if (x.header.collection != collection)
            return ReadResult::OtherCollection;
        x.covers = coversOf(field(*m, "deckt"));
        for (const QCborValue &v : array(field(*m, "teile"))) {
            if (!v.isByteArray() || v.toByteArray().size() != 32)
                throw Bad{};
            x.parts.push_back(v.toByteArray());
        }
        if (x.parts.empty() || qint64(x.parts.size()) > kMaxPart)
            throw Bad{};
        if (m->contains(QStringLiteral("medien"))) {
            x.media.emplace();
            for (const QCborValue &v : array(field(*m, "medien"))) {
                if (!v.isByteArray() || v.toByteArray().size() != 32)
                    throw Bad{};
                x.media->push_back(v.toByteArray());
            }
        }
        *index = std::move(x);
    } catch (const Bad &) {
        return ReadResult::Damaged;
    }
    return ReadResult::Ok;
}

QByteArray encodeAcks(const FileHeader &header, const SyncCovers &applied)
{
    QCborMap m = headerValue(header, BodyKind::Acks);
    m.insert(QStringLiteral("gelesen"), coversValue(applied));
    return envelope(m);
}

ReadResult decodeAcks(const QByteArray &bytes, const QString &collection, FileHeader *header, SyncCovers *applied)
{
    ReadResult why;
    const std::optional<QCborMap> m = body(bytes, &why);
    if (!m)
        return why;
    try {
        *header = headerOf(*m, BodyKind::Acks);
        if (header->collection != collection)
            return ReadResult::OtherCollection;
        *applied = coversOf(field(*m, "gelesen"));
    } catch (const Bad &) {
        return ReadResult::Damaged;
    }
    return ReadResult::Ok;
}

QByteArray bodyChecksum(const QByteArray &bytes)
{
    return bytes.size() < kHeaderSize ? QByteArray() : bytes.mid(kMagicSize + 8, 32);
}

ReadResult decode(const QByteArray &bytes, const QString &collection, FileHeader *header, SyncBatch *batch,
                  BodyKind kind)
{
    ReadResult why;
    const std::optional<QCborMap> m = body(bytes, &why);
    if (!m)
        return why;
    try {
        *header = headerOf(*m, kind);
        if (header->collection != collection)
            return ReadResult::OtherCollection;
        SyncBatch b;
        for (const QCborValue &x : array(field(*m, "gebiete")))
            b.subjects.push_back(subjectOf(x));
        for (const QCborValue &x : array(field(*m, "karten")))
            b.cards.push_back(cardOf(x));
        for (const QCborValue &x : array(field(*m, "log")))
            b.log.push_back(verdictOf(x));
        // A card's subject travels with it.
        QSet<QString> subjects;
        for (const SyncSubject &s : b.subjects)
            subjects.insert(s.id);
        for (const SyncCard &c : b.cards)
            if (c.alive && !subjects.contains(c.subject))
                throw Bad{};
        *batch = std::move(b);
    } catch (const Bad &) {
        return ReadResult::Damaged;
    }
    return ReadResult::Ok;
}

std::optional<FileHeader> decodeHeader(const QByteArray &bytes)
{
    ReadResult why;
    const std::optional<QCborMap> m = body(bytes, &why);
    if (!m)
        return std::nullopt;
    try {
        const qint64 art = m->contains(QLatin1String("art")) ? integer(field(*m, "art"), 0, 3) : 0;
        return headerOf(*m, BodyKind(art));
    } catch (const Bad &) {
        return std::nullopt;
    }
}

} // namespace tarlivo::sync
