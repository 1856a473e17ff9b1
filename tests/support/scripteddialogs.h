#pragma once

#include "dialogs.h"

#include <QPair>
#include <QStringList>

// Answers message and input boxes in tests: records what the program showed and
// hands out prepared answers instead of waiting for a user.
class ScriptedDialogs : public tarlivo::ui::Dialogs {
public:
    QStringList messages;                       // every message, in order
    QList<QPair<QString, QString>> inputBoxes;  // prompt and title of every input box
    QStringList answers;                        // next input answers; none left means Cancel

    void message(QWidget *, const QString &text) override { messages << text; }

    QString input(QWidget *, const QString &prompt, const QString &title) override
    {
        inputBoxes << qMakePair(prompt, title);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    // The messages shown since the last call, and forget them.
    QStringList take()
    {
        QStringList shown = messages;
        messages.clear();
        return shown;
    }
};
