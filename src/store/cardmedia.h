#pragma once

#include "store/internal.h"
#include "store/step.h"

#include <optional>
#include <vector>

namespace tarlivo::store {

// Pictures and sounds on cards: each content once in tblMedium (its checksum is
// unique), linked to card sides by tblKarteMedium. Triggers drop a link with its card
// and a content with its last link.
class MediaLibrary : StorePart {
public:
    explicit MediaLibrary(Store &store);

    std::vector<MediaFile> cardMedia(qint64 cardId, CardSide side);
    QByteArray bytes(qint64 mediaId);
    std::vector<qint32> cardsWithMedia(const std::vector<qint32> &cardIds);
    std::optional<MediaRow> row(qint64 mediaId);
    std::optional<MediaLinkRow> linkRow(qint32 cardId, CardSide side, MediaKind kind);
    // The key of the content with these bytes, stored now when new (and then recorded in change).
    qint64 add(const QString &name, MediaKind kind, const QByteArray &bytes, Change *change);
    void link(qint32 cardId, CardSide side, MediaKind kind, qint64 mediaId);
    void unlink(const MediaLinkRow &row);
    // Before cards are deleted: their links, and the contents no other card uses.
    void recordOfCards(const QString &keyList, Change &change);
    void applyEdits(qint32 cardId, const std::vector<MediaEdit> &edits, Change &change);
    // Whether a content of these bytes is stored; whether the file of that key and kind is.
    bool holdsContent(const QByteArray &checksum);
    bool holds(qint64 mediaId, MediaKind kind);
    // Whether a card shows the file.
    bool inUse(qint64 mediaId);
    // A file's row as recorded, written back; taken away.
    void insertRow(const MediaRow &row);
    void removeRow(qint64 mediaId);
};

// A media file; its rows never change, they only come and go.
template <>
struct StepRows<MediaRow> : NothingToVerify {
    static void check(Step &step, const RowChange<MediaRow> &c);
    static void arrive(Step &step, const RowChange<MediaRow> &c);
    static void leave(Step &step, const RowChange<MediaRow> &c);
};

// A card side's file; a file no card shows any more goes by trigger.
template <>
struct StepRows<MediaLinkRow> : NothingToVerify {
    static void check(Step &step, const RowChange<MediaLinkRow> &c);
    static void arrive(Step &step, const RowChange<MediaLinkRow> &c);
    static void leave(Step &step, const RowChange<MediaLinkRow> &c);
};

} // namespace tarlivo::store
