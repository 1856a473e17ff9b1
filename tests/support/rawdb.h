#pragma once

// The store file behind the program's back: its bytes, and its rows through a
// plain SQLite connection that shares none of the program's store code. To leave
// a file as another tool or a damaged disk would, and to check what the program
// wrote and what it relies on.

#include "store/collation.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <sqlite3.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

namespace rawdb {

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// False unless the file now holds exactly bytes.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Another program on the file.
class Connection {
public:
    // Read-write, so that a journal left by a killed writer is rolled back first,
    // as the program's next start would.
    explicit Connection(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
            sqlite3_close(m_db);
            m_db = nullptr;
            return;
        }
        sqlite3_busy_timeout(m_db, 10000);
        tarlivo::store::registerNameCollation(m_db);
    }
    ~Connection() { sqlite3_close(m_db); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    sqlite3 *handle() const { return m_db; }
    const QString &error() const { return m_error; }

    // Statements without values; SQLite's result code.
    int exec(const char *sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }

    // One statement, values bound by parameter name ("?1", ":card"); the result
    // code of its step, and how many rows it changed.
    std::pair<int, int> run(const char *sql, std::initializer_list<std::pair<const char *, qint64>> values)
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            return {sqlite3_errcode(m_db), 0};
        for (const auto &[name, value] : values)
            if (const int index = sqlite3_bind_parameter_index(stmt, name))
                sqlite3_bind_int64(stmt, index, value);
        const int rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        return {rc, sqlite3_changes(m_db)};
    }

    // Every row of the query, each column as text (NULL as a null QString).
    std::vector<QStringList> rows(const char *sql)
    {
        std::vector<QStringList> result;
        if (!m_db)
            return result;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
            return result;
        }
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
                    row << QString();
                } else {
                    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, i));
                    row << QString::fromUtf8(text ? text : "", sqlite3_column_bytes(stmt, i));
                }
            }
            result.push_back(row);
        }
        if (rc != SQLITE_DONE)
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(stmt);
        return result;
    }

    qint64 number(const char *sql)
    {
        const auto r = rows(sql);
        return r.empty() || r.front().isEmpty() ? -1 : r.front().front().toLongLong();
    }

private:
    sqlite3 *m_db = nullptr;
    QString m_error;
};

// Statements without values, which must succeed.
inline void exec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    char *error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    const QString message = error ? QString::fromUtf8(error) : QString();
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

// Every row of the query, its columns joined by "|"; NULL reads "<null>".
inline QStringList rows(const QString &path, const char *sql)
{
    Connection db(path);
    QStringList result;
    for (const QStringList &row : db.rows(sql)) {
        QStringList columns;
        for (const QString &column : row)
            columns << (column.isNull() ? QStringLiteral("<null>") : column);
        result << columns.join(QLatin1Char('|'));
    }
    if (!db.error().isEmpty())
        result << QStringLiteral("<error: %1>").arg(db.error());
    return result;
}

// The single number the query yields; -1 for anything else.
inline qint64 count(const QString &path, const char *sql)
{
    const QStringList r = rows(path, sql);
    bool ok = false;
    const qint64 n = r.size() == 1 ? r.first().toLongLong(&ok) : -1;
    return ok ? n : -1;
}

// ---- The whole content, to compare before and after -----------------------

struct Card {
    qint64 subject = 0;
    QString question;
    QString answer;
    qint64 compartment = -1; // -1: no position row
    qint64 queuePlace = -1;
    // When it came into its compartment; -1: no row. A model that cannot know the
    // clock's reading marks a time set anew as fresh: any time from enteredAt on.
    qint64 enteredAt = -1;
    bool enteredAtFresh = false;
    // Its reverse place (tblPositionUmgekehrt); -1: none.
    qint64 reverseCompartment = -1;
    qint64 reverseQueuePlace = -1;
    qint64 reverseEnteredAt = -1;
    bool reverseEnteredAtFresh = false;
    static bool timeMatches(qint64 a, bool aFresh, qint64 b, bool bFresh)
    {
        if (aFresh == bFresh)
            return a == b;
        return aFresh ? b >= a : a >= b;
    }
    bool enteredAtMatches(const Card &o) const
    {
        return timeMatches(enteredAt, enteredAtFresh, o.enteredAt, o.enteredAtFresh)
               && timeMatches(reverseEnteredAt, reverseEnteredAtFresh, o.reverseEnteredAt, o.reverseEnteredAtFresh);
    }
    bool operator==(const Card &o) const
    {
        return std::tie(subject, question, answer, compartment, queuePlace, reverseCompartment, reverseQueuePlace)
                   == std::tie(o.subject, o.question, o.answer, o.compartment, o.queuePlace, o.reverseCompartment,
                               o.reverseQueuePlace)
               && enteredAtMatches(o);
    }
    bool operator!=(const Card &o) const { return !(*this == o); }
};

