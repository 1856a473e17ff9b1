// Times the statistics window at 1,000,000 cards and 1,000,000 log rows, from the
// window's construction (or the choice of a subject) until its charts are painted,
// on the big subject, beside the same at 10,000 cards from the same run; wall-clock
// and CPU time, medians.
// Usage: tarlivo_bench_statistics --data=DIR [--repeats=N]
#include "dialogs.h"
#include "statistics/barchart.h"
#include "statistics/statisticswindow.h"
#include "store/store.h"
#include "support.h"
#include "ui/dialogs.h"
#include "ui/session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

// A chart of the window, found by its objectName as a user finds it.
windows::ChartView *chart(QWidget &window, const char *name)
{
    auto *view = window.findChild<windows::ChartView *>(QString::fromLatin1(name));
    if (!view)
        throw std::runtime_error(std::string("no chart ") + name);
    return view;
}

struct Times {
    std::vector<double> wall, cpu;
};

// Runs action, then lets events run until the three charts have been painted.
template <class Action>
void untilChartsPainted(Times &times, windows::StatisticsWindow *&window, Action &&action)
{
    PaintWatch compartments, days, prognose;
    const double cpuStart = processCpuMs();
    QElapsedTimer timer;
    timer.start();
    action();
    QWidget *chartFaecher = chart(*window, "chartFaecher");
    QWidget *chartTage = chart(*window, "chartTage");
    QWidget *chartPrognose = chart(*window, "chartPrognose");
    chartFaecher->installEventFilter(&compartments);
    chartTage->installEventFilter(&days);
    chartPrognose->installEventFilter(&prognose);
    window->show();
    chartFaecher->update();
    chartTage->update();
    chartPrognose->update();
    while (!(compartments.painted && days.painted && prognose.painted) && timer.elapsed() < 10000)
        QCoreApplication::processEvents();
    times.wall.push_back(double(timer.nsecsElapsed()) / 1e6);
    times.cpu.push_back(processCpuMs() - cpuStart);
    chartFaecher->removeEventFilter(&compartments);
    chartTage->removeEventFilter(&days);
    chartPrognose->removeEventFilter(&prognose);
    if (!(compartments.painted && days.painted && prognose.painted))
        throw std::runtime_error("the charts were never painted");
}

std::map<std::string, double> measure(const QString &dataDir, int cards, int repeats)
{
    StoreOptions options;
    options.backups = false;
    options.now = [] { return kLogNow; };
    // A copy, so that the generated file stays untouched whatever opening does.
    const QString path = dataDir + QStringLiteral("/statistics-%1.mdb").arg(cards);
    copyFile(generatedPath(dataDir, cards), path);
    AnsweringDialogs dialogs(false);
    ui::Session session(dialogs, {path, options, {}});
    if (!session.ConnectDB(nullptr))
        throw std::runtime_error("the data file cannot be opened");
    Store *store = &session.db();
    const qint32 big = *store->subjectId(kBigSubject);
    Times open, choose;
    for (int i = 0; i < repeats; ++i) {
        windows::StatisticsWindow *window = nullptr;
        untilChartsPainted(open, window, [&] {
            window = new windows::StatisticsWindow(session);
            window->showSubject(big);
        });
        if (window->statistics().cards == 0 || chart(*window, "chartTage")->chart().isEmpty())
            throw std::runtime_error("the big subject showed no cards or no verdicts");
        window->showSubject(std::nullopt);
        QCoreApplication::processEvents();
        untilChartsPainted(choose, window, [&] { window->showSubject(big); });
        delete window;
        QCoreApplication::processEvents();
    }
    if (dialogs.shown != 0)
        throw std::runtime_error("a message was shown");
    return {{"open", quantile(open.wall, 0.5)},
            {"open_cpu", quantile(open.cpu, 0.5)},
            {"choose", quantile(choose.wall, 0.5)},
            {"choose_cpu", quantile(choose.cpu, 0.5)}};
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return runWindowBenchmark(argc, argv, "statistics", measure);
}
