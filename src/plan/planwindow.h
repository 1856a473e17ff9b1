#pragma once

#include "store/store.h"

#include <QWidget>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tarlivo::ui {
class Dialogs;
class Navigator;
class Session;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// What is due: every subject with its due cards, and the compartments of the chosen
// one with their intervals, which are edited here; practice of the due cards starts
// from here.
class PlanWindow : public QWidget {
    Q_OBJECT

public:
    enum SubjectColumn { SubjectName, SubjectDueNow, SubjectWeek, SubjectCards, SubjectNext };
    enum CompartmentColumn {
        CompartmentNumber,
        CompartmentInterval,
        CompartmentDueNow,
        CompartmentWeek,
        CompartmentCards,
        CompartmentNext
    };

    PlanWindow(ui::Session &session, ui::Navigator &navigator, QWidget *parent = nullptr);
    ~PlanWindow() override;

    // The subject chosen, or empty.
    std::optional<qint32> currentSubject() const;
    std::optional<qint32> currentCompartment() const;

public slots:
    // Reads everything afresh, keeping the subject and compartment chosen.
    void refresh();
    void showSubject(qint32 subjectId);
    void showCompartment(qint32 compartment);
    // The interval typed for the chosen compartment, saved; refused with a message
    // when it is no whole number of days from 0 to Store::kMaxInterval.
    void saveInterval();
    void practiseDue();
    // The chosen subject is practised so from now on (the list's entry is set to it).
    void chooseDirection(store::DirectionSetting setting);

signals:
    // A change the user made here, to be kept for undo.
    void changed(const QString &label, const tarlivo::store::Change &change);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Tests and benchmarks find them by objectName, as named here.
    QTableWidget *tblGebiete;
    QTableWidget *tblFaecher;
    QLineEdit *txtAbstand;
    QPushButton *cmdAbstand;
    QPushButton *cmdUeben;
    QPushButton *cmdAbfragen;
    QPushButton *cmdSchliessen;
    QLabel *lblHinweis;
    // The languages the chosen subject's questions and answers are read aloud in.
    QComboBox *cmbSpracheFrage;
    QComboBox *cmbSpracheAntwort;
    QComboBox *cmbRichtung;

    void fillSubjects(std::optional<qint32> keep);
    void fillCompartments(std::optional<qint32> keepCompartment);
    void compartmentChosen();
    QString dayText(const std::optional<qint64> &day) const;
    // Reading aloud: the combo boxes made and laid out, filled for the chosen
    // subject, and a choice saved.
    QLayout *makeLanguageRow();
    void showLanguages();
    void saveLanguages();

    ui::Session &m_session;
    ui::Navigator &m_navigator;
    ui::Dialogs &m_dialogs;
    std::vector<store::SubjectRow> m_subjects;         // in the table's order
    std::vector<store::CompartmentDue> m_compartments; // of the chosen subject
    qint64 m_today = 0;
    bool m_stale = true;
};

} // namespace tarlivo::windows
