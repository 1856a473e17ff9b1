#include "legacy/fileswap.h"

#include "legacy/importerror.h"
#include "store/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

using namespace tarlivo::store;

namespace tarlivo::legacy {
namespace {

using Error = LegacyImportError;

// Gives the old file a second name of its own that no earlier file has; returns it.
QString keepOriginal(const QString &path)
{
    for (int number = 1; number < 10000; ++number) {
        const QString target = legacyOriginalName(path, number);
        // link() never replaces a file: an earlier original stays as it is.
        if (files::linkNew(path, target))
            return target;
        if (errno == EEXIST)
            continue;
        // Some file systems have no hard links: a copy serves as well.
        if (files::copyNew(path, target))
            return target;
        if (errno == EEXIST)
            continue;
        throw writeFailed(path, files::errnoText(), errno);
    }
    throw Error(Error::WriteFailed, path, QStringLiteral("no free name for the old file"));
}

} // namespace

FileLock::FileLock(const QString &path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        throw Error(Error::CannotOpen, path, files::errnoText());
    // Where the file system has no locks, the take-over goes ahead without one.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(m_fd);
        throw Error(Error::Busy, path);
    }
    ::fstat(m_fd, &m_stat);
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileLock::stillAt(const QString &path) const
{
    struct stat now {};
    return m_fd >= 0 && ::stat(QFile::encodeName(path).constData(), &now) == 0 && now.st_dev == m_stat.st_dev
           && now.st_ino == m_stat.st_ino;
}

TempStore::TempStore(const QString &path) : m_path(files::freshTemporary(path, QStringLiteral("uebernahme"))) {}

TempStore::~TempStore()
{
    if (!m_released)
        files::removeDatabaseFiles(m_path);
}

QString swapIntoPlace(const QString &path, TempStore &temp, const FileLock &lock)
{
    const QString dir = QFileInfo(path).absolutePath();
    // On disk before it takes the old file's name, so that a power cut cannot
    // leave a half-written store there.
    if (!files::syncFile(temp.path()))
        throw writeFailed(path, files::errnoText(), errno);
    if (!lock.stillAt(path))
        throw Error(Error::Changed, path);
    const QString original = keepOriginal(path);
    files::syncDirectory(dir);
    if (::rename(QFile::encodeName(temp.path()).constData(), QFile::encodeName(path).constData()) != 0) {
        const int saved = errno;
        QFile::remove(original); // the old file is still in place: no second name needed
        errno = saved;
        throw writeFailed(path, files::errnoText(), saved);
    }
    temp.release();
    files::syncDirectory(dir);
    return original;
}

QString legacyOriginalName(const QString &path, int number)
{
    const QFileInfo info(path);
    QString name = info.completeBaseName() + QStringLiteral("-Access-Original");
    if (number > 1)
        name += QStringLiteral("-%1").arg(number);
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    return info.dir().filePath(name);
}

} // namespace tarlivo::legacy
