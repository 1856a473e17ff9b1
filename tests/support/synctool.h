#pragma once

// A sync tool between two folders, as the tests of sync use it: every file of one that
// the other lacks or holds otherwise is written there in place, so that a kill in
// between leaves it cut short, as a transfer cut off would.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace synctool {

// False when a file could not be read or written.
inline bool copyFolder(const QString &from, const QString &to)
{
    const QDir source(from);
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString dest = QDir(to).filePath(source.relativeFilePath(path));
        // Our own half-written files are no one else's business.
        if (QFileInfo(path).fileName().startsWith(QLatin1Char('.')))
            continue;
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = in.readAll();
        QFile existing(dest);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
            continue;
        existing.close();
        QDir().mkpath(QFileInfo(dest).path());
        QFile out(dest);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

} // namespace synctool
