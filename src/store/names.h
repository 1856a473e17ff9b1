#pragma once

#include <QString>

#include <functional>

namespace tarlivo::store {

// A name for something new beside names already taken: base itself when free, else
// the first free of "base (2)", "base (3)" and so on.
QString firstFreeName(const QString &base, const std::function<bool(const QString &)> &isFree);

} // namespace tarlivo::store
