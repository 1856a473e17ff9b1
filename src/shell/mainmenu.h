#pragma once

#include <QObject>

class QAction;
class QMenuBar;
class QWidget;

namespace tarlivo::ui {

class Forms;
class Session;

// The backdrop's menu bar: the functions beyond the designed windows. Its keys work
// in every window of the program.
class MainMenu : public QObject {
    Q_OBJECT
public:
    MainMenu(Session &session, Forms &forms, QWidget *backdrop);

    QMenuBar *bar() const { return m_bar; }

private:
    QAction *add(const QString &text, const char *name, QObject *menu, void (MainMenu::*slot)());
    void updateUndo();
    void undo();
    void redo();
    void openCardList();
    void openStatistics();
    void openImport();
    void openExport();
    void showKeys();
    void showAbout();
    void quit();

    Session &m_session;
    Forms &m_forms;
    QMenuBar *m_bar;
    QAction *m_undo = nullptr;
    QAction *m_redo = nullptr;
    bool m_reopenCardList = false;
    bool m_reopenStatistics = false;
};

} // namespace tarlivo::ui
