#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tarlivo::sync {
class Scheduler;
}

namespace tarlivo::ui {
class Session;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// "Datei -> Abgleich …": the folder the data file syncs through, the machines seen
// there with their last sync, a sync now, and how the last one went. The syncs
// themselves run in the scheduler, one at a time.
class SyncWindow : public QWidget {
    Q_OBJECT
public:
    SyncWindow(ui::Session &session, sync::Scheduler &scheduler, QWidget *parent = nullptr);

    // The folder set and the machines afresh from the file and the folder.
    void refresh();

private:
    void choose();
    // Keeps the folder typed or chosen for the data file; false after telling why not.
    bool apply();
    void syncNow();
    void showMachines();
    void showOutcome();

    // Tests find them by objectName, as named here.
    QLineEdit *folderEdit;
    QPushButton *chooseButton;
    QTreeWidget *machineList;
    QPushButton *syncButton;
    QLabel *resultLabel;
    QPushButton *closeButton;

    ui::Session &m_session;
    sync::Scheduler &m_scheduler;
    QString m_folderProblem; // why the folder's machines cannot be listed
};

} // namespace tarlivo::windows
