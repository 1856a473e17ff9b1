// "Beide Richtungen" turned on for the big subject of the 1,000,000-card store: its
// 500,000 cards get their reverse places in one write. Beside it, as the baseline on
// the same disk, the same number of rows written by a bare INSERT ... SELECT into a
// table without indexes or triggers. Then the same turn-on cancelled half-way, which
// must leave the file as it was.
// Usage: tarlivo_bench_directions --data=DIR [--runs=N]
#include "store/store.h"
#include "support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "directions benchmark: %s\n", what);
    return 1;
}

double bareInsertMs(const QString &path, qint32 subject)
{
    sql::Database db;
    db.open(path, SQLITE_OPEN_READWRITE);
    db.exec("PRAGMA synchronous = FULL");
    db.exec("CREATE TABLE IF NOT EXISTS bare (id INTEGER PRIMARY KEY, g INTEGER, f INTEGER, s INTEGER, t INTEGER, "
            "d INTEGER)");
    QElapsedTimer timer;
    timer.start();
    db.exec("BEGIN IMMEDIATE");
    sql::Statement(db, "INSERT INTO bare SELECT idFrageAntwort, idGebiet, 1, idFrageAntwort, 0, 0 FROM tblPosition "
                       "WHERE idGebiet = ?1")
        .bind(1, subject)
        .run();
    db.exec("COMMIT");
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    db.exec("DROP TABLE bare");
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QString dataDir;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
        else if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::atoi(argv[i] + 7);
    }
    if (dataDir.isEmpty() || runs <= 0)
        return fail("usage: tarlivo_bench_directions --data=DIR [--runs=N]");
    const QString path = dataDir + QStringLiteral("/directions.mdb");
    std::vector<double> turnOn;
    std::vector<double> bare;
    qint64 places = 0;
    try {
        StoreOptions options;
        options.backups = false;
        for (int run = 0; run < runs; ++run) {
            copyFile(generatedPath(dataDir, 1000000), path);
            QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
            bare.push_back(bareInsertMs(path, 1));
            auto store = Store::open(path, options);
            const qint32 subject = *store->subjectId(kBigSubject);
            QElapsedTimer timer;
            timer.start();
            const std::optional<Change> change =
                store->setDirection(subject, DirectionSetting::Both, [] { return true; });
            turnOn.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (!change || change->fills.size() != 1)
                return fail("the big subject got no reverse places");
            places = change->fills.front().count;
        }
        // Cancelled after a fifth of a second of work: nothing may have changed.
        copyFile(generatedPath(dataDir, 1000000), path);
        QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray before = [&] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        auto store = Store::open(path, options);
        QElapsedTimer timer;
        timer.start();
        const std::optional<Change> cancelled = store->setDirection(
            *store->subjectId(kBigSubject), DirectionSetting::Both, [&timer] { return timer.elapsed() < 200; });
        const double cancelMs = double(timer.nsecsElapsed()) / 1e6;
        store.reset();
        QFile after(path);
        if (cancelled || !after.open(QIODevice::ReadOnly) || after.readAll() != before)
            return fail("the cancelled turn-on changed the file");
        std::printf("direction_cancelled_ms %.1f\n", cancelMs);
    } catch (const StoreError &e) {
        return fail(e.what());
    }
    QFile::remove(path);
    std::printf("direction_both_ms %.1f\n", quantile(turnOn, 0.5));
    std::printf("direction_bare_insert_ms %.1f\n", quantile(bare, 0.5));
    std::printf("direction_places %lld\n", places);
    return 0;
}
