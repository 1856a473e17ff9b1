#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringDecoder>

#include "transfer/importtypes.h"

namespace tarlivo::transfer {

struct DecodedText {
    QString text;
    Encoding encoding = Encoding::Utf8;
};

// UTF-8 with or without byte order mark, UTF-16 with one; anything that is not
// valid UTF-8 is taken as Windows-1252. Throws TransferError for a file holding NUL
// characters, which no text file does.
DecodedText decodeText(const QByteArray &bytes, const QString &path);

// Text handed out a piece at a time, so that a file of any size is read with a
// few buffers' memory.
class TextSource {
public:
    virtual ~TextSource() = default;
    // Appends the next piece to text; false at the end. Throws TransferError.
    virtual bool readMore(QString &text) = 0;
    // Back to the first character.
    virtual void rewind() = 0;
};

// A text held whole (tests, fuzzing).
class WholeText : public TextSource {
public:
    explicit WholeText(QString text) : m_text(std::move(text)) {}
    bool readMore(QString &text) override;
    void rewind() override { m_given = false; }

private:
    QString m_text;
    bool m_given = false;
};

// A text file, decoded as it is read, by the rules of decodeText. The encoding is
// settled at open by one pass over the bytes; throws TransferError.
class TextFile : public TextSource {
public:
    explicit TextFile(const QString &path);
    Encoding encoding() const { return m_encoding; }
    bool readMore(QString &text) override;
    void rewind() override;

private:
    QByteArrayView readPiece();

    QString m_path;
    QFile m_file;
    QByteArray m_piece;
    Encoding m_encoding = Encoding::Utf8;
    QStringDecoder m_decoder;
};

} // namespace tarlivo::transfer
