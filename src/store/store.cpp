#include "store/store.h"

#include "store/backup.h"
#include "store/collation.h"
#include "store/files.h"
#include "store/numbertest.h"
#include "store/schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tarlivo::store {
namespace {

void learningDayFunction(sqlite3_context *context, int, sqlite3_value **argv)
{
    sqlite3_result_int64(context, Store::learningDay(sqlite3_value_int64(argv[0])));
}

void defaultIntervalFunction(sqlite3_context *context, int, sqlite3_value **argv)
{
    const qint64 compartment = sqlite3_value_int64(argv[0]);
    sqlite3_result_int64(context, Store::defaultInterval(qint32(std::clamp<qint64>(compartment, 0, kInt32Max))));
}

bool isWritable(const QString &path)
{
    struct stat st {};
    const QByteArray p = QFile::encodeName(path);
    // The mode bits count even for root: a file made read-only is meant to stay so.
    return ::stat(p.constData(), &st) == 0 && (st.st_mode & 0222) != 0 && ::access(p.constData(), W_OK) == 0;
}

// Creates a store with empty tables at path, which must be missing or empty. The
// tables are written to a temporary file first, so no half-made store is ever seen.
void createStoreFile(const QString &path, bool replaceEmpty)
{
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    if (!isWritable(dir))
        throw StoreError(StoreErrorKind::CannotCreate, path, QStringLiteral("directory is not writable"));
    files::removeStaleTemporaries(QDir(dir), info.fileName(), QStringLiteral("neu"));
    const QString temp = files::freshTemporary(path, QStringLiteral("neu"));
    try {
        sql::Database db;
        db.open(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        Store::createSchema(db);
        db.close();
    } catch (const StoreError &e) {
        QFile::remove(temp);
        throw StoreError(e.kind() == StoreErrorKind::Full ? StoreErrorKind::Full : StoreErrorKind::CannotCreate, path,
                         e.detail());
    }
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(path);
    int rc;
    if (replaceEmpty) {
        rc = ::rename(from.constData(), to.constData());
    } else {
        // link() never replaces: a store another copy created meanwhile wins.
        rc = files::linkNew(temp, path) ? 0 : -1;
        if (rc != 0 && errno == EEXIST)
            rc = 0;
        ::unlink(from.constData());
    }
    if (rc != 0) {
        const QString reason = files::errnoText();
        QFile::remove(temp);
        throw StoreError(StoreErrorKind::CannotCreate, path, reason);
    }
    files::syncDirectory(dir);
}

} // namespace

FileFormat sniffFormat(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return FileFormat::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return FileFormat::Unreadable;
    const QByteArray head = file.read(100);
    if (head.isEmpty())
        return file.error() == QFile::NoError ? FileFormat::Empty : FileFormat::Unreadable;
    if (head.startsWith(QByteArray("SQLite format 3\0", 16)))
        return FileFormat::SQLite;
    static const QByteArray jet = QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    if (head.size() > 0x14 && head.startsWith(jet))
        return head.at(0x14) == 0 ? FileFormat::Jet3 : FileFormat::Jet4;
    return FileFormat::Unknown;
}

Store::Store(StoreOptions options) : m_options(std::move(options)) {}

Store::~Store() = default;

std::unique_ptr<Store> Store::open(const QString &path, StoreOptions options)
{
    switch (sniffFormat(path)) {
    case FileFormat::Missing:
        createStoreFile(path, false);
        break;
    case FileFormat::Empty:
        createStoreFile(path, true);
        break;
    case FileFormat::SQLite:
        break;
    case FileFormat::Jet3:
    case FileFormat::Jet4:
        throw StoreError(StoreErrorKind::LegacyFormat, path);
    case FileFormat::Unknown:
        throw StoreError(StoreErrorKind::NotADatabase, path);
    case FileFormat::Unreadable:
        throw StoreError(StoreErrorKind::CannotOpen, path, QStringLiteral("the file cannot be read"));
    }
    std::unique_ptr<Store> store(new Store(std::move(options)));
    // Another user's file, a copy on a read-only medium: read, never written.
    store->m_readOnly = !isWritable(path) || !isWritable(QFileInfo(path).absolutePath());
    store->connect(path);
    // The day's copy, taken now while nothing waits for it.
    if (!store->m_readOnly)
        store->startBackup();
    return store;
}

void Store::createSchema(sql::Database &db)
{
    db.exec("BEGIN IMMEDIATE");
    try {
        schema::upgradeFrom(db, 0);
        // Pragmas take no bound values; these are the program's own constants.
        db.exec(("PRAGMA application_id = " + QByteArray::number(kApplicationId)).constData());
        db.exec(("PRAGMA user_version = " + QByteArray::number(kSchemaVersion)).constData());
        db.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Store::connect(const QString &path)
{
    // Never create here: the file was checked or made above, and a file that
    // vanished in between must not come back empty.
    // Used by one thread only (the day's copy has connections of its own): SQLite's
    // own locks around every call would cost an import of many cards time for nothing.
    if (!m_readOnly) {
        m_db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    } else if (isWritable(QFileInfo(path).absolutePath())) {
        m_db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    } else {
        // No writer can make its journal in a read-only folder: the file cannot change
        // while read, and SQLite need not lock it (a read-only medium may not allow it).
        const QByteArray uri = "file:"
                               + QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())
                                     .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority)
                               + "?immutable=1";
        m_db.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, uri);
    }
    setUpConnection();

