#include "transfer/textdecode.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace tarlivo::transfer {

QByteArray readWholeFile(const QString &path, qint64 limit)
{
    QFile file(path);
    if (!file.exists())
        throw TransferError(text::fileMissing(path));
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        throw TransferError(text::fileUnreadable(path));
    const qint64 size = file.size();
    if (size > limit)
        throw TransferError(text::fileTooLarge(path, limit));
    QByteArray bytes;
    // A pipe or a file growing meanwhile reports no size or a wrong one: read in
    // steps and stop at the limit.
    bytes.reserve(size > 0 ? size : 0);
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            throw TransferError(text::readFailed(path));
        if (n == 0)
            break;
        if (bytes.size() + n > limit)
            throw TransferError(text::fileTooLarge(path, limit));
        bytes.append(buffer, n);
    }
    if (file.error() != QFile::NoError)
        throw TransferError(text::readFailed(path));
    if (bytes.isEmpty())
        throw TransferError(text::fileEmpty(path));
    return bytes;
}

DecodedText decodeText(const QByteArray &bytes, const QString &path)
{
    DecodedText result;
    auto decodeWith = [&](QStringConverter::Encoding encoding) {
        QStringDecoder decoder(encoding);
        result.text = decoder.decode(bytes);
        return !decoder.hasError();
    };
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        result.encoding = Encoding::Utf8Bom;
        decodeWith(QStringConverter::Utf8);
    } else if (bytes.startsWith("\xFF\xFE")) {
        result.encoding = Encoding::Utf16LE;
        decodeWith(QStringConverter::Utf16LE);
    } else if (bytes.startsWith("\xFE\xFF")) {
        result.encoding = Encoding::Utf16BE;
        decodeWith(QStringConverter::Utf16BE);
    } else if (bytes.contains('\0')) {
        throw TransferError(text::notText(path));
    } else if (!decodeWith(QStringConverter::Utf8)) {
        result.encoding = Encoding::Windows1252;
        QStringDecoder decoder("windows-1252");
        result.text = decoder.isValid() ? decoder.decode(bytes) : QString::fromLatin1(bytes);
    }
    if (result.text.contains(QChar(0)))
        throw TransferError(text::notText(path));
    return result;
}

} // namespace tarlivo::transfer
