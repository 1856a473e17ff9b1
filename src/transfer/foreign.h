#pragma once

#include "store/media.h"
#include "transfer/importtypes.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>
#include <QTime>

#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class QIODevice;

// What the readers of other trainers' files (kvtml, Pauker) share: the cards they
// find, with where each stands, and the checks every such file goes through.
namespace tarlivo::transfer {

struct ForeignCard {
    qint64 number = 0; // from 1, in file order
    QString subject;
    QString question;
    QString answer;
    qint32 compartment = 1;
    std::optional<qint64> enteredAt; // seconds since 1970 UTC; none: now
    // The reverse place, where the file keeps a grade for the other way.
    std::optional<qint32> reverseCompartment = {};
    std::optional<qint64> reverseEnteredAt = {};
    // Pictures and sounds the file names beside it, and how many of them could not be taken.
    std::vector<store::MediaInput> media = {};
    int mediaMissing = 0;
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
// and parseXml then says why.
std::unique_ptr<QIODevice> gunzipping(QIODevice &source, const QString &path);

// One element's attributes as the parser hands them over: valid only during start().
class XmlAttributes {
public:
    XmlAttributes(const void *const *raw, int count) : m_raw(raw), m_count(count) {}
    // The value of the attribute without a prefix of that name, or empty.
    std::string_view value(std::string_view name) const;
    bool has(std::string_view name) const;

private:
    const void *const *m_raw; // libxml2's five pointers per attribute
    int m_count;
};

// What a reader does with the elements as they come.
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    // An element opens at depth (the root 0). Returning true asks for its text, its
    // children's included; it then comes to text(), in UTF-8, instead of the children
    // and end(). A text is cut past 3 * kMaxText + 3 bytes: too long either way.
    virtual bool start(int depth, std::string_view name, const XmlAttributes &attributes) = 0;
    virtual void text(int depth, std::string_view utf8) = 0;
    virtual void end(int depth) = 0;
};

// A reader of one kind of file. Cards complete while the document is still read go
// to settled, in file order, to be taken from there as the parse goes on (the store
// gives them their queue places at the end); finish() gives the rest once the
// document is through.
class ForeignReader : public XmlHandler {
public:
    ForeignCards settled;
    // Set before the first element below the root: the caller puts every card into
    // a subject of its own choosing, so lessons need not be waited for.
    bool subjectsGiven = false;
    virtual ForeignCards finish() = 0;
};

class SaxDriver;

// Parses the device's XML (libxml2, as a stream: no tree is built) and hands it to
// the handler, a piece at a time. Entities are never expanded and nothing is loaded
// from elsewhere; a DOCTYPE that declares entities is refused as soon as it is
// read. What the handler throws ends the parse and comes out of step().
class XmlParse {
public:
    XmlParse(QIODevice &device, const QString &path, XmlHandler &handler);
    ~XmlParse();
    XmlParse(const XmlParse &) = delete;
    XmlParse &operator=(const XmlParse &) = delete;
    // Parses the next piece; false once the document is through. Throws TransferError.
    bool step();

private:
    QIODevice &m_device;
    std::unique_ptr<SaxDriver> m_driver;
};

// The whole document at once. Throws TransferError.
void parseXml(QIODevice &device, const QString &path, XmlHandler &handler);

// The text, refused when longer than kMaxText. Throws TransferError.
QString textOf(std::string_view utf8, const QString &path, qint64 number);
// Whether the text is empty or blanks alone (as trimmed() would leave it empty),
// without making the trimmed copy.
bool isBlank(const QString &text);
// A whole number, blanks around it allowed; ok tells whether it was one.
qint64 toNumber(std::string_view text, bool *ok = nullptr);

// Local wall-clock times as seconds since 1970 UTC. The C library reads the zone
// file again for every conversion; within an hour without a change of the clocks
// the offset holds, so such an hour is converted once.
class LocalTimes {
public:
    std::optional<qint64> seconds(QDate date, QTime time);

private:
    static constexpr qint64 kUneven = std::numeric_limits<qint64>::min(); // the clocks change in it
    QHash<qint64, qint64> m_hourStarts;                                   // by day * 24 + hour
};

// The subject for cards in no lesson: the given title without a trailing
// extension, else the file's name without its extensions.
QString defaultSubject(const QString &title, const QString &path);

// The order the cards queue in: by compartment, then by entry time (none counts as
// now, after every time from the file), then in file order. As indexes into cards;
// empty when they stand in it already.
std::vector<quint32> queueOrder(const std::vector<ForeignCard> &cards);
// Moves the cards into their queue order.
void sortForQueue(std::vector<ForeignCard> &cards);

} // namespace foreign
} // namespace tarlivo::transfer
