#include "transfer/delimited.h"

#include "transfer/textdecode.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <algorithm>
#include <map>
#include <optional>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

constexpr int kDetectionSample = 50;
// Text read and passed over is let go once this much of it has gathered.
constexpr qsizetype kLetGo = 1 << 20;

// The separator a #separator: line names, by Anki's words or as the character.
QChar separatorNamed(QStringView value)
{
    const QString v = value.trimmed().toString().toLower();
    if (v == QLatin1String("tab") || v == QLatin1String("\\t") || value == QLatin1String("\t"))
        return QLatin1Char('\t');
    if (v == QLatin1String("semicolon") || v == QLatin1String(";"))
        return QLatin1Char(';');
    if (v == QLatin1String("comma") || v == QLatin1String(","))
        return QLatin1Char(',');
    if (v == QLatin1String("space") || value == QLatin1String(" "))
        return QLatin1Char(' ');
    if (v == QLatin1String("pipe") || v == QLatin1String("|"))
        return QLatin1Char('|');
    if (v == QLatin1String("colon") || v == QLatin1String(":"))
        return QLatin1Char(':');
    return QChar();
}

bool isTrue(QStringView value)
{
    const QString v = value.trimmed().toString().toLower();
    return v == QLatin1String("true") || v == QLatin1String("1") || v == QLatin1String("yes");
}

} // namespace

DelimitedText::DelimitedText(std::unique_ptr<TextSource> source, QString path)
    : m_source(std::move(source)), m_path(std::move(path))
{
    readHeader();
    if (!m_separatorFromHeader)
        m_separator = detectSeparator();
    resolveColumns();
    restart();
}

DelimitedText::DelimitedText(QString text, QString path)
    : DelimitedText(std::make_unique<WholeText>(std::move(text)), std::move(path))
{
}

DelimitedText::~DelimitedText() = default;

bool DelimitedText::more()
{
    if (m_atEnd)
        return false;
    if (!m_source->readMore(m_text))
        m_atEnd = true;
    return !m_atEnd;
}

void DelimitedText::readHeader()
{
    qsizetype pos = 0;
    qint64 line = 1;
    while (pos >= m_text.size() && more()) {
    }
    while (pos < m_text.size() && m_text[pos] == QLatin1Char('#')) {
        qsizetype end = m_text.indexOf(QLatin1Char('\n'), pos);
        while (end < 0 && more())
            end = m_text.indexOf(QLatin1Char('\n'), pos);
        if (end < 0)
            end = m_text.size();
        QStringView header = QStringView(m_text).mid(pos + 1, end - pos - 1);
        if (header.endsWith(QLatin1Char('\r')))
            header.chop(1);
        const qsizetype colon = header.indexOf(QLatin1Char(':'));
        if (colon > 0) {
            const QString key = header.left(colon).trimmed().toString().toLower();
            const QStringView value = header.mid(colon + 1);
            if (key == QLatin1String("separator")) {
                const QChar s = separatorNamed(value);
                if (!s.isNull()) {
                    m_separator = s;
                    m_separatorFromHeader = true;
                }
            } else if (key == QLatin1String("html")) {
                m_html = isTrue(value);
            } else if (key == QLatin1String("columns")) {
                m_columnsLine = value.toString();
            } else if (key == QLatin1String("deck column")) {
                bool ok = false;
                const int column = value.trimmed().toInt(&ok);
                m_deckColumn = ok && column >= 1 ? column - 1 : -1;
            }
        }
        pos = end + 1;
        ++line;
        while (pos >= m_text.size() && more()) {
        }
    }
    m_headerEnd = m_bodyStart = std::min(pos, m_text.size());
    m_headerEndLine = m_bodyLine = line;
}

