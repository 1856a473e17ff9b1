#include "app/mainmenu.h"

#include "app/toolwindows.h"
#include "ui/messages.h"
#include "ui/playback.h"
#include "ui/session.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>

#include <QMenu>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::app {

MainMenu::MainMenu(Session &session, ToolWindows &tools, QWidget *backdrop)
    : QObject(backdrop), m_session(session), m_bar(new QMenuBar(backdrop))
{
    m_bar->setObjectName(QStringLiteral("menuBar"));
    m_bar->setAccessibleName(QStringLiteral("Menüleiste"));

    QMenu *datei = m_bar->addMenu(QStringLiteral("&Datei"));
    add(QStringLiteral("&Importieren…"), "actImportieren", datei, [&tools] { tools.openImport(); });
    add(QStringLiteral("&Exportieren…"), "actExportieren", datei, [&tools] { tools.openExport(); });
    // Strg+P is the plan's.
    add(QStringLiteral("&Drucken…"), "actDrucken", datei, [&tools] {
        tools.openPrint();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    add(QStringLiteral("&Abgleich…"), "actAbgleich", datei, [&tools] { tools.openSync(); });
    datei->addSeparator();
    add(QStringLiteral("&Beenden"), "actBeenden", datei, [this] {
        m_session.end();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu *bearbeiten = m_bar->addMenu(QStringLiteral("&Bearbeiten"));
    m_undo = add(text::undoMenu({}), "actRueckgaengig", bearbeiten,
                 [this] { m_session.undo(QApplication::activeWindow()); });
    m_undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_redo = add(text::redoMenu({}), "actWiederherstellen", bearbeiten,
                 [this] { m_session.redo(QApplication::activeWindow()); });
    m_redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});

    QMenu *karten = m_bar->addMenu(QStringLiteral("&Karten"));
    add(QStringLiteral("&Kartenliste…"), "actKartenliste", karten, [&tools] {
        tools.openCardList();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    add(QStringLiteral("&Statistik…"), "actStatistik", karten, [&tools] { tools.openStatistics(); });
    add(QStringLiteral("L&ernplan…"), "actLernplan", karten, [&tools] {
        tools.openPlan();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    add(QStringLiteral("&Abfrage…"), "actAbfrage", karten, [&tools] {
        tools.openQuiz();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));

    addSoundMenu();

    QMenu *hilfe = m_bar->addMenu(QStringLiteral("&Hilfe"));
    add(QStringLiteral("&Tastenkürzel"), "actTastenkuerzel", hilfe,
        [this] { m_session.message(QApplication::activeWindow(), text::keyHelp()); });
    add(QStringLiteral("Ü&ber Tarlivo"), "actUeber", hilfe, [&tools] { tools.openAbout(); });

    connect(&session.history(), &History::changed, this, &MainMenu::updateUndo);
    updateUndo();
}

QAction *MainMenu::add(const QString &text, const char *name, QMenu *menu, const std::function<void()> &run)
{
    auto *action = new QAction(text, menu);
    action->setObjectName(QString::fromLatin1(name));
    // The keys work wherever the user is, not only on the backdrop.
    action->setShortcutContext(Qt::ApplicationShortcut);
    connect(action, &QAction::triggered, this, run);
    menu->addAction(action);
    // An action reacts to its keys only while it belongs to a widget that exists.
    m_bar->parentWidget()->addAction(action);
    return action;
}

QAction *MainMenu::addSwitch(const QString &text, const char *name, QMenu *menu, const std::function<void(bool)> &set)
{
    auto *action = new QAction(text, menu);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(true);
    // Only the user's pick: setChecked, when the file changes, saves nothing.
    connect(action, &QAction::triggered, this, set);
    menu->addAction(action);
    return action;
}

void MainMenu::addSoundMenu()
{
    Playback &playback = m_session.playback();
    QMenu *ton = m_bar->addMenu(QStringLiteral("&Ton"));
    // V itself belongs to the practice window, whose text field must be able to take
    // a "v": the menu only names it.
    add(QStringLiteral("&Vorlesen\tV"), "actVorlesen", ton, [&playback] { playback.requestReading(); });
    ton->addSeparator();
    // Kept in the data file: opened first when nothing has opened it yet.
    QAction *playOnShow =
        addSwitch(QStringLiteral("&Ton beim Zeigen abspielen"), "actTonBeimZeigen", ton, [this, &playback](bool on) {
            m_session.openQuietly();
            playback.setPlaysOnShow(on);
        });
    QAction *readOnShow =
        addSwitch(QStringLiteral("Beim Zeigen vor&lesen"), "actVorlesenBeimZeigen", ton, [this, &playback](bool on) {
            m_session.openQuietly();
            playback.setReadsOnShow(on);
        });
    // The data file keeps the settings: the marks follow the file opened.
    const auto follow = [&playback, playOnShow, readOnShow] {
        playOnShow->setChecked(playback.playsOnShow());
        readOnShow->setChecked(playback.readsOnShow());
    };
    connect(&playback, &Playback::settingsChanged, this, follow);
    follow();
}

void MainMenu::updateUndo()
{
    const History &history = m_session.history();
    m_undo->setText(text::undoMenu(history.undoLabel()));
    m_undo->setEnabled(history.canUndo());
    m_redo->setText(text::redoMenu(history.redoLabel()));
    m_redo->setEnabled(history.canRedo());
}

} // namespace tarlivo::app
