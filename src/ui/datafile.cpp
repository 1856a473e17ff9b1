#include "ui/datafile.h"

#include "store/files.h"
#include "ui/messages.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace tarlivo::store;
using namespace tarlivo::legacy;

#ifndef TARLIVO_READER_FROM_BIN
#define TARLIVO_READER_FROM_BIN "../libexec/tarlivo"
#endif

namespace tarlivo::ui {

namespace {

const QString kFileName = QStringLiteral("Tarlivo.mdb");
const QString kReaderName = QStringLiteral("tarlivo-mdb-reader");

bool writableFolder(const QString &dir) { return ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0; }

// The XDG base directory rule: an absolute XDG_DATA_HOME, else ~/.local/share.
QString userDataHome(const QProcessEnvironment &env)
{
    const QString xdg = env.value(QStringLiteral("XDG_DATA_HOME"));
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    const QString home = env.value(QStringLiteral("HOME"));
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return QDir::cleanPath(home + QStringLiteral("/.local/share"));
    return {};
}

} // namespace

DataFileChoice chooseDataFile(const QString &requested, const QString &programDir, const QProcessEnvironment &env,
                              const QString &workingDir)
{
    DataFileChoice choice;
    if (!requested.isEmpty()) {
        const QString path = QDir::cleanPath(QDir(workingDir).absoluteFilePath(requested));
        const QFileInfo info(path);
        const QString folder = info.absolutePath();
        if (info.isDir())
            choice.error = text::dataFileIsFolder(path);
        else if (!QFileInfo(folder).isDir())
            choice.error = text::dataFolderMissing(path, folder);
        else if (!info.exists() && !writableFolder(folder))
            choice.error = text::dataFolderNotWritable(path, folder);
        else
            choice.path = path;
        return choice;
    }
    if (writableFolder(programDir) && !isInstalledLayout(programDir)) {
        choice.path = QDir(programDir).absoluteFilePath(kFileName);
        return choice;
    }
    const QString home = userDataHome(env);
    if (home.isEmpty()) {
        choice.error = text::dataHomeUnknown();
        return choice;
    }
    choice.path = home + QStringLiteral("/Tarlivo/") + kFileName;
    choice.createFolder = true;
    return choice;
}

bool makeDataFolder(DataFileChoice &choice)
{
    if (!choice.createFolder || !choice.error.isEmpty())
        return choice.error.isEmpty();
    const QString folder = QFileInfo(choice.path).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    // mkpath reports no reason; the reason is what the user needs.
    errno = 0;
    if (!QDir().mkpath(folder)) {
        const QString reason = files::errnoText();
        choice.error = text::dataFolderCannotCreate(folder, reason);
        choice.path.clear();
        return false;
    }
    return true;
}

bool isInstalledLayout(const QString &programDir)
{
    return QFileInfo(QDir(programDir).filePath(QStringLiteral(TARLIVO_READER_FROM_BIN "/") + kReaderName))
        .isExecutable();
}

QString findLegacyReader(const QString &programDir)
{
    const QDir dir(programDir);
    const QString beside = dir.filePath(kReaderName);
    if (QFileInfo(beside).isExecutable() || !isInstalledLayout(programDir))
        return beside;
    return QDir::cleanPath(dir.filePath(QStringLiteral(TARLIVO_READER_FROM_BIN "/") + kReaderName));
}

} // namespace tarlivo::ui
