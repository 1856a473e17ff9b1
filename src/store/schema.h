#pragma once

#include "store/sqlite.h"

#include <QStringList>

// The file's tables, indexes and triggers, and the checks of what they promise: the
// one place that says what each version of the file holds. Parts that drop a trigger
// or an index for a large write take its statement from here to make it again.
namespace tarlivo::store::schema {

// Writes the steps after version (0: a new, empty file) up to the current one.
void upgradeFrom(sql::Database &db, qint64 version);
// Everything the program relies on, checked; empty when the file is sound.
QStringList checkInvariants(sql::Database &db, bool allowSharedQueuePlace);

// A card added one at a time goes into the search index at once, unless cards
// before it still wait (then it waits with them). An import drops this trigger
// inside its own write and makes it again at the end: its cards all wait.
inline constexpr const char *kSearchInsertTrigger = R"sql(
CREATE TRIGGER trgSucheInsert AFTER INSERT ON tblFrageAntwort
WHEN NEW.idFrageAntwort <= (SELECT BisKarte FROM tblSucheStand)
  OR NOT EXISTS (SELECT 1 FROM tblFrageAntwort WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand)
                 AND idFrageAntwort <> NEW.idFrageAntwort)
BEGIN
    INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (NEW.idFrageAntwort, NEW.Frage, NEW.Antwort);
    UPDATE tblSucheStand SET BisKarte = NEW.idFrageAntwort WHERE BisKarte < NEW.idFrageAntwort;
END;
)sql";

// The check that a new position's subject is its card's. An import, whose rows are
// written from one value, drops it inside its write and restores it at the end.
inline constexpr const char *kPositionInsertSubjectTrigger = R"sql(
CREATE TRIGGER trgPositionInsertSubject BEFORE INSERT ON tblPosition
WHEN NEW.idGebiet IS NOT (SELECT idGebiet FROM tblFrageAntwort WHERE idFrageAntwort = NEW.idFrageAntwort)
BEGIN SELECT RAISE(ABORT, 'tblPosition.idGebiet differs from the card''s subject'); END;
)sql";

// Finds a card by its subject and question, so that an import into a large subject
// need not read all its cards to skip duplicates. Built when first needed; a large
// import drops it rather than writing all over it (name, statement).
inline constexpr const char *kTextIndex[2] = {
    "ixFrageAntwortText", "CREATE INDEX IF NOT EXISTS ixFrageAntwortText ON tblFrageAntwort (idGebiet, Frage)"};

// The position indexes a large import of many subjects and compartments writes all
// over; it builds them again at its end instead (name, statement).
// The schema makes them from here too.
inline constexpr const char *kScatteredPositionIndexes[][2] = {
    {"ixPositionQueue", "CREATE INDEX IF NOT EXISTS ixPositionQueue ON tblPosition (idGebiet, Fach, Stelle)"},
    {"ixPositionFach", "CREATE INDEX IF NOT EXISTS ixPositionFach ON tblPosition (Fach, Stelle)"}};
// The queue places' index: an import whose places are given at its end in another
// order than its keys drops it with those above (name, statement).
inline constexpr const char *kPlaceIndex[2] = {"ixPositionStelle",
                                               "CREATE INDEX ixPositionStelle ON tblPosition (Stelle)"};

// The day buckets tblFaellig count the cards of each (subject, compartment) by the
// learning day on which they came into it, so that the due counts read a few
// thousand bucket rows instead of every card. These triggers keep them exact; each
// reads the other table as it stands, so the position and its time may be written
// in either order. A position without its time counts on day 0 until the time
// comes. An import drops them inside its write and adds its counts at the end.
inline constexpr const char *kBucketTriggerNames[] = {
    "trgFaelligPositionInsert", "trgFaelligPositionDelete", "trgFaelligPositionUpdate", "trgFaelligSeitInsert",
    "trgFaelligSeitDelete",     "trgFaelligSeitUpdate",     "trgFaelligSeitRekey"};
// A position counts one at its card's day (0 while it has none); a time moves the
// count of its card's position, if there is one, between its days.
inline constexpr const char *kBucketTriggers = R"sql(
CREATE TRIGGER trgFaelligPositionInsert AFTER INSERT ON tblPosition BEGIN
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
    SELECT NEW.idGebiet, 0, NEW.Fach, COALESCE((SELECT Tag FROM tblFachSeit WHERE idFrageAntwort = NEW.idFrageAntwort), 0), 1
    WHERE true ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
