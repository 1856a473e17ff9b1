#pragma once

#include <QString>

class QWidget;

namespace tarlivo::ui {

// Every message and input box goes through here, so that tests can answer them
// without a real modal dialog.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message with only an OK button and the program's title.
    virtual void message(QWidget *parent, const QString &text) = 0;
    // Prompt, title, an empty field, OK and Cancel; Cancel yields empty text.
    virtual QString input(QWidget *parent, const QString &prompt, const QString &title) = 0;
};

// The real boxes.
class QtDialogs final : public Dialogs {
public:
    void message(QWidget *parent, const QString &text) override;
    QString input(QWidget *parent, const QString &prompt, const QString &title) override;
};

} // namespace tarlivo::ui
