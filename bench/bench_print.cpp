// Printing: the whole `tarlivo --drucken` process for 1,000 and 10,000 cards as a
// list (and as cards), beside the same program's `--faellig` on the same file (a
// start that opens the store and answers); and the preview's first page at 10,000
// cards (the cards read, laid out, page 1 painted), beside page 1 painted alone.
#include "print/document.h"
#include "store/store.h"
#include "support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double processMs(const QString &program, const QStringList &arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qFatal("%s %s failed", qPrintable(program), qPrintable(arguments.join(' ')));
    return double(timer.nsecsElapsed()) / 1e6;
}

// The medians of runs of each command, the runs interleaved so that a busy moment
// of the machine falls on all alike.
std::vector<double> interleaved(const QString &program, const std::vector<QStringList> &commands, int runs)
{
    std::vector<std::vector<double>> times(commands.size());
    for (int run = 0; run < runs; ++run)
        for (size_t i = 0; i < commands.size(); ++i)
            times[i].push_back(processMs(program, commands[i]));
    std::vector<double> medians;
    for (const auto &t : times)
        medians.push_back(median(t));
    return medians;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DATA-FOLDER TARLIVO RUNS\n", argv[0]);
        return 2;
    }
    const QDir data(QString::fromLocal8Bit(argv[1]));
    const QString tarlivo = QString::fromLocal8Bit(argv[2]);
    const int runs = std::max(1, std::atoi(argv[3]));
    QTemporaryDir out;
    // Copies, writable as a user's file is, so that the generated ones stay untouched.
    const QString small = out.filePath(QStringLiteral("cards-1000.mdb"));
    const QString large = out.filePath(QStringLiteral("cards-10000.mdb"));
    tarlivo::bench::copyFile(data.filePath(QStringLiteral("cards-1000.mdb")), small);
    tarlivo::bench::copyFile(data.filePath(QStringLiteral("cards-10000.mdb")), large);
    const QString pdf = out.filePath(QStringLiteral("out.pdf"));

    const auto print = [&](const QString &file, bool cards) {
        QStringList arguments{QStringLiteral("--datei"), file, QStringLiteral("--drucken"), pdf};
        if (cards)
            arguments << QStringLiteral("--karten");
        return arguments;
    };
    const std::vector<double> ms = interleaved(tarlivo,
                                               {{QStringLiteral("--datei"), small, QStringLiteral("--faellig")},
                                                print(small, false),
                                                print(large, false),
                                                print(large, true)},
                                               runs);
    std::printf("print_process_base_ms %.1f\n", ms[0]);
    std::printf("print_list_1k_ms %.1f\n", ms[1]);
    std::printf("print_list_10k_ms %.1f\n", ms[2]);
    std::printf("print_cards_10k_ms %.1f\n", ms[3]);

    // The preview's first page, as the window makes it: read, laid out, painted at
    // a screen's resolution.
    std::vector<double> firstPage;
    std::vector<double> firstPageCpu; // the same, CPU time: what a busy machine leaves out
    std::vector<double> paintOnly;
    std::vector<double> reading; // of firstPage: the store opened and the cards read
    int pages = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = tarlivo::bench::processCpuMs();
        tarlivo::store::StoreOptions options;
        options.backups = false;
        std::unique_ptr<tarlivo::store::Store> store = tarlivo::store::Store::open(large, options);
        const tarlivo::print::PrintOptions chosen;
        const std::vector<tarlivo::print::PrintSubject> cards = tarlivo::print::readCards(*store, chosen);
        reading.push_back(double(timer.nsecsElapsed()) / 1e6);
        const tarlivo::print::Document document = tarlivo::print::layOut(cards, chosen);
        QImage image(QSize(1240, 1754), QImage::Format_RGB32); // A4 at 150 dpi
        image.setDotsPerMeterX(5906);
        image.setDotsPerMeterY(5906);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            tarlivo::print::paintPage(painter, document, 0);
        }
        firstPage.push_back(double(timer.nsecsElapsed()) / 1e6);
        firstPageCpu.push_back(tarlivo::bench::processCpuMs() - cpuStart);
        timer.restart();
        {
            QPainter painter(&image);
            tarlivo::print::paintPage(painter, document, 0);
        }
        paintOnly.push_back(double(timer.nsecsElapsed()) / 1e6);
        pages = int(document.pages.size());
    }
    std::printf("print_preview_10k_ms %.1f\n", median(firstPage));
    std::printf("print_preview_10k_cpu_ms %.1f\n", median(firstPageCpu));
    std::printf("print_paint_page_ms %.1f\n", median(paintOnly));
    std::printf("print_preview_read_ms %.1f\n", median(reading));
    std::printf("print_list_10k_pages %d\n", pages);
    return 0;
}
