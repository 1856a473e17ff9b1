// Times import and export: a 100,000-line tab-separated file beside SQLite's own
// .import of it (sqlite3 command-line tool, same run), the same cards as a kvtml
// file and as a gzipped Pauker lesson, each beside libxml2's streaming reader going
// through the same file (and its bare SAX parse below that; KDE's library reading
// the kvtml file, where it is installed), 1,000,000 cards exported, an Anki package
// of 20,000 notes, and the memory an import of 100,000 cards takes above the idle
// program, for each kind. Prints
// "name value" lines.
//
//   tarlivo_bench_transfer DATA_DIR [RUNS]
//   tarlivo_bench_transfer --xml [RUNS [CARDS]] (the kvtml and Pauker figures alone;
//                                                fewer cards for a profiler's run)
//   tarlivo_bench_transfer --memory FILE NAME   (one import, reports memory; run by the above)

#include "ankifiles.h"
#include "store/store.h"
#include "support.h"
#include "transfer/exporter.h"
#include "transfer/importer.h"
#include "xmlfloor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

StoreOptions quiet()
{
    StoreOptions o;
    o.backups = false;
    return o;
}

QByteArray question(int i) { return "Wie heißt das Wort Nummer " + QByteArray::number(i) + " auf Spanisch?"; }
QByteArray answer(int i) { return "la palabra número " + QByteArray::number(i * 7 + 3); }

// Lines like a vocabulary list: two short texts, all different.
void writeTextFile(const QString &path, int lines)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray out;
    for (int i = 0; i < lines; ++i)
        out += question(i) + "\t" + answer(i) + "\n";
    f.write(out);
}

// The same cards as kvtml 2, in ten lessons, with grades and dates.
void writeKvtmlFile(const QString &path, int entries)
{
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kvtml version=\"2.0\"><entries>\n";
    for (int i = 0; i < entries; ++i)
        out += "<entry id=\"" + QByteArray::number(i) + "\"><translation id=\"0\"><text>" + question(i)
               + "</text></translation><translation id=\"1\"><text>" + answer(i) + "</text><grade><currentgrade>"
               + QByteArray::number(i % 8) + "</currentgrade><count>1</count><errorcount>0</errorcount><date>2024-0"
               + QByteArray::number(1 + i % 9) + "-1" + QByteArray::number(i % 10) + "T10:2"
               + QByteArray::number(i % 10) + ":00</date></grade></translation></entry>\n";
    out += "</entries><lessons>\n";
    for (int l = 0; l < 10; ++l) {
        out += "<container><name>Lektion " + QByteArray::number(l) + "</name>";
        for (int i = l; i < entries; i += 10)
            out += "<entry id=\"" + QByteArray::number(i) + "\"/>";
        out += "</container>\n";
    }
    out += "</lessons></kvtml>\n";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(out);
}

// The same cards as a gzipped Pauker lesson, spread over its batches.
void writePaukerFile(const QString &path, int cards)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Lesson LessonFormat=\"1.7\">"
                     "<Description>Spanisch</Description>\n";
    constexpr int batches = 8;
    for (int b = 0; b < batches; ++b) {
        xml += "<Batch>\n";
        for (int i = b; i < cards; i += batches)
            xml += "<Card><FrontSide LearnedTimestamp=\"" + QByteArray::number(1'700'000'000'000LL + qint64(i) * 60000)
                   + "\" Orientation=\"LTR\" RepeatByTyping=\"false\"><Text>" + question(i)
                   + "</Text></FrontSide><ReverseSide Orientation=\"LTR\" RepeatByTyping=\"false\"><Text>" + answer(i)
                   + "</Text></ReverseSide></Card>\n";
        xml += "</Batch>\n";
    }
    xml += "</Lesson>\n";
    QByteArray packed(qsizetype(compressBound(uLong(xml.size()))) + 64, '\0');
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef *>(xml.data());
    z.avail_in = uInt(xml.size());
    z.next_out = reinterpret_cast<Bytef *>(packed.data());
    z.avail_out = uInt(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(packed);
}

// Timed import of path into a fresh store in dir; milliseconds. With catchUp, the
// time the program then spends in the background on the search index.
// Bytes standing in for a JPEG picture of about 50 KB, different for each i: the
// import stores them without decoding, and noise does not compress.
QByteArray picture(int i)
{
    QByteArray bytes("\xff\xd8\xff\xe0", 4);
    quint32 state = 2463534242u + quint32(i);
    while (bytes.size() < 50 * 1024) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes += char(state);
    }
    return bytes;
}

