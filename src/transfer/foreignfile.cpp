#include "transfer/foreignfile.h"

#include "transfer/kvtml.h"
#include "transfer/pauker.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QFile>
#include <QIODevice>

#include <utility>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

using foreign::ForeignReader;
using foreign::XmlAttributes;
using foreign::XmlHandler;

// The root element says which reader gets the rest.
class Dispatch : public XmlHandler {
public:
    explicit Dispatch(const QString &path) : m_path(path) {}

    bool start(int depth, std::string_view name, const XmlAttributes &attributes) override
    {
        if (depth > 0)
            return reader->start(depth, name, attributes);
        if (name == "kvtml") {
            kind = ForeignKind::Kvtml;
            reader = kvtmlReader(attributes, m_path);
        } else if (name == "Lesson") {
            kind = ForeignKind::Pauker;
            reader = paukerReader(attributes, m_path);
        } else {
            throw TransferError(text::unknownKind(m_path));
        }
        return false;
    }
    void text(int depth, std::string_view utf8) override { reader->text(depth, utf8); }
    void end(int depth) override
    {
        if (depth > 0)
            reader->end(depth);
    }

    std::unique_ptr<ForeignReader> reader;
    ForeignKind kind = ForeignKind::Kvtml;

private:
    const QString &m_path;
};

// A whole file's cards are taken over, not copied: there is room for them once.
void append(ForeignCards &to, ForeignCards &&from)
{
    if (to.refused.empty())
        to.refused = std::move(from.refused);
    else
        to.refused.insert(to.refused.end(), from.refused.begin(), from.refused.end());
    if (to.cards.empty())
        to.cards = std::move(from.cards);
    else
        to.cards.insert(to.cards.end(), std::make_move_iterator(from.cards.begin()),
                        std::make_move_iterator(from.cards.end()));
}

} // namespace

// One reading of a file, from its first byte on.
class ForeignParse {
public:
    // Both read up to the root element, which says the kind.
    ForeignParse(QIODevice &device, const QString &path) : m_path(path), m_dispatch(m_path) { begin(device); }

    ForeignParse(const QString &path, bool subjectsGiven) : m_path(path), m_dispatch(m_path), m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly))
            throw TransferError(text::readFailed(path));
        begin(m_file);
        m_dispatch.reader->subjectsGiven = subjectsGiven;
    }

    ForeignKind kind() const { return m_dispatch.kind; }
    // Before anything below the root is read.
    void setSubjectsGiven(bool given) { m_dispatch.reader->subjectsGiven = given; }

    // Parses on until some cards are read; false once the document is through and
    // everything is handed out. In file order.
    bool more(ForeignCards &out)
    {
        ForeignCards &settled = m_dispatch.reader->settled;
        while (settled.cards.empty() && settled.refused.empty() && !m_ended)
            advance();
        if (settled.cards.empty() && settled.refused.empty())
            return false;
        out = std::exchange(settled, ForeignCards());
        if (!m_ended)
            m_handedOut = true;
        return true;
    }

    // One piece further; what it settles waits for more().
    void advance()
    {
        if (m_ended || m_xml->step())
            return;
        m_ended = true;
        append(m_dispatch.reader->settled, m_dispatch.reader->finish());
    }

    // Everything was handed out at the end, at once.
    bool wholeAtOnce() const { return m_ended && !m_handedOut; }

private:
    void begin(QIODevice &device)
    {
        if (foreign::isGzip(device.peek(2)))
            m_gzip = foreign::gunzipping(device, m_path);
        m_xml = std::make_unique<foreign::XmlParse>(m_gzip ? *m_gzip : device, m_path, m_dispatch);
        while (!m_dispatch.reader && m_xml->step()) {
        }
        if (!m_dispatch.reader)
            throw TransferError(text::unknownKind(m_path));
    }

    QString m_path;
    Dispatch m_dispatch;
    QFile m_file;
    std::unique_ptr<QIODevice> m_gzip;
    std::unique_ptr<foreign::XmlParse> m_xml;
    bool m_ended = false;
    bool m_handedOut = false; // some cards went out before the end
};

ForeignFile::ForeignFile(const QString &path) : m_path(path), m_parse(std::make_unique<ForeignParse>(path, false))
{
    m_kind = m_parse->kind();
}

ForeignFile::~ForeignFile() = default;

bool ForeignFile::next(ForeignCard &card, RefusedLine &refusal, bool &refused)
{
    for (;;) {
        if (m_nextRefused < m_ready.refused.size()) {
            refusal = m_ready.refused[m_nextRefused++];
            refused = true;
            return true;
        }
        if (m_nextCard < m_ready.cards.size()) {
            // While a batch is handed out the reading goes on, a piece every so many
            // cards, so that it keeps ahead of the writing rather than waiting for it.
            if (m_parse && m_nextCard % kCardsPerPiece == kCardsPerPiece - 1)
                m_parse->advance();
            ForeignCard &c = m_ready.cards[m_nextCard++];
            card = m_kept ? c : std::move(c);
            refused = false;
            return true;
        }
        if (m_kept || !fill())
            return false;
    }
}

bool ForeignFile::fill()
{
    if (!m_parse)
        m_parse = std::make_unique<ForeignParse>(m_path, m_subjectsGiven);
    m_nextRefused = m_nextCard = 0;
    m_begun = true;
    if (!m_parse->more(m_ready))
        return false;
    // Read with subjects given, the cards lack their lessons' subjects: not kept.
    if (m_parse->wholeAtOnce() && !m_subjectsGiven) {
        m_kept = true;
        m_parse.reset();
    }
    return true;
}

void ForeignFile::setSubjectsGiven(bool given)
{
    m_subjectsGiven = given;
    if (m_parse && !m_begun)
        m_parse->setSubjectsGiven(given);
}

void ForeignFile::restart()
{
    m_nextRefused = m_nextCard = 0;
    // Kept whole, or not read past its first element (as when just opened): it
    // stands at its start already.
    if (m_kept || !m_begun)
        return;
    m_ready = ForeignCards();
    m_parse.reset();
    m_begun = false;
}

ForeignCards readForeign(QIODevice &device, const QString &path, ForeignKind *kind)
{
    ForeignParse parse(device, path);
    *kind = parse.kind();
    ForeignCards all, some;
    while (parse.more(some))
        append(all, std::move(some));
    foreign::sortForQueue(all.cards);
    return all;
}

} // namespace tarlivo::transfer
