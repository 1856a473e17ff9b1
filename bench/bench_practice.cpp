// The practice step as the user sees it: from the "Richtig" click to the next card
// painted, through the real windows on the offscreen platform, at 1,000,000 cards
// (or --cards), with the backdrop's status line kept current. A bare SQLite commit
// on the same file system is timed between the steps, so both see the same disk;
// then whatever events the step left run, as they would while the user reads the
// next card, timed on their own (a recount of the status line would show there).
// With --picture, every card of the big subject shows a picture of one megapixel
// below its question, decoded and painted at every step.
// --subject names the subject practised (the big one by default); "Biologie" is
// practised the reverse way.
// Usage: tarlivo_bench_practice --data=DIR [--steps=N] [--cards=N] [--subject=NAME] [--picture]
#include "app/forms.h"
#include "app/frmbackground.h"
#include "app/frmwelcome.h"
#include "dialogs.h"
#include "practice/frmueb.h"
#include "storedb.h"
#include "subjects/frmgebiete.h"
#include "support.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "windows.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QRandomGenerator>
#include <QScrollArea>

#include <cstdio>
#include <cstring>
#include <ctime>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "practice benchmark: %s\n", what);
    return 1;
}

// A photograph's worth of detail: a gradient with noise, 1000 x 1000 pixels, as JPEG.
QByteArray megapixelPicture()
{
    QImage image(1000, 1000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(40));
            line[x] = qRgb((x / 4 + noise) & 255, (y / 4 + noise) & 255, ((x + y) / 8) & 255);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

// Links the picture to the question of every card of the big subject, in the copy.
void addPictures(const QString &path)
{
    StoreOptions options;
    options.backups = false;
    auto store = Store::open(path, options);
    sql::Database &db = storedb::of(*store);
    db.exec("BEGIN");
    sql::Statement(db, "INSERT INTO tblMedium (Name, Art, Inhalt, Pruefsumme) VALUES ('bild.jpg', 0, ?1, x'01')")
        .bindBlob(1, megapixelPicture())
        .run();
    sql::Statement(db, "INSERT INTO tblKarteMedium (idFrageAntwort, Seite, Art, idMedium) "
                       "SELECT p.idFrageAntwort, 0, 0, last_insert_rowid() FROM tblPosition AS p "
                       "JOIN tblGebiet AS g ON g.idGebiet = p.idGebiet WHERE g.NameGebiet = ?1")
        .bind(1, kBigSubject)
        .run();
    db.exec("COMMIT");
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QString dataDir;
    int steps = 500;
    int cards = 1000000;
    bool picture = false;
    QString subject = kBigSubject;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
        else if (std::strncmp(argv[i], "--steps=", 8) == 0)
            steps = std::atoi(argv[i] + 8);
        else if (std::strncmp(argv[i], "--cards=", 8) == 0)
            cards = std::atoi(argv[i] + 8);
        else if (std::strcmp(argv[i], "--picture") == 0)
            picture = true;
        else if (std::strncmp(argv[i], "--subject=", 10) == 0)
            subject = QString::fromUtf8(argv[i] + 10);
    }
    if (dataDir.isEmpty() || steps <= 0)
        return fail("usage: tarlivo_bench_practice --data=DIR [--steps=N] [--cards=N]");

    // The program looks for its database beside itself; here the directory is given.
    const QString programDir = dataDir + QStringLiteral("/practice-%1%2").arg(cards).arg(picture ? "-bild" : "");
    QDir().mkpath(programDir);
    try {
        copyFile(generatedPath(dataDir, cards), ui::databasePath(programDir));
        if (picture)
            addPictures(ui::databasePath(programDir));
    } catch (const std::exception &e) {
        return fail(e.what());
    }
    BareCommit bare(dataDir + QStringLiteral("/practice-bare-commit.db"));

    // No box ever opens during the steps; one that would is counted as a failed step.
    AnsweringDialogs dialogs(false);
    StoreOptions options;
    options.backups = false; // once a day; not part of a step
    app::Forms forms(dialogs, {ui::databasePath(programDir), options, [] {}});

    // Started the way a user starts practice.
    forms.start();
    button(forms.window<FrmWelcome>(), "cmdUeben")->click();
    auto *gebiete = static_cast<windows::FrmGebiete *>(forms.loaded(QStringLiteral("frmGebiete")));
    if (!gebiete)
        return fail("the subject window did not open");
    const int index = combo(gebiete, "cmbGebiet")->findText(subject);
    if (index < 0)
        return fail("the subject is not listed");
    combo(gebiete, "cmbGebiet")->setCurrentIndex(index);
    button(gebiete, "cmdUebernahmeGebiet")->click();
    windows::FrmUeb &ueb = forms.window<FrmUeb>();
    QCoreApplication::processEvents();
    if (label(ueb, "lblFrage")->text().isEmpty() || dialogs.shown != 0)
        return fail("no card on display after taking the subject");

    const QLabel *statusLine = forms.window<FrmBackground>().statusLine();
    const QString statusBefore = statusLine->text();
    if (statusBefore.isEmpty())
        return fail("the status line was not filled");

    PaintWatch watch;
    // The question scrolls inside its label; the text shown is painted there.
    auto *area = label(ueb, "lblFrage")->findChild<QScrollArea *>();
    if (!area || !area->widget())
        return fail("the question label scrolls no pane");
    area->widget()->installEventFilter(&watch);
    std::vector<double> stepMs;
    std::vector<double> stepCpuMs;
    std::vector<double> commitMs;
    std::vector<double> recountMs;
    QElapsedTimer timer;
    for (int i = 0; i < steps; ++i) {
        const QString before = label(ueb, "lblFrage")->text();
        watch.painted = false;
        const double cpuStart = processCpuMs();
        timer.start();
        button(ueb, "cmdRichtig")->click();
        while (!watch.painted && timer.elapsed() < 5000)
            QCoreApplication::processEvents();
        if (!watch.painted)
            return fail("the next card was never painted");
        stepMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        stepCpuMs.push_back(processCpuMs() - cpuStart);
        if (label(ueb, "lblFrage")->text() == before || dialogs.shown != 0)
            return fail("a step did not show the next card");
        if (picture && label(ueb, "lblFrage")->picture().isNull())
            return fail("the next card's picture was not shown");

        timer.start();
        bare.commitOneRow();
        commitMs.push_back(double(timer.nsecsElapsed()) / 1e6);

        timer.start();
        QCoreApplication::processEvents();
        recountMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (statusLine->text() == statusBefore)
        return fail("the status line did not follow the verdicts");
    std::fprintf(stderr, "status line: %s, then %s; %s\n", qPrintable(statusBefore), qPrintable(statusLine->text()),
                 qPrintable(ueb.windowTitle()));

    std::printf("practice_step_ms %.4f\n", quantile(stepMs, 0.5));
    std::printf("practice_step_p90_ms %.4f\n", quantile(stepMs, 0.9));
    std::printf("practice_step_cpu_ms %.4f\n", quantile(stepCpuMs, 0.5));
    std::printf("practice_bare_commit_ms %.4f\n", quantile(commitMs, 0.5));
    std::printf("practice_bare_commit_p90_ms %.4f\n", quantile(commitMs, 0.9));
    std::printf("practice_status_recount_ms %.4f\n", quantile(recountMs, 0.5));
    std::printf("practice_steps %d\n", steps);
    return 0;
}
