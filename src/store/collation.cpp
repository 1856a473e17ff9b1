#include "store/collation.h"

#include <sqlite3.h>
#include <unicode/ucol.h>

#include <string>

namespace tarlivo {
namespace {

// ICU collators are safe to share for comparisons; one serves the whole process.
UCollator *germanCaseInsensitive()
{
    static UCollator *collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UCollator *c = ucol_open("de", &status);
        if (U_FAILURE(status))
            return static_cast<UCollator *>(nullptr);
        // Secondary strength: accents count, letter case does not.
        ucol_setStrength(c, UCOL_SECONDARY);
        return c;
    }();
    return collator;
}

int compareUtf8(const char *a, int32_t aLen, const char *b, int32_t bLen)
{
    UCollator *c = germanCaseInsensitive();
    UErrorCode status = U_ZERO_ERROR;
    if (c) {
        const UCollationResult r = ucol_strcollUTF8(c, a, aLen, b, bLen, &status);
        if (U_SUCCESS(status))
            return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
    }
    // Without ICU data fall back to byte order, which is at least a total order.
    const int common = aLen < bLen ? aLen : bLen;
    const int r = std::char_traits<char>::compare(a, b, size_t(common));
    return r != 0 ? r : (aLen < bLen ? -1 : (aLen > bLen ? 1 : 0));
}

int sqliteCompare(void *, int aLen, const void *a, int bLen, const void *b)
{
    return compareUtf8(static_cast<const char *>(a), aLen, static_cast<const char *>(b), bLen);
}

QStringView textOf(sqlite3_value *value)
{
    // SQLite hands the text over in the program's own UTF-16, converted at most once.
    const void *text = sqlite3_value_text16(value);
    if (!text)
        return {};
    return QStringView(static_cast<const char16_t *>(text), sqlite3_value_bytes16(value) / 2);
}

void sqliteContains(sqlite3_context *context, int, sqlite3_value **args)
{
    // The needle first: the texts' views must be taken after it, each used at once.
    const QString needle = textOf(args[2]).toString();
    const bool found =
        !needle.isEmpty() && (containsFolded(textOf(args[0]), needle) || containsFolded(textOf(args[1]), needle));
    sqlite3_result_int(context, found ? 1 : 0);
}

} // namespace

int compareNames(const QString &a, const QString &b)
{
    const QByteArray ua = a.toUtf8();
    const QByteArray ub = b.toUtf8();
    return compareUtf8(ua.constData(), int32_t(ua.size()), ub.constData(), int32_t(ub.size()));
}

bool containsFolded(QStringView text, QStringView needle) { return text.contains(needle, Qt::CaseInsensitive); }

bool registerSearchFunction(sqlite3 *db)
{
    return sqlite3_create_function_v2(db, kSearchFunction, 3, SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                      nullptr, sqliteContains, nullptr, nullptr, nullptr)
           == SQLITE_OK;
}

bool registerNameCollation(sqlite3 *db)
{
    return sqlite3_create_collation_v2(db, kNameCollation, SQLITE_UTF8, nullptr, sqliteCompare, nullptr) == SQLITE_OK;
}

} // namespace tarlivo
