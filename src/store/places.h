#pragma once

#include "store/internal.h"

#include <limits>
#include <optional>
#include <vector>

namespace tarlivo::store {

// A card's place in one direction's queue: its compartment, its queue place and when
// it came there (the fields of ReversePlace, which names the reverse one in a CardRow).
using Place = ReversePlace;

// A forward place read without its time reads so, which no recorded row holds.
inline constexpr qint64 kNoEnteredAt = std::numeric_limits<qint64>::min();

// The places of one direction. Forward places are tblPosition's rows, their times in
// tblFachSeit beside them; reverse places are tblPositionUmgekehrt's rows, each with
// its own time. Everything else about a queue is the same both ways, and is written
// once here, told which table it works on.
class Places : StorePart {
public:
    // The statements of one direction, named so that the tests can check their plans.
    struct Statements {
        const char *maxQueuePlace; // the largest queue place
        const char *compartments;  // ?1 subject: the compartments holding places, ascending
        const char *headCard;      // ?1 subject, ?2 compartment: the card that waited longest
        const char *inOrder;       // ?1 subject: asking order, the highest compartment first
        const char *atQueuePlace;  // ?1 queue place: how many hold it
        const char *put;           // ?1 card, ?2 compartment, ?3 queue place; reverse: ?4 time, ?5 its day
        const char *remove;        // ?1 card
        const char *missing;       // what a NotFound names when put finds no row for the card
    };
    static const Statements &statements(Direction direction);

    Places(Store &store, Direction direction);

    // The place after the last of the queue. Throws Limit beyond 32 bits.
    qint32 next();
    std::vector<qint32> compartments(qint32 subjectId);
    std::optional<qint32> headCard(qint32 subjectId, qint32 compartment);
    std::vector<qint32> inOrder(qint32 subjectId);
    // How many cards hold that queue place.
    qint64 holders(qint32 queuePlace);
    // Puts the card's place of this direction there. A forward place must exist; a
    // reverse one is made when missing. Throws NotFound when there is nothing to put.
    void put(qint32 cardId, const Place &place);
    // A card's first place of this direction, in its subject.
    void add(qint32 cardId, qint32 subjectId, const Place &place);
    // Puts it, or takes it away (nullopt).
    void write(qint32 cardId, const std::optional<Place> &place);
    void remove(qint32 cardId);

private:
    std::vector<qint32> keys(const char *query, qint32 subjectId);
    // Records that the card came into its forward compartment at enteredAt.
    void writeEnteredAt(qint32 cardId, qint64 enteredAt);

    const Direction m_direction;
    const Statements &m_sql;
};

} // namespace tarlivo::store
