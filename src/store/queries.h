#pragma once

// The statements behind the user's everyday actions, named so that the tests can
// check their query plans: each must be answered from an index, never by reading
// every position or every card.
namespace tarlivo::queries {

inline constexpr const char *kAllSubjects =
    "SELECT NameGebiet FROM tblGebiet ORDER BY NameGebiet COLLATE TARLIVO_DE, idGebiet";

inline constexpr const char *kSubjectsWithCards =
    "SELECT NameGebiet FROM tblGebiet AS g "
    "WHERE EXISTS (SELECT 1 FROM tblPosition AS p WHERE p.idGebiet = g.idGebiet) "
    "ORDER BY NameGebiet COLLATE TARLIVO_DE, idGebiet";

inline constexpr const char *kSubjectId = "SELECT idGebiet FROM tblGebiet WHERE NameGebiet = ?1 COLLATE TARLIVO_DE "
                                          "ORDER BY idGebiet LIMIT 1";

inline constexpr const char *kMaxStelle = "SELECT MAX(Stelle) FROM tblPosition";

// Hops from one compartment to the next through the index instead of reading
// every card of the subject: a few steps whatever the number of cards.
inline constexpr const char *kCompartments =
    "WITH RECURSIVE f (Fach) AS ("
    " SELECT MIN(Fach) FROM tblPosition WHERE idGebiet = ?1"
    " UNION ALL"
    " SELECT (SELECT MIN(Fach) FROM tblPosition WHERE idGebiet = ?1 AND Fach > f.Fach)"
    " FROM f WHERE f.Fach IS NOT NULL)"
    " SELECT Fach FROM f WHERE Fach IS NOT NULL";

// Ties on Stelle can only come from files of the older program; the card key
// then keeps their order stable.
inline constexpr const char *kHeadCard = "SELECT idFrageAntwort FROM tblPosition WHERE idGebiet = ?1 AND Fach = ?2 "
                                         "ORDER BY Stelle, idFrageAntwort LIMIT 1";

inline constexpr const char *kCardText = "SELECT Frage, Antwort FROM tblFrageAntwort WHERE idFrageAntwort = ?1";

// A card's text row with its position row, as undo compares them.
inline constexpr const char *kCardRow =
    "SELECT f.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle FROM tblFrageAntwort AS f "
    "LEFT JOIN tblPosition AS p ON p.idFrageAntwort = f.idFrageAntwort WHERE f.idFrageAntwort = ?1";

inline constexpr const char *kCardsAtStelle = "SELECT COUNT(*) FROM tblPosition WHERE Stelle = ?1";

// Statistics. The positions index holds subject and compartment in order, so the
// counts per compartment come from one range of it; the log is read only through
// its time indexes, one range per day.
inline constexpr const char *kCardsPerCompartment =
    "SELECT Fach, COUNT(*) FROM tblPosition WHERE idGebiet = ?1 GROUP BY Fach ORDER BY Fach";
// For all subjects grouped by subject too, which the index holds in order: no
// sorting of a million rows; the caller adds the subjects up.
inline constexpr const char *kCardsPerCompartmentAll = "SELECT Fach, COUNT(*) FROM tblPosition GROUP BY idGebiet, Fach";
inline constexpr const char *kCardCount = "SELECT COUNT(*) FROM tblPosition WHERE idGebiet = ?1";
inline constexpr const char *kCardCountAll = "SELECT COUNT(*) FROM tblPosition";
inline constexpr const char *kVerdictsBetween =
    "SELECT Urteil, COUNT(*) FROM tblUebung WHERE idGebiet = ?1 AND Zeitpunkt >= ?2 AND Zeitpunkt < ?3 "
    "GROUP BY Urteil";
inline constexpr const char *kVerdictsBetweenAll =
    "SELECT Urteil, COUNT(*) FROM tblUebung WHERE Zeitpunkt >= ?2 AND Zeitpunkt < ?3 GROUP BY Urteil";
inline constexpr const char *kPractisedBetween =
    "SELECT 1 FROM tblUebung WHERE idGebiet = ?1 AND Zeitpunkt >= ?2 AND Zeitpunkt < ?3 LIMIT 1";
inline constexpr const char *kPractisedBetweenAll =
    "SELECT 1 FROM tblUebung WHERE Zeitpunkt >= ?2 AND Zeitpunkt < ?3 LIMIT 1";

} // namespace tarlivo::queries
