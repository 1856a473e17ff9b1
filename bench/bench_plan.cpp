// Times the plan window at 1,000,000 cards, from its construction until both tables
// are painted with the big subject chosen, beside the same at 10,000 cards from the
// same run; wall-clock and CPU time, medians.
// Usage: tarlivo_bench_plan --data=DIR [--repeats=N]
#include "dialogs.h"
#include "plan/planwindow.h"
#include "store/store.h"
#include "support.h"
#include "ui/dialogs.h"
#include "ui/navigator.h"
#include "ui/session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTableWidget>

#include <cstdio>
#include <cstring>
#include <map>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

// The window asks nothing of the others while it is timed.
class NoWays : public ui::Navigator {
public:
    void showStart() override {}
    void showBackdrop() override {}
    bool showSubjects(ui::Road, ui::Upkeep) override { return false; }
    void startEntry(const QString &) override {}
    void startPractice(const QString &) override {}
    void startDuePractice(const QString &) override {}
    void startQuiz(const QString &) override {}
    void editCard(qint32, const QString &, const QString &, const QString &) override {}
    void unload(ui::Form &) override {}
    void closedByUser(ui::Form &) override {}
    void end() override {}
};

QWidget *viewport(QWidget &window, const char *name)
{
    auto *table = window.findChild<QTableWidget *>(QString::fromLatin1(name));
    if (!table)
        throw std::runtime_error(std::string("no table ") + name);
    return table->viewport();
}

std::map<std::string, double> measure(const QString &dataDir, int cards, int repeats)
{
    StoreOptions options;
    options.backups = false;
    options.now = [] { return kLogNow; };
    // A copy, so that the generated file stays untouched whatever opening does.
    const QString path = dataDir + QStringLiteral("/plan-%1.mdb").arg(cards);
    copyFile(generatedPath(dataDir, cards), path);
    AnsweringDialogs dialogs(false);
    ui::Session session(dialogs, {path, options, {}});
    if (!session.ConnectDB(nullptr))
        throw std::runtime_error("the data file cannot be opened");
    const qint32 big = *session.db().subjectId(kBigSubject);
    NoWays ways;
    std::vector<double> wall, cpu;
    for (int i = 0; i < repeats; ++i) {
        PaintWatch gebiete, compartments;
        const double cpuStart = processCpuMs();
        QElapsedTimer timer;
        timer.start();
        auto *window = new windows::PlanWindow(session, ways);
        viewport(*window, "tblGebiete")->installEventFilter(&gebiete);
        viewport(*window, "tblFaecher")->installEventFilter(&compartments);
        window->show();
        window->showSubject(big);
        while (!(gebiete.painted && compartments.painted) && timer.elapsed() < 10000)
            QCoreApplication::processEvents();
        wall.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(processCpuMs() - cpuStart);
        if (!(gebiete.painted && compartments.painted))
            throw std::runtime_error("the tables were never painted");
        if (window->currentSubject() != big)
            throw std::runtime_error("the big subject was not chosen");
        delete window;
        QCoreApplication::processEvents();
    }
    if (dialogs.shown != 0)
        throw std::runtime_error("a message was shown");
    return {{"open", quantile(wall, 0.5)}, {"open_cpu", quantile(cpu, 0.5)}};
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return runWindowBenchmark(argc, argv, "plan", measure);
}
