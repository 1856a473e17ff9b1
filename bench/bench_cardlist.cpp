// Times the card list window at 1,000,000 cards, each figure beside the same action
// at 10,000 cards from the same run: the first screen, the jump to the last row, a
// search keystroke that finds cards and one that finds none, deleting 10,000 selected
// cards, and the memory of the open list above the idle program.
// Usage: tarlivo_bench_cardlist --data=DIR
#include "cards/cardlistmodel.h"
#include "cards/cardlistwindow.h"
#include "dialogs.h"
#include "store/store.h"
#include "support.h"
#include "ui/dialogs.h"
#include "ui/session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>

#include <cstdio>
#include <cstring>
#include <map>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

// The list's controls, found as a user finds them.
template <class T>
T *ctl(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

// Resident memory of this process, in kB.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Runs action and paints the table at once, as the screen would show it.
template <class Action>
double timedMs(windows::CardListWindow &window, Action &&action)
{
    QElapsedTimer timer;
    timer.start();
    action();
    ctl<QTableView>(window, "tblKarten")->viewport()->repaint();
    return double(timer.nsecsElapsed()) / 1e6;
}

std::map<std::string, double> measure(const QString &dataDir, int cards, int repeats)
{
    std::map<std::string, double> result;
    const QString path = dataDir + QStringLiteral("/cardlist-%1.mdb").arg(cards);
    copyFile(generatedPath(dataDir, cards), path);
    StoreOptions options;
    options.backups = false;
    AnsweringDialogs dialogs(true);
    ui::Session session(dialogs, {path, options, {}});
    if (!session.ConnectDB(nullptr))
        throw std::runtime_error("the data file cannot be opened");
    Store *store = &session.db();
    const qint32 big = *store->subjectId(kBigSubject);

    QCoreApplication::processEvents();
    const long idleKb = residentKb();
    std::vector<double> first, last, match, none, every, counted;
    long openKb = 0;
    for (int i = 0; i < repeats; ++i) {
        windows::CardListWindow window(session);
        window.show();
        QCoreApplication::processEvents();
        first.push_back(timedMs(window, [&] { window.showSubject(big); }));
        last.push_back(timedMs(window, [&] { ctl<QTableView>(window, "tblKarten")->scrollToBottom(); }));
        // A text typed key by key: the last key's screen is what is timed.
        ctl<QLineEdit>(window, "txtSuche")->setText(QStringLiteral("Beispiel 4"));
        match.push_back(
            timedMs(window, [&] { ctl<QLineEdit>(window, "txtSuche")->setText(QStringLiteral("Beispiel 47")); }));
        if (window.model().rowCount() == 0)
            throw std::runtime_error("the search found nothing");
        ctl<QLineEdit>(window, "txtSuche")->setText(QStringLiteral("Quitte"));
        none.push_back(
            timedMs(window, [&] { ctl<QLineEdit>(window, "txtSuche")->setText(QStringLiteral("Quittenbaum")); }));
        if (window.model().rowCount() != 0)
            throw std::runtime_error("the search found what is not there");
        // Every card of the subject holds this word: the worst case for sorting the hits.
        ctl<QLineEdit>(window, "txtSuche")->setText(QStringLiteral("Beispie"));
        every.push_back(
            timedMs(window, [&] { ctl<QLineEdit>(window, "txtSuche")->setText(QStringLiteral("Beispiel")); }));
        // The rest of its hits, counted while the program waits for the user.
        QElapsedTimer counting;
        counting.start();
        while (window.model().counting())
            QCoreApplication::processEvents();
        counted.push_back(every.back() + double(counting.nsecsElapsed()) / 1e6);
        ctl<QLineEdit>(window, "txtSuche")->clear();
        // A click on the Frage header: every card of the subject sorted by its text.
        if (i == 0)
            result["sort_by_frage"] = timedMs(window, [&] {
                ctl<QTableView>(window, "tblKarten")
                    ->sortByColumn(windows::CardListModel::Question, Qt::AscendingOrder);
            });
        ctl<QTableView>(window, "tblKarten")->sortByColumn(windows::CardListModel::Compartment, Qt::AscendingOrder);
        window.showSubject(std::nullopt);
        ctl<QTableView>(window, "tblKarten")->viewport()->repaint();
        ctl<QTableView>(window, "tblKarten")->scrollToBottom();
        ctl<QTableView>(window, "tblKarten")->viewport()->repaint();
        openKb = std::max(openKb, residentKb());
    }
    result["first_screen"] = quantile(first, 0.5);
    result["jump_to_last_row"] = quantile(last, 0.5);
    result["search_match"] = quantile(match, 0.5);
    result["search_no_match"] = quantile(none, 0.5);
    result["search_every_card"] = quantile(every, 0.5);
    result["search_every_card_counted"] = quantile(counted, 0.5);
    result["memory_over_idle_mb"] = double(openKb - idleKb) / 1024.0;

    // Deleting: a tenth of the file selected at the top of the big subject, at most 10,000.
    {
        windows::CardListWindow window(session);
        window.show();
        window.showSubject(big);
        QCoreApplication::processEvents();
        const int rows = std::min(10000, cards / 10);
        const QItemSelection selection(window.model().index(0, 0), window.model().index(rows - 1, 3));
        ctl<QTableView>(window, "tblKarten")->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        const qint64 before = store->cardCount(std::nullopt);
        result["delete_selected"] = timedMs(window, [&] { window.deleteSelected(); });
        if (store->cardCount(std::nullopt) != before - rows || dialogs.shown != 0)
            throw std::runtime_error("deleting the selected cards failed");
    }
    QFile::remove(path);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString dataDir;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
    }
    if (dataDir.isEmpty()) {
        std::fprintf(stderr, "usage: tarlivo_bench_cardlist --data=DIR\n");
        return 2;
    }
    try {
        const auto small = measure(dataDir, 10000, 5);
        const auto large = measure(dataDir, 1000000, 5);
        for (const auto &[name, value] : large)
            std::printf("cardlist_%s %.3f %.3f\n", name.c_str(), value, small.at(name));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "card list benchmark: %s\n", e.what());
        return 1;
    }
    return 0;
}