// A row of the practice log, without its time: the program takes that from the clock.
struct Verdict {
    qint64 card = 0;
    qint64 subject = 0;
    qint64 compartmentBefore = 0;
    qint64 compartmentAfter = 0;
    qint64 verdict = 0;   // 1 Falsch, 2 Fast Richtig, 3 Richtig
    bool reverse = false; // on the card's reverse place
    bool operator==(const Verdict &o) const
    {
        return std::tie(card, subject, compartmentBefore, compartmentAfter, verdict, reverse)
               == std::tie(o.card, o.subject, o.compartmentBefore, o.compartmentAfter, o.verdict, o.reverse);
    }
    bool operator!=(const Verdict &o) const { return !(*this == o); }
};

struct State {
    std::map<qint64, QString> subjects;
    std::map<qint64, Card> cards;
    std::map<qint64, Verdict> log;
    std::map<std::pair<qint64, qint64>, qint64> intervals; // (subject, compartment) -> days
    std::map<qint64, QString> pictures;                    // card -> its question's picture
    std::map<qint64, qint64> directions;                   // subject -> 1 reverse, 2 both
    std::map<qint64, QString> tolerances;                  // subject -> its four verdicts, "2,2,3,2"
    // The largest keys ever given (sqlite_sequence): deleted keys are never reused.
    qint64 subjectSeq = 0;
    qint64 cardSeq = 0;
    qint64 logSeq = 0;
    bool operator==(const State &o) const
    {
        return subjects == o.subjects && cards == o.cards && log == o.log && intervals == o.intervals
               && pictures == o.pictures && directions == o.directions && tolerances == o.tolerances;
    }
    bool operator!=(const State &o) const { return !(*this == o); }

    // The first difference, for a failure message.
    QString differenceTo(const State &o) const
    {
        for (const auto &[id, name] : subjects) {
            auto other = o.subjects.find(id);
            if (other == o.subjects.end())
                return QStringLiteral("subject %1 missing on the other side").arg(id);
            if (other->second != name)
                return QStringLiteral("subject %1 named %2 here, %3 there")
                    .arg(id)
                    .arg(name.left(80), other->second.left(80));
        }
        for (const auto &[id, name] : o.subjects)
            if (!subjects.count(id))
                return QStringLiteral("subject %1 (%2) only on the other side").arg(id).arg(name.left(80));
        for (const auto &[id, card] : cards) {
            auto other = o.cards.find(id);
            if (other == o.cards.end())
                return QStringLiteral("card %1 missing on the other side").arg(id);
            const Card &c = other->second;
            if (card != c)
                return QStringLiteral("card %1: subject %2/%3 fach %4/%5 stelle %6/%7 texts %8 seit %9/%10 "
                                      "reverse %11/%12 at %13/%14")
                    .arg(id)
                    .arg(card.subject)
                    .arg(c.subject)
                    .arg(card.compartment)
                    .arg(c.compartment)
                    .arg(card.queuePlace)
                    .arg(c.queuePlace)
                    .arg(card.question == c.question && card.answer == c.answer ? "equal" : "differ")
                    .arg(card.enteredAtFresh ? QStringLiteral(">=%1").arg(card.enteredAt)
                                             : QString::number(card.enteredAt))
                    .arg(c.enteredAtFresh ? QStringLiteral(">=%1").arg(c.enteredAt) : QString::number(c.enteredAt))
                    .arg(card.reverseCompartment)
                    .arg(c.reverseCompartment)
                    .arg(card.reverseQueuePlace)
                    .arg(c.reverseQueuePlace);
        }
        for (const auto &[id, card] : o.cards)
            if (!cards.count(id))
                return QStringLiteral("card %1 only on the other side").arg(id);
        for (const auto &[id, v] : log) {
            auto other = o.log.find(id);
            if (other == o.log.end())
                return QStringLiteral("log row %1 (card %2) missing on the other side").arg(id).arg(v.card);
            if (other->second != v)
                return QStringLiteral("log row %1: card %2/%3 fach %4>%5 / %6>%7 verdict %8/%9")
                    .arg(id)
                    .arg(v.card)
                    .arg(other->second.card)
                    .arg(v.compartmentBefore)
                    .arg(v.compartmentAfter)
                    .arg(other->second.compartmentBefore)
                    .arg(other->second.compartmentAfter)
                    .arg(v.verdict)
                    .arg(other->second.verdict);
        }
        for (const auto &[id, v] : o.log)
            if (!log.count(id))
                return QStringLiteral("log row %1 (card %2) only on the other side").arg(id).arg(v.card);
        if (intervals != o.intervals)
            return QStringLiteral("intervals differ: %1 here, %2 there").arg(intervals.size()).arg(o.intervals.size());
        if (pictures != o.pictures)
            return QStringLiteral("pictures differ: %1 here, %2 there").arg(pictures.size()).arg(o.pictures.size());
        if (directions != o.directions)
            return QStringLiteral("directions differ: %1 here, %2 there")
                .arg(directions.size())
                .arg(o.directions.size());
        if (tolerances != o.tolerances)
            return QStringLiteral("tolerances differ: %1 here, %2 there")
                .arg(tolerances.size())
                .arg(o.tolerances.size());
        return QString();
    }
};

