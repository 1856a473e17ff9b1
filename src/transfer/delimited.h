#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace tarlivo::transfer {

// Where the columns stand; -1 when the file has none.
struct TextColumns {
    int question = 0;
    int answer = 1;
    int compartment = -1;
    int subject = -1;
    int enteredAt = -1;          // when the card came into its compartment
    int reverseCompartment = -1; // its reverse place, when the file gives one
    int reverseEnteredAt = -1;
    bool named = false; // a #columns: line or a first line named Frage and Antwort
};

// Fields separated by tab, semicolon or comma, quoted as spreadsheets write them:
// a field in double quotes may hold separators, doubled quotes and line breaks.
// Lines starting with # before the first record are header lines; Anki's
// #separator:, #html:, #columns: and #deck column: are honoured. Without #columns:,
// a first line whose every field names a known column (Frage, Antwort, Fach, Gebiet,
// Seit; Question, Answer, Front, Back; any case) names the columns.
class DelimitedText {
public:
    // The longest record taken, in characters: a card text, not a whole book.
    static constexpr qsizetype kMaxRecord = 16 * 1024 * 1024;

    struct Record {
        qint64 line = 0; // where it starts, from 1
        QStringList fields;
    };

    // Reads the text as it goes: only the head and the record at hand are held.
    DelimitedText(std::unique_ptr<class TextSource> source, QString path);
    DelimitedText(QString text, QString path);
    ~DelimitedText();

    QChar separator() const { return m_separator; }
    bool separatorFromHeader() const { return m_separatorFromHeader; }
    // Another separator: the columns are read anew and reading starts over.
    void setSeparator(QChar separator);
    bool html() const { return m_html; }
    const TextColumns &columns() const { return m_columns; }

    // The next record, false at the end. Blank lines are passed over. Throws
    // TransferError for an unclosed quote or an overlong record.
    bool next(Record &record);
    void restart();

private:
    enum class Parsed { Record, End, NeedMore };
    Parsed parse(Record &record);
    // Appends the next piece of the text; false at its end.
    bool more();
    void readHeader();
    void resolveColumns();
    QChar detectSeparator();

    std::unique_ptr<TextSource> m_source;
    QString m_text;       // the part of the text read and not yet let go
    qint64 m_base = 0;    // where m_text starts in the whole text
    bool m_atEnd = false; // m_text reaches the end of the text
    QString m_path;
    qint64 m_headerEnd = 0; // after the # lines (in the whole text)
    qint64 m_headerEndLine = 1;
    qint64 m_bodyStart = 0; // after a line of column names too
    qint64 m_bodyLine = 1;
    qsizetype m_pos = 0; // in m_text
    qint64 m_line = 1;
    QChar m_separator = QLatin1Char('\t');
    bool m_separatorFromHeader = false;
    bool m_html = false;
    QString m_columnsLine;
    int m_deckColumn = -1;
    TextColumns m_columns;
};

} // namespace tarlivo::transfer
