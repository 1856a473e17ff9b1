#pragma once

#include "ui/dialogs.h"

#include <cstdio>

namespace tarlivo::bench {

// Answers the windows' questions without a box: a message is printed and counted
// (a benchmark expects none), a confirmation gets `yes`.
class AnsweringDialogs final : public ui::Dialogs {
public:
    explicit AnsweringDialogs(bool yes) : m_yes(yes) {}
    int shown = 0;
    void message(QWidget *, const QString &text) override
    {
        ++shown;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    QString input(QWidget *, const QString &, const QString &) override
    {
        ++shown;
        return QString();
    }
    bool confirm(QWidget *, const QString &) override
    {
        if (!m_yes)
            ++shown;
        return m_yes;
    }

private:
    bool m_yes;
};

} // namespace tarlivo::bench
