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

} // namespace

int compareNames(const QString &a, const QString &b)
{
    const QByteArray ua = a.toUtf8();
    const QByteArray ub = b.toUtf8();
    return compareUtf8(ua.constData(), int32_t(ua.size()), ub.constData(), int32_t(ub.size()));
}

bool registerNameCollation(sqlite3 *db)
{
    return sqlite3_create_collation_v2(db, kNameCollation, SQLITE_UTF8, nullptr, sqliteCompare, nullptr) == SQLITE_OK;
}

} // namespace tarlivo
