#include "controls.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

namespace tarlivo::ui {

TextBox::TextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    // Character keys carry text; Delete carries a control character but types nothing.
    const bool typesCharacter = !event->text().isEmpty() && event->key() != Qt::Key_Delete
        && event->key() != Qt::Key_Escape && event->key() != Qt::Key_Tab && event->key() != Qt::Key_Backtab;
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