inline State read(Connection &db)
{
    State state;
    for (const QStringList &row : db.rows("SELECT idGebiet, NameGebiet FROM tblGebiet"))
        state.subjects[row[0].toLongLong()] = row[1];
    for (const QStringList &row :
         db.rows("SELECT f.idFrageAntwort, f.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle, s.Seit "
                 "FROM tblFrageAntwort AS f LEFT JOIN tblPosition AS p USING (idFrageAntwort) "
                 "LEFT JOIN tblFachSeit AS s USING (idFrageAntwort)")) {
        Card c;
        c.subject = row[1].toLongLong();
        c.question = row[2];
        c.answer = row[3];
        c.compartment = row[4].isNull() ? -1 : row[4].toLongLong();
        c.queuePlace = row[5].isNull() ? -1 : row[5].toLongLong();
        c.enteredAt = row[6].isNull() ? -1 : row[6].toLongLong();
        state.cards[row[0].toLongLong()] = c;
    }
    for (const QStringList &row :
         db.rows("SELECT idUebung, idFrageAntwort, idGebiet, FachVorher, FachNachher, Urteil FROM tblUebung"))
        state.log[row[0].toLongLong()] = Verdict{row[1].toLongLong(), row[2].toLongLong(), row[3].toLongLong(),
                                                 row[4].toLongLong(), row[5].toLongLong()};
    for (const QStringList &row : db.rows("SELECT idGebiet, Fach, Tage FROM tblIntervall"))
        state.intervals[{row[0].toLongLong(), row[1].toLongLong()}] = row[2].toLongLong();
    for (const QStringList &row : db.rows("SELECT k.idFrageAntwort, m.Name FROM tblKarteMedium AS k "
                                          "JOIN tblMedium AS m USING (idMedium) WHERE k.Seite = 0 AND k.Art = 0"))
        state.pictures[row[0].toLongLong()] = row[1];
    for (const QStringList &row : db.rows("SELECT idFrageAntwort, Fach, Stelle, Seit FROM tblPositionUmgekehrt")) {
        Card &c = state.cards[row[0].toLongLong()];
        c.reverseCompartment = row[1].toLongLong();
        c.reverseQueuePlace = row[2].toLongLong();
        c.reverseEnteredAt = row[3].toLongLong();
    }
    for (const QStringList &row : db.rows("SELECT idUebung FROM tblUebungUmgekehrt"))
        state.log[row[0].toLongLong()].reverse = true;
    for (const QStringList &row : db.rows("SELECT idGebiet, Richtung FROM tblRichtung"))
        state.directions[row[0].toLongLong()] = row[1].toLongLong();
    if (!db.rows("SELECT 1 FROM sqlite_master WHERE name = 'tblGebietToleranz'").empty()) {
        for (const QStringList &row : db.rows("SELECT idGebiet, Schreibung || ',' || Akzente || ',' || Satzzeichen "
                                              "|| ',' || Tippfehler FROM tblGebietToleranz"))
            state.tolerances[row[0].toLongLong()] = row[1];
    }
    for (const QStringList &row : db.rows("SELECT name, seq FROM sqlite_sequence")) {
        if (row[0] == QLatin1String("tblGebiet"))
            state.subjectSeq = row[1].toLongLong();
        else if (row[0] == QLatin1String("tblFrageAntwort"))
            state.cardSeq = row[1].toLongLong();
        else if (row[0] == QLatin1String("tblUebung"))
            state.logSeq = row[1].toLongLong();
    }
    return state;
}

inline State read(const QString &path)
{
    Connection db(path);
    return read(db);
}

