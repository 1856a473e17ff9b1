#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

namespace tarlivo {
class Store;
namespace ui {
class Dialogs;
class Session;
} // namespace ui
} // namespace tarlivo

namespace tarlivo::ui {

// Exports one subject or all ("Alle Gebiete") to a file Tarlivo and Anki read.
class ExportDialog : public QDialog {
    Q_OBJECT
public:
    explicit ExportDialog(Session &session, QWidget *parent = nullptr);

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

    Store &store() const;

    Session &m_session;
    Dialogs &m_dialogs;
};

} // namespace tarlivo::ui
