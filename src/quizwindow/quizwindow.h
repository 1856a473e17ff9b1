#pragma once

#include "engine/practicerun.h"
#include "quiz/answercheck.h"

#include <QWidget>

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarlivo::ui {
class Session;
} // namespace tarlivo::ui

namespace tarlivo::windows {
class PictureBox;
class ResultLabel;

// "Abfrage": the learner types the answer or picks it from four, the window judges
// it, and the verdict moves the card as practice does once the learner goes on.
class QuizWindow : public QWidget {
    Q_OBJECT
public:
    explicit QuizWindow(ui::Session &session, QWidget *parent = nullptr);
    ~QuizWindow() override;

    // Due practice of the subject (or the first subject when empty), as typed answers
    // unless the learner chose otherwise.
    void startOn(const QString &subject);
    // Reads the subjects again and starts anew, the subject kept.
    void refresh();

    // The card asked, for the kill test's driver; none between runs.
    std::optional<qint32> shownCard() const;
    store::Direction shownDirection() const
    {
        return m_run.place() ? m_run.place()->direction : store::Direction::Forward;
    }
    QString shownAnswer() const { return m_run.place() ? m_run.place()->answer : QString(); }
    std::optional<qint32> subjectId() const { return m_run.subjectId(); }

protected:
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    // Enter checks the answer or, with a result shown, goes on; 1 to 4 pick a choice.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void restart();
    void apply(const engine::Step &step);
    void ask();
    void showChoices();
    void check();
    void choose(int index);
    void overrule(store::Verdict verdict);
    void showResult();
    void goOn();
    // Stores the verdict of the result on display, if any; false when the store refused it.
    bool commitResult();
    void finish(const QString &text);
    void updateCount();
    void editTolerances();
    void follow(const store::Change &change, const QObject *origin);
    bool choosing() const;

    ui::Session &m_session;
    engine::PracticeRun m_run;
    QComboBox *cmbGebiet;
    QComboBox *cmbArt;
    QCheckBox *chkFaellig;
    QLabel *lblFrage;
    PictureBox *picFrage;
    QLabel *lblAntwortTitel;
    QLineEdit *txtAntwort;
    std::array<QPushButton *, 4> cmdWahl{};
    QPushButton *cmdPruefen;
    QPushButton *cmdWeiter;
    QPushButton *cmdRecht;
    QPushButton *cmdFalsch;
    QPushButton *cmdToleranz;
    QPushButton *cmdSchliessen;
    ResultLabel *lblErgebnis;
    QLabel *lblNoch;

    std::vector<QString> m_choices;
    std::optional<quiz::Judgement> m_result; // judged, not yet stored
    bool m_filling = false;
};

} // namespace tarlivo::windows
