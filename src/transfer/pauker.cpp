#include "transfer/pauker.h"

#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QXmlStreamReader>

#include <utility>

namespace tarlivo::transfer {

// <Lesson> holds an optional <Description> and the <Batch>es in order, each with its
// <Card>s. A card's sides are <FrontSide> and <ReverseSide> (<BackSide> in older
// files), each with its <Text>; the front side's LearnedTimestamp (milliseconds
// since 1970) says when the card came into its long-term batch.
ForeignCards readPauker(QXmlStreamReader &xml, const QString &path)
{
    ForeignCards result;
    QString description;
    qint64 number = 0;
    int batch = -1;
    int depth = 1;
    // Within a card: which side is open (0 front, 1 reverse, -1 none).
    bool inCard = false;
    int side = -1;
    ForeignCard card;
    while (!xml.atEnd()) {
        foreign::readToken(xml, path);
        if (xml.isEndElement()) {
            --depth;
            if (depth == 0)
                break;
            if (depth == 3)
                side = -1;
            if (depth == 2 && inCard) {
                inCard = false;
                if (card.frage.trimmed().isEmpty())
                    result.refused.push_back(RefusedLine{card.number, LineProblem::EmptyFrage, QString(), true});
                else if (card.antwort.trimmed().isEmpty())
                    result.refused.push_back(RefusedLine{card.number, LineProblem::EmptyAntwort, QString(), true});
                else
                    result.cards.push_back(std::exchange(card, ForeignCard()));
            }
            continue;
        }
        if (!xml.isStartElement())
            continue;
        const QStringView name = xml.name();
        if (depth == 1 && name == QLatin1String("Description")) {
            description = foreign::elementText(xml, path, 0);
            continue;
        }
        if (depth == 1 && name == QLatin1String("Batch")) {
            ++batch;
        } else if (depth == 2 && batch >= 0 && name == QLatin1String("Card")) {
            card = ForeignCard();
            card.number = ++number;
            // The not-learned batch and the two short-term ones are due at once.
            card.fach = batch >= 3 ? batch - 1 : 1;
            inCard = true;
        } else if (depth == 3 && inCard) {
            if (name == QLatin1String("FrontSide")) {
                side = 0;
                bool ok = false;
                const qint64 learned = xml.attributes().value(QLatin1String("LearnedTimestamp")).toLongLong(&ok);
                if (ok && batch >= 3 && learned > 0)
                    card.seit = learned / 1000;
            } else if (name == QLatin1String("ReverseSide") || name == QLatin1String("BackSide")) {
                side = 1;
            }
        } else if (depth == 4 && side >= 0 && name == QLatin1String("Text")) {
            QString &text = side == 0 ? card.frage : card.antwort;
            const QString read = foreign::elementText(xml, path, card.number);
            if (text.isEmpty())
                text = read;
            continue;
        }
        ++depth;
    }
    foreign::checkEnd(xml, path);
    const QString subject =
        foreign::defaultSubject(description.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed(), path);
    for (ForeignCard &c : result.cards)
        c.subject = subject;
    return result;
}

} // namespace tarlivo::transfer
