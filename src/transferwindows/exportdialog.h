#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

namespace tarlivo::store {
class Store;
} // namespace tarlivo::store

namespace tarlivo::ui {
class Dialogs;
class Session;
} // namespace tarlivo::ui

namespace tarlivo::transferwindows {

// Exports one subject or all ("Alle Gebiete") to a file Tarlivo and Anki read.
class ExportDialog : public QDialog {
    Q_OBJECT
public:
    explicit ExportDialog(ui::Session &session, QWidget *parent = nullptr);

    // Writes the chosen subject(s) to path; false (and told) when that failed.
    bool exportTo(const QString &path);

public slots:
    // The save-file choice, then the export.
    void chooseAndExport();

private:
    // Tests find them by objectName, as named here.
    QComboBox *subjectBox;
    QPushButton *exportButton;
    QPushButton *cancelButton;

    store::Store &store() const;

    ui::Session &m_session;
    ui::Dialogs &m_dialogs;
};

} // namespace tarlivo::transferwindows
