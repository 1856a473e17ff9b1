#include "transfer/foreignfile.h"

#include "transfer/kvtml.h"
#include "transfer/pauker.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QIODevice>

namespace tarlivo::transfer {
namespace {

using foreign::ForeignReader;
using foreign::XmlAttributes;
using foreign::XmlHandler;

// The root element says which reader gets the rest.
class Dispatch : public XmlHandler {
public:
    Dispatch(const QString &path, ForeignKind *kind) : m_path(path), m_kind(kind) {}

    bool start(int depth, std::string_view name, const XmlAttributes &attributes) override
    {
        if (depth > 0)
            return reader->start(depth, name, attributes);
        if (name == "kvtml") {
            *m_kind = ForeignKind::Kvtml;
            reader = kvtmlReader(attributes, m_path);
        } else if (name == "Lesson") {
            *m_kind = ForeignKind::Pauker;
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

private:
    const QString &m_path;
    ForeignKind *m_kind;
};

} // namespace

ForeignCards readForeign(QIODevice &device, const QString &path, ForeignKind *kind)
{
    std::unique_ptr<QIODevice> gzip;
    if (foreign::isGzip(device.peek(2)))
        gzip = foreign::gunzipping(device, path);
    Dispatch dispatch(path, kind);
    foreign::parseXml(gzip ? *gzip : device, path, dispatch);
    if (!dispatch.reader)
        throw TransferError(text::unknownKind(path));
    ForeignCards cards = dispatch.reader->finish();
    foreign::sortForQueue(cards.cards);
    return cards;
}

} // namespace tarlivo::transfer
