#pragma once

#include <QByteArray>
#include <QString>

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

// The whole file, refused when missing, unreadable, empty or too large.
QByteArray readWholeFile(const QString &path, qint64 limit);

} // namespace tarlivo::transfer
