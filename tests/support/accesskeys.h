#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QStringList>
#include <QWidget>

#include <map>

// The access keys that more than one button, check box or label with a buddy
// of the window uses, each as its captions.
inline QStringList sharedAccessKeys(const QWidget &window)
{
    std::map<QChar, QStringList> users;
    auto add = [&](const QString &caption) {
        for (qsizetype i = caption.indexOf(QLatin1Char('&')); i >= 0 && i + 1 < caption.size();
             i = caption.indexOf(QLatin1Char('&'), i + 2)) {
            if (caption[i + 1] != QLatin1Char('&')) {
                users[caption[i + 1].toLower()] << caption;
                return;
            }
        }
    };
    for (const QAbstractButton *b : window.findChildren<QAbstractButton *>())
        add(b->text());
    for (const QLabel *l : window.findChildren<QLabel *>())
        if (l->buddy())
            add(l->text());
    QStringList shared;
    for (const auto &[key, captions] : users)
        if (captions.size() > 1)
            shared << captions.join(QStringLiteral(" / "));
    return shared;
}
