#pragma once

#include <QString>

struct sqlite3;

namespace tarlivo::store {

// Subject names compare the German way and without regard to letter case: "Äpfel"
// equals "ÄPFEL", sorts right after "Apfel", and differs from "Apfel".
// Negative, zero or positive like strcmp.
int compareNames(const QString &a, const QString &b);

// Name of the collation registered on every connection of the store.
inline constexpr const char *kNameCollation = "TARLIVO_DE";

// Registers kNameCollation on db; false when SQLite refuses.
bool registerNameCollation(sqlite3 *db);

// The spellings a search text stands for: each "ss" (any case) also as "ß", each
// "ß" (or "ẞ") also as "ss", as German readers take them for one another; at most
// kMaxSearchVariants, the rest of the text then taken as typed. The first is the text.
inline constexpr int kMaxSearchVariants = 16;
QStringList searchVariants(const QString &text);

// Whether text holds one of the variants, letter case aside as the search index folds it.
bool containsFolded(QStringView text, const QStringList &variants);

// Name of the SQL function kSearchFunction(question, answer, needle): 1 when either
// text holds needle (containsFolded), else 0. It finds the cards the search index
// does not hold yet.
inline constexpr const char *kSearchFunction = "tarlivo_enthaelt";

// Registers kSearchFunction on db; false when SQLite refuses.
bool registerSearchFunction(sqlite3 *db);

} // namespace tarlivo::store
