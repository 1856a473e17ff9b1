#include "transfer/textdecode.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <vector>

using namespace tarlivo::store;

namespace tarlivo::transfer {

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

namespace tarlivo::transfer {
namespace {

// Bytes read at a time: large enough that the reads cost nothing beside the parsing.
constexpr qint64 kPiece = 1 << 20;

QStringDecoder decoderFor(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
    case Encoding::Utf8Bom:
        return QStringDecoder(QStringConverter::Utf8);
    case Encoding::Utf16LE:
        return QStringDecoder(QStringConverter::Utf16LE);
    case Encoding::Utf16BE:
        return QStringDecoder(QStringConverter::Utf16BE);
    case Encoding::Windows1252:
        break;
    }
    QStringDecoder windows("windows-1252");
    return windows.isValid() ? std::move(windows) : QStringDecoder(QStringConverter::Latin1);
}

} // namespace

bool WholeText::readMore(QString &text)
{
    if (m_given)
        return false;
    m_given = true;
    text += m_text;
    return true;
}

TextFile::TextFile(const QString &path) : m_path(path), m_file(path)
{
    if (!m_file.exists())
        throw TransferError(text::fileMissing(path));
    if (QFileInfo(path).isDir() || !m_file.open(QIODevice::ReadOnly))
        throw TransferError(text::fileUnreadable(path));
    const QByteArray head = m_file.peek(3);
    if (head.isEmpty())
        throw TransferError(m_file.error() == QFile::NoError ? text::fileEmpty(path) : text::readFailed(path));
    if (head.startsWith("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8Bom;
    } else if (head.startsWith("\xFF\xFE")) {
        m_encoding = Encoding::Utf16LE;
    } else if (head.startsWith("\xFE\xFF")) {
        m_encoding = Encoding::Utf16BE;
    } else {
        // UTF-8 only when the whole file is: one pass over the bytes, nothing kept.
        // The same two buffers serve every piece; a fresh one each time would be
        // mapped, faulted in and unmapped piece by piece, most of this pass's time.
        QStringDecoder check(QStringConverter::Utf8);
        std::vector<QChar> scratch(size_t(check.requiredSpace(kPiece)));
        for (;;) {
            const QByteArrayView piece = readPiece();
            if (piece.isEmpty())
                break;
            if (piece.contains('\0'))
                throw TransferError(text::notText(path));
            if (!check.hasError())
                check.appendToBuffer(scratch.data(), piece);
        }
        if (check.hasError())
            m_encoding = Encoding::Windows1252;
    }
    TextFile::rewind(); // this class's own: the object is still being made
}

void TextFile::rewind()
{
    m_file.seek(0);
    m_decoder = decoderFor(m_encoding);
}

QByteArrayView TextFile::readPiece()
{
    m_piece.resize(kPiece);
    const qint64 got = m_file.read(m_piece.data(), kPiece);
    if (got < 0 || (got == 0 && m_file.error() != QFile::NoError))
        throw TransferError(text::readFailed(m_path));
    return QByteArrayView(m_piece.constData(), got);
}

bool TextFile::readMore(QString &text)
{
    const QByteArrayView piece = readPiece();
    if (piece.isEmpty())
        return false;
    const qsizetype from = text.size();
    text += m_decoder.decode(piece);
    if (text.indexOf(QChar(0), from) >= 0)
        throw TransferError(text::notText(m_path));
    return true;
}

} // namespace tarlivo::transfer
