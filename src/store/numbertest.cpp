#include "store/numbertest.h"

#include <QRegularExpression>

namespace tarlivo {

bool readsAsNumber(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(\A[+-]?(?:[0-9]+(?:[.,][0-9]*)?|[.,][0-9]+)(?:[eE][+-]?[0-9]+)?\z)"));
    return number.match(text.trimmed()).hasMatch();
}

} // namespace tarlivo
