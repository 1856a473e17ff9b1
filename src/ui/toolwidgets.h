#pragma once

#include <QString>

class QDialog;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QWidget;

// Controls as the windows beyond the six build them: plain text only, named for
// tests and screen readers.
namespace tarlivo::ui {

// A button that Enter in another control does not press.
QPushButton *toolButton(const QString &text, const char *name, const QString &accessible, QWidget *parent);
// A label naming buddy, whose access key moves the focus there.
QLabel *plainLabel(const QString &text, QWidget *buddy, QWidget *parent);
// A label showing a figure.
QLabel *figureLabel(const char *name, const QString &accessible, QWidget *parent);
// "OK" and "Abbrechen" for dialog; Abbrechen rejects it, OK is the caller's.
QDialogButtonBox *okCancel(QDialog *dialog);

} // namespace tarlivo::ui
