#pragma once

#include <QByteArray>
#include <QString>

namespace tarlivo::store {

// A card's two sides; each may hold one picture and one sound beside its text.
enum class CardSide { Question, Answer };
enum class MediaKind { Picture, Sound };

// A file stored in the data file, as a side of a card names it.
struct MediaFile {
    qint64 id = 0;
    QString name; // the file name it came with
    MediaKind kind = MediaKind::Picture;
};

// A file to be put on a card: from an import or chosen by the user.
struct MediaInput {
    CardSide side = CardSide::Question;
    MediaKind kind = MediaKind::Picture;
    QString name;
    QByteArray bytes;
};

// One change of a card's media: a file set on a side (replacing one of its kind),
// or, without bytes and name, the side's file of that kind removed.
struct MediaEdit {
    CardSide side = CardSide::Question;
    MediaKind kind = MediaKind::Picture;
    bool remove = false;
    QString name;
    QByteArray bytes;
};

// What a file's name says it is: a picture, a sound, or (false) neither.
bool mediaKindOfName(const QString &name, MediaKind *kind);

// The rows undo keeps. A content row carries its bytes, so that a file removed with
// its last card comes back whole; rows compare by key, name, kind and checksum.
struct MediaRow {
    qint64 id = 0;
    QString name;
    MediaKind kind = MediaKind::Picture;
    QByteArray checksum;
    QByteArray bytes;
    bool operator==(const MediaRow &o) const
    {
        return id == o.id && name == o.name && kind == o.kind && checksum == o.checksum;
    }
};

struct MediaLinkRow {
    qint32 cardId = 0;
    CardSide side = CardSide::Question;
    MediaKind kind = MediaKind::Picture;
    qint64 mediaId = 0;
    bool operator==(const MediaLinkRow &o) const
    {
        return cardId == o.cardId && side == o.side && kind == o.kind && mediaId == o.mediaId;
    }
};

} // namespace tarlivo::store
