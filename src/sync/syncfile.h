#pragma once

// The files sync writes into the folder: their names, their layout (a header with the
// body's length and SHA-256 checksum, then the body in CBOR) and their careful reading.

#include "store/syncstore.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace tarlivo::sync {

// What one file holds besides the entities.
struct FileHeader {
    QString collection;
    QString machine;
    QString host;
    qint64 number = 0;
    qint64 written = 0; // seconds since 1970 UTC
};

// How a file in the folder is taken.
enum class FileKind {
    Changes,  // "00000012.tarlivo": applied
    ToolCopy, // a sync tool's conflict or temporary copy: skipped and counted
    OwnTemp,  // a half-written file of ours: left alone
    Other,    // anything else: not ours, left alone
};
FileKind kindOfName(const QString &name, qint64 *number = nullptr);
QString fileName(qint64 number);

enum class ReadResult { Ok, Incomplete, Damaged, OtherCollection };

QByteArray encode(const FileHeader &header, const store::SyncBatch &batch);
// Never trusts the bytes: sizes, types and counts are checked.
ReadResult decode(const QByteArray &bytes, const QString &collection, FileHeader *header, store::SyncBatch *batch);
// The header only (to list the machines); nullopt for a file that does not read.
std::optional<FileHeader> decodeHeader(const QByteArray &bytes);

// The largest file read (and written): beyond it a file counts as damaged.
inline constexpr qint64 kMaxFileSize = qint64(1) << 30;

} // namespace tarlivo::sync
