#include "transfer/foreign.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QDateTime>
#include <QFileInfo>
#include <QIODevice>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <zlib.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <string>
#include <tuple>

using namespace tarlivo::store;

namespace tarlivo::transfer::foreign {

bool isGzip(const QByteArray &head) { return head.size() >= 2 && head[0] == '\x1f' && head[1] == '\x8b'; }

namespace {

// A gzip stream unpacked as it is read. Past kMaxUnpacked, or kMaxRatio times the
// packed size, it fails: a bomb is stopped there, never unpacked whole.
class GzipDevice : public QIODevice {
public:
    GzipDevice(QIODevice &source, QString path) : m_source(source), m_path(std::move(path)), m_in(1 << 16, '\0')
    {
        m_limit = std::min(kMaxUnpacked, kMaxRatio * std::max<qint64>(source.size(), 1));
        m_ready = inflateInit2(&m_stream, 16 + MAX_WBITS) == Z_OK;
        // The parser reads in large chunks: a buffer here would only copy them.
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    ~GzipDevice() override
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    bool isSequential() const override { return true; }
    // Why the stream failed, or empty.
    const QString &failure() const { return m_failure; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (!m_failure.isEmpty())
            return -1;
        if (!m_ready)
            return fail(text::gzipDamaged(m_path, QStringLiteral("zlib")));
        if (m_done)
            return 0;
        m_stream.next_out = reinterpret_cast<Bytef *>(data);
        m_stream.avail_out = uInt(std::min<qint64>(maxSize, 1 << 20));
        const uInt wanted = m_stream.avail_out;
        while (m_stream.avail_out > 0) {
            if (m_stream.avail_in == 0) {
                const qint64 n = m_source.read(m_in.data(), m_in.size());
                if (n < 0)
                    return fail(text::readFailed(m_path));
                if (n == 0)
                    return fail(text::gzipDamaged(m_path, QStringLiteral("unvollständig")));
                m_stream.next_in = reinterpret_cast<Bytef *>(m_in.data());
                m_stream.avail_in = uInt(n);
            }
            const int rc = inflate(&m_stream, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                m_done = true;
                break;
            }
            if (rc != Z_OK)
                return fail(
                    text::gzipDamaged(m_path, m_stream.msg ? QString::fromLatin1(m_stream.msg) : QString::number(rc)));
        }
        const qint64 produced = qint64(wanted - m_stream.avail_out);
        m_total += produced;
        if (m_total > m_limit)
            return fail(text::gzipTooLarge(m_path));
        return produced;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 fail(const QString &why)
    {
        m_failure = why;
        return -1;
    }
    QIODevice &m_source;
    QString m_path;
    QByteArray m_in;
    z_stream m_stream{};
    bool m_ready = false;
    bool m_done = false;
    qint64 m_total = 0;
    qint64 m_limit = 0;
    QString m_failure;
};

} // namespace

namespace {

// German words for the faults a reader meets most; the rest by libxml2's number.
QString faultText(int code, int column)
{
    QString what;
    switch (code) {
    case XML_ERR_DOCUMENT_EMPTY:
        what = QStringLiteral("kein Inhalt");
        break;
    case XML_ERR_DOCUMENT_END:
        what = QStringLiteral("Inhalt nach dem Ende des Dokuments");
        break;
    case XML_ERR_TAG_NAME_MISMATCH:
        what = QStringLiteral("Anfangs- und Endmarke passen nicht zusammen");
        break;
    case XML_ERR_TAG_NOT_FINISHED:
    case XML_ERR_LTSLASH_REQUIRED:
        what = QStringLiteral("ein Element wird nicht geschlossen");
        break;
    case XML_ERR_INVALID_CHAR:
    case XML_ERR_INVALID_ENCODING:
    case XML_ERR_INVALID_DEC_CHARREF:
    case XML_ERR_INVALID_HEX_CHARREF:
    case XML_ERR_INVALID_CHARREF:
        what = QStringLiteral("ungültiges Zeichen");
        break;
    case XML_ERR_UNDECLARED_ENTITY:
        what = QStringLiteral("unbekannte Entität");
        break;
    case XML_ERR_UNSUPPORTED_ENCODING:
        what = QStringLiteral("unbekannte Zeichenkodierung");
        break;
    case XML_ERR_ATTRIBUTE_REDEFINED:
        what = QStringLiteral("ein Attribut steht zweimal");
        break;
    default:
        what = QStringLiteral("der Aufbau stimmt nicht");
        break;
    }
    return QStringLiteral("Spalte %1, %2").arg(column).arg(what);
}

} // namespace

// Hands libxml2's SAX events to the handler: the parser builds no tree, and a text
// asked for is gathered here as UTF-8 and handed over once, at its element's end.
class SaxDriver {
public:
    SaxDriver(XmlHandler &handler, const QString &path) : m_handler(handler), m_path(path) {}

