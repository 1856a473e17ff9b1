#include "print/document.h"

#include "store/store.h"

#include <limits>

using namespace tarlivo::store;

namespace tarlivo::print {
namespace {

QByteArray pictureOf(Store &store, qint32 cardId, CardSide side)
{
    for (const MediaFile &file : store.cardMedia(cardId, side))
        if (file.kind == MediaKind::Picture)
            return store.mediaBytes(file.id);
    return {};
}

} // namespace

QSizeF pageSize(Paper paper)
{
    return paper == Paper::A4 ? QSizeF(dots(210), dots(297)) : QSizeF(8.5 * kDotsPerInch, 11 * kDotsPerInch);
}

std::vector<PrintSubject> readCards(Store &store, const PrintOptions &options)
{
    std::vector<PrintSubject> subjects;
    std::optional<qint32> only;
    if (!options.subject.isEmpty()) {
        only = store.subjectId(options.subject);
        if (!only)
            return subjects;
    }
    for (const SubjectRow &row : store.subjectRows()) {
        if (only && row.id != *only)
            continue;
        const qint64 count = store.cardCount(row.id);
        if (count == 0)
            continue;
        PrintSubject subject{row.name, {}};
        const std::vector<CardListRow> page =
            store.cardPage(row.id, 0, int(std::min<qint64>(count, std::numeric_limits<int>::max())), false);
        std::vector<qint32> ids;
        ids.reserve(page.size());
        for (const CardListRow &card : page)
            if (options.compartments.empty() || options.compartments.count(card.card.compartment))
                ids.push_back(card.card.id);
        const std::vector<qint32> withMedia = store.cardsWithMedia(ids);
        const std::set<qint32> pictured(withMedia.begin(), withMedia.end());
        subject.cards.reserve(ids.size());
        for (const CardListRow &card : page) {
            if (!options.compartments.empty() && !options.compartments.count(card.card.compartment))
                continue;
            PrintCard print{card.card.question, card.card.answer, card.card.compartment, {}, {}};
            if (pictured.count(card.card.id)) {
                print.questionPicture = pictureOf(store, card.card.id, CardSide::Question);
                print.answerPicture = pictureOf(store, card.card.id, CardSide::Answer);
            }
            subject.cards.push_back(std::move(print));
        }
        if (!subject.cards.empty())
            subjects.push_back(std::move(subject));
    }
    return subjects;
}

qint64 cardCount(const std::vector<PrintSubject> &subjects)
{
    qint64 n = 0;
    for (const PrintSubject &subject : subjects)
        n += qint64(subject.cards.size());
    return n;
}

} // namespace tarlivo::print
