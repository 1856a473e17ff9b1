#pragma once

#include <QObject>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace tarlivo::ui {
class Session;
} // namespace tarlivo::ui

namespace tarlivo::app {
class ToolWindows;

// The backdrop's menu bar: the functions beyond the designed windows. Its keys work
// in every window of the program.
class MainMenu : public QObject {
    Q_OBJECT
public:
    MainMenu(ui::Session &session, ToolWindows &tools, QWidget *backdrop);

    QMenuBar *bar() const { return m_bar; }

private:
    QAction *add(const QString &text, const char *name, QMenu *menu, const std::function<void()> &run);
    // A checkable entry; set is told the new state when the user picks it.
    QAction *addSwitch(const QString &text, const char *name, QMenu *menu, const std::function<void(bool)> &set);
    // Reading aloud and the sound settings.
    void addSoundMenu();
    void updateUndo();

    ui::Session &m_session;
    QMenuBar *m_bar;
    QAction *m_undo = nullptr;
    QAction *m_redo = nullptr;
};

} // namespace tarlivo::app