    // Known before the schema check, which may upgrade the file and so write to it.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        m_device = quint64(st.st_dev);
        m_inode = quint64(st.st_ino);
    }
    verifySchema();
}

void Store::setUpConnection()
{
    sqlite3_busy_timeout(m_db.handle(), m_options.busyTimeoutMs);
    registerNameCollation(m_db.handle());
    registerSearchFunction(m_db.handle());
    // Local time: not deterministic, so SQLite never keeps its results.
    sqlite3_create_function(m_db.handle(), "tarlivo_lerntag", 1, SQLITE_UTF8, nullptr, learningDayFunction, nullptr,
                            nullptr);
    sqlite3_create_function(m_db.handle(), "tarlivo_standardintervall", 1,
                            SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, defaultIntervalFunction,
                            nullptr, nullptr);
    m_db.exec("PRAGMA foreign_keys = ON");
    // A change is on disk before the window shows its result.
    m_db.exec("PRAGMA synchronous = FULL");
}

void Store::readIntoMemory()
{
    sqlite3_int64 size = 0;
    unsigned char *bytes = sqlite3_serialize(m_db.handle(), "main", &size, 0);
    if (!bytes)
        m_db.fail(SQLITE_NOMEM);
    const QString file = path();
    m_db.open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, ":memory:");
    // SQLite frees the bytes with the connection, also when this fails.
    const int rc = sqlite3_deserialize(m_db.handle(), "main", bytes, size, size,
                                       SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
    if (rc != SQLITE_OK)
        m_db.fail(rc);
    setUpConnection();
}

void Store::verifySchema()
{
    qint64 applicationId = 0;
    qint64 version = 0;
    {
        sql::Statement q(m_db, "PRAGMA application_id");
        if (q.step())
            applicationId = q.int64(0);
    }
    {
        sql::Statement q(m_db, "PRAGMA user_version");
        if (q.step())
            version = q.int64(0);
    }
    if (applicationId != kApplicationId)
        throw StoreError(StoreErrorKind::SchemaMismatch, path(), QStringLiteral("not a Tarlivo store"));
    if (version > kSchemaVersion)
        throw StoreError(StoreErrorKind::NewerVersion, path(), QStringLiteral("schema version %1").arg(version));
    {
        sql::Statement q(m_db, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' "
                               "AND name IN ('tblGebiet', 'tblFrageAntwort', 'tblPosition')");
        if (!q.step() || q.int64(0) != 3)
            throw StoreError(StoreErrorKind::SchemaMismatch, path(), QStringLiteral("tables are missing"));
    }
    if (version < kSchemaVersion) {
        if (m_readOnly)
            readIntoMemory();
        upgradeSchema(version);
    }
}

void Store::upgradeSchema(qint64 version)
{
    // The upgrade is a change like any other: the day's copy keeps the file as it was.
    // (A read-only file is upgraded in memory only.)
    if (!m_readOnly)
        prepareWrite();
    sql::WriteTransaction tx(m_db);
    {
        // Another running copy may have upgraded the file meanwhile.
        sql::Statement q(m_db, "PRAGMA user_version");
        if (q.step() && q.int64(0) >= kSchemaVersion)
            return;
    }
    // Its three tables were checked: at least version 1, whatever the number says.
    schema::upgradeFrom(m_db, std::max<qint64>(version, 1));
    m_db.exec(("PRAGMA user_version = " + QByteArray::number(kSchemaVersion)).constData());
    tx.commit();
}

