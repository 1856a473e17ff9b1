#include "transfer/foreign.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QFileInfo>
#include <QXmlStreamReader>

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace tarlivo::transfer::foreign {

bool isGzip(const QByteArray &data) { return data.size() >= 2 && data[0] == '\x1f' && data[1] == '\x8b'; }

QByteArray gunzip(const QByteArray &packed, const QString &path)
{
    const qint64 limit = std::min(kMaxUnpacked, kMaxRatio * std::max<qint64>(packed.size(), 1));
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        throw TransferError(text::gzipDamaged(path, QStringLiteral("zlib")));
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    stream.avail_in = uInt(packed.size());
    QByteArray out;
    int rc = Z_OK;
    // Unpacked a piece at a time, so that a bomb is stopped at the limit, not after.
    while (rc != Z_STREAM_END) {
        const qsizetype at = out.size();
        const qsizetype piece = 256 * 1024;
        out.resize(at + piece);
        stream.next_out = reinterpret_cast<Bytef *>(out.data() + at);
        stream.avail_out = uInt(piece);
        rc = inflate(&stream, Z_NO_FLUSH);
        out.resize(at + piece - qsizetype(stream.avail_out));
        if (rc == Z_BUF_ERROR && stream.avail_in == 0) {
            inflateEnd(&stream);
            throw TransferError(text::gzipDamaged(path, QStringLiteral("unvollständig")));
        }
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            const QString why = stream.msg ? QString::fromLatin1(stream.msg) : QString::number(rc);
            inflateEnd(&stream);
            throw TransferError(text::gzipDamaged(path, why));
        }
        if (out.size() > limit) {
            inflateEnd(&stream);
            throw TransferError(text::gzipTooLarge(path));
        }
    }
    inflateEnd(&stream);
    return out;
}

void readToken(QXmlStreamReader &xml, const QString &path)
{
    if (xml.readNext() == QXmlStreamReader::DTD
        && (!xml.entityDeclarations().isEmpty() || xml.text().contains(QLatin1String("<!ENTITY"))))
        throw TransferError(text::xmlEntities(path));
}

void checkEnd(const QXmlStreamReader &xml, const QString &path)
{
    if (xml.hasError())
        throw TransferError(text::notWellFormed(path, xml.lineNumber(), xml.errorString()));
}

QString rootElement(const QByteArray &data, const QString &path)
{
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        readToken(xml, path);
        if (xml.isStartElement())
            return xml.name().toString();
    }
    return QString();
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
