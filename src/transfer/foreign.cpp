#include "transfer/foreign.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QFileInfo>
#include <QIODevice>
#include <QXmlStreamReader>

#include <zlib.h>

#include <algorithm>
#include <limits>

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
        open(QIODevice::ReadOnly);
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

void readToken(QXmlStreamReader &xml, const QString &path)
{
    if (xml.readNext() == QXmlStreamReader::DTD
        && (!xml.entityDeclarations().isEmpty() || xml.text().contains(QLatin1String("<!ENTITY"))))
        throw TransferError(text::xmlEntities(path));
}

std::unique_ptr<QIODevice> gunzipping(QIODevice &source, const QString &path)
{
    return std::make_unique<GzipDevice>(source, path);
}

void checkEnd(const QXmlStreamReader &xml, const QString &path)
{
    if (const auto *gzip = dynamic_cast<const GzipDevice *>(xml.device()); gzip && !gzip->failure().isEmpty())
        throw TransferError(gzip->failure());
    if (xml.hasError())
        throw TransferError(text::notWellFormed(path, xml.lineNumber(), xml.errorString()));
}

QString elementText(QXmlStreamReader &xml, const QString &path, qint64 number)
{
    QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
    if (text.size() > kMaxText)
        throw TransferError(text::entryTooLong(path, number));
    return text;
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

void sortForQueue(std::vector<ForeignCard> &cards)
{
    static constexpr qint64 now = std::numeric_limits<qint64>::max();
    std::sort(cards.begin(), cards.end(), [](const ForeignCard &a, const ForeignCard &b) {
        if (a.fach != b.fach)
            return a.fach < b.fach;
        const qint64 sa = a.seit.value_or(now), sb = b.seit.value_or(now);
        if (sa != sb)
            return sa < sb;
        return a.number < b.number;
    });
}

} // namespace tarlivo::transfer::foreign
