#pragma once

#include "transfer/importtypes.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QIODevice;
class QXmlStreamReader;

// What the readers of other trainers' files (kvtml, Pauker) share: the cards they
// find, with where each stands, and the checks every such file goes through.
namespace tarlivo::transfer {

struct ForeignCard {
    qint64 number = 0; // from 1, in file order
    QString subject;
    QString frage;
    QString antwort;
    qint32 fach = 1;
    std::optional<qint64> seit; // seconds since 1970 UTC; none: now
    // The reverse place, where the file keeps a grade for the other way.
    std::optional<qint32> reverseFach = {};
    std::optional<qint64> reverseSeit = {};
};

struct ForeignCards {
    std::vector<ForeignCard> cards;
    std::vector<RefusedLine> refused; // entries left out, and why
};

namespace foreign {

// Unpacked data past this is refused, as is more than kMaxRatio times the packed size.
inline constexpr qint64 kMaxUnpacked = 200 * 1024 * 1024;
inline constexpr qint64 kMaxRatio = 200;
// A text the store would hold is far shorter; the text import draws the same line.
inline constexpr qsizetype kMaxText = 16 * 1024 * 1024;

bool isGzip(const QByteArray &head);
// The source's gzip stream unpacked as it is read; it fails past the limits above,
// and checkEnd then says why.
std::unique_ptr<QIODevice> gunzipping(QIODevice &source, const QString &path);

// Reads one token and refuses a DOCTYPE with entities before anything is expanded.
// Throws TransferError.
void readToken(QXmlStreamReader &xml, const QString &path);
// After the loop: throws TransferError when the document is not well-formed, or
// its gzip stream is damaged or unpacks too far.
void checkEnd(const QXmlStreamReader &xml, const QString &path);
// An element's text, refused when longer than kMaxText. Throws TransferError.
QString elementText(QXmlStreamReader &xml, const QString &path, qint64 number);

// The subject for cards in no lesson: the given title without a trailing
// extension, else the file's name without its extensions.
QString defaultSubject(const QString &title, const QString &path);

// Orders the cards as they queue: by compartment, then by entry time (none counts
// as now, after every time from the file), then in file order.
void sortForQueue(std::vector<ForeignCard> &cards);

} // namespace foreign
} // namespace tarlivo::transfer
