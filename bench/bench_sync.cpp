// Sync through a folder. Each figure beside its baseline, measured in the same run on
// the same disk:
//  - a sync applying 10,000 changes (another machine set the compartment of 10,000
//    cards), against the store's own write of that change on this machine;
//  - a sync with nothing new at N cards (default 1,000,000), against the cheapest
//    durable commit SQLite makes;
//  - the folder after the first sync against the size of the data file it holds.
// Usage: tarlivo_bench_sync --data=DIR [--cards=N] [--runs=N]
#include "store/store.h"
#include "support.h"
#include "sync/sync.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
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

double ms(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

} // namespace

int main(int argc, char *argv[])
{
    QString dataDir;
    int cards = 1000000;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
        else if (std::strncmp(argv[i], "--cards=", 8) == 0)
            cards = std::atoi(argv[i] + 8);
        else if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::atoi(argv[i] + 7);
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
        }
        std::printf("sync_apply_10000_ms %.1f\n", quantile(apply, 0.5));
        std::printf("sync_apply_10000_baseline_store_change_ms %.1f\n", quantile(own, 0.5));

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
        return fail(e.what());
    } catch (const sync::SyncError &e) {
        return fail(qPrintable(e.message));
    }
    return 0;
}