    // One piece of the device's bytes through the parser; false once all are.
    bool step(QIODevice &device)
    {
        if (m_ended)
            return false;
        // libxml2 tells some faults (of encodings) on stderr besides: the message here
        // says what matters. The setting is the thread's own, and the pieces of one
        // parse may be read on different threads.
        xmlSetGenericErrorFunc(nullptr, &SaxDriver::silent);
        if (!m_ctxt)
            begin(device);
        const qint64 n = device.read(m_chunk.data(), m_chunk.size());
        if (n < 0)
            failRead(device);
        m_last = n == 0;
        xmlParseChunk(m_ctxt.get(), m_chunk.constData(), int(n), n == 0);
        // After a fatal error the parser takes nothing more: the rest is not read.
        m_ended = n == 0 || m_stopped || m_ctxt->disableSAX;
        if (m_failure)
            std::rethrow_exception(m_failure);
        if (m_ended && !m_ctxt->wellFormed) {
            // Faults found as the bytes end: no element at all, or one still open.
            if (m_code == XML_ERR_DOCUMENT_EMPTY || (m_atEnd && !m_sawRoot))
                throw TransferError(text::fileEmpty(m_path));
            if (m_atEnd && m_openAtFault > 0)
                throw TransferError(text::endsInEntry(m_path));
            throw TransferError(text::notWellFormed(m_path, m_line, faultText(m_code, m_column)));
        }
        return !m_ended;
    }

private:
    void begin(QIODevice &device)
    {
        static const bool initialised = (xmlInitParser(), true);
        (void)initialised;
        xmlSAXHandler sax{};
        sax.initialized = XML_SAX2_MAGIC;
        sax.startElementNs = &SaxDriver::onStart;
        sax.endElementNs = &SaxDriver::onEnd;
        sax.characters = &SaxDriver::onText;
        sax.cdataBlock = &SaxDriver::onText;
        sax.ignorableWhitespace = &SaxDriver::onText;
        sax.entityDecl = &SaxDriver::onEntity;
        sax.serror = &SaxDriver::onError;

        const qint64 n = device.read(m_chunk.data(), 4);
        if (n < 0)
            failRead(device);
        m_ctxt.reset(xmlCreatePushParserCtxt(&sax, this, m_chunk.constData(), int(n), nullptr));
        if (!m_ctxt)
            throw TransferError(text::notWellFormed(m_path, 0, faultText(XML_ERR_NO_MEMORY, 0)));
        // No entity expansion, no DTD loaded or checked, nothing from the network.
        xmlCtxtUseOptions(m_ctxt.get(), XML_PARSE_NONET);
        m_ctxt->replaceEntities = 0;
        m_ctxt->loadsubset = 0;
        m_ctxt->validate = 0;
    }

private:
    static SaxDriver &of(void *ctx) { return *static_cast<SaxDriver *>(ctx); }
    static void silent(void *, const char *, ...) {}
    // An entity declaration leaves a document behind, even in SAX mode.
    static void freeContext(xmlParserCtxtPtr ctxt)
    {
        if (ctxt->myDoc)
            xmlFreeDoc(ctxt->myDoc);
        xmlFreeParserCtxt(ctxt);
    }

    [[noreturn]] void failRead(QIODevice &device)
    {
        if (const auto *gzip = dynamic_cast<const GzipDevice *>(&device); gzip && !gzip->failure().isEmpty())
            throw TransferError(gzip->failure());
        throw TransferError(text::readFailed(m_path));
    }

