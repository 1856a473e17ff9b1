#pragma once

#include <QString>

#include <memory>

class QDialog;
class QWidget;

namespace tarlivo::ui {

// How far a long task has come; update() returns false once the user has cancelled.
class Progress {
public:
    virtual ~Progress() = default;
    virtual bool update(const QString &label, qint64 done, qint64 total) = 0;
};

// Every message and input box goes through here, so that tests can answer them
// without a real modal dialog.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message with only an OK button and the program's title.
    virtual void message(QWidget *parent, const QString &text) = 0;
    // Prompt, title, an empty field, OK and Cancel; Cancel yields empty text.
    virtual QString input(QWidget *parent, const QString &prompt, const QString &title) = 0;
    // A question with "Ja" and "Nein"; true for "Ja".
    virtual bool confirm(QWidget *parent, const QString &text) = 0;
    // A progress window over parent, shown only once the task has taken half a
    // second, closed when the object is destroyed. By default nothing is shown.
    virtual std::unique_ptr<Progress> progress(QWidget *parent);
    // The file chooser: a file to read, or a name to write (asking before replacing
    // one). filter as QFileDialog takes it. Empty when cancelled, as by default.
    virtual QString openFileName(QWidget *parent, const QString &title, const QString &filter);
    virtual QString saveFileName(QWidget *parent, const QString &title, const QString &filter);
    // The folder chooser, opening at start. Empty when cancelled, as by default.
    virtual QString folderName(QWidget *parent, const QString &title, const QString &start);
    // A window's own modal dialog, built by the caller: true when the user accepted
    // it. By default it is cancelled.
    virtual bool run(QDialog &dialog);
};

// The real boxes.
class QtDialogs final : public Dialogs {
public:
    void message(QWidget *parent, const QString &text) override;
    QString input(QWidget *parent, const QString &prompt, const QString &title) override;
    bool confirm(QWidget *parent, const QString &text) override;
    std::unique_ptr<Progress> progress(QWidget *parent) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter) override;
    QString folderName(QWidget *parent, const QString &title, const QString &start) override;
    bool run(QDialog &dialog) override;
};

} // namespace tarlivo::ui