CREATE TRIGGER trgFaelligPositionDelete AFTER DELETE ON tblPosition BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1 WHERE idGebiet = OLD.idGebiet AND Richtung = 0 AND Fach = OLD.Fach
    AND Tag = COALESCE((SELECT Tag FROM tblFachSeit WHERE idFrageAntwort = OLD.idFrageAntwort), 0);
    DELETE FROM tblFaellig WHERE idGebiet = OLD.idGebiet AND Richtung = 0 AND Fach = OLD.Fach
    AND Tag = COALESCE((SELECT Tag FROM tblFachSeit WHERE idFrageAntwort = OLD.idFrageAntwort), 0) AND Anzahl <= 0;
END;
CREATE TRIGGER trgFaelligPositionUpdate AFTER UPDATE OF idGebiet, Fach, idFrageAntwort ON tblPosition
WHEN OLD.idGebiet IS NOT NEW.idGebiet OR OLD.Fach IS NOT NEW.Fach OR OLD.idFrageAntwort IS NOT NEW.idFrageAntwort
BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1 WHERE idGebiet = OLD.idGebiet AND Richtung = 0 AND Fach = OLD.Fach
    AND Tag = COALESCE((SELECT Tag FROM tblFachSeit WHERE idFrageAntwort = OLD.idFrageAntwort), 0);
    DELETE FROM tblFaellig WHERE idGebiet = OLD.idGebiet AND Richtung = 0 AND Fach = OLD.Fach
    AND Tag = COALESCE((SELECT Tag FROM tblFachSeit WHERE idFrageAntwort = OLD.idFrageAntwort), 0) AND Anzahl <= 0;
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
    SELECT NEW.idGebiet, 0, NEW.Fach, COALESCE((SELECT Tag FROM tblFachSeit WHERE idFrageAntwort = NEW.idFrageAntwort), 0), 1
    WHERE true ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
CREATE TRIGGER trgFaelligSeitInsert AFTER INSERT ON tblFachSeit WHEN NEW.Tag IS NOT 0 BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1 WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort) AND Tag = 0;
    DELETE FROM tblFaellig WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort) AND Tag = 0 AND Anzahl <= 0;
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
    SELECT idGebiet, 0, Fach, NEW.Tag, 1 FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort
    ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
CREATE TRIGGER trgFaelligSeitDelete AFTER DELETE ON tblFachSeit WHEN OLD.Tag IS NOT 0 BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1 WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort) AND Tag = OLD.Tag;
    DELETE FROM tblFaellig WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort) AND Tag = OLD.Tag AND Anzahl <= 0;
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
    SELECT idGebiet, 0, Fach, 0, 1 FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort
    ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
CREATE TRIGGER trgFaelligSeitUpdate AFTER UPDATE OF Tag ON tblFachSeit
WHEN OLD.idFrageAntwort IS NEW.idFrageAntwort AND OLD.Tag IS NOT NEW.Tag BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1 WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort) AND Tag = OLD.Tag;
    DELETE FROM tblFaellig WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort) AND Tag = OLD.Tag AND Anzahl <= 0;
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
    SELECT idGebiet, 0, Fach, NEW.Tag, 1 FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort
    ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
CREATE TRIGGER trgFaelligSeitRekey AFTER UPDATE OF idFrageAntwort ON tblFachSeit
WHEN OLD.idFrageAntwort IS NOT NEW.idFrageAntwort BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1 WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort) AND Tag = OLD.Tag;
    DELETE FROM tblFaellig WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort) AND Tag = OLD.Tag AND Anzahl <= 0;
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
    SELECT idGebiet, 0, Fach, 0, 1 FROM tblPosition WHERE idFrageAntwort = OLD.idFrageAntwort
    ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
    UPDATE tblFaellig SET Anzahl = Anzahl - 1 WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort) AND Tag = 0;
    DELETE FROM tblFaellig WHERE idGebiet = (SELECT idGebiet FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort)
    AND Richtung = 0 AND Fach = (SELECT Fach FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort) AND Tag = 0 AND Anzahl <= 0;
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl)
    SELECT idGebiet, 0, Fach, NEW.Tag, 1 FROM tblPosition WHERE idFrageAntwort = NEW.idFrageAntwort
    ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
)sql";

