#include "dialogs.h"

#include "messages.h"

#include <QInputDialog>
#include <QMessageBox>

namespace tarlivo::ui {

void QtDialogs::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, text::programTitle(), text, QMessageBox::Ok, parent);
    // Names and card texts are shown as typed, never interpreted as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString QtDialogs::input(QWidget *parent, const QString &prompt, const QString &title)
{
    QInputDialog dialog(parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(QString());
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

} // namespace tarlivo::ui
