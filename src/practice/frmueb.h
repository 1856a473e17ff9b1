#pragma once

#include "engine/practicerun.h"
#include "ui/form.h"
#include "ui/playback.h"

#include <optional>

namespace tarlivo::ui {
class ComboBox;
class CommandButton;
class Label;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// Practice: the compartments of one subject, the head card of the chosen
// compartment, and the three verdicts.
class FrmUeb : public ui::Form {
    Q_OBJECT
public:
    static constexpr ui::WindowId kId = ui::WindowId::Ueb;
    static const ui::FormDesign &layout();
    FrmUeb(ui::Session &session, ui::Navigator &navigator);

    // Starts practising subject (named as typed or picked): the caption, the
    // window shown, and the list filled with no compartment preferred.
    void startPractice(const QString &subject);
    // The same for the subject's due cards: the highest compartment holding one is
    // chosen, and each verdict goes on with the next due card, down the compartments,
    // until none is left; then the list is filled as above, with no card on display.
    void startDuePractice(const QString &subject);
    // Whether practice still keeps to the due cards.
    bool practisingDue() const { return m_run.dueOnly(); }
    // The subject practised, as it was handed over.
    const QString &subject() const { return m_run.subjectName(); }
    // The key of the card on display, which the verdicts and "&Edit" act on.
    std::optional<qint32> shownCard() const;
    // The direction on display: Reverse asks the answer and shows the question behind ">>>>>".
    store::Direction direction() const { return m_run.direction(); }

    // Back from the edit window: the card on display now reads so; shows the window.
    void showEditedCard(const QString &question, const QString &answer);
    // The edit window found its card deleted: practice shows again and goes on.
    void goOnAfterEdit();

    void formUnload() override;

protected:
    // Whatever plays stops when practice leaves the screen.
    void hideEvent(QHideEvent *event) override;

private:
    void begin(const QString &subject, engine::Mode mode);
    // Puts a step of the run on screen: the list, the card, the caption, the messages.
    void apply(const engine::Step &step);
    void tell(const engine::Notice &notice);
    void showPlace();
    void clearDisplay();
    void judge(store::Verdict verdict);
    void cmdEdit_Click();
    // Single keys: Space reveals or hides, 1, 2, 3 judge.
    void setUpKeys();
    // The side on display with its language and sound; empty text without a card.
    ui::ShownSide shownSide();
    // A side came on display: its sound plays or it is read, as set.
    void sideShown();
    // Another window or an undo changed the file: the display follows.
    void cardsChanged(const store::Change &change, const QObject *origin);
    // The compartment the list's text names, if any.
    std::optional<qint32> namedCompartment() const;
    // Removes the entries and whatever was typed into the list.
    void emptyList();

    ui::CommandButton *cmdFrage;
    ui::CommandButton *cmdZumStart;
    ui::CommandButton *cmdEdit;
    ui::CommandButton *cmdFachOk;
    ui::ComboBox *cmbFach;
    ui::CommandButton *cmdNeuGebiet;
    ui::CommandButton *cmdFalsch;
    ui::CommandButton *cmdFastRichtig;
    ui::CommandButton *cmdRichtig;
    ui::CommandButton *cmdAntwort;
    ui::Label *lblAntwort;
    ui::Label *lblFrage;

    engine::PracticeRun m_run;
};

} // namespace tarlivo::windows