    // What the handler throws must not cross the C parser: it stops it instead.
    template <typename F>
    void guarded(F &&f)
    {
        try {
            f();
        } catch (...) {
            m_failure = std::current_exception();
            m_stopped = true;
            xmlStopParser(m_ctxt.get());
        }
    }

    static void onStart(void *ctx, const xmlChar *localname, const xmlChar *, const xmlChar *, int, const xmlChar **,
                        int attributeCount, int, const xmlChar **attributes)
    {
        SaxDriver &d = of(ctx);
        const int depth = d.m_depth++;
        d.m_sawRoot = true;
        if (d.m_stopped || d.m_textDepth >= 0)
            return;
        d.guarded([&] {
            const XmlAttributes view(reinterpret_cast<const void *const *>(attributes), attributeCount);
            if (d.m_handler.start(depth, reinterpret_cast<const char *>(localname), view)) {
                d.m_textDepth = depth;
                d.m_text.clear();
            }
        });
    }

    static void onEnd(void *ctx, const xmlChar *, const xmlChar *, const xmlChar *)
    {
        SaxDriver &d = of(ctx);
        const int depth = --d.m_depth;
        if (d.m_stopped || (d.m_textDepth >= 0 && depth > d.m_textDepth))
            return;
        d.guarded([&] {
            if (d.m_textDepth < 0) {
                d.m_handler.end(depth);
                return;
            }
            d.m_textDepth = -1;
            d.m_handler.text(depth, d.m_text);
        });
    }

    static void onText(void *ctx, const xmlChar *ch, int length)
    {
        SaxDriver &d = of(ctx);
        // Past three bytes a character the text is too long whatever it holds; the
        // handler then says so. Gathering stops there, so memory stays bounded.
        static constexpr size_t cap = 3 * size_t(kMaxText) + 3;
        if (d.m_textDepth >= 0 && d.m_text.size() < cap)
            d.m_text.append(reinterpret_cast<const char *>(ch), std::min(size_t(length), cap - d.m_text.size()));
    }

    static void onEntity(void *ctx, const xmlChar *, int, const xmlChar *, const xmlChar *, xmlChar *)
    {
        SaxDriver &d = of(ctx);
        d.guarded([&] { throw TransferError(text::xmlEntities(d.m_path)); });
    }

    static void onError(void *ctx, xmlErrorPtr error)
    {
        SaxDriver &d = of(ctx);
        if (d.m_code == 0 && error && error->level == XML_ERR_FATAL) {
            d.m_code = error->code;
            d.m_line = error->line;
            d.m_column = error->int2;
            d.m_atEnd = d.m_last;
            d.m_openAtFault = d.m_depth;
        }
    }