void Store::ensureSameFile()
{
    if (m_readOnly)
        throw StoreError(StoreErrorKind::ReadOnly, path());
    struct stat st {};
    if (::stat(QFile::encodeName(path()).constData(), &st) != 0)
        throw StoreError(StoreErrorKind::FileChanged, path(), QStringLiteral("deleted"));
    if (quint64(st.st_dev) != m_device || quint64(st.st_ino) != m_inode)
        throw StoreError(StoreErrorKind::FileChanged, path(), QStringLiteral("replaced"));
    if (!isWritable(path()) || !isWritable(QFileInfo(path()).absolutePath()))
        throw StoreError(StoreErrorKind::ReadOnly, path());
}

void Store::prepareWrite()
{
    if (!m_db.isOpen())
        throw StoreError(StoreErrorKind::NotConnected, path());
    ensureSameFile();
    backupIfDue();
}

QDate Store::backupDay() const { return m_options.today ? m_options.today() : QDate::currentDate(); }

QString Store::backupTarget(QDate day) const
{
    const QFileInfo info(path());
    const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
    return info.absoluteDir().filePath(backupPrefix() + day.toString(Qt::ISODate) + suffix);
}

QString Store::backupPrefix() const { return QFileInfo(path()).completeBaseName() + QStringLiteral("-Sicherung-"); }

void Store::startBackup()
{
    if (!m_options.backups)
        return;
    const QString target = backupTarget(backupDay());
    files::removeStaleTemporaries(QFileInfo(target).absoluteDir(), backupPrefix(), QStringLiteral("tmp"));
    if (QFileInfo::exists(target))
        return;
    // Another store of this process (the windows open the file afresh) may be at it already.
    m_backupJob = backup::Job::find(target);
    if (!m_backupJob)
        m_backupJob = backup::Job::start(path(), target, files::freshTemporary(target, QStringLiteral("tmp")),
                                         m_options.busyTimeoutMs);
}

qint64 Store::dataVersion()
{
    sql::Statement q(m_db, "PRAGMA data_version");
    return q.step() ? q.int64(0) : 0;
}

void Store::waitForDayCopy()
{
    if (m_backupJob)
        m_backupJob->wait();
}

void Store::backupIfDue()
{
    if (!m_options.backups)
        return;
    const QDate today = backupDay();
    if (m_backupChecked == today)
        return;
    m_backupChecked = today; // one attempt a day: a failure is told once, not at every change

    const QString target = backupTarget(today);
    QDir dir = QFileInfo(target).absoluteDir();
    const QString prefix = backupPrefix();
    const QString suffix =
        QFileInfo(target).suffix().isEmpty() ? QString() : QStringLiteral(".") + QFileInfo(target).suffix();

    try {
        // The copy taken while the program opened, if it still shows the file as it is;
        // else one taken now, the change waiting for it.
        std::shared_ptr<backup::Job> job = backup::Job::find(target);
        m_backupJob.reset();
        if (!QFileInfo::exists(target) && !(job && job->claim())) {
            files::removeStaleTemporaries(dir, prefix, QStringLiteral("tmp"));
            const QString temp = files::freshTemporary(target, QStringLiteral("tmp"));
            try {
                backup::copyDatabase(path(), temp, m_options.busyTimeoutMs);
                if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0)
                    throw StoreError(errno == ENOSPC ? StoreErrorKind::Full : StoreErrorKind::Io, target,
                                     files::errnoText());
                files::syncDirectory(dir.absolutePath());
            } catch (const StoreError &) {
                files::removeDatabaseFiles(temp);
                throw;
            }
        }
    } catch (const StoreError &e) {
        // Another copy held the file too long: try again at the next change.
        if (e.kind() == StoreErrorKind::Busy)
            m_backupChecked = QDate();
        if (m_options.backupFailed)
            m_options.backupFailed(StoreError(e.kind(), target, e.detail()));
        return;
    }

    // Keep the newest copies; the ISO date in the name sorts them by age.
    QStringList copies =
        dir.entryList({prefix + QStringLiteral("\?\?\?\?-\?\?-\?\?") + suffix}, QDir::Files, QDir::Name);
    while (copies.size() > m_options.keepBackups)
        dir.remove(copies.takeFirst());
}

qint64 Store::now() const { return m_options.now ? m_options.now() : QDateTime::currentSecsSinceEpoch(); }

QDate Store::today() const { return QDateTime::fromSecsSinceEpoch(now()).date(); }

QStringList Store::checkInvariants(bool allowSharedQueuePlace)
{
    return schema::checkInvariants(m_db, allowSharedQueuePlace);
}

} // namespace tarlivo::store
