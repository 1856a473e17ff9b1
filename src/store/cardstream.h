#pragma once

#include "store/change.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarlivo::store {

class Store;
namespace sql {
class Database;
class ReadTransaction;
} // namespace sql

// One card's place as an export reads it.
struct StreamedPlace {
    qint64 card = 0;
    qint64 compartment = 0;
    size_t subject = 0; // its index among the subjects asked for
    std::optional<qint64> enteredAt = {};
    std::optional<std::pair<qint64, qint64>> reverse = {}; // compartment and time of its reverse place
};

// A picture or sound on one side of a card.
struct StreamedMedia {
    CardSide side;
    MediaKind kind;
    qint64 media;
};

// A card with its texts, compartment, time and subject's name.
struct StreamedCard {
    qint64 id = 0;
    qint64 subject = 0;
    QString question;
    QString answer;
    qint32 compartment = 1;
    std::optional<qint64> enteredAt = {};
    QString subjectName;
};

// A read of many cards for an export, however many: every call sees the file as it
// stood when the stream began (one read transaction until it is destroyed), and
// memory stays bounded by what the caller keeps. The store's other operations may be
// called meanwhile and read the same state.
class CardStream {
public:
    // Mapped reads the file through a memory map, which spares a copy of every page
    // when every card is read.
    enum class Mode { Plain, Mapped };
    CardStream(Store &store, Mode mode);
    ~CardStream();
    CardStream(const CardStream &) = delete;
    CardStream &operator=(const CardStream &) = delete;

    // The subjects in the order of allSubjects(): all, or (only given) the one of that name.
    std::vector<SubjectRow> subjects(const QString &only = {});
    // The places of one subject or (nullopt) all.
    qint64 placeCount(std::optional<qint32> subjectId);
    // The places of the subjects, one subject after the other, each in practice order,
    // with their times and, when asked, their reverse places.
    std::vector<StreamedPlace> places(const std::vector<qint32> &subjectIds, bool withReverse);
    // Hands each place its texts as UTF-8 bytes (valid during the call), in the order
    // of places; a place whose card is gone is left out.
    using TextVisitor =
        std::function<void(size_t index, const char *question, int questionSize, const char *answer, int answerSize)>;
    void texts(const std::vector<StreamedPlace> &places, const TextVisitor &visit);
    // Every card of one subject or all in practice order, the subjects mixed.
    void cards(std::optional<qint32> subjectId, const std::function<void(StreamedCard &&)> &visit);
    // The media links by card, each card's by side and kind; the names of the contents.
    std::unordered_map<qint64, std::vector<StreamedMedia>> mediaLinks();
    std::unordered_map<qint64, QString> mediaNames();

private:
    bool fewOfMany(size_t places);

    Store &m_store;
    sql::Database &m_db;
    std::unique_ptr<sql::ReadTransaction> m_read;
    std::optional<qint64> m_allPlaces;
};

} // namespace tarlivo::store
