#include "store/collation.h"

#include <QStringList>

#include <sqlite3.h>
#include <unicode/ucol.h>

#include <string>
#include <vector>

namespace tarlivo::store {
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

QStringView valueText(sqlite3_value *value)
{
    // SQLite hands the text over in the program's own UTF-16, converted at most once.
    const void *text = sqlite3_value_text16(value);
    if (!text)
        return {};
    return QStringView(static_cast<const char16_t *>(text), sqlite3_value_bytes16(value) / 2);
}

void deleteVariants(void *variants) { delete static_cast<QStringList *>(variants); }

void sqliteContains(sqlite3_context *context, int, sqlite3_value **args)
{
    // The needle's spellings are worked out once per statement, kept with SQLite
    // for as long as the bound text stays. They come first: the texts' views must
    // be taken after them, each used at once.
    auto *variants = static_cast<QStringList *>(sqlite3_get_auxdata(context, 2));
    if (!variants) {
        variants = new QStringList(searchVariants(valueText(args[2]).toString()));
        sqlite3_set_auxdata(context, 2, variants, deleteVariants);
        // SQLite may have dropped it at once (out of memory): read it back.
        variants = static_cast<QStringList *>(sqlite3_get_auxdata(context, 2));
        if (!variants) {
            sqlite3_result_error_nomem(context);
            return;
        }
    }
    const bool found = containsFolded(valueText(args[0]), *variants) || containsFolded(valueText(args[1]), *variants);
    sqlite3_result_int(context, found ? 1 : 0);
}

bool isSharpS(QChar c) { return c == QChar(0x00DF) || c == QChar(0x1E9E); }
bool isS(QChar c) { return c == QLatin1Char('s') || c == QLatin1Char('S'); }

} // namespace

int compareNames(const QString &a, const QString &b)
{
    const QByteArray ua = a.toUtf8();
    const QByteArray ub = b.toUtf8();
    return compareUtf8(ua.constData(), int32_t(ua.size()), ub.constData(), int32_t(ub.size()));
}

QStringList searchVariants(const QString &text)
{
    // Each spelling is a path through the text; where it forks, the other spelling
    // is followed later from where the fork left it.
    struct Partial {
        QString head;
        qsizetype at;
    };
    QStringList done;
    std::vector<Partial> open{{QString(), 0}};
    while (!open.empty()) {
        Partial p = std::move(open.back());
        open.pop_back();
        while (p.at < text.size()) {
            const QChar c = text[p.at];
            const bool pair = isS(c) && p.at + 1 < text.size() && isS(text[p.at + 1]);
            if ((pair || isSharpS(c)) && done.size() + qsizetype(open.size()) + 2 <= kMaxSearchVariants)
                open.push_back({p.head + (pair ? QStringLiteral("ß") : QStringLiteral("ss")), p.at + (pair ? 2 : 1)});
            p.head += c;
            ++p.at;
        }
        done << p.head;
    }
    return done;
}

bool containsFolded(QStringView text, const QStringList &variants)
{
    for (const QString &v : variants)
        if (!v.isEmpty() && text.contains(v, Qt::CaseInsensitive))
            return true;
    return false;
}

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

} // namespace tarlivo::store
