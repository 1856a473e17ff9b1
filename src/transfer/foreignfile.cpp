#include "transfer/foreignfile.h"

#include "transfer/kvtml.h"
#include "transfer/pauker.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QIODevice>
#include <QXmlStreamReader>

namespace tarlivo::transfer {

ForeignCards readForeign(QIODevice &device, const QString &path, ForeignKind *kind)
{
    std::unique_ptr<QIODevice> gzip;
    if (foreign::isGzip(device.peek(2)))
        gzip = foreign::gunzipping(device, path);
    QXmlStreamReader xml(gzip ? gzip.get() : &device);
    while (!xml.atEnd() && !xml.isStartElement())
        foreign::readToken(xml, path);
    foreign::checkEnd(xml, path);
    ForeignCards cards;
    if (xml.name() == QLatin1String("kvtml")) {
        *kind = ForeignKind::Kvtml;
        cards = readKvtml(xml, path);
    } else if (xml.name() == QLatin1String("Lesson")) {
        *kind = ForeignKind::Pauker;
        cards = readPauker(xml, path);
    } else {
        throw TransferError(text::unknownKind(path));
    }
    foreign::sortForQueue(cards.cards);
    return cards;
}

} // namespace tarlivo::transfer
