#include "store/files.h"

#include <QFile>
#include <QRegularExpression>

#include <fcntl.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarlivo::store::files {

void syncDirectory(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

QString reasonText(int error)
{
    // Worded here, not by the system: its texts follow the system's language.
    switch (error) {
    case 0:
        return QStringLiteral("unbekannter Grund");
    case ENOENT:
        return QStringLiteral("Datei oder Ordner nicht vorhanden");
    case EACCES:
    case EPERM:
        return QStringLiteral("keine Berechtigung");
    case ENOSPC:
        return QStringLiteral("der Datenträger ist voll");
    case EDQUOT:
        return QStringLiteral("der zugeteilte Speicherplatz ist aufgebraucht");
    case EROFS:
        return QStringLiteral("der Datenträger ist schreibgeschützt");
    case EISDIR:
        return QStringLiteral("das ist ein Ordner, keine Datei");
    case ENOTDIR:
        return QStringLiteral("ein Teil des Pfads ist kein Ordner");
    case EEXIST:
        return QStringLiteral("die Datei gibt es schon");
    case ENOTEMPTY:
        return QStringLiteral("der Ordner ist nicht leer");
    case ENAMETOOLONG:
        return QStringLiteral("der Name ist zu lang");
    case ELOOP:
        return QStringLiteral("zu viele verkettete Verknüpfungen im Pfad");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("zu viele Dateien sind geöffnet");
    case EFBIG:
        return QStringLiteral("die Datei wird zu groß");
    case EXDEV:
        return QStringLiteral("die Dateien liegen auf verschiedenen Datenträgern");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("die Datei wird gerade benutzt");
    case ENOMEM:
        return QStringLiteral("nicht genug Arbeitsspeicher");
    case EIO:
        return QStringLiteral("Lese- oder Schreibfehler des Datenträgers");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("das Gerät ist nicht erreichbar");
    default:
        return QStringLiteral("Systemfehler Nr. %1").arg(error);
    }
}

QString errnoText() { return reasonText(errno); }

QString fileReason(const QFileDevice &file)
{
    if (errno != 0)
        return reasonText(errno);
    switch (file.error()) {
    case QFileDevice::ReadError:
        return QStringLiteral("die Datei kann nicht gelesen werden");
    case QFileDevice::WriteError:
        return QStringLiteral("die Datei kann nicht geschrieben werden");
    case QFileDevice::OpenError:
        return QStringLiteral("die Datei kann nicht geöffnet werden");
    case QFileDevice::PermissionsError:
        return reasonText(EACCES);
    case QFileDevice::ResourceError:
        return reasonText(ENOSPC);
    default:
        return reasonText(0);
    }
}

void removeStaleTemporaries(const QDir &dir, const QString &base, const QString &marker)
{
    // The file, and the journal SQLite keeps beside it while writing it.
    const QRegularExpression temp(QStringLiteral(R"(\.%1-([0-9]{1,9})(-journal)?\z)").arg(marker));
    for (const QString &name :
         dir.entryList({base + QStringLiteral("*.") + marker + QStringLiteral("-*")}, QDir::Files)) {
        const QRegularExpressionMatch m = temp.match(name);
        const qint64 pid = m.hasMatch() ? m.captured(1).toLongLong() : 0;
        if (pid > 0 && pid != ::getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QFile::remove(dir.filePath(name));
    }
}

QString freshTemporary(const QString &path, const QString &marker)
{
    const QString temp = path + QStringLiteral(".%1-%2").arg(marker).arg(::getpid());
    removeDatabaseFiles(temp);
    return temp;
}

void removeDatabaseFiles(const QString &path)
{
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

bool linkNew(const QString &from, const QString &to)
{
    // link() never replaces a file, unlike rename().
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool copyNew(const QString &from, const QString &to)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int saved = errno;
        ::close(in);
        errno = saved;
        return false;
    }
    // The kernel copies, without a buffer of ours on the way.
    bool ok = true;
    for (;;) {
        const ssize_t n = ::sendfile(out, in, nullptr, 1 << 24);
        if (n == 0)
            break;
        if (n < 0 && errno != EINTR) {
            ok = false;
            break;
        }
    }
    if (ok && ::fsync(out) != 0)
        ok = false;
    const int saved = errno;
    ::close(out);
    ::close(in);
    if (!ok)
        ::unlink(QFile::encodeName(to).constData());
    errno = saved;
    return ok;
}

} // namespace tarlivo::store::files
