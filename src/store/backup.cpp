#include "store/backup.h"

#include "store/files.h"
#include "store/sqlite.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace tarlivo::store::backup {
namespace {

// Pages copied between two looks at whether to stop: a few milliseconds' work, and
// the source's read lock is let go in between, so another running copy can write.
constexpr int kPagesPerStep = 1024;

std::mutex &registryMutex()
{
    static std::mutex m;
    return m;
}

std::map<QString, std::weak_ptr<Job>> &registry()
{
    static std::map<QString, std::weak_ptr<Job>> jobs;
    return jobs;
}

} // namespace

std::optional<quint32> changeCounter(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(24))
        return std::nullopt;
    const QByteArray bytes = file.read(4);
    if (bytes.size() != 4)
        return std::nullopt;
    const auto byte = [&bytes](int i) { return quint32(quint8(bytes[i])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

std::optional<quint32> copyDatabase(const QString &source, const QString &temp, int busyTimeoutMs,
                                    const std::atomic<bool> *cancel)
{
    const std::optional<quint32> before = changeCounter(source);
    sql::Database from;
    from.open(source, SQLITE_OPEN_READONLY);
    sqlite3_busy_timeout(from.handle(), busyTimeoutMs);
    sql::Database copy;
    copy.open(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3_backup *backup = sqlite3_backup_init(copy.handle(), "main", from.handle(), "main");
    if (!backup)
        copy.fail(sqlite3_errcode(copy.handle()));
    int stepped = SQLITE_OK;
    while (stepped == SQLITE_OK) {
        if (cancel && cancel->load()) {
            sqlite3_backup_finish(backup);
            throw StoreError(StoreErrorKind::Internal, temp, QStringLiteral("cancelled"));
        }
        stepped = sqlite3_backup_step(backup, kPagesPerStep);
    }
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE)
        copy.fail(stepped);
    if (finished != SQLITE_OK)
        copy.fail(finished);
    copy.close();
    const std::optional<quint32> after = changeCounter(source);
    return before == after ? after : std::nullopt;
}

Job::Job(QString source, QString target, QString temp, int busyTimeoutMs)
    : m_source(std::move(source)), m_target(std::move(target)), m_temp(std::move(temp)), m_busyTimeoutMs(busyTimeoutMs)
{
    m_thread = std::thread([this] { run(); });
}

Job::~Job()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
    if (!m_claimed)
        files::removeDatabaseFiles(m_temp);
}

void Job::run()
{
    try {
        m_counter = copyDatabase(m_source, m_temp, m_busyTimeoutMs, &m_cancel);
    } catch (const StoreError &e) {
        m_error = e;
    } catch (...) {
        m_error = StoreError(StoreErrorKind::Internal, m_target);
    }
    m_done = true;
}

void Job::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool Job::claim()
{
    wait();
    if (m_error) {
        files::removeDatabaseFiles(m_temp);
        throw *m_error;
    }
    // Written since it was taken (by another running copy): no longer the morning's file.
    if (!m_counter || changeCounter(m_source) != m_counter) {
        files::removeDatabaseFiles(m_temp);
        return false;
    }
    // A copy of that name made meanwhile by another running copy stays.
    if (!files::linkNew(m_temp, m_target) && errno != EEXIST) {
        const int error = errno;
        files::removeDatabaseFiles(m_temp);
        throw StoreError(error == ENOSPC ? StoreErrorKind::Full : StoreErrorKind::Io, m_target,
                         files::reasonText(error));
    }
    files::removeDatabaseFiles(m_temp);
    files::syncDirectory(QFileInfo(m_target).absolutePath());
    m_claimed = true;
    return true;
}

std::shared_ptr<Job> Job::find(const QString &target)
{
    const std::lock_guard<std::mutex> lock(registryMutex());
    const auto it = registry().find(target);
    return it == registry().end() ? nullptr : it->second.lock();
}

std::shared_ptr<Job> Job::start(const QString &source, const QString &target, const QString &temp, int busyTimeoutMs)
{
    auto job = std::make_shared<Job>(source, target, temp, busyTimeoutMs);
    const std::lock_guard<std::mutex> lock(registryMutex());
    for (auto it = registry().begin(); it != registry().end();)
        it = it->second.expired() ? registry().erase(it) : std::next(it);
    registry()[target] = job;
    return job;
}

} // namespace tarlivo::store::backup
