#include "store/schema.h"
#include "store/syncschema.h"

#include <sqlite3.h>

#include <cstring>

namespace tarlivo::store::schema {
namespace {

// The tables as the rest of the program knows them, plus the subject key on each
// position row: with it the practice questions are answered from one index instead
// of a join over every card. Triggers keep that copy equal to the card's subject.
constexpr const char *kSchema = R"sql(
CREATE TABLE tblGebiet (
    idGebiet   INTEGER PRIMARY KEY AUTOINCREMENT,
    NameGebiet TEXT NOT NULL
);
CREATE TABLE tblFrageAntwort (
    idFrageAntwort INTEGER PRIMARY KEY AUTOINCREMENT,
    idGebiet       INTEGER NOT NULL REFERENCES tblGebiet (idGebiet),
    Frage          TEXT,
    Antwort        TEXT
);
CREATE TABLE tblPosition (
    idFrageAntwort INTEGER PRIMARY KEY REFERENCES tblFrageAntwort (idFrageAntwort),
    Fach           INTEGER NOT NULL CHECK (Fach BETWEEN 1 AND 2147483647),
    Stelle         INTEGER NOT NULL CHECK (Stelle BETWEEN -2147483648 AND 2147483647),
    idGebiet       INTEGER NOT NULL
);
)sql";
constexpr const char *kPositionUpdateSubjectTrigger = R"sql(
CREATE TRIGGER trgPositionUpdateSubject BEFORE UPDATE OF idGebiet, idFrageAntwort ON tblPosition
WHEN NEW.idGebiet IS NOT (SELECT idGebiet FROM tblFrageAntwort WHERE idFrageAntwort = NEW.idFrageAntwort)
BEGIN SELECT RAISE(ABORT, 'tblPosition.idGebiet differs from the card''s subject'); END;
)sql";

// Version 2: a card may move to another subject (its position row follows it), a
// log of every verdict (its indexes hold the verdict too, so that the counts of a
// day by verdict come from the index alone), and a trigram index over the texts for finding cards as the
// user types. The index holds no texts of its own: it reads them from tblFrageAntwort.
constexpr const char *kSchemaVersion2 = R"sql(
DROP TRIGGER IF EXISTS trgCardKeepsSubject;
CREATE TRIGGER trgCardSubjectFollows AFTER UPDATE OF idGebiet ON tblFrageAntwort
WHEN NEW.idGebiet IS NOT OLD.idGebiet
BEGIN UPDATE tblPosition SET idGebiet = NEW.idGebiet WHERE idFrageAntwort = NEW.idFrageAntwort; END;
CREATE TABLE tblUebung (
    idUebung       INTEGER PRIMARY KEY AUTOINCREMENT,
    Zeitpunkt      INTEGER NOT NULL,
    idFrageAntwort INTEGER NOT NULL,
    idGebiet       INTEGER NOT NULL,
    FachVorher     INTEGER NOT NULL,
    FachNachher    INTEGER NOT NULL,
    Urteil         INTEGER NOT NULL CHECK (Urteil IN (1, 2, 3))
);
CREATE INDEX ixUebungGebiet ON tblUebung (idGebiet, Zeitpunkt, Urteil);
CREATE INDEX ixUebungZeit ON tblUebung (Zeitpunkt, Urteil);
)sql";
// After the compartment index (kScatteredPositionIndexes).
constexpr const char *kSchemaVersion2Search = R"sql(
CREATE VIRTUAL TABLE tblSuche USING fts5 (
    Frage, Antwort, content = 'tblFrageAntwort', content_rowid = 'idFrageAntwort', tokenize = 'trigram');
CREATE TRIGGER trgSucheInsert AFTER INSERT ON tblFrageAntwort
BEGIN INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (NEW.idFrageAntwort, NEW.Frage, NEW.Antwort); END;
CREATE TRIGGER trgSucheDelete AFTER DELETE ON tblFrageAntwort
BEGIN INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort); END;
CREATE TRIGGER trgSucheUpdate AFTER UPDATE OF Frage, Antwort ON tblFrageAntwort
BEGIN
    INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort);
    INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (NEW.idFrageAntwort, NEW.Frage, NEW.Antwort);
