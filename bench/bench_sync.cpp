// Sync through a folder. Each figure beside its baseline, measured in the same run on
// the same disk:
//  - a sync applying 10,000 changes (another machine set the compartment of 10,000
//    cards), against the store's own write of that change on this machine; with
//    --tarlivo=PROGRAM also as the whole `tarlivo --abgleichen` process (start, open,
//    reading and checking the file, the merge, the commit, the end);
//  - a sync with nothing new at N cards (default 1,000,000), against the cheapest
//    durable commit SQLite makes;
//  - the folder after the first sync against the size of the data file it holds, and
//    the folder of two machines at 10,000 cards after every card changed four times
//    (snapshots written, old files folded) against the data file.
// Usage: tarlivo_bench_sync --data=DIR [--cards=N] [--runs=N] [--tarlivo=PROGRAM]
//        tarlivo_bench_sync --once --file=PATH --folder=DIR: one sync of that data file
//        (made when missing) with that folder, for time and peak memory of one process,
//        while a second connection gives a verdict every 50 ms, as a learner practising
//        meanwhile would: its longest and its median write, and the writes refused.
#include "store/store.h"
#include "support.h"
#include "sync/sync.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <thread>
#include <vector>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "sync benchmark: %s\n", what);
    return 1;
}

qint64 folderBytes(const QString &folder)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        bytes += QFileInfo(it.next()).size();
    return bytes;
}

// Every file of one folder into the other, as a sync tool would.
void copyFolder(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString dest = QDir(to).filePath(QDir(from).relativeFilePath(path));
        if (QFileInfo::exists(dest))
            continue;
        QDir().mkpath(QFileInfo(dest).path());
        QFile::copy(path, dest);
    }
}

// A sync tool between two folders that carries deletions too: a file both held at its
// last run and one of them no longer holds goes from the other; a rewritten file
// travels from the newer side.
class Tool {
public:
    void run(const QString &a, const QString &b)
    {
        const std::set<QString> inA = files(a);
        const std::set<QString> inB = files(b);
        std::set<QString> all = inA;
        all.insert(inB.begin(), inB.end());
        for (const QString &f : all) {
            const bool hasA = inA.count(f) != 0;
            const bool hasB = inB.count(f) != 0;
            const QString pa = QDir(a).filePath(f);
            const QString pb = QDir(b).filePath(f);
            if (hasA && hasB) {
                const QFileInfo ia(pa);
                const QFileInfo ib(pb);
                if (ia.size() != ib.size() || ia.lastModified() != ib.lastModified())
                    ia.lastModified() > ib.lastModified() ? replace(pa, pb) : replace(pb, pa);
                m_known.insert(f);
            } else if (m_known.count(f)) {
                QFile::remove(hasA ? pa : pb);
                m_known.erase(f);
            } else {
                hasA ? replace(pa, pb) : replace(pb, pa);
                m_known.insert(f);
            }
        }
    }

private:
    static std::set<QString> files(const QString &folder)
    {
        std::set<QString> found;
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.insert(QDir(folder).relativeFilePath(it.next()));
        return found;
    }
    static void replace(const QString &from, const QString &to)
    {
        QDir().mkpath(QFileInfo(to).path());
        QFile::remove(to);
        QFile::copy(from, to);
        QFile(to).setFileTime(QFileInfo(from).lastModified(), QFileDevice::FileModificationTime);
    }
    std::set<QString> m_known;
};