// With cpuMs, the CPU time of the import too (all threads), which a busy machine
// leaves out.
double importOnce(const QString &dir, const QString &path, int run, double *catchUp = nullptr, double *cpuMs = nullptr)
{
    auto store = Store::open(dir + QStringLiteral("/import-%1.mdb").arg(run), quiet());
    QElapsedTimer timer;
    const double cpuBefore = bench::processCpuMs();
    timer.start();
    auto file = transfer::ImportFile::open(path);
    const transfer::ImportSummary s = transfer::runImport(*file, *store, {QStringLiteral("Spanisch"), true});
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (cpuMs)
        *cpuMs = bench::processCpuMs() - cpuBefore;
    if (s.cardsStored == 0)
        throw std::runtime_error("nothing imported");
    if (catchUp) {
        timer.restart();
        while (store->catchUpSearchIndex(Store::kSearchIndexStep) > 0) {
        }
        *catchUp = double(timer.nsecsElapsed()) / 1e6;
    }
    return ms;
}

// The kvtml and Pauker imports of 100,000 cards, each run beside the floor of its
// kind read from the same file (and the bare SAX parse below it); KDE's library reads
// the kvtml file once per run too.
void xmlFigures(const QString &dir, const QString &kvtml, const QString &pauker, int runs, int cards = 100000)
{
    struct Figures {
        std::vector<double> ms, cpu, floorMs, floorCpu, saxMs;
    };
    Figures kinds[2];
    const QString files[2] = {kvtml, pauker};
    for (int run = 0; run < runs; ++run)
        for (int k = 0; k < 2; ++k) {
            Figures &f = kinds[k];
            const int number = 200 + 100 * k + run;
            double cpu = 0;
            f.ms.push_back(importOnce(dir, files[k], number, nullptr, &cpu));
            f.cpu.push_back(cpu);
            long long elements = 0;
            cpu = bench::processCpuMs();
            f.floorMs.push_back(bench::xmlStreamRead(files[k], &elements));
            f.floorCpu.push_back(bench::processCpuMs() - cpu);
            f.saxMs.push_back(bench::xmlSaxRead(files[k], &elements));
            QFile::remove(dir + QStringLiteral("/import-%1.mdb").arg(number));
        }
    const char *names[2] = {"kvtml", "pauker"};
    for (int k = 0; k < 2; ++k) {
        std::printf("transfer_%s_100k_ms %.1f\n", names[k], median(kinds[k].ms));
        std::printf("transfer_%s_floor_100k_ms %.1f\n", names[k], median(kinds[k].floorMs));
        std::printf("transfer_%s_sax_100k_ms %.1f\n", names[k], median(kinds[k].saxMs));
        std::printf("transfer_%s_cpu_100k_ms %.1f\n", names[k], median(kinds[k].cpu));
        std::printf("transfer_%s_floor_cpu_100k_ms %.1f\n", names[k], median(kinds[k].floorCpu));
    }
#ifdef TARLIVO_KDE_KVTML_READ
    QProcess kde;
    kde.start(QStringLiteral(TARLIVO_KDE_KVTML_READ), {kvtml, QString::number(runs)});
    if (!kde.waitForFinished(-1) || kde.exitCode() != 0)
        throw std::runtime_error("KDE's library could not read the kvtml file");
    const QList<QByteArray> figures = kde.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() != 2 || figures[1].toInt() != cards)
        throw std::runtime_error("KDE's library read another count of entries");
    std::printf("transfer_kvtml_kde_100k_ms %s\n", figures[0].constData());
#endif
    std::fflush(stdout);
}