QChar DelimitedText::detectSeparator()
{
    // The separator under which most of the first records split alike into two or
    // more fields; on a tie tab before semicolon before comma.
    const QChar candidates[] = {QLatin1Char('\t'), QLatin1Char(';'), QLatin1Char(',')};
    QChar best = candidates[0];
    int bestScore = 0;
    for (const QChar candidate : candidates) {
        m_separator = candidate;
        restart();
        std::map<int, int> counts;
        Record record;
        try {
            for (int i = 0; i < kDetectionSample && next(record); ++i)
                if (record.fields.size() >= 2)
                    ++counts[int(record.fields.size())];
        } catch (const TransferError &) {
            // An unclosed quote under this separator: judge by what was read.
        }
        int score = 0;
        for (const auto &[fields, count] : counts)
            score = std::max(score, count);
        if (score > bestScore) {
            bestScore = score;
            best = candidate;
        }
    }
    return best;
}

void DelimitedText::setSeparator(QChar separator)
{
    m_separator = separator;
    resolveColumns();
    restart();
}

namespace {

enum class Column { Unknown, Question, Answer, Compartment, Subject, EnteredAt, ReverseCompartment, ReverseEnteredAt };

// A column a header may name, in German or as Anki and spreadsheets call it.
Column columnNamed(const QString &name)
{
    static const struct {
        const char *name;
        Column column;
    } known[] = {
        {"frage", Column::Question},
        {"question", Column::Question},
        {"front", Column::Question},
        {"antwort", Column::Answer},
        {"answer", Column::Answer},
        {"back", Column::Answer},
        {"fach", Column::Compartment},
        {"gebiet", Column::Subject},
        {"seit", Column::EnteredAt},
        {"fach umgekehrt", Column::ReverseCompartment},
        {"seit umgekehrt", Column::ReverseEnteredAt},
    };
    const QString n = name.trimmed().toLower();
    for (const auto &k : known)
        if (n == QLatin1String(k.name))
            return k.column;
    return Column::Unknown;
}

// The columns the names give, when they name a question and an answer.
std::optional<TextColumns> columnsNamed(const QStringList &names, bool allKnown)
{
    TextColumns c;
    c.question = c.answer = -1;
    for (int i = 0; i < names.size(); ++i) {
        int *slot = nullptr;
        switch (columnNamed(names[i])) {
        case Column::Question:
            slot = &c.question;
            break;
        case Column::Answer:
            slot = &c.answer;
            break;
        case Column::Compartment:
            slot = &c.compartment;
            break;
        case Column::Subject:
            slot = &c.subject;
            break;
        case Column::EnteredAt:
            slot = &c.enteredAt;
            break;
        case Column::ReverseCompartment:
            slot = &c.reverseCompartment;
            break;
        case Column::ReverseEnteredAt:
            slot = &c.reverseEnteredAt;
            break;
        case Column::Unknown:
            if (allKnown)
                return std::nullopt;
            break;
        }
        if (slot && *slot < 0)
            *slot = i;
    }
    if (c.question < 0 || c.answer < 0)
        return std::nullopt;
    c.named = true;
    return c;
}

} // namespace

void DelimitedText::resolveColumns()
{
    m_columns = TextColumns();
    m_bodyStart = m_headerEnd;
    m_bodyLine = m_headerEndLine;
    if (!m_columnsLine.isEmpty()) {
        if (const std::optional<TextColumns> named = columnsNamed(m_columnsLine.split(m_separator), false))
            m_columns = *named;
    } else {
        // A spreadsheet's first line naming every column ("Frage;Antwort") is no card.
        restart();
        Record first;
        try {
            if (next(first) && first.fields.size() >= 2) {
                if (const std::optional<TextColumns> named = columnsNamed(first.fields, true)) {
                    m_columns = *named;
                    m_bodyStart = m_base + m_pos;
                    m_bodyLine = m_line;
                }
            }
        } catch (const TransferError &) {
            // Read again, and told, as a record.
        }
    }
    if (m_columns.subject < 0 && m_deckColumn >= 0 && m_deckColumn != m_columns.question
        && m_deckColumn != m_columns.answer)
        m_columns.subject = m_deckColumn;
}