// What is wrong with the file; empty when it is sound.
inline QStringList violations(const QString &path)
{
    QStringList problems;
    Connection db(path);
    if (!db.handle())
        return {QStringLiteral("cannot open: ") + db.error()};
    const auto integrity = db.rows("PRAGMA integrity_check");
    if (integrity.size() != 1 || integrity.front().value(0) != QLatin1String("ok"))
        problems
            << QStringLiteral("integrity check: %1").arg(integrity.empty() ? db.error() : integrity.front().value(0));
    struct Check {
        const char *sql;
        const char *what;
    };
    static const Check checks[] = {
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE "
         "(SELECT COUNT(*) FROM tblPosition AS p WHERE p.idFrageAntwort = f.idFrageAntwort) <> 1",
         "cards without exactly one position"},
        {"SELECT COUNT(*) FROM tblPosition AS p WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = p.idFrageAntwort)",
         "positions without a card"},
        {"SELECT COUNT(*) FROM (SELECT Stelle FROM tblPosition GROUP BY Stelle HAVING COUNT(*) > 1)",
         "queue places held twice"},
        {"SELECT COUNT(*) FROM tblPosition WHERE Fach < 1 OR typeof(Fach) <> 'integer'", "compartments below 1"},
        {"SELECT COUNT(*) FROM tblPosition AS p JOIN tblFrageAntwort AS f USING (idFrageAntwort) "
         "WHERE p.idGebiet IS NOT f.idGebiet",
         "positions whose subject differs from their card's"},
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE NOT EXISTS "
         "(SELECT 1 FROM tblGebiet AS g WHERE g.idGebiet = f.idGebiet)",
         "cards without a subject"},
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE (f.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand)) "
         "<> EXISTS (SELECT 1 FROM tblSuche_docsize AS d WHERE d.id = f.idFrageAntwort)",
         "cards in the search index against its mark"},
        {"SELECT COUNT(*) FROM tblSuche_docsize AS d WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = d.id)",
         "search index entries without a card"},
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE "
         "(SELECT COUNT(*) FROM tblFachSeit AS s WHERE s.idFrageAntwort = f.idFrageAntwort) <> 1",
         "cards without exactly one time in their compartment"},
        {"SELECT COUNT(*) FROM tblFachSeit AS s WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = s.idFrageAntwort)",
         "times without a card"},
        // The day buckets against the cards, both ways.
        {"SELECT COUNT(*) FROM (SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 0 "
         "EXCEPT SELECT p.idGebiet, p.Fach, s.Tag, COUNT(*) FROM tblPosition AS p "
         "JOIN tblFachSeit AS s USING (idFrageAntwort) GROUP BY 1, 2, 3)",
         "day buckets not as the cards"},
        {"SELECT COUNT(*) FROM (SELECT p.idGebiet, p.Fach, s.Tag, COUNT(*) FROM tblPosition AS p "
         "JOIN tblFachSeit AS s USING (idFrageAntwort) GROUP BY 1, 2, 3 "
         "EXCEPT SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 0)",
         "cards missing from the day buckets"},
        // Both directions: at most one reverse place per card, in its subject, each
        // queue place once, and the buckets of Richtung 1 as the places.
        {"SELECT COUNT(*) FROM tblPositionUmgekehrt AS r LEFT JOIN tblFrageAntwort AS f USING (idFrageAntwort) "
         "WHERE r.idGebiet IS NOT f.idGebiet OR r.Fach < 1",
         "reverse places of no card, in another subject or below compartment 1"},
        {"SELECT COUNT(*) FROM (SELECT Stelle FROM tblPositionUmgekehrt GROUP BY Stelle HAVING COUNT(*) > 1)",
         "reverse queue places held twice"},
        {"SELECT COUNT(*) FROM (SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 1 "
         "EXCEPT SELECT idGebiet, Fach, Tag, COUNT(*) FROM tblPositionUmgekehrt GROUP BY 1, 2, 3)",
         "reverse day buckets not as the places"},
        {"SELECT COUNT(*) FROM (SELECT idGebiet, Fach, Tag, COUNT(*) FROM tblPositionUmgekehrt GROUP BY 1, 2, 3 "
         "EXCEPT SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 1)",
         "reverse places missing from the day buckets"},
    };
    for (const Check &check : checks) {
        const qint64 n = db.number(check.sql);
        if (n != 0)
            problems << QStringLiteral("%1: %2").arg(QLatin1String(check.what)).arg(n);
    }
    // The index's own check compares it with the texts, which holds only once no card waits.
    if (db.number("SELECT COUNT(*) FROM tblFrageAntwort WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand)")
            == 0
        && db.exec("INSERT INTO tblSuche (tblSuche) VALUES ('integrity-check')") != SQLITE_OK)
        problems << QStringLiteral("search index differs from the texts: ") + sqlite3_errmsg(db.handle());
    QStringList names;
    for (const QStringList &row : db.rows("SELECT NameGebiet FROM tblGebiet"))
        names << row.value(0);
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return tarlivo::store::compareNames(a, b) < 0; });
    for (int i = 1; i < names.size(); ++i)
        if (tarlivo::store::compareNames(names[i - 1], names[i]) == 0)
            problems << QStringLiteral("subject names equal: %1 / %2").arg(names[i - 1].left(80), names[i].left(80));
    return problems;
}

} // namespace rawdb
