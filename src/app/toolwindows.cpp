#include "app/toolwindows.h"

#include "app/aboutwindow.h"
#include "cards/cardlistwindow.h"
#include "plan/planwindow.h"
#include "printwindow/printwindow.h"
#include "quizwindow/quizwindow.h"
#include "statistics/statisticswindow.h"
#include "syncwindow/syncwindow.h"
#include "transferwindows/exportdialog.h"
#include "transferwindows/importdialog.h"
#include "ui/session.h"

#include <QAction>
#include <QApplication>
#include <QDialog>

using namespace tarlivo::store;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::transferwindows;

namespace tarlivo::app {

void ToolWindows::closeOnEscape(QWidget &window)
{
    if (qobject_cast<QDialog *>(&window))
        return;
    for (const QAction *action : window.actions())
        if (action->shortcut() == QKeySequence(QKeySequence::Cancel))
            return; // the window's own
    auto *close = new QAction(&window);
    close->setShortcut(QKeySequence::Cancel);
    close->setShortcutContext(Qt::WindowShortcut);
    window.addAction(close);
    QObject::connect(close, &QAction::triggered, &window, &QWidget::close);
}

void ToolWindows::present(QWidget &window)
{
    const bool first = !window.property("tarlivoPlaced").toBool();
    window.show();
    // Placed once shown, when its frame is known; later where the user left it.
    if (first && m_placer) {
        window.setProperty("tarlivoPlaced", true);
        m_placer(window);
    }
    window.raise();
    window.activateWindow();
}

void ToolWindows::closeAll()
{
    for (auto &[kind, window] : m_windows)
        delete window.data();
    m_windows.clear();
}

void ToolWindows::openCardList()
{
    if (!m_session.ensureStore(QApplication::activeWindow()))
        return;
    CardListWindow &list = window<CardListWindow>([this] {
        auto *window = new CardListWindow(m_session);
        QObject::connect(
            window, &CardListWindow::changed, &m_session,
            [this, window](const QString &label, const Change &change) { m_session.record(label, change, window); });
        return window;
    });
    list.refresh();
    present(list);
}

void ToolWindows::openStatistics()
{
    if (!m_session.ensureStore(QApplication::activeWindow()))
        return;
    StatisticsWindow &statistics = window<StatisticsWindow>([this] { return new StatisticsWindow(m_session); });
    statistics.refresh();
    present(statistics);
}

void ToolWindows::openPlan()
{
    if (!m_session.ensureStore(QApplication::activeWindow()))
        return;
    PlanWindow &plan = window<PlanWindow>([this] {
        auto *window = new PlanWindow(m_session, m_navigator);
        QObject::connect(
            window, &PlanWindow::changed, &m_session,
            [this, window](const QString &label, const Change &change) { m_session.record(label, change, window); });
        return window;
    });
    plan.refresh();
    present(plan);
}

void ToolWindows::openQuiz(const QString &subject)
{
    if (!m_session.ensureStore(QApplication::activeWindow()))
        return;
    QuizWindow &quiz = window<QuizWindow>([this] { return new QuizWindow(m_session); });
    present(quiz);
    if (subject.isEmpty())
        quiz.refresh();
    else
        quiz.startOn(subject);
}

void ToolWindows::openImport()
{
    if (!m_session.ensureStore(QApplication::activeWindow()))
        return;
    ImportDialog &import = window<ImportDialog>([this] {
        auto *dialog = new ImportDialog(m_session);
        // An import is not a step to take back; the windows only show the new cards.
        // Its cards may take the queue places of steps taken back before it.
        QObject::connect(dialog, &ImportDialog::cardsChanged, &m_session, [this, dialog] {
            m_session.history().dropRedo();
            m_session.tell(Change{}, dialog);
        });
        return dialog;
    });
    // A file that cannot be imported leaves the window open for another one.
    bool picked = false;
    if (import.chooseFile(&picked) || picked || import.isVisible())
        present(import);
}

void ToolWindows::openExport()
{
    if (!m_session.ensureStore(QApplication::activeWindow()))
        return;
    present(window<ExportDialog>([this] { return new ExportDialog(m_session); }));
}

void ToolWindows::openPrint()
{
    if (!m_session.ensureStore(QApplication::activeWindow()))
        return;
    PrintWindow &print = window<PrintWindow>([this] { return new PrintWindow(m_session); });
    print.refresh();
    present(print);
}

void ToolWindows::openSync()
{
    if (!m_syncs || !m_session.ensureStore(QApplication::activeWindow()))
        return;
    SyncWindow &window = this->window<SyncWindow>([this] { return new SyncWindow(m_session, m_syncs()); });
    window.refresh();
    present(window);
}

void ToolWindows::openAbout()
{
    present(window<AboutWindow>([this] { return new AboutWindow(m_session.dataFile()); }));
}

} // namespace tarlivo::app