double ms(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

// CPU time, user and system, of this process or of its children waited for: a busy
// machine stretches the wall clock but hardly this.
double cpuMs(int who)
{
    rusage r{};
    getrusage(who, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

// The whole program syncing the file through the folder, as cron would run it.
bool syncProcess(const QString &program, const QString &file, const QString &folder)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, {QStringLiteral("--datei"), file, QStringLiteral("--abgleichen"), folder});
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QString dataDir;
    QString program;
    int cards = 1000000;
    int runs = 5;
    bool once = false;
    QString onceFile;
    QString onceFolder;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
        else if (std::strncmp(argv[i], "--cards=", 8) == 0)
            cards = std::atoi(argv[i] + 8);
        else if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::atoi(argv[i] + 7);
        else if (std::strncmp(argv[i], "--tarlivo=", 10) == 0)
            program = QString::fromLocal8Bit(argv[i] + 10);
        else if (std::strcmp(argv[i], "--once") == 0)
            once = true;
        else if (std::strncmp(argv[i], "--file=", 7) == 0)
            onceFile = QString::fromLocal8Bit(argv[i] + 7);
        else if (std::strncmp(argv[i], "--folder=", 9) == 0)
            onceFolder = QString::fromLocal8Bit(argv[i] + 9);
    }
    if (once) {
        if (onceFile.isEmpty() || onceFolder.isEmpty())
            return fail("usage: tarlivo_bench_sync --once --file=PATH --folder=DIR");
        try {
            StoreOptions options;
            options.backups = false;
            auto store = Store::open(onceFile, options);
            // A window's writes while the sync runs, each on a connection of its own as the
            // windows' is: a verdict every 50 ms, timed from its start to its commit.
            std::atomic<bool> syncing{true};
            std::vector<double> writeMs;
            int writes = 0;
            int refused = 0;
            std::thread writer([&] {
                auto window = Store::open(onceFile, options);
                const qint64 count = window->cardCount(std::nullopt);
                // A machine joining holds no card to judge until its sync is through.
                for (qint64 i = 0; syncing && count > 0; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    QElapsedTimer w;
                    w.start();
                    try {
                        window->judgeCard(qint32(1 + (i * 7919) % count), Verdict::Right);
                        ++writes;
                    } catch (const StoreError &) {
                        ++refused;
                    }
                    writeMs.push_back(ms(w));
                }
            });
            QElapsedTimer t;
            t.start();
            std::optional<sync::Outcome> done;
            try {
                done = sync::syncNow(*store, onceFolder);
            } catch (...) {
                syncing = false;
                writer.join();
                throw;
            }
            const double took = ms(t);
            syncing = false;
            writer.join();
            const sync::Outcome &outcome = *done;
            std::printf("sync_once_ms %.1f\n", took);
            std::printf("sync_once_window_writes %d\n", writes);
            std::printf("sync_once_window_writes_refused %d\n", refused);
            if (!writeMs.empty()) {
                std::printf("sync_once_window_longest_write_ms %.1f\n", quantile(writeMs, 1.0));
                std::printf("sync_once_window_median_write_ms %.1f\n", quantile(writeMs, 0.5));
            }
            std::printf("sync_once_applied %lld\n", outcome.applied);
            std::printf("sync_once_written %lld\n", outcome.written);
            std::printf("sync_once_folder_bytes %lld\n", folderBytes(onceFolder));
        } catch (const StoreError &e) {
            return fail(
                qPrintable(QStringLiteral("store error %1 in %2: %3").arg(int(e.kind())).arg(e.path(), e.detail())));
        } catch (const sync::SyncError &e) {
            return fail(qPrintable(e.message));
        }
        return 0;
    }
    if (dataDir.isEmpty() || runs <= 0)
        return fail("usage: tarlivo_bench_sync --data=DIR [--cards=N] [--runs=N]");
    QTemporaryDir work(dataDir + QStringLiteral("/sync-XXXXXX"));
    StoreOptions options;
    options.backups = false;
    try {
        // Two machines holding the 10,000-card file; one sets the compartment of every card.
        std::vector<double> apply;
        std::vector<double> own;
        std::vector<double> process;
        std::vector<double> processCpu;
        std::vector<double> ownCpu;
        for (int run = 0; run < runs; ++run) {
            const QString dir = work.filePath(QStringLiteral("run%1").arg(run));
            const QString folderA = dir + QStringLiteral("/A");
            const QString folderB = dir + QStringLiteral("/B");
            QDir().mkpath(folderA);
            QDir().mkpath(folderB);
            copyFile(generatedPath(dataDir, 10000), dir + QStringLiteral("/a.mdb"));
            auto a = Store::open(dir + QStringLiteral("/a.mdb"), options);
            auto b = Store::open(dir + QStringLiteral("/b.mdb"), options);
            sync::syncNow(*a, folderA);
            copyFolder(folderA, folderB);
            sync::syncNow(*b, folderB);
            const std::vector<qint32> ids = a->cardIds(std::nullopt, QString(), CardOrder::Practice);
            QElapsedTimer t;
            t.start();
            a->setCompartment(ids, 5);
            own.push_back(ms(t));
            sync::syncNow(*a, folderA);
            copyFolder(folderA, folderB);
            t.start();
            const sync::Outcome outcome = sync::syncNow(*b, folderB);
            apply.push_back(ms(t));
            if (outcome.applied < qint64(ids.size()))
                return fail("the changes did not arrive");
            if (program.isEmpty())
                continue;
            // Once more, B's file synced by the program itself; a first run with nothing new
            // makes the day's copy of the file, as the day's first sync does.
            b.reset();
            if (!syncProcess(program, dir + QStringLiteral("/b.mdb"), folderB))
                return fail("tarlivo --abgleichen failed");
            const double cpuBefore = cpuMs(RUSAGE_SELF);
            t.start();
            a->setCompartment(ids, 6);
            own.push_back(ms(t));
            ownCpu.push_back(cpuMs(RUSAGE_SELF) - cpuBefore);
            sync::syncNow(*a, folderA);
            copyFolder(folderA, folderB);
            const double childBefore = cpuMs(RUSAGE_CHILDREN);
            t.start();
            if (!syncProcess(program, dir + QStringLiteral("/b.mdb"), folderB))
                return fail("tarlivo --abgleichen failed");
            process.push_back(ms(t));
            processCpu.push_back(cpuMs(RUSAGE_CHILDREN) - childBefore);
            // Had it left the changes, this sync would apply them.
            b = Store::open(dir + QStringLiteral("/b.mdb"), options);
            if (sync::syncNow(*b, folderB).applied != 0)
                return fail("tarlivo --abgleichen left the changes");
        }
        std::printf("sync_apply_10000_ms %.1f\n", quantile(apply, 0.5));
        std::printf("sync_apply_10000_baseline_store_change_ms %.1f\n", quantile(own, 0.5));
        if (!process.empty()) {
            std::printf("sync_apply_10000_process_ms %.1f\n", quantile(process, 0.5));
            std::printf("sync_apply_10000_process_cpu_ms %.1f\n", quantile(processCpu, 0.5));
            std::printf("sync_apply_10000_baseline_store_change_cpu_ms %.1f\n", quantile(ownCpu, 0.5));
        }

        // Two machines; every card changes four times on one, each time synced both ways:
        // snapshots come, and what every machine has read is folded into them.
        {
            const QString dir = work.filePath(QStringLiteral("folding"));
            const QString folderA = dir + QStringLiteral("/A");
            const QString folderB = dir + QStringLiteral("/B");
            QDir().mkpath(folderA);
            QDir().mkpath(folderB);
            copyFile(generatedPath(dataDir, 10000), dir + QStringLiteral("/a.mdb"));
            auto a = Store::open(dir + QStringLiteral("/a.mdb"), options);
            auto b = Store::open(dir + QStringLiteral("/b.mdb"), options);
            const std::vector<qint32> ids = a->cardIds(std::nullopt, QString(), CardOrder::Practice);
            Tool tool;
            for (int round = 0; round <= 4; ++round) {
                if (round > 0)
                    a->setCompartment(ids, round + 1);
                sync::syncNow(*a, folderA);
                tool.run(folderA, folderB);
                sync::syncNow(*b, folderB);
                tool.run(folderA, folderB);
                sync::syncNow(*a, folderA);
                tool.run(folderA, folderB);
            }
            std::printf("sync_folded_folder_bytes %lld\n", folderBytes(folderA));
            std::printf("sync_folded_data_file_bytes %lld\n", QFileInfo(dir + QStringLiteral("/a.mdb")).size());
        }

        // Nothing new at many cards.
        const QString dir = work.filePath(QStringLiteral("idle"));
        const QString folder = dir + QStringLiteral("/Ordner");
        QDir().mkpath(folder);
        copyFile(generatedPath(dataDir, cards), dir + QStringLiteral("/big.mdb"));
        auto big = Store::open(dir + QStringLiteral("/big.mdb"), options);
        QElapsedTimer t;
        t.start();
        sync::syncNow(*big, folder);
        const double first = ms(t);
        std::vector<double> idle;
        std::vector<double> bare;
        BareCommit commit(dir + QStringLiteral("/bare.db"));
        for (int run = 0; run < runs * 2; ++run) {
            // A second later, so that the time of the sync is written anew each time.
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            t.start();
            const sync::Outcome outcome = sync::syncNow(*big, folder);
            idle.push_back(ms(t));
            if (outcome.applied || outcome.written)
                return fail("a sync with nothing new did something");
            t.start();
            commit.commitOneRow();
            bare.push_back(ms(t));
        }
        std::printf("sync_first_%d_ms %.1f\n", cards, first);
        std::printf("sync_nothing_new_%d_ms %.2f\n", cards, quantile(idle, 0.5));
        std::printf("sync_nothing_new_baseline_bare_commit_ms %.2f\n", quantile(bare, 0.5));
        std::printf("sync_folder_bytes %lld\n", folderBytes(folder));
        std::printf("sync_data_file_bytes %lld\n", QFileInfo(dir + QStringLiteral("/big.mdb")).size());
    } catch (const StoreError &e) {
        return fail(
            qPrintable(QStringLiteral("store error %1 in %2: %3").arg(int(e.kind())).arg(e.path(), e.detail())));
    } catch (const sync::SyncError &e) {
        return fail(qPrintable(e.message));
    }
    return 0;
}