int memoryRun(const QString &path, const char *name)
{
    QTemporaryDir dir;
    auto store = Store::open(dir.filePath(QStringLiteral("m.mdb")), quiet());
    const bench::PeakMemory peak;
    auto file = transfer::ImportFile::open(path);
    transfer::runImport(*file, *store, {QStringLiteral("Spanisch"), true});
    std::printf("%s %.1f\n", name, peak.mbAbove());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--memory")
        return memoryRun(QString::fromLocal8Bit(argv[2]), argv[3]);
    if (argc >= 2 && QByteArray(argv[1]) == "--xml") {
        QTemporaryDir dir;
        try {
            const int cards = argc > 3 ? std::max(1, atoi(argv[3])) : 100000;
            const QString kvtml = dir.filePath(QStringLiteral("cards-100000.kvtml"));
            writeKvtmlFile(kvtml, cards);
            const QString pauker = dir.filePath(QStringLiteral("cards-100000.pau.gz"));
            writePaukerFile(pauker, cards);
            xmlFigures(dir.path(), kvtml, pauker, argc > 2 ? std::max(1, atoi(argv[2])) : 5, cards);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "bench failed: %s\n", e.what());
            return 1;
        }
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATA_DIR [RUNS]\n", argv[0]);
        return 2;
    }
    const QString data = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QTemporaryDir dir;
    try {
        const QString text = dir.filePath(QStringLiteral("cards-100000.txt"));
        writeTextFile(text, 100000);
        const QString kvtml = dir.filePath(QStringLiteral("cards-100000.kvtml"));
        writeKvtmlFile(kvtml, 100000);
        const QString pauker = dir.filePath(QStringLiteral("cards-100000.pau.gz"));
        writePaukerFile(pauker, 100000);

        std::vector<double> ours, theirs, catchUps;
        for (int run = 0; run < runs; ++run) {
            double catchUp = 0;
            ours.push_back(importOnce(dir.path(), text, run, &catchUp));
            catchUps.push_back(catchUp);
            // SQLite's own import of the same file into a plain two-column table.
            const QString db = dir.filePath(QStringLiteral("plain-%1.db").arg(run));
            QElapsedTimer timer;
            timer.start();
            const int rc =
                QProcess::execute(QStringLiteral("sqlite3"),
                                  {db, QStringLiteral("CREATE TABLE t (a TEXT, b TEXT)"), QStringLiteral(".mode tabs"),
                                   QStringLiteral(".import ") + text + QStringLiteral(" t")});
            theirs.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (rc != 0)
                throw std::runtime_error("sqlite3 .import failed");
        }
        std::printf("transfer_import_100k_ms %.1f\n", median(ours));
        std::printf("transfer_sqlite_import_100k_ms %.1f\n", median(theirs));
        std::printf("transfer_index_catch_up_100k_ms %.1f\n", median(catchUps));
        xmlFigures(dir.path(), kvtml, pauker, runs);

        const QString big = dir.filePath(QStringLiteral("export.mdb"));
        bench::copyFile(bench::generatedPath(data, 1000000), big);
        auto store = Store::open(big, quiet());
        std::vector<double> exports;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const transfer::ExportResult r = transfer::exportCards(*store, dir.filePath(QStringLiteral("out.txt")));
            exports.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (r.cards != 1000000)
                throw std::runtime_error("export incomplete");
        }
        store.reset();
        QFile::remove(big);
        std::printf("transfer_export_1m_ms %.1f\n", median(exports));

        QList<ankifiles::Note> notes;
        for (int i = 0; i < 20000; ++i)
            notes.append({QStringLiteral("Sprachen::Spanisch %1").arg(i % 10),
                          {QStringLiteral("<b>Wort %1</b>").arg(i), QStringLiteral("palabra<br>%1").arg(i)}});
        const QString apkg = dir.filePath(QStringLiteral("deck.apkg"));
        if (!ankifiles::package(apkg, ankifiles::Layout::Anki21b, notes))
            throw std::runtime_error("cannot write the Anki package");
        std::vector<double> anki;
        for (int run = 0; run < runs; ++run)
            anki.push_back(importOnce(dir.path(), apkg, 100 + run));
        std::printf("transfer_anki_20k_ms %.1f\n", median(anki));

        // 1,000 notes, each with a picture of its own of about 50 KB.
        QList<ankifiles::Note> pictured;
        QList<QPair<QString, QByteArray>> pictures;
        for (int i = 0; i < 1000; ++i) {
            pictured.append(
                {QStringLiteral("Bilder"),
                 {QStringLiteral("Karte %1<br><img src=\"karte%1.jpg\">").arg(i), QStringLiteral("Ort %1").arg(i)}});
            pictures.append({QStringLiteral("karte%1.jpg").arg(i), picture(i)});
        }
        const QString mediaApkg = dir.filePath(QStringLiteral("bilder.apkg"));
        if (!ankifiles::packageWithMedia(mediaApkg, ankifiles::Layout::Anki21, pictured, pictures))
            throw std::runtime_error("cannot write the Anki package with pictures");
        std::vector<double> mediaImports;
        std::vector<double> mediaExports;
        for (int run = 0; run < runs; ++run) {
            mediaImports.push_back(importOnce(dir.path(), mediaApkg, 400 + run));
            auto imported = Store::open(dir.path() + QStringLiteral("/import-%1.mdb").arg(400 + run), quiet());
            QElapsedTimer timer;
            timer.start();
            const transfer::ExportResult r =
                transfer::exportCards(*imported, dir.filePath(QStringLiteral("bilder-%1.apkg").arg(run)));
            mediaExports.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (r.cards != 1000 || imported->cardMedia(1, CardSide::Question).empty())
                throw std::runtime_error("pictures not imported or exported");
        }
        std::printf("transfer_anki_pictures_1k_ms %.1f\n", median(mediaImports));
        std::printf("transfer_apkg_export_1k_ms %.1f\n", median(mediaExports));
        std::fflush(stdout);

        // Memory in a process of its own, so the runs above leave no trace in it.
        const std::pair<QString, QString> memoryRuns[] = {{text, QStringLiteral("transfer_import_memory_mb")},
                                                          {kvtml, QStringLiteral("transfer_kvtml_memory_mb")},
                                                          {pauker, QStringLiteral("transfer_pauker_memory_mb")}};
        for (const auto &[file, name] : memoryRuns) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory"), file, name});
            child.waitForFinished(-1);
            if (child.exitCode() != 0)
                throw std::runtime_error("memory run failed");
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