END;
INSERT INTO tblSuche (tblSuche) VALUES ('rebuild');
)sql";

// Version 3: an import of many cards leaves them out of the search index, which
// catches up in small steps afterwards, so that the import is not held up by it.
// tblSucheStand says how far: every card whose key is at most BisKarte is in the
// index, every later one is not yet. (The insert trigger: kSearchInsertTrigger.)
constexpr const char *kSchemaVersion3 = R"sql(
CREATE TABLE tblSucheStand (
    Nr       INTEGER PRIMARY KEY CHECK (Nr = 1),
    BisKarte INTEGER NOT NULL
);
INSERT INTO tblSucheStand (Nr, BisKarte)
VALUES (1, (SELECT COALESCE(MAX(idFrageAntwort), 0) FROM tblFrageAntwort));
DROP TRIGGER trgSucheInsert;
DROP TRIGGER trgSucheDelete;
DROP TRIGGER trgSucheUpdate;
CREATE TRIGGER trgSucheDelete AFTER DELETE ON tblFrageAntwort
WHEN OLD.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand)
BEGIN INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort); END;
CREATE TRIGGER trgSucheUpdate AFTER UPDATE OF Frage, Antwort ON tblFrageAntwort
WHEN OLD.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand)
BEGIN
    INSERT INTO tblSuche (tblSuche, rowid, Frage, Antwort) VALUES ('delete', OLD.idFrageAntwort, OLD.Frage, OLD.Antwort);
    INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (NEW.idFrageAntwort, NEW.Frage, NEW.Antwort);
END;
)sql";

// Version 4: the calendar. When each card came into its compartment (Seit, and its
// learning day Tag, kept beside it so that the day buckets need not convert times),
// the intervals a subject changed from the default, and the day buckets that
// answer the due counts (kBucketTriggers). A card's time goes with it.
constexpr const char *kSchemaVersion4 = R"sql(
CREATE TABLE tblFachSeit (
    idFrageAntwort INTEGER PRIMARY KEY,
    Seit           INTEGER NOT NULL,
    Tag            INTEGER NOT NULL
);
CREATE TABLE tblIntervall (
    idGebiet INTEGER NOT NULL,
    Fach     INTEGER NOT NULL,
    Tage     INTEGER NOT NULL CHECK (Tage BETWEEN 0 AND 3650),
    PRIMARY KEY (idGebiet, Fach)
) WITHOUT ROWID;
CREATE TABLE tblFaellig (
    idGebiet INTEGER NOT NULL,
    Richtung INTEGER NOT NULL DEFAULT 0,
    Fach     INTEGER NOT NULL,
    Tag      INTEGER NOT NULL,
    Anzahl   INTEGER NOT NULL,
    PRIMARY KEY (idGebiet, Richtung, Fach, Tag)
) WITHOUT ROWID;
CREATE TRIGGER trgFachSeitDelete AFTER DELETE ON tblFrageAntwort
BEGIN DELETE FROM tblFachSeit WHERE idFrageAntwort = OLD.idFrageAntwort; END;
)sql";

// Reading aloud and sound: the language of each subject's questions and answers (a
// subject without a row has none), and the practice settings the user switched away
// from their defaults. The rows of a deleted subject stay (its key is never used
// again), so that undoing the deletion brings its languages back. IF NOT EXISTS: a
// file that holds them already, whatever its version number says, still upgrades.
constexpr const char *kReadAloudTables = R"sql(
CREATE TABLE IF NOT EXISTS tblGebietSprache (
    idGebiet       INTEGER PRIMARY KEY,
    SpracheFrage   TEXT NOT NULL,
    SpracheAntwort TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS tblEinstellung (
    Name TEXT PRIMARY KEY,
    Wert INTEGER NOT NULL
) WITHOUT ROWID;
)sql";

