#include "store/cardstream.h"

#include "store/internal.h"
#include "store/queries.h"
#include "store/statistics.h"

#include <sqlite3.h>

#include <algorithm>

namespace tarlivo::store {
namespace {

struct StatementReset {
    sqlite3_stmt *stmt;
    ~StatementReset()
    {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
};

// Reads the cards' texts table front to back, which is many times faster than a
// lookup per card in practice order, and hands each line its texts in practice
// order. Texts are held for one part of the lines at a time, so memory stays
// bounded however large the export.
void textsByScans(sql::Database &db, const std::vector<StreamedPlace> &lines, const CardStream::TextVisitor &write)
{
    constexpr qint64 kPartBytes = 80 * 1024 * 1024;
    std::vector<std::pair<qint64, size_t>> byCard(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        byCard[i] = {lines[i].card, i};
    std::sort(byCard.begin(), byCard.end());

    // Calls visit(line index, row) for every row of the scan that belongs to a line.
    auto scan = [&](const char *sql, auto visit) {
        sqlite3_stmt *stmt = db.prepared(sql);
        StatementReset reset{stmt};
        size_t k = 0;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const qint64 id = sqlite3_column_int64(stmt, 0);
            while (k < byCard.size() && byCard[k].first < id)
                ++k;
            if (k < byCard.size() && byCard[k].first == id)
                visit(byCard[k].second, stmt);
        }
        if (rc != SQLITE_DONE)
            db.fail(rc);
    };

    // How many lines a part holds, from the texts' average length in a sample; a part
    // that turns out far larger is read again in halves.
    qint64 average = 1;
    {
        sql::Statement q(db, "SELECT AVG(length(CAST(Frage AS BLOB)) + length(CAST(Antwort AS BLOB))) "
                             "FROM (SELECT Frage, Antwort FROM tblFrageAntwort LIMIT 2000)");
        if (q.step() && !q.isNull(0))
            average = std::max<qint64>(1, q.int64(0));
    }
    const size_t perPart = size_t(std::max<qint64>(1, kPartBytes / average));

    struct Text {
        qint64 at = -1; // -1: the card row is missing
        int question = 0;
        int answer = 0;
    };
    std::vector<Text> texts;
    QByteArray arena;
    for (size_t lo = 0, hi = std::min(lines.size(), perPart); lo < lines.size();) {
        texts.assign(hi - lo, Text());
        arena.clear();
        arena.reserve(qsizetype(std::min<qint64>(qint64(hi - lo) * average * 5 / 4, 4 * kPartBytes)));
        bool tooLarge = false;
        scan("SELECT idFrageAntwort, Frage, Antwort FROM tblFrageAntwort ORDER BY idFrageAntwort",
             [&](size_t i, sqlite3_stmt *row) {
                 if (i < lo || i >= hi || tooLarge)
                     return;
                 Text &t = texts[i - lo];
                 t.at = arena.size();
                 const auto *question = static_cast<const char *>(sqlite3_column_blob(row, 1));
                 t.question = sqlite3_column_bytes(row, 1);
                 arena.append(question, t.question);
                 const auto *answer = static_cast<const char *>(sqlite3_column_blob(row, 2));
                 t.answer = sqlite3_column_bytes(row, 2);
                 arena.append(answer, t.answer);
                 tooLarge = hi - lo > 1 && arena.size() > 4 * kPartBytes;
             });
        if (tooLarge) {
            hi = lo + (hi - lo) / 2;
            continue;
        }
        for (size_t i = lo; i < hi; ++i) {
            const Text &t = texts[i - lo];
            if (t.at >= 0)
                write(i, arena.constData() + t.at, t.question, arena.constData() + t.at + t.question, t.answer);
        }
        lo = hi;
        hi = std::min(lines.size(), lo + perPart);
    }
}

// The times the cards came into their compartments: for a few cards of many each
// looked up by its key, else the table read front to back beside the lines sorted
// by key, which at a million cards is many times faster than a lookup per line.
void readTimes(sql::Database &db, std::vector<StreamedPlace> &lines, bool few)
{
    if (few) {
        sqlite3_stmt *time = db.prepared("SELECT Seit FROM tblFachSeit WHERE idFrageAntwort = ?1");
        for (StreamedPlace &line : lines) {
            StatementReset reset{time};
            sqlite3_bind_int64(time, 1, line.card);
            const int rc = sqlite3_step(time);
            if (rc == SQLITE_ROW)
                line.enteredAt = sqlite3_column_int64(time, 0);
            else if (rc != SQLITE_DONE)
                db.fail(rc);
        }
        return;
    }
    std::vector<std::pair<qint64, size_t>> byCard(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        byCard[i] = {lines[i].card, i};
    std::sort(byCard.begin(), byCard.end());
    sqlite3_stmt *times = db.prepared("SELECT idFrageAntwort, Seit FROM tblFachSeit ORDER BY idFrageAntwort");
    StatementReset reset{times};
    size_t k = 0;
    int rc = SQLITE_DONE;
    while (k < byCard.size() && (rc = sqlite3_step(times)) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(times, 0);
        while (k < byCard.size() && byCard[k].first < id)
            ++k;
        if (k < byCard.size() && byCard[k].first == id)
            lines[byCard[k].second].enteredAt = sqlite3_column_int64(times, 1);
    }
    if (k < byCard.size() && rc != SQLITE_DONE)
        db.fail(rc);
}

} // namespace

CardStream::CardStream(Store &store, Mode mode)
    : m_store(store), m_db(StoreAccess::database(store)),
      m_read(std::make_unique<sql::ReadTransaction>(m_db, mode == Mode::Mapped ? sql::ReadTransaction::Mapped
                                                                               : sql::ReadTransaction::Plain))
{
}

CardStream::~CardStream() = default;

std::vector<SubjectRow> CardStream::subjects(const QString &only)
{
    const std::optional<qint32> wanted = only.isEmpty() ? std::nullopt : m_store.subjectId(only);
    std::vector<SubjectRow> result;
    if (!only.isEmpty() && !wanted)
        return result;
    sql::Statement q(m_db, queries::kSubjectRows);
    while (q.step())
        if (!wanted || *wanted == q.int64(0))
            result.push_back({qint32(q.int64(0)), q.text(1)});
    return result;
}

// Read inside the stream's transaction, as every read on its connection.
qint64 CardStream::placeCount(std::optional<qint32> subjectId) { return Counts(m_store).cardCount(subjectId); }

// A few cards of many are each looked up by their key; else the tables are read front
// to back, which at a million cards is many times faster than a lookup per card.
bool CardStream::fewOfMany(size_t places)
{
    if (!m_allPlaces)
        m_allPlaces = placeCount(std::nullopt);
    return qint64(places) * 8 < *m_allPlaces;
}

std::vector<StreamedPlace> CardStream::places(const std::vector<qint32> &subjectIds, bool withReverse)
{
    std::vector<StreamedPlace> lines;
    lines.reserve(size_t(subjectIds.size() == 1 ? placeCount(subjectIds.front()) : placeCount(std::nullopt)));
    // The cards in practice order, from the queue index alone.
    sqlite3_stmt *order = m_db.prepared("SELECT idFrageAntwort, Fach FROM tblPosition WHERE idGebiet = ?1 "
                                        "ORDER BY Fach, Stelle, idFrageAntwort");
    for (size_t i = 0; i < subjectIds.size(); ++i) {
        StatementReset reset{order};
        sqlite3_bind_int64(order, 1, subjectIds[i]);
        int rc;
        while ((rc = sqlite3_step(order)) == SQLITE_ROW)
            lines.push_back({sqlite3_column_int64(order, 0), sqlite3_column_int64(order, 1), i, std::nullopt});
        if (rc != SQLITE_DONE)
            m_db.fail(rc);
    }
    if (withReverse) {
        std::unordered_map<qint64, std::pair<qint64, qint64>> reverse;
        for (const qint32 subjectId : subjectIds) {
            sql::Statement q(m_db, "SELECT r.idFrageAntwort, r.Fach, r.Seit FROM tblPositionUmgekehrt AS r "
                                   "WHERE r.idGebiet = ?1");
            q.bind(1, subjectId);
            while (q.step())
                reverse.emplace(q.int64(0), std::make_pair(q.int64(1), q.int64(2)));
        }
        for (StreamedPlace &line : lines) {
            const auto it = reverse.find(line.card);
            if (it != reverse.end())
                line.reverse = it->second;
        }
    }
    readTimes(m_db, lines, fewOfMany(lines.size()));
    return lines;
}

void CardStream::texts(const std::vector<StreamedPlace> &places, const TextVisitor &visit)
{
    if (!fewOfMany(places.size())) {
        textsByScans(m_db, places, visit);
        return;
    }
    auto text = [](sqlite3_stmt *stmt, int column) {
        const char *t = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
        return t ? t : "";
    };
    sqlite3_stmt *card = m_db.prepared(queries::kCardText);
    for (size_t i = 0; i < places.size(); ++i) {
        StatementReset reset{card};
        sqlite3_bind_int64(card, 1, places[i].card);
        const int rc = sqlite3_step(card);
        if (rc == SQLITE_ROW)
            visit(i, text(card, 0), sqlite3_column_bytes(card, 0), text(card, 1), sqlite3_column_bytes(card, 1));
        else if (rc != SQLITE_DONE)
            m_db.fail(rc);
    }
}

void CardStream::cards(std::optional<qint32> subjectId, const std::function<void(StreamedCard &&)> &visit)
{
    sql::Statement q(m_db, "SELECT f.idFrageAntwort, f.idGebiet, f.Frage, f.Antwort, p.Fach, s.Seit, g.NameGebiet "
                           "FROM tblPosition AS p JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort "
                           "JOIN tblGebiet AS g ON g.idGebiet = p.idGebiet "
                           "LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort "
                           "WHERE ?1 IS NULL OR p.idGebiet = ?1 ORDER BY p.Fach, p.Stelle, p.idFrageAntwort");
    if (subjectId)
        q.bind(1, *subjectId);
    else
        q.bindNull(1);
    while (q.step())
        visit({q.int64(0), q.int64(1), q.text(2), q.text(3), qint32(q.int64(4)),
               q.isNull(5) ? std::nullopt : std::optional<qint64>(q.int64(5)), q.text(6)});
}

std::unordered_map<qint64, std::vector<StreamedMedia>> CardStream::mediaLinks()
{
    std::unordered_map<qint64, std::vector<StreamedMedia>> links;
    sql::Statement l(m_db, "SELECT idFrageAntwort, Seite, Art, idMedium FROM tblKarteMedium "
                           "ORDER BY idFrageAntwort, Seite, Art");
    while (l.step())
        links[l.int64(0)].push_back({CardSide(l.int64(1)), MediaKind(l.int64(2)), l.int64(3)});
    return links;
}

std::unordered_map<qint64, QString> CardStream::mediaNames()
{
    std::unordered_map<qint64, QString> names;
    sql::Statement m(m_db, "SELECT idMedium, Name FROM tblMedium");
    while (m.step())
        names.emplace(m.int64(0), m.text(1));
    return names;
}

} // namespace tarlivo::store