    XmlHandler &m_handler;
    const QString &m_path;
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> m_ctxt{nullptr, &SaxDriver::freeContext};
    QByteArray m_chunk = QByteArray(1 << 16, '\0');
    bool m_ended = false;
    int m_depth = 0;
    int m_textDepth = -1; // the element whose text is gathered, or -1
    std::string m_text;
    bool m_stopped = false;
    std::exception_ptr m_failure;
    bool m_last = false;  // the parser is told that the bytes have ended
    bool m_atEnd = false; // the first fatal error came with the end of the bytes
    bool m_sawRoot = false;
    int m_openAtFault = 0; // elements open at the first fatal error
    int m_code = 0;        // the first fatal error
    int m_line = 0;
    int m_column = 0;
};

XmlParse::XmlParse(QIODevice &device, const QString &path, XmlHandler &handler)
    : m_device(device), m_driver(std::make_unique<SaxDriver>(handler, path))
{
}

XmlParse::~XmlParse() = default;

bool XmlParse::step() { return m_driver->step(m_device); }

std::string_view XmlAttributes::value(std::string_view name) const
{
    for (int i = 0; i < m_count; ++i) {
        const auto *const *a = reinterpret_cast<const char *const *>(m_raw) + 5 * i;
        if (!a[1] && name == a[0])
            return std::string_view(a[3], size_t(a[4] - a[3]));
    }
    return {};
}

bool XmlAttributes::has(std::string_view name) const
{
    for (int i = 0; i < m_count; ++i) {
        const auto *const *a = reinterpret_cast<const char *const *>(m_raw) + 5 * i;
        if (!a[1] && name == a[0])
            return true;
    }
    return false;
}

std::unique_ptr<QIODevice> gunzipping(QIODevice &source, const QString &path)
{
    return std::make_unique<GzipDevice>(source, path);
}

void parseXml(QIODevice &device, const QString &path, XmlHandler &handler)
{
    XmlParse parse(device, path, handler);
    while (parse.step()) {
    }
}

QString textOf(std::string_view utf8, const QString &path, qint64 number)
{
    QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    if (text.size() > kMaxText)
        throw TransferError(text::entryTooLong(path, number));
    return text;
}

bool isBlank(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

qint64 toNumber(std::string_view text, bool *ok)
{
    return QByteArray::fromRawData(text.data(), qsizetype(text.size())).toLongLong(ok);
}

std::optional<qint64> LocalTimes::seconds(QDate date, QTime time)
{
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const qint64 key = date.toJulianDay() * 24 + time.hour();
    auto it = m_hourStarts.constFind(key);
    if (it == m_hourStarts.constEnd()) {
        const QDateTime start(date, QTime(time.hour(), 0)), end(date, QTime(time.hour(), 59, 59));
        const bool even = start.isValid() && end.isValid() && start.secsTo(end) == 3599;
        it = m_hourStarts.insert(key, even ? start.toSecsSinceEpoch() : kUneven);
    }
    if (*it != kUneven)
        return *it + time.minute() * 60 + time.second();
    // The hour the clocks change in: each time on its own. A time the clocks skip
    // counts on from the day before, as if the change had not come yet.
    QDateTime at(date, time);
    if (!at.isValid())
        at = QDateTime(date.addDays(-1), time).addSecs(24 * 3600);
    return at.isValid() ? std::optional<qint64>(at.toSecsSinceEpoch()) : std::nullopt;
}

QString defaultSubject(const QString &title, const QString &path)
{
    QString name = title.trimmed();
    if (name.endsWith(QLatin1String(".kvtml"), Qt::CaseInsensitive))
        name.chop(6);
    if (name.isEmpty()) {
        name = QFileInfo(path).fileName();
        if (name.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive))
            name.chop(3);
        name = QFileInfo(name).completeBaseName();
    }
    return name;
}

std::vector<quint32> queueOrder(const std::vector<ForeignCard> &cards)
{
    // The keys are sorted, not the cards: a card is large. A file's cards often
    // come in order already.
    static constexpr qint64 now = std::numeric_limits<qint64>::max();
    struct Key {
        qint32 compartment;
        quint32 index;
        qint64 enteredAt;
        qint64 number;
        bool operator<(const Key &o) const
        {
            return std::tie(compartment, enteredAt, number) < std::tie(o.compartment, o.enteredAt, o.number);
        }
    };
    std::vector<Key> keys;
    keys.reserve(cards.size());
    for (size_t i = 0; i < cards.size(); ++i)
        keys.push_back(Key{cards[i].compartment, quint32(i), cards[i].enteredAt.value_or(now), cards[i].number});
    if (std::is_sorted(keys.begin(), keys.end()))
        return {};
    std::sort(keys.begin(), keys.end());
    std::vector<quint32> order(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        order[i] = keys[i].index;
    return order;
}

namespace {

// Place i takes the card at order[i]: followed round each cycle, every card is
// moved once, through one held aside per cycle.
void permute(std::vector<ForeignCard> &cards, std::vector<quint32> &order)
{
    static constexpr quint32 placed = std::numeric_limits<quint32>::max();
    for (size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start || order[start] == placed)
            continue;
        ForeignCard held = std::move(cards[start]);
        size_t at = start;
        while (order[at] != start) {
            const size_t from = order[at];
            cards[at] = std::move(cards[from]);
            order[at] = placed;
            at = from;
        }
        cards[at] = std::move(held);
        order[at] = placed;
    }
}

} // namespace

void sortForQueue(std::vector<ForeignCard> &cards)
{
    std::vector<quint32> order = queueOrder(cards);
    permute(cards, order);
}

} // namespace tarlivo::transfer::foreign
