#pragma once

#include <QString>

#include <optional>

namespace tarlivo::store {

// The largest compartment, queue place and key: the store's columns hold 32 bits.
inline constexpr qint64 kInt32Max = 2147483647;

// Whether the whole text, blanks around it aside, reads as a number: an optional
// sign, digits with at most one decimal separator ("." or ","), and an optional
// exponent ("e5", "E-3"). "12", "-3", "1,5", " 42 ", "1e3" are numbers;
// "Kapitel 2", "2a", "3. Klasse" are not.
bool readsAsNumber(const QString &text);

// A compartment as typed or written: blanks around it aside, an optional "+" and
// digits naming 1 to kInt32Max. "3.0", "0x10", "-1", "1; DROP TABLE" are none.
std::optional<qint32> parseCompartment(const QString &text);

} // namespace tarlivo::store
