#pragma once

#include <QString>

namespace tarlivo {

// Whether the whole text, blanks around it aside, reads as a number: an optional
// sign, digits with at most one decimal separator ("." or ","), and an optional
// exponent ("e5", "E-3"). "12", "-3", "1,5", " 42 ", "1e3" are numbers;
// "Kapitel 2", "2a", "3. Klasse" are not.
bool readsAsNumber(const QString &text);

} // namespace tarlivo