// Pictures and sounds: each content once (its checksum is unique), linked to the
// card sides that show it. A content goes with its last link, a link with its card.
constexpr const char *kMediaTables = R"sql(
CREATE TABLE tblMedium (
    idMedium   INTEGER PRIMARY KEY AUTOINCREMENT,
    Name       TEXT NOT NULL,
    Art        INTEGER NOT NULL CHECK (Art IN (0, 1)),
    Inhalt     BLOB NOT NULL,
    Pruefsumme BLOB NOT NULL UNIQUE
);
CREATE TABLE tblKarteMedium (
    idFrageAntwort INTEGER NOT NULL,
    Seite          INTEGER NOT NULL CHECK (Seite IN (0, 1)),
    Art            INTEGER NOT NULL CHECK (Art IN (0, 1)),
    idMedium       INTEGER NOT NULL REFERENCES tblMedium (idMedium),
    PRIMARY KEY (idFrageAntwort, Seite, Art)
) WITHOUT ROWID;
CREATE INDEX ixKarteMediumMedium ON tblKarteMedium (idMedium);
CREATE TRIGGER trgKarteMediumKarte AFTER DELETE ON tblFrageAntwort
BEGIN DELETE FROM tblKarteMedium WHERE idFrageAntwort = OLD.idFrageAntwort; END;
CREATE TRIGGER trgMediumUnbenutzt AFTER DELETE ON tblKarteMedium
WHEN NOT EXISTS (SELECT 1 FROM tblKarteMedium WHERE idMedium = OLD.idMedium)
BEGIN DELETE FROM tblMedium WHERE idMedium = OLD.idMedium; END;
)sql";

// Both directions: each subject's direction when it is not forward only (1 reverse,
// 2 both), each card's reverse place with its own time, and which log rows are
// verdicts on a reverse place. tblPosition keeps one row per card, its forward
// place, so that every tool reading the file reads it as before.
constexpr const char *kReversePlacesSchema = R"sql(
CREATE TABLE tblRichtung (
    idGebiet INTEGER PRIMARY KEY,
    Richtung INTEGER NOT NULL CHECK (Richtung IN (1, 2))
);
CREATE TABLE tblPositionUmgekehrt (
    idFrageAntwort INTEGER PRIMARY KEY REFERENCES tblFrageAntwort (idFrageAntwort),
    idGebiet       INTEGER NOT NULL,
    Fach           INTEGER NOT NULL CHECK (Fach BETWEEN 1 AND 2147483647),
    Stelle         INTEGER NOT NULL CHECK (Stelle BETWEEN -2147483648 AND 2147483647),
    Seit           INTEGER NOT NULL,
    Tag            INTEGER NOT NULL
);
CREATE INDEX ixUmgekehrtQueue ON tblPositionUmgekehrt (idGebiet, Fach, Stelle);
CREATE INDEX ixUmgekehrtStelle ON tblPositionUmgekehrt (Stelle);
CREATE TABLE tblUebungUmgekehrt (
    idUebung INTEGER PRIMARY KEY
);
)sql";

// Typed answers: how each subject counts a difference only in letter case, accents,
// punctuation or one typo (1 wrong, 2 almost right, 3 right); a subject without a
// row keeps the defaults. Like the languages, the rows of a deleted subject stay.
constexpr const char *kToleranceTable = R"sql(
CREATE TABLE IF NOT EXISTS tblGebietToleranz (
    idGebiet    INTEGER PRIMARY KEY,
    Schreibung  INTEGER NOT NULL CHECK (Schreibung BETWEEN 1 AND 3),
    Akzente     INTEGER NOT NULL CHECK (Akzente BETWEEN 1 AND 3),
    Satzzeichen INTEGER NOT NULL CHECK (Satzzeichen BETWEEN 1 AND 3),
    Tippfehler  INTEGER NOT NULL CHECK (Tippfehler BETWEEN 1 AND 3)
);
)sql";

// A card of an earlier version came into its compartment with its last verdict;
// one never judged is due at once.
constexpr const char *kFillEnteredAt = R"sql(
INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag)
SELECT f.idFrageAntwort, COALESCE(u.Seit, 0), tarlivo_lerntag(COALESCE(u.Seit, 0))
FROM tblFrageAntwort AS f
LEFT JOIN (SELECT idFrageAntwort, MAX(Zeitpunkt) AS Seit FROM tblUebung GROUP BY idFrageAntwort) AS u
ON u.idFrageAntwort = f.idFrageAntwort;
INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
SELECT p.idGebiet, 0, p.Fach, COALESCE(s.Tag, 0), COUNT(*) FROM tblPosition AS p
LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort GROUP BY 1, 3, 4;
)sql";

} // namespace

