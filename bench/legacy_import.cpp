// Times the take-over of an old Access file (by default the 20,000-card test file):
// the reader process, the new store, its check and the swap of the files, as the
// program does it at start-up. Prints each run, then "legacy_import_ms <median>".
//
//   tarlivo_bench_legacy READER FILE [RUNS]

#include "legacy/legacyimport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s READER FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const QString reader = QString::fromLocal8Bit(argv[1]);
    const QString source = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 5;

    std::vector<qint64> times;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tarlivo.mdb"));
        if (!QFile::copy(source, path)) {
            std::fprintf(stderr, "cannot copy %s\n", argv[2]);
            return 1;
        }
        tarlivo::legacy::LegacyImportOptions options;
        options.readerPath = reader;
        QElapsedTimer timer;
        timer.start();
        try {
            const auto report = tarlivo::legacy::importLegacyFile(path, options);
            times.push_back(timer.elapsed());
            std::printf("run %d: %lld ms, %d subjects, %d cards\n", run + 1, static_cast<long long>(times.back()),
                        report ? report->subjects : 0, report ? report->cards : 0);
        } catch (const tarlivo::legacy::LegacyImportError &error) {
            std::fprintf(stderr, "import failed (%d): %s\n", int(error.kind()), error.what());
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("legacy_import_ms %lld\n", static_cast<long long>(times[times.size() / 2]));
    return 0;
}