// A reverse place's row checks its subject and counts in the day buckets with
// Richtung 1; its card takes it along when it changes subject or goes. A fill of many
// places drops the two insert triggers inside its write and counts its places itself.
inline constexpr const char *kReverseInsertTriggerNames[] = {"trgUmgekehrtInsertSubject", "trgFaelligUmgekehrtInsert"};
inline constexpr const char *kReverseInsertTriggers = R"sql(
CREATE TRIGGER trgUmgekehrtInsertSubject BEFORE INSERT ON tblPositionUmgekehrt
WHEN NEW.idGebiet IS NOT (SELECT idGebiet FROM tblFrageAntwort WHERE idFrageAntwort = NEW.idFrageAntwort)
BEGIN SELECT RAISE(ABORT, 'tblPositionUmgekehrt.idGebiet differs from the card''s subject'); END;
CREATE TRIGGER trgFaelligUmgekehrtInsert AFTER INSERT ON tblPositionUmgekehrt BEGIN
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl) VALUES (NEW.idGebiet, 1, NEW.Fach, NEW.Tag, 1)
    ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
)sql";
inline constexpr const char *kReverseTriggers = R"sql(
CREATE TRIGGER trgUmgekehrtUpdateSubject BEFORE UPDATE OF idGebiet, idFrageAntwort ON tblPositionUmgekehrt
WHEN NEW.idGebiet IS NOT (SELECT idGebiet FROM tblFrageAntwort WHERE idFrageAntwort = NEW.idFrageAntwort)
BEGIN SELECT RAISE(ABORT, 'tblPositionUmgekehrt.idGebiet differs from the card''s subject'); END;
CREATE TRIGGER trgFaelligUmgekehrtDelete AFTER DELETE ON tblPositionUmgekehrt BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1
    WHERE idGebiet = OLD.idGebiet AND Richtung = 1 AND Fach = OLD.Fach AND Tag = OLD.Tag;
    DELETE FROM tblFaellig
    WHERE idGebiet = OLD.idGebiet AND Richtung = 1 AND Fach = OLD.Fach AND Tag = OLD.Tag AND Anzahl <= 0;
END;
CREATE TRIGGER trgFaelligUmgekehrtUpdate AFTER UPDATE OF idGebiet, Fach, Tag ON tblPositionUmgekehrt
WHEN OLD.idGebiet IS NOT NEW.idGebiet OR OLD.Fach IS NOT NEW.Fach OR OLD.Tag IS NOT NEW.Tag BEGIN
    UPDATE tblFaellig SET Anzahl = Anzahl - 1
    WHERE idGebiet = OLD.idGebiet AND Richtung = 1 AND Fach = OLD.Fach AND Tag = OLD.Tag;
    DELETE FROM tblFaellig
    WHERE idGebiet = OLD.idGebiet AND Richtung = 1 AND Fach = OLD.Fach AND Tag = OLD.Tag AND Anzahl <= 0;
    INSERT INTO tblFaellig (idGebiet, Richtung, Fach, Tag, Anzahl) VALUES (NEW.idGebiet, 1, NEW.Fach, NEW.Tag, 1)
    ON CONFLICT DO UPDATE SET Anzahl = Anzahl + 1;
END;
CREATE TRIGGER trgUmgekehrtCardSubject AFTER UPDATE OF idGebiet ON tblFrageAntwort
WHEN NEW.idGebiet IS NOT OLD.idGebiet
BEGIN UPDATE tblPositionUmgekehrt SET idGebiet = NEW.idGebiet WHERE idFrageAntwort = NEW.idFrageAntwort; END;
CREATE TRIGGER trgUmgekehrtCardDelete AFTER DELETE ON tblFrageAntwort
BEGIN DELETE FROM tblPositionUmgekehrt WHERE idFrageAntwort = OLD.idFrageAntwort; END;
CREATE TRIGGER trgRichtungSubjectDelete AFTER DELETE ON tblGebiet
BEGIN DELETE FROM tblRichtung WHERE idGebiet = OLD.idGebiet; END;
CREATE TRIGGER trgUebungUmgekehrtDelete AFTER DELETE ON tblUebung
BEGIN DELETE FROM tblUebungUmgekehrt WHERE idUebung = OLD.idUebung; END;
)sql";

} // namespace tarlivo::store::schema
