#pragma once

#include "store/change.h"

#include <QWidget>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tarlivo::store {
class Store;
class StoreError;
} // namespace tarlivo::store

namespace tarlivo::ui {
class Dialogs;
class Session;
} // namespace tarlivo::ui

namespace tarlivo::windows {
class CardListModel;

// The cards of one subject or of all as a table, found by text as the user types;
// the selected cards are edited, moved, put into a compartment or deleted, and a
// subject is deleted with its cards. Every change is written at once.
class CardListWindow : public QWidget {
    Q_OBJECT

public:
    explicit CardListWindow(ui::Session &session, QWidget *parent = nullptr);
    ~CardListWindow() override;

    // The subject shown; empty for "Alle Gebiete".
    std::optional<qint32> currentSubject() const;
    // The keys of the selected cards, top to bottom.
    std::vector<qint32> selectedCardIds() const;
    CardListModel &model() { return *m_model; }

public slots:
    // Reads subjects and cards afresh, after another window changed the file.
    void refresh();
    void showSubject(std::optional<qint32> subjectId);

    // What the buttons do; each asks through the dialogs first.
    void editSelected();
    void moveSelected();
    void setSelectedCompartment();
    // The same for the reverse places of the selected cards.
    void setSelectedReverseCompartment();
    void deleteSelected();
    void deleteSubject();

signals:
    // After every successful write: a label for the undo menu, and what changed.
    void changed(const QString &label, const tarlivo::store::Change &change);

private:
    void askCompartment(store::Direction direction);
    // The reverse column and its button where the cards shown may have reverse places.
    void showReverse();

    // Tests and the crash driver find them by objectName, as named here.
    QComboBox *cboGebiet;
    QLineEdit *txtSuche;
    QLabel *lblTreffer;
    QTableView *tblKarten;
    QPushButton *cmdBearbeiten;
    QPushButton *cmdVerschieben;
    QPushButton *cmdFach;
    QPushButton *cmdFachUmgekehrt;
    QPushButton *cmdLoeschen;
    QPushButton *cmdGebietLoeschen;

    void showEvent(QShowEvent *event) override;
    void refreshWhenShown();
    void refreshKeepingSelection();
    void fillSubjects(std::optional<qint32> keep);
    void reloadCards();
    void updateCount();
    void updateButtons();
    // A chosen subject key, through the subject dialog; empty when cancelled.
    std::optional<qint32> chooseSubject(const QString &title, const QString &prompt, std::optional<qint32> preset);
    // Runs one write; tells the user of a failure and shows the file's new state.
    template <class Write>
    void write(const QString &label, Write &&run);
    void showError(const tarlivo::store::StoreError &error);

    store::Store &store() const;

    ui::Session &m_session;
    ui::Dialogs &m_dialogs;
    CardListModel *m_model;
    bool m_stale = false; // the file changed while the list was hidden
};

} // namespace tarlivo::windows
