#include "transfer/html.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace tarlivo::transfer {
namespace {

// Elements whose end starts a new line.
bool endsLine(QStringView tag)
{
    static const char *const blocks[] = {"br", "div", "p",  "li", "tr",    "h1",         "h2",  "h3", "h4",
                                         "h5", "h6",  "ul", "ol", "table", "blockquote", "pre", "hr"};
    for (const char *b : blocks)
        if (tag.compare(QLatin1String(b), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// The blanks HTML writes where a line must not break or a space be wider: a plain
// blank here, so that a search for "der Hund" finds the card.
bool isHtmlBlank(char32_t c) { return c == 0xa0 || (c >= 0x2000 && c <= 0x200a) || c == 0x202f || c == 0x205f; }

// Removing a picture or sound reference leaves its blanks: one between words, none
// at the start or end of a line.
void closeGap(QString &out, qsizetype at)
{
    at = std::min(at, out.size());
    qsizetype from = at, to = at;
    while (from > 0 && out[from - 1] == QLatin1Char(' '))
        --from;
    while (to < out.size() && out[to] == QLatin1Char(' '))
        ++to;
    const bool lineEdge =
        from == 0 || out[from - 1] == QLatin1Char('\n') || to == out.size() || out[to] == QLatin1Char('\n');
    if (lineEdge)
        out.remove(from, to - from);
    else if (to - from > 1)
        out.replace(from, to - from, QStringLiteral(" "));
}

QString namedEntity(QStringView name)
{
    static const QHash<QString, QString> entities = {
        {QStringLiteral("amp"), QStringLiteral("&")},    {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},     {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},   {QStringLiteral("nbsp"), QStringLiteral(" ")},
        {QStringLiteral("auml"), QStringLiteral("ä")},   {QStringLiteral("ouml"), QStringLiteral("ö")},
        {QStringLiteral("uuml"), QStringLiteral("ü")},   {QStringLiteral("Auml"), QStringLiteral("Ä")},
        {QStringLiteral("Ouml"), QStringLiteral("Ö")},   {QStringLiteral("Uuml"), QStringLiteral("Ü")},
        {QStringLiteral("szlig"), QStringLiteral("ß")},  {QStringLiteral("euro"), QStringLiteral("€")},
        {QStringLiteral("shy"), QString(QChar(0xad))},   {QStringLiteral("ndash"), QStringLiteral("–")},
        {QStringLiteral("mdash"), QStringLiteral("—")},  {QStringLiteral("hellip"), QStringLiteral("…")},
        {QStringLiteral("laquo"), QStringLiteral("«")},  {QStringLiteral("raquo"), QStringLiteral("»")},
        {QStringLiteral("bdquo"), QStringLiteral("„")},  {QStringLiteral("ldquo"), QStringLiteral("“")},
        {QStringLiteral("rdquo"), QStringLiteral("”")},  {QStringLiteral("lsquo"), QStringLiteral("‘")},
        {QStringLiteral("rsquo"), QStringLiteral("’")},  {QStringLiteral("copy"), QStringLiteral("©")},
        {QStringLiteral("deg"), QStringLiteral("°")},    {QStringLiteral("times"), QStringLiteral("×")},
        {QStringLiteral("eacute"), QStringLiteral("é")}, {QStringLiteral("egrave"), QStringLiteral("è")},
        {QStringLiteral("aacute"), QStringLiteral("á")}, {QStringLiteral("agrave"), QStringLiteral("à")},
        {QStringLiteral("ntilde"), QStringLiteral("ñ")}, {QStringLiteral("ccedil"), QStringLiteral("ç")},
        {QStringLiteral("iacute"), QStringLiteral("í")}, {QStringLiteral("oacute"), QStringLiteral("ó")},
        {QStringLiteral("uacute"), QStringLiteral("ú")}, {QStringLiteral("iexcl"), QStringLiteral("¡")},
        {QStringLiteral("iquest"), QStringLiteral("¿")}, {QStringLiteral("middot"), QStringLiteral("·")},
        {QStringLiteral("ensp"), QStringLiteral(" ")},   {QStringLiteral("emsp"), QStringLiteral(" ")},
        {QStringLiteral("thinsp"), QStringLiteral(" ")},
    };
    return entities.value(name.toString());
}

// The entity at text[i] == '&': its text and length, or a null string when it is none.
QString entityAt(const QString &text, qsizetype i, qsizetype *length)
{
    const qsizetype end = text.indexOf(QLatin1Char(';'), i + 1);
    if (end < 0 || end - i > 12)
        return QString();
    const QStringView body = QStringView(text).mid(i + 1, end - i - 1);
    *length = end - i + 1;
    if (body.startsWith(QLatin1Char('#'))) {
        bool ok = false;
        const bool hex = body.size() > 1 && (body[1] == QLatin1Char('x') || body[1] == QLatin1Char('X'));
        const uint code = hex ? body.mid(2).toUInt(&ok, 16) : body.mid(1).toUInt(&ok, 10);
        // NUL, surrogates and codes past Unicode stay as they were written.
        if (!ok || code == 0 || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return QString();
        const char32_t c = code;
        return isHtmlBlank(c) ? QStringLiteral(" ") : QString::fromUcs4(&c, 1);
    }
    return namedEntity(body);
}

// The value of the attribute src in the inside of a tag, entities decoded; null when none.
QString sourceOf(QStringView tag)
{
    for (qsizetype at = tag.indexOf(QLatin1String("src"), 0, Qt::CaseInsensitive); at >= 0;
         at = tag.indexOf(QLatin1String("src"), at + 3, Qt::CaseInsensitive)) {
        // The whole name, not the end of "data-src".
        if (at > 0 && !tag[at - 1].isSpace())
            continue;
        qsizetype i = at + 3;
        while (i < tag.size() && tag[i].isSpace())
            ++i;
        if (i >= tag.size() || tag[i] != QLatin1Char('='))
            continue;
        ++i;
        while (i < tag.size() && tag[i].isSpace())
            ++i;
        qsizetype end;
        if (i < tag.size() && (tag[i] == QLatin1Char('"') || tag[i] == QLatin1Char('\''))) {
            end = tag.indexOf(tag[i], i + 1);
            ++i;
            if (end < 0)
                end = tag.size();
        } else {
            end = i;
            while (end < tag.size() && !tag[end].isSpace() && tag[end] != QLatin1Char('/'))
                ++end;
        }
        const QString raw = tag.mid(i, end - i).toString();
        QString value;
        for (qsizetype k = 0; k < raw.size();) {
            qsizetype length = 0;
            const QString decoded = raw[k] == QLatin1Char('&') ? entityAt(raw, k, &length) : QString();
            if (decoded.isNull()) {
                value += raw[k++];
            } else {
                value += decoded;
                k += length;
            }
        }
        return value;
    }
    return QString();
}

} // namespace

QString htmlToText(const QString &html, int *media, MediaRefs *refs)
{
    QString out;
    out.reserve(html.size());
    int dropped = 0;
    std::vector<qsizetype> gaps; // where references were taken out
    const qsizetype n = html.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = html[i];
        if (c == QLatin1Char('<')) {
            const qsizetype close = html.indexOf(QLatin1Char('>'), i + 1);
            if (close < 0) { // no tag after all: the rest is text
                out += QStringView(html).mid(i);
                break;
            }
            QStringView tag = QStringView(html).mid(i + 1, close - i - 1).trimmed();
            const bool ending = tag.startsWith(QLatin1Char('/'));
            if (ending)
                tag = tag.mid(1);
            qsizetype nameEnd = 0;
            while (nameEnd < tag.size() && (tag[nameEnd].isLetterOrNumber()))
                ++nameEnd;
            const QStringView name = tag.left(nameEnd);
            if (name.compare(QLatin1String("img"), Qt::CaseInsensitive) == 0) {
                const QString source = refs && !ending ? sourceOf(tag.mid(nameEnd)) : QString();
                if (refs && !source.isEmpty())
                    refs->pictures << source;
                else
                    ++dropped;
                gaps.push_back(out.size());
            } else if (name.compare(QLatin1String("br"), Qt::CaseInsensitive) == 0
                       || name.compare(QLatin1String("hr"), Qt::CaseInsensitive) == 0) {
                out += QLatin1Char('\n');
            } else if (ending && endsLine(name)) {
                if (!out.isEmpty() && !out.endsWith(QLatin1Char('\n')))
                    out += QLatin1Char('\n');
            } else if (!ending && endsLine(name) && !out.isEmpty() && !out.endsWith(QLatin1Char('\n'))) {
                // "a<div>b</div>": the block starts on a line of its own.
                out += QLatin1Char('\n');
            }
            i = close + 1;
        } else if (c == QLatin1Char('&')) {
            qsizetype length = 0;
            const QString decoded = entityAt(html, i, &length);
            if (decoded.isNull()) {
                out += c;
                ++i;
            } else {
                out += decoded;
                i += length;
            }
        } else if (c == QLatin1Char('[') && QStringView(html).mid(i, 7) == QLatin1String("[sound:")) {
            const qsizetype close = html.indexOf(QLatin1Char(']'), i);
            if (close < 0) {
                out += c;
                ++i;
            } else {
                const QString name = html.mid(i + 7, close - i - 7).trimmed();
                if (refs && !name.isEmpty())
                    refs->sounds << name;
                else
                    ++dropped;
                gaps.push_back(out.size());
                i = close + 1;
            }
        } else {
            out += isHtmlBlank(c.unicode()) ? QChar(u' ') : c;
            ++i;
        }
    }
    // From the last gap back, so that the places before it stay where they were.
    for (auto gap = gaps.rbegin(); gap != gaps.rend(); ++gap)
        closeGap(out, *gap);
    // Block ends at the very end leave no empty last line.
    while (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    if (media)
        *media += dropped;
    return out;
}

} // namespace tarlivo::transfer
