#pragma once

// The files sync writes into the folder: their names, their layout (a header with the
// body's length and SHA-256 checksum, then the body in CBOR) and their careful reading.

#include "store/syncstore.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace tarlivo::sync {

// What one file holds besides the entities.
struct FileHeader {
    QString collection;
    QString machine;
    QString host;
    qint64 number = 0;
    qint64 written = 0; // seconds since 1970 UTC
    qint32 part = 1;    // of a file in parts (a large first sync, a snapshot), from 1
    bool last = true;   // the last part of a file of changes
};

// How a file in the folder is taken.
enum class FileKind {
    Changes,      // "00000012.tarlivo", or "00000012-0003.tarlivo" a part of it: applied
    Snapshot,     // "stand-00000004.tarlivo": a snapshot's list of its parts and what it covers
    SnapshotPart, // "stand-00000004-0001.tarlivo"
    Acks,         // "quittung.tarlivo": the files of every machine this one has applied (rewritten)
    ToolCopy,     // a sync tool's conflict or temporary copy: skipped and counted
    OwnTemp,      // a half-written file of ours: left alone
    Other,        // anything else: not ours, left alone
};
// part: 0 for a file written whole (and a snapshot's list).
FileKind kindOfName(const QString &name, qint64 *number = nullptr, qint32 *part = nullptr);
QString fileName(qint64 number, qint32 part = 0);
QString snapshotName(qint64 number, qint32 part = 0);
QString acksName();

// The body of a file, checked against the name it lies under.
enum class BodyKind { Changes = 0, SnapshotPart = 1, Snapshot = 2, Acks = 3 };

enum class ReadResult { Ok, Incomplete, Damaged, OtherCollection };

QByteArray encode(const FileHeader &header, const store::SyncBatch &batch, BodyKind kind = BodyKind::Changes);
// Never trusts the bytes: sizes, types and counts are checked.
ReadResult decode(const QByteArray &bytes, const QString &collection, FileHeader *header, store::SyncBatch *batch,
                  BodyKind kind = BodyKind::Changes);

// A snapshot's list: the files it covers and the checksum of each part's body, so that
// parts of another attempt never count as its own.
struct SnapshotIndex {
    FileHeader header;
    store::SyncCovers covers;
    std::vector<QByteArray> parts;
    // The checksums of the pictures and sounds its cards use; none from a list written
    // before lists named them.
    std::optional<std::vector<QByteArray>> media;
};
QByteArray encodeSnapshot(const SnapshotIndex &index);
ReadResult decodeSnapshot(const QByteArray &bytes, const QString &collection, SnapshotIndex *index);
// A machine's acknowledgements: every file of each machine it has applied.
QByteArray encodeAcks(const FileHeader &header, const store::SyncCovers &applied);
ReadResult decodeAcks(const QByteArray &bytes, const QString &collection, FileHeader *header,
                      store::SyncCovers *applied);
// The checksum of a file's body as its header gives it (empty for a file too short).
QByteArray bodyChecksum(const QByteArray &bytes);
// The header only (to list the machines); nullopt for a file that does not read.
std::optional<FileHeader> decodeHeader(const QByteArray &bytes);

// The largest file read (and written): beyond it a file counts as damaged.
inline constexpr qint64 kMaxFileSize = qint64(1) << 30;

} // namespace tarlivo::sync
