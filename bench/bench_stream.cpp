// A million cards all the way, each figure beside its baseline from the same run:
//
//   tarlivo_bench_stream import DIR      1,000,000 text lines with subject and compartment
//                                        columns (and with Seit too) against the plain two
//                                        columns and against `sqlite3 .import` of the same file,
//                                        medians of three rounds
//   tarlivo_bench_stream memory FILE     one import into a fresh store; peak memory above idle
//   tarlivo_bench_stream onecard DATA    one card into the 1,000,000-card store and into an
//                                        empty one, later the same day (the copy is made)
//   tarlivo_bench_stream verdict DATA    the day's first verdict through the windows at
//                                        1,000,000 cards against the median of the next ones,
//                                        given once the card was read (the copy taken at the
//                                        start is done) and given at once (it may still run);
//                                        either way the copy must hold none of the day's verdicts
//
// Prints "name value" lines.
#include "app/forms.h"
#include "app/frmwelcome.h"
#include "dialogs.h"
#include "practice/frmueb.h"
#include "store/sqlite.h"
#include "store/store.h"
#include "subjects/frmgebiete.h"
#include "support.h"
#include "transfer/importer.h"
#include "ui/controls.h"
#include "ui/datafile.h"
#include "windows.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollArea>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

constexpr int kLines = 1000000;
constexpr int kSubjects = 20;

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

// Lines as the export writes them: subject by subject, compartments 1 to 8.
void writeLines(const QString &path, bool columns, bool enteredAt)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the text file");
    QByteArray out;
    if (columns)
        out += enteredAt ? "Frage\tAntwort\tFach\tGebiet\tSeit\n" : "Frage\tAntwort\tFach\tGebiet\n";
    for (int i = 0; i < kLines; ++i) {
        out += "Wie heißt das Wort Nummer " + QByteArray::number(i) + " auf Spanisch?\tla palabra número "
               + QByteArray::number(i * 7 + 3);
        if (columns)
            out += "\t" + QByteArray::number(1 + i % 8) + "\tGebiet " + QByteArray::number(i * kSubjects / kLines);
        if (enteredAt)
            out += "\t2026-0" + QByteArray::number(1 + i % 9) + "-1" + QByteArray::number(i % 10) + "T09:15:00+01:00";
        out += '\n';
        if (out.size() > (1 << 20)) {
            f.write(out);
            out.clear();
        }
    }
    f.write(out);
}

StoreOptions quiet()
{
    StoreOptions o;
    o.backups = false;
    return o;
}

double importInto(const QString &store, const QString &text)
{
    auto s = Store::open(store, quiet());
    QElapsedTimer t;
    t.start();
    auto file = transfer::ImportFile::open(text);
    const transfer::ImportSummary summary = transfer::runImport(*file, *s, {QStringLiteral("Spanisch"), true});
    const double ms = msSince(t);
    if (summary.cardsStored != kLines)
        throw std::runtime_error("the import stored too few cards");
    return ms;
}