// Each version's step, in order: a new file takes them all, an older file those
// after its version. The only place that says what each version holds.
void upgradeFrom(sql::Database &db, qint64 version)
{
    if (version < 1) {
        db.exec(kSchema);
        db.exec(kScatteredPositionIndexes[0][1]);
        db.exec(kPlaceIndex[1]); // after the queue index, before the insert check
        db.exec(kPositionInsertSubjectTrigger);
        db.exec(kPositionUpdateSubjectTrigger);
    }
    if (version < 2) {
        db.exec(kSchemaVersion2);
        db.exec(kScatteredPositionIndexes[1][1]);
        db.exec(kSchemaVersion2Search);
    }
    if (version < 3) {
        db.exec(kSchemaVersion3);
        db.exec(kSearchInsertTrigger);
    }
    if (version < 4) {
        db.exec(kSchemaVersion4);
        if (version > 0)
            db.exec(kFillEnteredAt); // a new file has no cards, nor the function it calls
        db.exec(kBucketTriggers);
    }
    if (version < 5)
        db.exec(kReadAloudTables);
    if (version < 6)
        db.exec(kMediaTables);
    if (version < 7) {
        db.exec(kReversePlacesSchema);
        db.exec(kReverseInsertTriggers);
        db.exec(kReverseTriggers);
    }
    if (version < 8)
        db.exec(kToleranceTable);
    if (version < 9)
        createSyncSchema(db);
}

