#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tarlivo::app {

// "Über Tarlivo": the version, where the data file and its backups lie (each folder
// opens in the file manager) and the libraries the program is built with.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(const QString &dataFile, QWidget *parent = nullptr);

    // The folders the two buttons open.
    QString dataFolder() const { return m_dataFolder; }
    QString backupFolder() const { return m_dataFolder; } // backups lie beside the file

private:
    // Found by objectName ("openDataFolder", "openBackupFolder") in tests.
    QPushButton *openDataFolder = nullptr;
    QPushButton *openBackupFolder = nullptr;
    QPushButton *closeButton = nullptr;
    QString m_dataFolder;
};

} // namespace tarlivo::app