int importRun(const QString &dir)
{
    const QString columns = dir + QStringLiteral("/columns.txt");
    const QString plain = dir + QStringLiteral("/plain.txt");
    const QString withEnteredAt = dir + QStringLiteral("/seit.txt");
    writeLines(columns, true, false);
    writeLines(plain, false, false);
    writeLines(withEnteredAt, true, true);
    // Rounds in turn, each into fresh files, medians reported: this machine's pace
    // drifts by more than the margins between the figures.
    constexpr int kRounds = 3;
    std::vector<double> ours, plainRuns, enteredAtRuns, theirs;
    // Each store is removed once measured, so that the next import does not share
    // the disk with the writing back of the last one.
    const QString store = dir + QStringLiteral("/store.mdb");
    for (int round = 0; round < kRounds; ++round) {
        for (auto [file, runs] :
             {std::pair(columns, &ours), std::pair(plain, &plainRuns), std::pair(withEnteredAt, &enteredAtRuns)}) {
            runs->push_back(importInto(store, file));
            QFile::remove(store);
        }
        QElapsedTimer t;
        t.start();
        const int rc = QProcess::execute(QStringLiteral("sqlite3"),
                                         {store, QStringLiteral("CREATE TABLE t (a, b, c, d)"),
                                          QStringLiteral(".mode tabs"), QStringLiteral(".import ") + columns + " t"});
        theirs.push_back(msSince(t));
        if (rc != 0)
            throw std::runtime_error("sqlite3 .import failed");
        QFile::remove(store);
    }
    std::printf("stream_import_1m_ms %.1f\n", quantile(ours, 0.5));
    std::printf("stream_import_plain_1m_ms %.1f\n", quantile(plainRuns, 0.5));
    std::printf("stream_import_seit_1m_ms %.1f\n", quantile(enteredAtRuns, 0.5));
    std::printf("stream_sqlite_import_1m_ms %.1f\n", quantile(theirs, 0.5));
    std::fflush(stdout);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("memory"), columns});
    child.waitForFinished(-1);
    return child.exitCode();
}

int memoryRun(const QString &text)
{
    QTemporaryDir dir;
    auto store = Store::open(dir.filePath(QStringLiteral("m.mdb")), quiet());
    const PeakMemory peak;
    auto file = transfer::ImportFile::open(text);
    transfer::runImport(*file, *store, {QStringLiteral("Spanisch"), true});
    std::printf("stream_import_memory_mb %.1f\n", peak.mbAbove());
    return 0;
}

// The median of one-card imports into the store at path, each as the command line
// makes it: open, read the file, store, close. The day's copy exists already. The
// first into a large subject builds the text index: its time goes to *first.
double oneCardImports(const QString &path, const QString &dir, double *first)
{
    StoreOptions options;
    options.today = [] { return QDate(2026, 3, 1); };
    {
        auto store = Store::open(path, options);
        store->addSubject(QStringLiteral("Erster Schritt des Tages")); // makes the day's copy
    }
    std::vector<double> runs;
    for (int run = 0; run < 7; ++run) {
        const QString text = dir + QStringLiteral("/one-%1.txt").arg(run);
        QFile f(text);
        f.open(QIODevice::WriteOnly);
        f.write("Frage\tAntwort\tFach\tGebiet\nEine Frage " + QByteArray::number(run)
                + "\tEine Antwort\t2\tSpanisch\n");
        f.close();
        QElapsedTimer t;
        t.start();
        auto store = Store::open(path, options);
        auto file = transfer::ImportFile::open(text);
        if (transfer::runImport(*file, *store, {}).cardsStored != 1)
            throw std::runtime_error("the card was not stored");
        store.reset();
        runs.push_back(msSince(t));
    }
    *first = runs.front();
    return quantile(runs, 0.5);
}