void DelimitedText::restart()
{
    if (m_base > m_bodyStart) {
        // The head was let go: read the text again from its start.
        m_source->rewind();
        m_text.clear();
        m_base = 0;
        m_atEnd = false;
    }
    while (m_text.size() < m_bodyStart && more()) {
    }
    m_pos = qsizetype(m_bodyStart - m_base);
    m_line = m_bodyLine;
}

bool DelimitedText::next(Record &record)
{
    if (m_pos > kLetGo) {
        m_text.remove(0, m_pos);
        m_base += m_pos;
        m_pos = 0;
    }
    for (;;) {
        const qsizetype pos = m_pos;
        const qint64 line = m_line;
        const Parsed parsed = parse(record);
        if (parsed != Parsed::NeedMore)
            return parsed == Parsed::Record;
        // The record goes on past what was read: again, with more of the text.
        m_pos = pos;
        m_line = line;
        more();
    }
}

DelimitedText::Parsed DelimitedText::parse(Record &record)
{
    const qsizetype n = m_text.size();
    const QChar *data = m_text.constData();
    const char16_t sep = m_separator.unicode();
    for (;;) {
        if (m_pos >= n)
            return m_atEnd ? Parsed::End : Parsed::NeedMore;
        // Blank lines separate nothing.
        if (data[m_pos] == u'\n') {
            ++m_pos;
            ++m_line;
            continue;
        }
        if (data[m_pos] == u'\r' && m_pos + 1 >= n && !m_atEnd)
            return Parsed::NeedMore;
        if (data[m_pos] == u'\r' && (m_pos + 1 >= n || data[m_pos + 1] == u'\n')) {
            m_pos += 2;
            ++m_line;
            continue;
        }
        break;
    }
    record.line = m_line;
    record.fields.clear();
    const qsizetype start = m_pos;
    QString field;
    for (;;) {
        field.clear();
        if (m_pos < n && data[m_pos] == u'"') {
            const qint64 openedOn = m_line;
            ++m_pos;
            for (;;) {
                const qsizetype quote = m_text.indexOf(QLatin1Char('"'), m_pos);
                if (quote < 0 && !m_atEnd) {
                    // Not closed within the longest record taken: no need to read on.
                    if (n - start > kMaxRecord)
                        throw TransferError(text::unclosedQuote(m_path, openedOn));
                    return Parsed::NeedMore;
                }
                if (quote < 0)
                    throw TransferError(text::unclosedQuote(m_path, openedOn));
                const QStringView piece(data + m_pos, quote - m_pos);
                m_line += piece.count(QLatin1Char('\n'));
                field += piece;
                m_pos = quote + 1;
                if (m_pos >= n && !m_atEnd)
                    return Parsed::NeedMore;
                if (m_pos < n && data[m_pos] == u'"') {
                    field += QLatin1Char('"');
                    ++m_pos;
                    continue;
                }
                break;
            }
            if (m_pos - start > kMaxRecord)
                throw TransferError(text::lineTooLong(m_path, record.line));
        }
        // Unquoted text, or what follows a closing quote, up to the separator or the line end.
        qsizetype end = m_pos;
        while (end < n && data[end] != sep && data[end] != u'\n' && data[end] != u'\r')
            ++end;
        if (end - start > kMaxRecord)
            throw TransferError(text::lineTooLong(m_path, record.line));
        if ((end >= n || (data[end] == u'\r' && end + 1 >= n)) && !m_atEnd)
            return Parsed::NeedMore;
        field += QStringView(data + m_pos, end - m_pos);
        m_pos = end;
        record.fields << field;
        if (m_pos < n && data[m_pos] == sep) {
            ++m_pos;
            continue;
        }
        // The line end: LF, CR LF or a lone CR.
        if (m_pos < n && data[m_pos] == u'\r')
            ++m_pos;
        if (m_pos < n && data[m_pos] == u'\n')
            ++m_pos;
        ++m_line;
        return Parsed::Record;
    }
}

} // namespace tarlivo::transfer
