#pragma once

#include "ui/dialogs.h"

#include <QDialog>
#include <QPair>
#include <QStringList>

#include <functional>
#include <memory>

// Answers message and input boxes in tests: records what the program showed and
// hands out prepared answers instead of waiting for a user.
class ScriptedDialogs : public tarlivo::ui::Dialogs {
public:
    QStringList messages;                      // every message, in order
    QList<QPair<QString, QString>> inputBoxes; // prompt and title of every input box
    QStringList answers;                       // next input answers; none left means Cancel
    QStringList questions;                     // every confirmation asked, in order
    QList<bool> confirmations;                 // next confirmation answers; none left means "Nein"

    // Every progress window, never shown: what it was told last, and how often.
    struct ProgressRecord {
        QString label;
        qint64 done = -1;
        qint64 total = -1;
        int updates = 0;
        bool open = true;
    };
    QList<std::shared_ptr<ProgressRecord>> progressWindows;
    int cancelProgressAfter = -1; // cancels at that update (counted from 1); -1: never
    QStringList fileAnswers;      // next file chooser answers; none left means Cancel
    // What the user does in the next dialogs of a window's own, each never shown: it
    // counts as accepted when the answer accepted it (pressed OK, say). None left
    // means Cancel.
    QList<std::function<void(QDialog &)>> dialogAnswers;
    QStringList dialogsRun;   // objectName of every such dialog, in order
    QStringList fileChoosers; // title of every file chooser shown

    void message(QWidget *, const QString &text) override { messages << text; }

    QString input(QWidget *, const QString &prompt, const QString &title) override
    {
        inputBoxes << qMakePair(prompt, title);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    bool confirm(QWidget *, const QString &text) override
    {
        questions << text;
        return !confirmations.isEmpty() && confirmations.takeFirst();
    }
    QString openFileName(QWidget *, const QString &title, const QString &) override { return chooseFile(title); }
    QString saveFileName(QWidget *, const QString &title, const QString &) override { return chooseFile(title); }
    QString folderName(QWidget *, const QString &title, const QString &) override { return chooseFile(title); }
    QString chooseFile(const QString &title)
    {
        fileChoosers << title;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }

    bool run(QDialog &dialog) override
    {
        dialogsRun << dialog.objectName();
        if (dialogAnswers.isEmpty())
            return false;
        dialog.setResult(QDialog::Rejected);
        dialogAnswers.takeFirst()(dialog);
        return dialog.result() == QDialog::Accepted;
    }

    std::unique_ptr<tarlivo::ui::Progress> progress(QWidget *) override
    {
        struct Recorder : tarlivo::ui::Progress {
            std::shared_ptr<ProgressRecord> record;
            int cancelAt;
            bool update(const QString &label, qint64 done, qint64 total) override
            {
                record->label = label;
                record->done = done;
                record->total = total;
                ++record->updates;
                return cancelAt < 0 || record->updates < cancelAt;
            }
            ~Recorder() override { record->open = false; }
        };
        auto recorder = std::make_unique<Recorder>();
        recorder->record = std::make_shared<ProgressRecord>();
        recorder->cancelAt = cancelProgressAfter;
        progressWindows << recorder->record;
        return recorder;
    }

    // The messages shown since the last call, and forget them.
    QStringList take()
    {
        QStringList shown = messages;
        messages.clear();
        return shown;
    }
};
