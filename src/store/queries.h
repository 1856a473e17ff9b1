#pragma once

#include "store/duerule.h"

// The statements behind the user's everyday actions, named so that the tests can
// check their query plans: each must be answered from an index, never by reading
// every position or every card.
namespace tarlivo::store::queries {

inline constexpr const char *kAllSubjects =
    "SELECT NameGebiet FROM tblGebiet ORDER BY NameGebiet COLLATE TARLIVO_DE, idGebiet";

inline constexpr const char *kSubjectsWithCards =
    "SELECT NameGebiet FROM tblGebiet AS g "
    "WHERE EXISTS (SELECT 1 FROM tblPosition AS p WHERE p.idGebiet = g.idGebiet) "
    "ORDER BY NameGebiet COLLATE TARLIVO_DE, idGebiet";

inline constexpr const char *kSubjectId = "SELECT idGebiet FROM tblGebiet WHERE NameGebiet = ?1 COLLATE TARLIVO_DE "
                                          "ORDER BY idGebiet LIMIT 1";

inline constexpr const char *kCardText = "SELECT Frage, Antwort FROM tblFrageAntwort WHERE idFrageAntwort = ?1";

// A card's text row with its position row, as undo compares them.
inline constexpr const char *kCardRow =
    "SELECT f.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle, s.Seit, r.Fach, r.Stelle, r.Seit "
    "FROM tblFrageAntwort AS f "
    "LEFT JOIN tblPosition AS p ON p.idFrageAntwort = f.idFrageAntwort "
    "LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = f.idFrageAntwort "
    "LEFT JOIN tblPositionUmgekehrt AS r ON r.idFrageAntwort = f.idFrageAntwort WHERE f.idFrageAntwort = ?1";

// Statistics. The positions index holds subject and compartment in order: the counts
// hop from compartment to compartment and count each range without reading its rows,
// where a GROUP BY would read every entry. The log is read only through its time
// indexes, one range per day.
inline constexpr const char *kCardsPerCompartment =
    "WITH RECURSIVE f (Fach) AS ("
    " SELECT MIN(Fach) FROM tblPosition WHERE idGebiet = ?1"
    " UNION ALL"
    " SELECT (SELECT MIN(Fach) FROM tblPosition WHERE idGebiet = ?1 AND Fach > f.Fach)"
    " FROM f WHERE f.Fach IS NOT NULL)"
    " SELECT Fach, (SELECT COUNT(*) FROM tblPosition WHERE idGebiet = ?1 AND Fach = f.Fach)"
    " FROM f WHERE Fach IS NOT NULL";
// For all subjects the same over the compartment index.
inline constexpr const char *kCardsPerCompartmentAll =
    "WITH RECURSIVE f (Fach) AS ("
    " SELECT MIN(Fach) FROM tblPosition"
    " UNION ALL"
    " SELECT (SELECT MIN(Fach) FROM tblPosition WHERE Fach > f.Fach)"
    " FROM f WHERE f.Fach IS NOT NULL)"
    " SELECT Fach, (SELECT COUNT(*) FROM tblPosition WHERE Fach = f.Fach)"
    " FROM f WHERE Fach IS NOT NULL";
// The reverse places are counted from their day buckets: a few thousand rows for
// half a million places.
inline constexpr const char *kReversePerCompartment =
    "SELECT Fach, SUM(Anzahl) FROM tblFaellig WHERE idGebiet = ?1 AND Richtung = 1 GROUP BY Fach";
inline constexpr const char *kReversePerCompartmentAll =
    "SELECT b.Fach, SUM(b.Anzahl) FROM tblGebiet AS g "
    "JOIN tblFaellig AS b ON b.idGebiet = g.idGebiet AND b.Richtung = 1 GROUP BY b.Fach";
inline constexpr const char *kCardCount = "SELECT COUNT(*) FROM tblPosition WHERE idGebiet = ?1";
inline constexpr const char *kCardCountAll = "SELECT COUNT(*) FROM tblPosition";
// Richtig, Fast Richtig, Falsch in one row: grouped by verdict, SQLite would sort
// the day's rows first, which takes twice as long.
inline constexpr const char *kVerdictsBetween =
    "SELECT COUNT(*) FILTER (WHERE Urteil = 3), COUNT(*) FILTER (WHERE Urteil = 2), "
    "COUNT(*) FILTER (WHERE Urteil = 1) FROM tblUebung WHERE idGebiet = ?1 AND Zeitpunkt >= ?2 AND Zeitpunkt < ?3";
inline constexpr const char *kVerdictsBetweenAll =
    "SELECT COUNT(*) FILTER (WHERE Urteil = 3), COUNT(*) FILTER (WHERE Urteil = 2), "
    "COUNT(*) FILTER (WHERE Urteil = 1) FROM tblUebung WHERE Zeitpunkt >= ?2 AND Zeitpunkt < ?3";
inline constexpr const char *kPractisedBetween =
    "SELECT 1 FROM tblUebung WHERE idGebiet = ?1 AND Zeitpunkt >= ?2 AND Zeitpunkt < ?3 LIMIT 1";
inline constexpr const char *kPractisedBetweenAll =
    "SELECT 1 FROM tblUebung WHERE Zeitpunkt >= ?2 AND Zeitpunkt < ?3 LIMIT 1";
// The card list.
inline constexpr const char *kCardRows =
    "SELECT f.idFrageAntwort, f.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle, s.Seit, r.Fach, r.Stelle, r.Seit "
    "FROM tblFrageAntwort AS f JOIN tblPosition AS p ON p.idFrageAntwort = f.idFrageAntwort "
    "LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = f.idFrageAntwort "
    "LEFT JOIN tblPositionUmgekehrt AS r ON r.idFrageAntwort = f.idFrageAntwort "
    "WHERE f.idFrageAntwort IN (SELECT value FROM json_each(?1))";

inline constexpr const char *kSubjectCardRows =
    "SELECT f.idFrageAntwort, f.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle, s.Seit, r.Fach, r.Stelle, r.Seit "
    "FROM tblPosition AS p JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort "
    "LEFT JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort "
    "LEFT JOIN tblPositionUmgekehrt AS r ON r.idFrageAntwort = p.idFrageAntwort "
    "WHERE p.idGebiet = ?1 ORDER BY p.Fach, p.Stelle, p.idFrageAntwort";

inline constexpr const char *kSubjectRows =
    "SELECT idGebiet, NameGebiet FROM tblGebiet ORDER BY NameGebiet COLLATE TARLIVO_DE, idGebiet";

// Pages of the practice order: the keys are counted off on the index alone, and
// only the page's own rows are read. ?2 is the page size, ?3 the rows skipped.
#define TARLIVO_PAGE_OF(keys)                                                                                          \
    "SELECT p.idFrageAntwort, p.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle, g.NameGebiet, r.Fach, r.Stelle "       \
    "FROM (" keys ") AS k "                                                                                            \
    "JOIN tblPosition AS p ON p.idFrageAntwort = k.id "                                                                \
    "LEFT JOIN tblPositionUmgekehrt AS r ON r.idFrageAntwort = k.id "                                                  \
    "JOIN tblFrageAntwort AS f ON f.idFrageAntwort = k.id "                                                            \
    "JOIN tblGebiet AS g ON g.idGebiet = p.idGebiet "                                                                  \
    "ORDER BY p.Fach, p.Stelle, p.idFrageAntwort"
inline constexpr const char *kPageSubject =
    TARLIVO_PAGE_OF("SELECT idFrageAntwort AS id FROM tblPosition WHERE idGebiet = ?1 "
                    "ORDER BY Fach, Stelle, idFrageAntwort LIMIT ?2 OFFSET ?3");
inline constexpr const char *kPageSubjectFromEnd =
    TARLIVO_PAGE_OF("SELECT idFrageAntwort AS id FROM tblPosition WHERE idGebiet = ?1 "
                    "ORDER BY Fach DESC, Stelle DESC, idFrageAntwort DESC LIMIT ?2 OFFSET ?3");
inline constexpr const char *kPageAll = TARLIVO_PAGE_OF(
    "SELECT idFrageAntwort AS id FROM tblPosition ORDER BY Fach, Stelle, idFrageAntwort LIMIT ?2 OFFSET ?3");
inline constexpr const char *kPageAllFromEnd =
    TARLIVO_PAGE_OF("SELECT idFrageAntwort AS id FROM tblPosition "
                    "ORDER BY Fach DESC, Stelle DESC, idFrageAntwort DESC LIMIT ?2 OFFSET ?3");
#undef TARLIVO_PAGE_OF

// The keys of a filtered or sorted list. ?1 the search phrase, ?2 the subject or NULL
// for all, ?3 the searched text. With a search the index hands over the hits, and only those are sorted.
#define TARLIVO_KEYS(from, where, order)                                                                               \
    "SELECT p.idFrageAntwort FROM " from " JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort "          \
    "JOIN tblGebiet AS g ON g.idGebiet = p.idGebiet WHERE " where " ORDER BY " order
// The hits: what the index finds for the phrase ?1, and among the cards it does not
// hold yet (see tblSucheStand) those whose texts hold ?3.
#define TARLIVO_HITS                                                                                                   \
    "(SELECT rowid AS id FROM tblSuche WHERE tblSuche MATCH ?1 UNION ALL "                                             \
    "SELECT idFrageAntwort FROM tblFrageAntwort WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand) "          \
    "AND tarlivo_enthaelt(Frage, Antwort, ?3)) AS s JOIN tblPosition AS p ON p.idFrageAntwort = s.id"
#define TARLIVO_IN_SUBJECT "(?2 IS NULL OR p.idGebiet = ?2)"
#define TARLIVO_PRACTICE "p.Fach, p.Stelle, p.idFrageAntwort"
// In practice order the texts are not needed: the hits are sorted on the position rows alone.
inline constexpr const char *kKeysByPractice[] = {
    "SELECT p.idFrageAntwort FROM tblPosition AS p WHERE " TARLIVO_IN_SUBJECT " ORDER BY " TARLIVO_PRACTICE,
    "SELECT p.idFrageAntwort FROM " TARLIVO_HITS " WHERE " TARLIVO_IN_SUBJECT " ORDER BY " TARLIVO_PRACTICE};
inline constexpr const char *kKeysByQuestion[] = {
    TARLIVO_KEYS("tblPosition AS p", TARLIVO_IN_SUBJECT, "f.Frage COLLATE TARLIVO_DE, " TARLIVO_PRACTICE),
    TARLIVO_KEYS(TARLIVO_HITS, TARLIVO_IN_SUBJECT, "f.Frage COLLATE TARLIVO_DE, " TARLIVO_PRACTICE)};
inline constexpr const char *kKeysByAnswer[] = {
    TARLIVO_KEYS("tblPosition AS p", TARLIVO_IN_SUBJECT, "f.Antwort COLLATE TARLIVO_DE, " TARLIVO_PRACTICE),
    TARLIVO_KEYS(TARLIVO_HITS, TARLIVO_IN_SUBJECT, "f.Antwort COLLATE TARLIVO_DE, " TARLIVO_PRACTICE)};
inline constexpr const char *kKeysBySubject[] = {
    TARLIVO_KEYS("tblPosition AS p", TARLIVO_IN_SUBJECT,
                 "g.NameGebiet COLLATE TARLIVO_DE, g.idGebiet, " TARLIVO_PRACTICE),
    TARLIVO_KEYS(TARLIVO_HITS, TARLIVO_IN_SUBJECT, "g.NameGebiet COLLATE TARLIVO_DE, g.idGebiet, " TARLIVO_PRACTICE)};
#undef TARLIVO_KEYS
#undef TARLIVO_HITS
#undef TARLIVO_IN_SUBJECT
#undef TARLIVO_PRACTICE

// The texts in practice order, to find the first hits of a common text quickly.
inline constexpr const char *kTextsInPracticeOrder =
    "SELECT p.idFrageAntwort, f.Frage, f.Antwort FROM tblPosition AS p "
    "JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort WHERE p.idGebiet = ?1 "
    "ORDER BY p.Fach, p.Stelle, p.idFrageAntwort";
inline constexpr const char *kAllTextsInPracticeOrder =
    "SELECT p.idFrageAntwort, f.Frage, f.Antwort FROM tblPosition AS p "
    "JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort ORDER BY p.Fach, p.Stelle, p.idFrageAntwort";
// A slice of the hits in key order, each row a card looked at, with its place and
// subject when it is a hit (NULL otherwise): the next ?4 cards after key ?2 that the
// index finds for the phrase ?1, up to its mark ?3; or the next ?3 cards after key
// ?2, all beyond the mark, read directly for the text ?1.
inline constexpr const char *kIndexHitSlice =
    "SELECT h.id, p.Fach, p.Stelle, p.idGebiet FROM (SELECT rowid AS id FROM tblSuche WHERE tblSuche MATCH ?1 "
    "AND rowid > ?2 AND rowid <= ?3 ORDER BY rowid LIMIT ?4) AS h "
    "LEFT JOIN tblPosition AS p ON p.idFrageAntwort = h.id ORDER BY h.id";
inline constexpr const char *kUnindexedHitSlice =
    "SELECT c.id, p.Fach, p.Stelle, p.idGebiet FROM (SELECT idFrageAntwort AS id, "
    "tarlivo_enthaelt(Frage, Antwort, ?1) AS hit FROM tblFrageAntwort WHERE idFrageAntwort > ?2 "
    "ORDER BY idFrageAntwort LIMIT ?3) AS c LEFT JOIN tblPosition AS p ON p.idFrageAntwort = c.id AND c.hit "
    "ORDER BY c.id";

// Deleting many cards: the keys travel as one JSON array; rows go in key order.
inline constexpr const char *kDeletePositions =
    "DELETE FROM tblPosition WHERE idFrageAntwort IN (SELECT value FROM json_each(?1))";
inline constexpr const char *kDeleteCards =
    "DELETE FROM tblFrageAntwort WHERE idFrageAntwort IN (SELECT value FROM json_each(?1))";

// The rows of a screenful of keys, ?1 to ?N; the caller puts them in its order.
inline constexpr const char *kListRow =
    "SELECT p.idFrageAntwort, p.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle, g.NameGebiet, r.Fach, r.Stelle "
    "FROM tblPosition AS p JOIN tblFrageAntwort AS f ON f.idFrageAntwort = p.idFrageAntwort "
    "JOIN tblGebiet AS g ON g.idGebiet = p.idGebiet "
    "LEFT JOIN tblPositionUmgekehrt AS r ON r.idFrageAntwort = p.idFrageAntwort WHERE p.idFrageAntwort = ?1";

// ---- The calendar ----------------------------------------------------------

// The due figures. The buckets of one (subject, compartment) share its interval, so
// it is looked up once per compartment, not once per bucket: the compartments holding
// cards are found by hopping through the buckets' key (k: subject g, compartment
// Fach, interval iv), and each compartment's buckets are summed as three ranges of
// days: due now, due within the week, later. Every bucket row is read once. ?1 is
// today's learning day, ?2 the subject (NULL: all).
// Each subject counts the directions it practises (tblRichtung: none or 0 forward, 1
// reverse, 2 both): d pairs subject g with direction r.
#define TARLIVO_COMPARTMENTS                                                                                           \
    "WITH RECURSIVE d (g, r) AS (SELECT g.idGebiet, w.r FROM tblGebiet AS g"                                           \
    " JOIN (SELECT 0 AS r UNION ALL SELECT 1) AS w LEFT JOIN tblRichtung AS x ON x.idGebiet = g.idGebiet"              \
    " WHERE (?2 IS NULL OR g.idGebiet = ?2) AND (COALESCE(x.Richtung, 0) = w.r OR x.Richtung = 2)),"                   \
    " f (g, r, Fach) AS ("                                                                                             \
    " SELECT d.g, d.r, (SELECT MIN(b.Fach) FROM tblFaellig AS b WHERE b.idGebiet = d.g AND b.Richtung = d.r)"          \
    " FROM d"                                                                                                          \
    " UNION ALL"                                                                                                       \
    " SELECT f.g, f.r, (SELECT MIN(b.Fach) FROM tblFaellig AS b WHERE b.idGebiet = f.g AND b.Richtung = f.r"           \
    " AND b.Fach > f.Fach) FROM f WHERE f.Fach IS NOT NULL),"                                                          \
    " k (g, r, Fach, iv) AS (SELECT f.g, f.r, f.Fach, COALESCE((SELECT i.Tage FROM tblIntervall AS i"                  \
    " WHERE i.idGebiet = f.g AND i.Fach = f.Fach),"                                                                    \
    " tarlivo_standardintervall(f.Fach))"                                                                              \
    " FROM f WHERE f.Fach IS NOT NULL) "
#define TARLIVO_RANGE(condition)                                                                                       \
    "(SELECT SUM(b.Anzahl) FROM tblFaellig AS b WHERE b.idGebiet = k.g AND b.Richtung = k.r AND b.Fach = k.Fach "      \
    "AND " condition ")"
// The strings stay whole lines: the formatter would cut them every few letters.
// clang-format off
#define TARLIVO_PER_COMPARTMENT                                                                                        \
    "SELECT k.g, k.Fach, k.iv, " TARLIVO_RANGE(TARLIVO_SQL_DUE("b.Tag", "k.iv", "?1")) " AS jetzt, "                                     \
    TARLIVO_RANGE(TARLIVO_SQL_NOT_DUE("b.Tag", "k.iv", "?1") " AND " TARLIVO_SQL_DUE("b.Tag", "k.iv", "?1 + 6")) " AS woche, "                                        \
    TARLIVO_RANGE(TARLIVO_SQL_NOT_DUE("b.Tag", "k.iv", "?1 + 6")) " AS spaeter, "                                                             \
    TARLIVO_SQL_DUE_DAY("(SELECT MIN(b.Tag) FROM tblFaellig AS b WHERE b.idGebiet = k.g AND b.Richtung = k.r AND b.Fach = k.Fach)", "k.iv") \
    " AS naechst, k.r FROM k"
// clang-format on
// Per compartment of one subject (?2) or all: subject, compartment, interval, cards due
// now, due later in the week, due after it, the earliest due day. Summed up by the
// caller: summed here, SQLite would repeat each compartment's ranges once per sum.
inline constexpr const char *kDueByCompartment = TARLIVO_COMPARTMENTS TARLIVO_PER_COMPARTMENT;
// Cards falling due on each day from today (?1, with all those overdue) to ?3.
// clang-format off
inline constexpr const char *kForecast = TARLIVO_COMPARTMENTS "SELECT ?1, " TARLIVO_RANGE(TARLIVO_SQL_DUE("b.Tag", "k.iv", "?1")) " FROM k "
    "UNION ALL SELECT " TARLIVO_SQL_DUE_DAY("b.Tag", "k.iv") ", b.Anzahl FROM k JOIN tblFaellig AS b ON b.idGebiet = k.g "
    "AND b.Richtung = k.r AND b.Fach = k.Fach AND " TARLIVO_SQL_NOT_DUE("b.Tag", "k.iv", "?1") " AND " TARLIVO_SQL_DUE("b.Tag", "k.iv", "?3");
// clang-format on
#undef TARLIVO_COMPARTMENTS
#undef TARLIVO_RANGE
#undef TARLIVO_PER_COMPARTMENT

// A card's compartment, subject and learning day, to tell whether it is due.
inline constexpr const char *kCardDay = "SELECT p.idGebiet, p.Fach, s.Tag FROM tblPosition AS p "
                                        "JOIN tblFachSeit AS s ON s.idFrageAntwort = p.idFrageAntwort "
                                        "WHERE p.idFrageAntwort = ?1";
inline constexpr const char *kCardDayReverse = "SELECT idGebiet, Fach, Tag FROM tblPositionUmgekehrt "
                                               "WHERE idFrageAntwort = ?1";
inline constexpr const char *kInterval = "SELECT Tage FROM tblIntervall WHERE idGebiet = ?1 AND Fach = ?2";
inline constexpr const char *kIntervalsOfSubject = "SELECT Fach, Tage FROM tblIntervall WHERE idGebiet = ?1";

// ---- Both directions -------------------------------------------------------

// Every card of subject ?1 without a reverse place gets one: compartment 1, queue
// place ?2 + its key, entered at ?3 (learning day ?4). A subject without any reverse
// place yet is filled without looking for them: a statement reading the table it
// writes would first copy all its rows aside.
#define TARLIVO_FILL(lacking)                                                                                          \
    "INSERT INTO tblPositionUmgekehrt (idFrageAntwort, idGebiet, Fach, Stelle, Seit, Tag) "                            \
    "SELECT p.idFrageAntwort, p.idGebiet, 1, ?2 + p.idFrageAntwort, ?3, ?4 FROM tblPosition AS p "                     \
    "WHERE p.idGebiet = ?1" lacking " ORDER BY p.idFrageAntwort"
#define TARLIVO_LACKING                                                                                                \
    " AND NOT EXISTS (SELECT 1 FROM tblPositionUmgekehrt AS r WHERE r.idFrageAntwort = p.idFrageAntwort)"
inline constexpr const char *kFillReverse = TARLIVO_FILL(TARLIVO_LACKING);
inline constexpr const char *kFillReverseFirst = TARLIVO_FILL("");
// How many lack one, and their smallest and largest keys.
inline constexpr const char *kLackingReverse = "SELECT COUNT(*), MIN(p.idFrageAntwort), MAX(p.idFrageAntwort) FROM "
                                               "tblPosition AS p WHERE p.idGebiet = ?1" TARLIVO_LACKING;
inline constexpr const char *kAllLackingReverse =
    "SELECT COUNT(*), MIN(p.idFrageAntwort), MAX(p.idFrageAntwort) FROM tblPosition AS p WHERE p.idGebiet = ?1";
#undef TARLIVO_FILL
#undef TARLIVO_LACKING

} // namespace tarlivo::store::queries
