#pragma once

#include "store/internal.h"

#include <optional>
#include <vector>

namespace tarlivo::store {

// The card list: its pages and rows, and its changes to several cards or a whole
// subject at once, each one write transaction.
class CardList : StorePart {
public:
    explicit CardList(Store &store);

    Change deleteCards(const std::vector<qint32> &cardIds);
    Change moveCardsToSubject(const std::vector<qint32> &cardIds, qint32 subjectId);
    Change setCompartment(const std::vector<qint32> &cardIds, qint32 compartment, Direction direction);
    Change deleteSubject(qint32 subjectId);
    Change editCard(qint32 cardId, const QString &question, const QString &answer, const std::vector<MediaEdit> &media);
    std::vector<SubjectRow> subjectRows();
    std::vector<CardListRow> cardPage(std::optional<qint32> subjectId, qint64 offset, int limit, bool fromEnd);
    std::vector<CardListRow> cardListRows(const std::vector<qint32> &cardIds);

private:
    // Inside the write: every card must still be there, or nothing is done.
    std::vector<CardRow> cardRowsOrThrow(const std::vector<qint32> &cardIds);
};

} // namespace tarlivo::store
