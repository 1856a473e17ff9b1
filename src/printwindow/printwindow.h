#pragma once

#include "print/document.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;

namespace tarlivo::ui {
class Dialogs;
class Session;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// Prints one subject or all, as a list or as cards to cut out, on A4 or Letter:
// shown in Qt's print preview, sent to a printer, or saved as a PDF.
class PrintWindow : public QDialog {
    Q_OBJECT
public:
    explicit PrintWindow(ui::Session &session, QWidget *parent = nullptr);

    // The subjects and compartments afresh from the store, the choices kept.
    void refresh();
    // What is chosen.
    print::PrintOptions options() const;

public slots:
    void preview();
    void printOut();
    // The file chooser, then the PDF.
    void savePdf();

private:
    // The cards chosen, laid out; none (and told) when there is nothing to print.
    std::optional<print::Document> document();
    void fillCompartments();
    // Runs with the plugin's preview and print dialog; told when it cannot load.
    template <class Run>
    void withPrinter(Run &&run);

    // Tests find them by objectName, as named here.
    QComboBox *subjectBox;
    QComboBox *layoutBox;
    QCheckBox *someCompartments;
    QListWidget *compartmentList;
    QComboBox *paperBox;
    QPushButton *previewButton;
    QPushButton *printButton;
    QPushButton *pdfButton;
    QPushButton *closeButton;

    ui::Session &m_session;
    ui::Dialogs &m_dialogs;
};

} // namespace tarlivo::windows
