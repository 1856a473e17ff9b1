// The tables and triggers sync keeps in the data file (schema version 9).

#include "store/syncschema.h"

#include <QByteArray>

#include <iterator>
#include <string_view>

namespace tarlivo::store {
namespace {

// tblAbgleichStand: this file's identities, folder and counters (one row). Uhr is the
// largest clock time merged from other machines: a change made here afterwards counts
// as later, whatever this machine's clock says.
// tblAbgleichId: the identity of each subject (Art 0), card (1) and log row (2) across
// machines; a subject or card two machines made alike has two.
// tblAbgleichUhr: per entity, when each field was last set (Z0..Z5, milliseconds) and by
// which machine (M0..M5, '' for this one); Neu marks what no file of this machine holds yet.
// tblAbgleichGelesen: the files of each machine applied here.
// tblAbgleichStill: holds a row only inside a merge's own transaction, which keeps the
// triggers quiet; no other connection ever sees it. IF NOT EXISTS: a file that holds
// them already, whatever its version number says, still upgrades.
constexpr const char *kTables = R"sql(
CREATE TABLE IF NOT EXISTS tblAbgleichStand (
    Nr        INTEGER PRIMARY KEY CHECK (Nr = 1),
    Uhr       INTEGER NOT NULL,
    Sammlung  TEXT,
    Maschine  TEXT,
    Rechner   TEXT,
    Pfad      TEXT,
    Ordner    TEXT,
    Naechste  INTEGER NOT NULL,
    Letzter   INTEGER,
    Gefuellt  INTEGER NOT NULL DEFAULT 0
);
INSERT OR IGNORE INTO tblAbgleichStand (Nr, Uhr, Naechste) VALUES (1, 0, 1);
CREATE TABLE IF NOT EXISTS tblAbgleichId (
    Art     INTEGER NOT NULL,
    Uuid    TEXT NOT NULL,
    idLokal INTEGER NOT NULL,
    PRIMARY KEY (Art, Uuid)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS ixAbgleichIdLokal ON tblAbgleichId (Art, idLokal);
CREATE TABLE IF NOT EXISTS tblAbgleichUhr (
    Art     INTEGER NOT NULL,
    idLokal INTEGER NOT NULL,
    Neu     INTEGER NOT NULL,
    Z0 INTEGER, M0 TEXT, Z1 INTEGER, M1 TEXT, Z2 INTEGER, M2 TEXT,
    Z3 INTEGER, M3 TEXT, Z4 INTEGER, M4 TEXT, Z5 INTEGER, M5 TEXT,
    PRIMARY KEY (Art, idLokal)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS ixAbgleichNeu ON tblAbgleichUhr (Art, idLokal) WHERE Neu = 1;
CREATE TABLE IF NOT EXISTS tblAbgleichGelesen (
    Maschine TEXT NOT NULL,
    Nr       INTEGER NOT NULL,
    PRIMARY KEY (Maschine, Nr)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS tblAbgleichStill (
    Nr INTEGER PRIMARY KEY
);
)sql";

// The time of a change made here: the wall clock in milliseconds, or just after the
// latest time merged, whichever is later. Plain SQL, so that the plain sqlite3 tool
// can still write the file (and its changes travel too).
constexpr const char *kNow = "MAX(CAST((julianday('now') - 2440587.5) * 86400000.0 AS INTEGER), "
                             "(SELECT Uhr FROM tblAbgleichStand WHERE Nr = 1) + 1)";

struct Mark {
    const char *table;
    const char *event; // "INSERT", "DELETE", "UPDATE OF ..."
    const char *when;  // further condition, or nullptr
    int art;
    const char *key; // NEW.x or OLD.x
    std::initializer_list<int> fields;
};

QByteArray triggerName(const Mark &m, int n) { return QByteArray("trgAbgleich") + m.table + QByteArray::number(n); }

QByteArray trigger(const Mark &m, int n)
{
    const QByteArray name = triggerName(m, n);
    QByteArray columns = "Art, idLokal, Neu";
    QByteArray values = QByteArray::number(m.art) + ", " + m.key + ", 1";
    QByteArray sets = "Neu = 1";
    for (int f : m.fields) {
        const QByteArray z = "Z" + QByteArray::number(f);
        const QByteArray mm = "M" + QByteArray::number(f);
        columns += ", " + z + ", " + mm;
        values += QByteArray(", ") + kNow + ", ''";
        sets += ", " + z + " = excluded." + z + ", " + mm + " = ''";
    }
    QByteArray when = "NOT EXISTS (SELECT 1 FROM tblAbgleichStill)";
    if (m.when)
        when += QByteArray(" AND ") + m.when;
    return "CREATE TRIGGER IF NOT EXISTS " + name + " AFTER " + m.event + " ON " + m.table + " WHEN " + when
           + " BEGIN INSERT INTO tblAbgleichUhr (" + columns + ") VALUES (" + values
           + ") ON CONFLICT (Art, idLokal) DO UPDATE SET " + sets + "; END;\n";
}

// What a card's side rows say only while the card itself is there: its deletion takes
// them along, and that is the card's deletion, not an edit.
constexpr const char *kCardStays = "EXISTS (SELECT 1 FROM tblFrageAntwort WHERE idFrageAntwort = OLD.idFrageAntwort)";
constexpr const char *kSubjectStays = "EXISTS (SELECT 1 FROM tblGebiet WHERE idGebiet = OLD.idGebiet)";

// Each trigger is named by its table and its place here.
const Mark kMarks[] = {
    {"tblGebiet", "INSERT", nullptr, 0, "NEW.idGebiet", {SyncSubjectExists, SyncSubjectName}},
    {"tblGebiet", "UPDATE OF NameGebiet", nullptr, 0, "NEW.idGebiet", {SyncSubjectName}},
    {"tblGebiet", "DELETE", nullptr, 0, "OLD.idGebiet", {SyncSubjectExists}},
    {"tblIntervall", "INSERT", nullptr, 0, "NEW.idGebiet", {SyncSubjectIntervals}},
    {"tblIntervall", "UPDATE", nullptr, 0, "NEW.idGebiet", {SyncSubjectIntervals}},
    {"tblIntervall", "DELETE", kSubjectStays, 0, "OLD.idGebiet", {SyncSubjectIntervals}},
    {"tblRichtung", "INSERT", nullptr, 0, "NEW.idGebiet", {SyncSubjectDirection}},
    {"tblRichtung", "UPDATE", nullptr, 0, "NEW.idGebiet", {SyncSubjectDirection}},
    {"tblRichtung", "DELETE", kSubjectStays, 0, "OLD.idGebiet", {SyncSubjectDirection}},
    {"tblGebietToleranz", "INSERT", nullptr, 0, "NEW.idGebiet", {SyncSubjectTolerances}},
    {"tblGebietToleranz", "UPDATE", nullptr, 0, "NEW.idGebiet", {SyncSubjectTolerances}},
    {"tblGebietToleranz", "DELETE", kSubjectStays, 0, "OLD.idGebiet", {SyncSubjectTolerances}},
    {"tblGebietSprache", "INSERT", nullptr, 0, "NEW.idGebiet", {SyncSubjectLanguages}},
    {"tblGebietSprache", "UPDATE", nullptr, 0, "NEW.idGebiet", {SyncSubjectLanguages}},
    {"tblGebietSprache", "DELETE", kSubjectStays, 0, "OLD.idGebiet", {SyncSubjectLanguages}},
    {"tblFrageAntwort",
     "INSERT",
     nullptr,
     1,
     "NEW.idFrageAntwort",
     {SyncCardExists, SyncCardText, SyncCardPlace, SyncCardSubject}},
    {"tblFrageAntwort", "UPDATE OF Frage, Antwort", nullptr, 1, "NEW.idFrageAntwort", {SyncCardText}},
    {"tblFrageAntwort", "UPDATE OF idGebiet", nullptr, 1, "NEW.idFrageAntwort", {SyncCardSubject}},
    {"tblFrageAntwort", "DELETE", nullptr, 1, "OLD.idFrageAntwort", {SyncCardExists}},
    {"tblPosition", "UPDATE OF Fach, Stelle", nullptr, 1, "NEW.idFrageAntwort", {SyncCardPlace}},
    {"tblFachSeit", "UPDATE", nullptr, 1, "NEW.idFrageAntwort", {SyncCardPlace}},
    {"tblPositionUmgekehrt", "INSERT", nullptr, 1, "NEW.idFrageAntwort", {SyncCardReversePlace}},
    {"tblPositionUmgekehrt", "UPDATE", nullptr, 1, "NEW.idFrageAntwort", {SyncCardReversePlace}},
    {"tblPositionUmgekehrt", "DELETE", kCardStays, 1, "OLD.idFrageAntwort", {SyncCardReversePlace}},
    {"tblKarteMedium", "INSERT", nullptr, 1, "NEW.idFrageAntwort", {SyncCardText}},
    {"tblKarteMedium", "DELETE", kCardStays, 1, "OLD.idFrageAntwort", {SyncCardText}},
    {"tblUebung", "INSERT", nullptr, 2, "NEW.idUebung", {0}},
    {"tblUebung", "DELETE", nullptr, 2, "OLD.idUebung", {0}},
};

} // namespace

void createSyncSchema(sql::Database &db)
{
    db.exec(kTables);
    int n = 0;
    for (const Mark &m : kMarks)
        db.exec(trigger(m, ++n).constData());
}

std::pair<QByteArray, QByteArray> newCardTrigger()
{
    for (size_t i = 0; i < std::size(kMarks); ++i)
        if (std::string_view(kMarks[i].table) == "tblFrageAntwort" && std::string_view(kMarks[i].event) == "INSERT")
            return {triggerName(kMarks[i], int(i) + 1), trigger(kMarks[i], int(i) + 1)};
    return {};
}

FillState fillState(sql::Database &db)
{
    sql::Statement q(db, "SELECT Gefuellt FROM tblAbgleichStand WHERE Nr = 1");
    return q.step() ? FillState(q.int64(0)) : NotFilled;
}

qint64 journalTime(sql::Database &db)
{
    sql::Statement q(db, (QByteArray("SELECT ") + kNow).constData());
    return q.step() ? q.int64(0) : 0;
}

// The same upserts as the triggers'.
void journalNewSubjects(sql::Database &db, const std::vector<qint32> &subjects, qint64 time)
{
    for (qint32 subject : subjects)
        sql::Statement(
            db, "INSERT INTO tblAbgleichUhr (Art, idLokal, Neu, Z0, M0, Z1, M1) VALUES (0, ?1, 1, ?2, '', ?2, '') "
                "ON CONFLICT (Art, idLokal) DO UPDATE SET Neu = 1, Z0 = excluded.Z0, M0 = '', "
                "Z1 = excluded.Z1, M1 = ''")
            .bind(1, subject)
            .bind(2, time)
            .run();
}

void journalNewCards(sql::Database &db, qint64 firstCard, qint64 lastCard, qint64 time)
{
    if (firstCard > lastCard)
        return;
    sql::Statement(db, "INSERT INTO tblAbgleichUhr (Art, idLokal, Neu, Z0, M0, Z1, M1, Z2, M2, Z3, M3, Z4, M4) "
                       "SELECT 1, f.idFrageAntwort, 1, ?3, '', ?3, '', ?3, '', "
                       "CASE WHEN r.idFrageAntwort IS NULL THEN NULL ELSE ?3 END, "
                       "CASE WHEN r.idFrageAntwort IS NULL THEN NULL ELSE '' END, ?3, '' "
                       "FROM tblFrageAntwort AS f LEFT JOIN tblPositionUmgekehrt AS r USING (idFrageAntwort) "
                       "WHERE f.idFrageAntwort BETWEEN ?1 AND ?2 "
                       "ON CONFLICT (Art, idLokal) DO UPDATE SET Neu = 1, Z0 = excluded.Z0, M0 = '', "
                       "Z1 = excluded.Z1, M1 = '', Z2 = excluded.Z2, M2 = '', Z3 = ifnull(excluded.Z3, Z3), "
                       "M3 = ifnull(excluded.M3, M3), Z4 = excluded.Z4, M4 = ''")
        .bind(1, firstCard)
        .bind(2, lastCard)
        .bind(3, time)
        .run();
}

void journalReversePlaces(sql::Database &db, qint64 firstCard, qint64 lastCard, qint64 time)
{
    if (firstCard > lastCard)
        return;
    sql::Statement(db, "UPDATE tblAbgleichUhr SET Z3 = ?3, M3 = '' WHERE Art = 1 AND idLokal IN "
                       "(SELECT idFrageAntwort FROM tblPositionUmgekehrt WHERE idFrageAntwort BETWEEN ?1 AND ?2)")
        .bind(1, firstCard)
        .bind(2, lastCard)
        .bind(3, time)
        .run();
}

} // namespace tarlivo::store