int oneCardRun(const QString &data)
{
    QTemporaryDir dir(data + QStringLiteral("/onecard-XXXXXX"));
    const QString big = dir.filePath(QStringLiteral("Tarlivo.mdb"));
    copyFile(generatedPath(data, 1000000), big);
    QFile::setPermissions(big, QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(dir.filePath(QStringLiteral("leer")));
    double first = 0;
    std::printf("stream_one_card_empty_ms %.2f\n",
                oneCardImports(dir.filePath(QStringLiteral("leer/Tarlivo.mdb")), dir.path(), &first));
    std::printf("stream_one_card_1m_ms %.2f\n", oneCardImports(big, dir.path(), &first));
    std::printf("stream_one_card_1m_first_ms %.2f\n", first);
    return 0;
}

// The newest verdict logged in the file at path.
qint64 lastVerdict(const QString &path)
{
    sql::Database db;
    db.open(path, SQLITE_OPEN_READONLY);
    sql::Statement q(db, "SELECT COALESCE(MAX(rowid), 0) FROM tblUebung");
    return q.step() ? q.int64(0) : -1;
}

// Verdicts through the windows on a fresh copy of the 1,000,000-card store, the first of
// the day after waitMs (the learner reads the card), then steps more; their times.
std::vector<double> verdicts(const QString &data, int waitMs, int steps, double *copyMs)
{
    QTemporaryDir dir(data + QStringLiteral("/verdict-XXXXXX"));
    const QString path = ui::databasePath(dir.path());
    copyFile(generatedPath(data, 1000000), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    AnsweringDialogs dialogs(false);
    StoreOptions options;
    options.today = [] { return QDate(2026, 3, 1); };
    app::Forms forms(dialogs, {path, options, [] {}});
    QElapsedTimer sinceStart;
    sinceStart.start();
    forms.start();
    button(forms.window<FrmWelcome>(), "cmdUeben")->click();
    auto *gebiete = static_cast<windows::FrmGebiete *>(forms.loaded(QStringLiteral("frmGebiete")));
    if (!gebiete)
        throw std::runtime_error("the subject window did not open");
    combo(gebiete, "cmbGebiet")->setCurrentIndex(combo(gebiete, "cmbGebiet")->findText(kBigSubject));
    button(gebiete, "cmdUebernahmeGebiet")->click();
    windows::FrmUeb &ueb = forms.window<FrmUeb>();
    QCoreApplication::processEvents();
    if (waitMs > 0) {
        // The copy taken at the start, timed from there.
        forms.session().db().waitForDayCopy();
        *copyMs = msSince(sinceStart);
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < waitMs)
            QCoreApplication::processEvents();
    }
    const qint64 logged = lastVerdict(path);
    PaintWatch watch;
    auto *area = label(ueb, "lblFrage")->findChild<QScrollArea *>();
    if (!area || !area->widget())
        throw std::runtime_error("the question label scrolls no pane");
    area->widget()->installEventFilter(&watch);
    std::vector<double> times;
    for (int i = 0; i <= steps; ++i) {
        watch.painted = false;
        QElapsedTimer t;
        t.start();
        button(ueb, "cmdRichtig")->click();
        while (!watch.painted && t.elapsed() < 60000)
            QCoreApplication::processEvents();
        times.push_back(msSince(t));
        QCoreApplication::processEvents();
    }
    if (dialogs.shown != 0 || !QFile::exists(dir.filePath(QStringLiteral("Tarlivo-Sicherung-2026-03-01.mdb"))))
        throw std::runtime_error("a verdict failed or the day's copy is missing");
    // The copy shows the file as it was before the day's first verdict.
    if (lastVerdict(dir.filePath(QStringLiteral("Tarlivo-Sicherung-2026-03-01.mdb"))) != logged)
        throw std::runtime_error("the day's copy holds a verdict of the day");
    return times;
}

int verdictRun(const QString &data)
{
    constexpr int steps = 20;
    double copyMs = 0;
    std::vector<double> read = verdicts(data, 2000, steps, &copyMs);
    std::vector<double> next(read.begin() + 1, read.end());
    std::printf("stream_first_verdict_ms %.2f\n", read.front());
    std::printf("stream_next_verdicts_ms %.2f\n", quantile(next, 0.5));
    std::printf("stream_copy_at_start_ms %.1f\n", copyMs);
    std::vector<double> atOnce = verdicts(data, 0, 1, &copyMs);
    std::printf("stream_first_verdict_at_once_ms %.2f\n", atOnce.front());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s import|memory|onecard|verdict PATH\n", argv[0]);
        return 2;
    }
    const QByteArray mode = argv[1];
    const QString path = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    try {
        if (mode == "import")
            return importRun(path);
        if (mode == "memory")
            return memoryRun(path);
        if (mode == "onecard")
            return oneCardRun(path);
        if (mode == "verdict")
            return verdictRun(path);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench failed: %s\n", e.what());
        return 1;
    }
    return 2;
}