QStringList checkInvariants(sql::Database &db, bool allowSharedQueuePlace)
{
    QStringList problems;
    {
        sql::Statement q(db, "PRAGMA integrity_check");
        while (q.step()) {
            const QString line = q.text(0);
            if (line != QLatin1String("ok"))
                problems << QStringLiteral("integrity: ") + line;
        }
    }
    struct Check {
        const char *sql;
        const char *what;
    };
    static const Check checks[] = {
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE NOT EXISTS "
         "(SELECT 1 FROM tblPosition AS p WHERE p.idFrageAntwort = f.idFrageAntwort)",
         "cards without a position"},
        {"SELECT COUNT(*) FROM tblPosition AS p WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = p.idFrageAntwort)",
         "positions without a card"},
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE NOT EXISTS "
         "(SELECT 1 FROM tblGebiet AS g WHERE g.idGebiet = f.idGebiet)",
         "cards without a subject"},
        {"SELECT COUNT(*) FROM tblPosition AS p JOIN tblFrageAntwort AS f USING (idFrageAntwort) "
         "WHERE p.idGebiet IS NOT f.idGebiet",
         "positions whose subject differs from their card's"},
        {"SELECT COUNT(*) FROM tblPosition WHERE Fach < 1", "compartments below 1"},
        {"SELECT COUNT(*) FROM tblGebiet AS a JOIN tblGebiet AS b ON a.idGebiet < b.idGebiet "
         "AND a.NameGebiet = b.NameGebiet COLLATE TARLIVO_DE",
         "subject names that compare equal"},
        {"SELECT COUNT(*) FROM (SELECT Stelle FROM tblPosition GROUP BY Stelle HAVING COUNT(*) > 1)",
         "queue places held by more than one card"},
        // The search index holds exactly the cards up to its mark.
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE f.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand) "
         "AND NOT EXISTS (SELECT 1 FROM tblSuche_docsize AS d WHERE d.id = f.idFrageAntwort)",
         "cards missing from the search index"},
        {"SELECT COUNT(*) FROM tblSuche_docsize AS d WHERE d.id > (SELECT BisKarte FROM tblSucheStand) "
         "OR NOT EXISTS (SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = d.id)",
         "search index entries of no indexed card"},
        {"SELECT (SELECT COUNT(*) FROM tblSucheStand) <> 1", "search index mark not one row"},
        // The calendar: one time per card, and the buckets exactly the count of the cards.
        {"SELECT COUNT(*) FROM tblFrageAntwort AS f WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFachSeit AS s WHERE s.idFrageAntwort = f.idFrageAntwort)",
         "cards without their time in the compartment"},
        {"SELECT COUNT(*) FROM tblFachSeit AS s WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = s.idFrageAntwort)",
         "times of no card"},
        {"SELECT COUNT(*) FROM (SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 0 "
         "EXCEPT SELECT p.idGebiet, p.Fach, COALESCE(s.Tag, 0), COUNT(*) FROM tblPosition AS p "
         "LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort GROUP BY 1, 2, 3)",
         "day buckets that differ from the cards"},
        {"SELECT (SELECT COUNT(*) FROM tblFaellig WHERE Richtung = 0) - (SELECT COUNT(*) FROM (SELECT 1 "
         "FROM tblPosition AS p LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort "
         "GROUP BY p.idGebiet, p.Fach, COALESCE(s.Tag, 0)))",
         "day buckets missing or left over"},
        {"SELECT COUNT(*) FROM tblKarteMedium AS k WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = k.idFrageAntwort)",
         "media links of no card"},
        {"SELECT COUNT(*) FROM tblKarteMedium AS k WHERE NOT EXISTS "
         "(SELECT 1 FROM tblMedium AS m WHERE m.idMedium = k.idMedium AND m.Art = k.Art)",
         "media links of no file of their kind"},
        {"SELECT COUNT(*) FROM tblMedium AS m WHERE NOT EXISTS "
         "(SELECT 1 FROM tblKarteMedium AS k WHERE k.idMedium = m.idMedium)",
         "media files of no card"},
        // Both directions: the reverse places as the forward ones, and their buckets.
        {"SELECT COUNT(*) FROM tblPositionUmgekehrt AS r WHERE NOT EXISTS "
         "(SELECT 1 FROM tblFrageAntwort AS f WHERE f.idFrageAntwort = r.idFrageAntwort)",
         "reverse places without a card"},
        {"SELECT COUNT(*) FROM tblPositionUmgekehrt AS r JOIN tblFrageAntwort AS f USING (idFrageAntwort) "
         "WHERE r.idGebiet IS NOT f.idGebiet",
         "reverse places whose subject differs from their card's"},
        {"SELECT COUNT(*) FROM tblPositionUmgekehrt WHERE Fach < 1", "reverse compartments below 1"},
        {"SELECT COUNT(*) FROM (SELECT Stelle FROM tblPositionUmgekehrt GROUP BY Stelle HAVING COUNT(*) > 1)",
         "reverse queue places held by more than one card"},
        {"SELECT COUNT(*) FROM (SELECT idGebiet, Fach, Tag, Anzahl FROM tblFaellig WHERE Richtung = 1 "
         "EXCEPT SELECT idGebiet, Fach, Tag, COUNT(*) FROM tblPositionUmgekehrt GROUP BY 1, 2, 3)",
         "reverse day buckets that differ from the places"},
        {"SELECT (SELECT COUNT(*) FROM tblFaellig WHERE Richtung = 1) - (SELECT COUNT(*) FROM (SELECT 1 "
         "FROM tblPositionUmgekehrt GROUP BY idGebiet, Fach, Tag))",
         "reverse day buckets missing or left over"},
        {"SELECT COUNT(*) FROM tblRichtung AS d WHERE NOT EXISTS "
         "(SELECT 1 FROM tblGebiet AS g WHERE g.idGebiet = d.idGebiet)",
         "directions of no subject"},
        {"SELECT COUNT(*) FROM tblUebungUmgekehrt AS m WHERE NOT EXISTS "
         "(SELECT 1 FROM tblUebung AS u WHERE u.idUebung = m.idUebung)",
         "reverse marks of no verdict"},
        {"SELECT COUNT(*) FROM tblIntervall AS i WHERE NOT EXISTS "
         "(SELECT 1 FROM tblGebiet AS g WHERE g.idGebiet = i.idGebiet) OR Fach < 1",
         "intervals of no subject"},
    };
    for (const Check &check : checks) {
        if (allowSharedQueuePlace && std::strstr(check.what, "queue places"))
            continue;
        sql::Statement q(db, check.sql);
        if (q.step() && q.int64(0) != 0)
            problems << QStringLiteral("%1: %2").arg(QLatin1String(check.what)).arg(q.int64(0));
    }
    return problems;
}

} // namespace tarlivo::store::schema
