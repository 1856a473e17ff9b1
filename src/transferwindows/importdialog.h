#pragma once

#include "transfer/importer.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace tarlivo::store {
class Store;
} // namespace tarlivo::store

namespace tarlivo::ui {
class Dialogs;
class Session;
} // namespace tarlivo::ui

namespace tarlivo::transferwindows {

// Imports cards from a text file or an Anki package: the file, a preview of the
// first cards as they will be stored, separator, encoding, target subject and
// whether to skip duplicates; "Importieren" stores all or nothing.
class ImportDialog : public QDialog {
    Q_OBJECT
public:
    explicit ImportDialog(ui::Session &session, QWidget *parent = nullptr);
    ~ImportDialog() override;

    // Asks for the file through the chooser and reads it for the preview; false when
    // cancelled or when the file cannot be imported (the user was told why). picked:
    // whether a file was chosen at all.
    bool chooseFile(bool *picked = nullptr);
    // Reads path for the preview; false (and told) when it cannot be imported.
    bool loadFile(const QString &path);

signals:
    // After an import stored something, so that open windows read anew.
    void cardsChanged();

public slots:
    void importCards();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Tests find them by objectName, as named here.
    QLineEdit *fileEdit;
    QPushButton *chooseButton;
    QComboBox *separatorBox;
    QLabel *encodingLabel;
    QComboBox *subjectBox;
    QCheckBox *skipDuplicatesBox;
    QTableWidget *previewTable;
    QPlainTextEdit *notesView;
    QPushButton *importButton;
    QPushButton *cancelButton;

    void separatorChosen();
    // Reads the path typed in the file field when it is not the file read; whether it did.
    bool loadTypedFile();
    void refreshPreview();
    void showPreview();
    transfer::ImportSettings settings() const;
    // Whether the subject box takes the cards: a text file without a Gebiet column, or
    // a package, kvtml or Pauker file whose decks or lessons it replaces.
    bool choosesSubject() const;

    store::Store &store() const;

    ui::Session &m_session;
    ui::Dialogs &m_dialogs;
    // A typed subject name counts duplicates anew once typing pauses.
    QTimer *m_subjectTyped;
    std::unique_ptr<transfer::ImportFile> m_file;
    transfer::ImportPreview m_preview;
};

} // namespace tarlivo::transferwindows
