#include "shell/mainmenu.h"

#include "cards/cardlistwindow.h"
#include "shell/aboutwindow.h"
#include "shell/dialogs.h"
#include "shell/forms.h"
#include "shell/messages.h"
#include "shell/session.h"
#include "statistics/statisticswindow.h"
#include "transferwindows/exportdialog.h"
#include "transferwindows/importdialog.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>

#include <utility>

namespace tarlivo::ui {

MainMenu::MainMenu(Session &session, Forms &forms, QWidget *backdrop)
    : QObject(backdrop), m_session(session), m_forms(forms), m_bar(new QMenuBar(backdrop))
{
    m_bar->setObjectName(QStringLiteral("menuBar"));
    m_bar->setAccessibleName(QStringLiteral("Menüleiste"));

    QMenu *datei = m_bar->addMenu(QStringLiteral("&Datei"));
    add(QStringLiteral("&Importieren…"), "actImportieren", datei, &MainMenu::openImport);
    add(QStringLiteral("&Exportieren…"), "actExportieren", datei, &MainMenu::openExport);
    datei->addSeparator();
    add(QStringLiteral("&Beenden"), "actBeenden", datei, &MainMenu::quit)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu *bearbeiten = m_bar->addMenu(QStringLiteral("&Bearbeiten"));
    m_undo = add(text::undoMenu({}), "actRueckgaengig", bearbeiten, &MainMenu::undo);
    m_undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_redo = add(text::redoMenu({}), "actWiederherstellen", bearbeiten, &MainMenu::redo);
    m_redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});

    QMenu *karten = m_bar->addMenu(QStringLiteral("&Karten"));
    add(QStringLiteral("&Kartenliste…"), "actKartenliste", karten, &MainMenu::openCardList)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    add(QStringLiteral("&Statistik…"), "actStatistik", karten, &MainMenu::openStatistics);

    QMenu *hilfe = m_bar->addMenu(QStringLiteral("&Hilfe"));
    add(QStringLiteral("&Tastenkürzel"), "actTastenkuerzel", hilfe, &MainMenu::showKeys);
    add(QStringLiteral("Ü&ber Tarlivo"), "actUeber", hilfe, &MainMenu::showAbout);

    connect(&session.history(), &History::changed, this, &MainMenu::updateUndo);
    updateUndo();

    // Windows working on the store let go of it while it is replaced, and come back.
    connect(&session, &Session::storeClosing, this, [this] {
        m_reopenCardList = m_forms.dropTool<CardListWindow>();
        m_reopenStatistics = m_forms.dropTool<StatisticsWindow>();
        m_forms.dropTool<ImportDialog>();
        m_forms.dropTool<ExportDialog>();
    });
    connect(&session, &Session::storeOpened, this, [this] {
        if (std::exchange(m_reopenCardList, false))
            openCardList();
        if (std::exchange(m_reopenStatistics, false))
            openStatistics();
    });
}

QAction *MainMenu::add(const QString &text, const char *name, QObject *menu, void (MainMenu::*slot)())
{
    auto *action = new QAction(text, menu);
    action->setObjectName(QString::fromLatin1(name));
    // The keys work wherever the user is, not only on the backdrop.
    action->setShortcutContext(Qt::ApplicationShortcut);
    connect(action, &QAction::triggered, this, slot);
    static_cast<QMenu *>(menu)->addAction(action);
    // An action reacts to its keys only while it belongs to a widget that exists.
    m_bar->parentWidget()->addAction(action);
    return action;
}

void MainMenu::updateUndo()
{
    const History &history = m_session.history();
    m_undo->setText(text::undoMenu(history.undoLabel()));
    m_undo->setEnabled(history.canUndo());
    m_redo->setText(text::redoMenu(history.redoLabel()));
    m_redo->setEnabled(history.canRedo());
}

void MainMenu::undo() { m_session.undo(QApplication::activeWindow()); }

void MainMenu::redo() { m_session.redo(QApplication::activeWindow()); }

void MainMenu::openCardList()
{
    if (!m_forms.ensureStore(QApplication::activeWindow()))
        return;
    CardListWindow &list = m_forms.tool<CardListWindow>([this] {
        auto *window = new CardListWindow(m_session.db(), m_session.dialogs());
        connect(
            window, &CardListWindow::changed, &m_session,
            [this, window](const QString &label, const Change &change) { m_session.record(label, change, window); });
        connect(&m_session, &Session::changed, window, [window](const Change &, const QObject *origin) {
            if (origin != window)
                window->refresh();
        });
        return window;
    });
    list.refresh();
    Forms::present(list);
}

void MainMenu::openStatistics()
{
    if (!m_forms.ensureStore(QApplication::activeWindow()))
        return;
    StatisticsWindow &statistics = m_forms.tool<StatisticsWindow>([this] {
        auto *window = new StatisticsWindow(m_session.db(), m_session.dialogs());
        connect(&m_session, &Session::changed, window, [window] {
            if (window->isVisible())
                window->refresh();
        });
        return window;
    });
    statistics.refresh();
    Forms::present(statistics);
}

void MainMenu::openImport()
{
    if (!m_forms.ensureStore(QApplication::activeWindow()))
        return;
    ImportDialog &import = m_forms.tool<ImportDialog>([this] {
        auto *dialog = new ImportDialog(m_session.db(), m_session.dialogs());
        // An import is not a step to take back; the windows only show the new cards.
        connect(dialog, &ImportDialog::cardsChanged, &m_session, [this, dialog] { m_session.tell(Change{}, dialog); });
        return dialog;
    });
    if (import.chooseFile())
        Forms::present(import);
}

void MainMenu::openExport()
{
    if (!m_forms.ensureStore(QApplication::activeWindow()))
        return;
    ExportDialog &exporter =
        m_forms.tool<ExportDialog>([this] { return new ExportDialog(m_session.db(), m_session.dialogs()); });
    Forms::present(exporter);
}

void MainMenu::showKeys() { m_session.message(QApplication::activeWindow(), text::keyHelp()); }

void MainMenu::showAbout()
{
    AboutWindow &about = m_forms.tool<AboutWindow>([this] { return new AboutWindow(m_session.dataFile()); });
    Forms::present(about);
}

void MainMenu::quit() { m_session.end(); }

} // namespace tarlivo::ui
