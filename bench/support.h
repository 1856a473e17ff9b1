#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

#include <ctime>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarlivo::bench {

// Tells when a widget has been painted.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// The CPU time the process has used, in milliseconds.
inline double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The sizes the benchmarks run at, and the generated file for each.
inline const std::vector<int> kSizes = {10000, 100000, 1000000};
QString generatedPath(const QString &dataDir, int cards);

// The subject holding half of every generated file's cards.
inline const QString kBigSubject = QStringLiteral("Englisch");

// The generated practice log ends at this moment (2026-12-01 12:00 UTC) and
// reaches kLogDays back; the benchmarks set the store's clock to it, so that
// "today" and the days before it hold the log whenever the files were made.
inline constexpr long long kLogNow = 1796126400;
inline constexpr int kLogDays = 60;

// The process's peak memory from its making on, above what it held then, in MB
// (Linux 4.0 and later restart the peak on request).
class PeakMemory {
public:
    PeakMemory();
    double mbAbove() const;

private:
    long long m_startKb;
};

// Copies a generated file to a working copy that the benchmarks may change, so the
// cached file stays as generated. Throws std::runtime_error.
void copyFile(const QString &from, const QString &to);

// The cheapest durable change SQLite can make: one row into a plain table, committed
// with the store's own journal and synchronisation settings (rollback journal,
// synchronous=FULL). Every store write pays at least this; it is measured on the
// same file system as the store's file.
class BareCommit {
public:
    explicit BareCommit(const QString &path);
    ~BareCommit();
    BareCommit(const BareCommit &) = delete;
    BareCommit &operator=(const BareCommit &) = delete;

    void commitOneRow();

private:
    void run(sqlite3_stmt *stmt);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_begin = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_commit = nullptr;
    long long m_next = 0;
};

// Median and another quantile of samples (sorted in place).
double quantile(std::vector<double> &samples, double q);

// The main of a window benchmark: reads --data=DIR and --repeats=N (default 7), runs
// measure(dataDir, cards, repeats) at 10,000 and 1,000,000 cards and prints each
// figure as "<prefix>_<name>_ms <at 1M> <at 10k>". The exit status to return.
int runWindowBenchmark(int argc, char *argv[], const char *prefix,
                       const std::function<std::map<std::string, double>(const QString &, int, int)> &measure);

} // namespace tarlivo::bench
