#include "support.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace tarlivo::bench {
namespace {

[[noreturn]] void fail(sqlite3 *db, const char *what)
{
    throw std::runtime_error(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// A line of /proc/self/status, such as "VmRSS:", in kB; -1 when missing.
long long procStatusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

PeakMemory::PeakMemory() : m_startKb(procStatusKb("VmRSS:"))
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double PeakMemory::mbAbove() const { return double(procStatusKb("VmHWM:") - m_startKb) / 1024.0; }

QString generatedPath(const QString &dataDir, int cards)
{
    return dataDir + QStringLiteral("/cards-%1.mdb").arg(cards);
}

void copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    QFile::remove(to + QStringLiteral("-journal"));
    if (!QFile::copy(from, to))
        throw std::runtime_error("cannot copy " + from.toStdString() + " to " + to.toStdString());
    // QFile::copy keeps the source's permissions; the store refuses read-only files.
    QFile copy(to);
    copy.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    // Written out now, so that the first timed commits do not pay for the copy.
    if (!copy.open(QIODevice::ReadWrite) || ::fsync(copy.handle()) != 0)
        throw std::runtime_error("cannot write " + to.toStdString());
}

BareCommit::BareCommit(const QString &path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
    if (sqlite3_open(path.toUtf8().constData(), &m_db) != SQLITE_OK)
        fail(m_db, "open");
    const char *setup = "PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL;"
                        "CREATE TABLE t (id INTEGER PRIMARY KEY, v INTEGER NOT NULL);";
    if (sqlite3_exec(m_db, setup, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(m_db, "setup");
    if (sqlite3_prepare_v2(m_db, "BEGIN IMMEDIATE", -1, &m_begin, nullptr) != SQLITE_OK
        || sqlite3_prepare_v2(m_db, "INSERT INTO t (v) VALUES (?1)", -1, &m_insert, nullptr) != SQLITE_OK
        || sqlite3_prepare_v2(m_db, "COMMIT", -1, &m_commit, nullptr) != SQLITE_OK)
        fail(m_db, "prepare");
}

BareCommit::~BareCommit()
{
    sqlite3_finalize(m_begin);
    sqlite3_finalize(m_insert);
    sqlite3_finalize(m_commit);
    sqlite3_close(m_db);
}

void BareCommit::run(sqlite3_stmt *stmt)
{
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE)
        fail(m_db, "step");
}

void BareCommit::commitOneRow()
{
    run(m_begin);
    sqlite3_bind_int64(m_insert, 1, ++m_next);
    run(m_insert);
    run(m_commit);
}

double quantile(std::vector<double> &samples, double q)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const std::size_t index = std::min(samples.size() - 1, std::size_t(q * double(samples.size() - 1) + 0.5));
    return samples[index];
}

int runWindowBenchmark(int argc, char *argv[], const char *prefix,
                       const std::function<std::map<std::string, double>(const QString &, int, int)> &measure)
{
    QString dataDir;
    int repeats = 7;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
        else if (std::strncmp(argv[i], "--repeats=", 10) == 0)
            repeats = std::atoi(argv[i] + 10);
    }
    if (dataDir.isEmpty() || repeats <= 0) {
        std::fprintf(stderr, "usage: %s --data=DIR [--repeats=N]\n", argv[0]);
        return 2;
    }
    try {
        const auto small = measure(dataDir, 10000, repeats);
        const auto large = measure(dataDir, 1000000, repeats);
        // Name, value at 1M, value at 10k: the table puts them side by side.
        for (const auto &[name, ms] : large)
            std::printf("%s_%s_ms %.2f %.2f\n", prefix, name.c_str(), ms, small.at(name));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s benchmark: %s\n", prefix, e.what());
        return 1;
    }
    return 0;
}

} // namespace tarlivo::bench
