#include "store/numbertest.h"

#include <QRegularExpression>

namespace tarlivo::store {

bool readsAsNumber(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(\A[+-]?(?:[0-9]+(?:[.,][0-9]*)?|[.,][0-9]+)(?:[eE][+-]?[0-9]+)?\z)"));
    const QString t = text.trimmed();
    // Most names start with a letter: no need to ask the expression, an import asks per card.
    if (t.isEmpty() || !(t[0].isDigit() || QStringView(u"+-.,").contains(t[0])))
        return false;
    return number.match(t).hasMatch();
}

std::optional<qint32> parseCompartment(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral(R"(\A\+?0*([0-9]{1,10})\z)"));
    const QRegularExpressionMatch m = digits.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 value = m.captured(1).toLongLong();
    if (value < 1 || value > kInt32Max)
        return std::nullopt;
    return qint32(value);
}

} // namespace tarlivo::store
