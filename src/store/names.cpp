#include "store/names.h"

namespace tarlivo::store {

QString firstFreeName(const QString &base, const std::function<bool(const QString &)> &isFree)
{
    // Joined, not put into a pattern: the base may itself hold "%1".
    QString name = base;
    for (int n = 2; !isFree(name); ++n)
        name = base + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')');
    return name;
}

} // namespace tarlivo::store
