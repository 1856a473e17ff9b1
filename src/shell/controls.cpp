#include "shell/controls.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>

namespace tarlivo::ui {
namespace {

// Qt's wrapping at word boundaries takes time quadratic in the length of a word
// that does not fit on a line: a pasted megabyte without a blank froze the window
// for minutes. A word this long is broken anywhere in either mode.
constexpr qsizetype kLongestWrappedWord = 1000;

bool holdsLongWord(const QString &text)
{
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > kLongestWrappedWord)
            return true;
    }
    return false;
}

} // namespace

TextBox::TextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
}

void TextBox::setText(const QString &text)
{
    // Loosened before the new text is laid out, tightened only once the old one is gone.
    fitWrapping(text, true);
    setPlainText(text);
    fitWrapping(text, false);
}

void TextBox::insertFromMimeData(const QMimeData *source)
{
    if (source && source->hasText())
        fitWrapping(source->text(), true);
    QPlainTextEdit::insertFromMimeData(source);
}

void TextBox::fitWrapping(const QString &text, bool onlyLoosen)
{
    const QTextOption::WrapMode mode =
        holdsLongWord(text) ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
    // Every change of mode lays the whole text out again.
    if (mode != wordWrapMode() && (mode == QTextOption::WrapAnywhere || !onlyLoosen))
        setWordWrapMode(mode);
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    // Character keys carry text; Delete carries a control character but types nothing.
    const bool typesCharacter = !event->text().isEmpty() && event->key() != Qt::Key_Delete
                                && event->key() != Qt::Key_Escape && event->key() != Qt::Key_Tab
                                && event->key() != Qt::Key_Backtab;
    QPlainTextEdit::keyPressEvent(event);
    if (typesCharacter)
        emit characterTyped();
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    // Characters composed from dead keys ("´" then "e") arrive here, not as key presses.
    const bool typesCharacter = !event->commitString().isEmpty();
    QPlainTextEdit::inputMethodEvent(event);
    if (typesCharacter)
        emit characterTyped();
}

Label::Label(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

ComboBox::ComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setDuplicatesEnabled(true);
}

CommandButton::CommandButton(QWidget *parent) : QPushButton(parent)
{
    setAutoDefault(false);
    setDefault(false);
}

} // namespace tarlivo::ui
