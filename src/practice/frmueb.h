#pragma once

#include "ui/form.h"
#include "ui/playback.h"

#include <optional>

namespace tarlivo::ui {

class ComboBox;
class CommandButton;
class Label;

// Practice: the compartments of one subject, the head card of the chosen
// compartment, and the three verdicts.
class FrmUeb : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Ueb;
    static const FormDesign &layout();
    FrmUeb(Session &session, Navigator &navigator);

    // Starts practising subject (named as typed or picked): the caption, the
    // window shown, and the list filled with no compartment preferred.
    void startPractice(const QString &subject);
    // The same for the subject's due cards: the highest compartment holding one is
    // chosen, and each verdict goes on with the next due card, down the compartments,
    // until none is left; then practice goes on as started above.
    void startDuePractice(const QString &subject);
    // Whether practice still keeps to the due cards.
    bool practisingDue() const { return m_dueOnly; }
    // The subject practised, as it was handed over.
    const QString &subject() const { return m_subject; }
    // The key of the card on display, which the verdicts and "&Edit" act on.
    std::optional<qint32> shownCard() const { return m_card; }
    // The direction on display: Reverse asks the answer and shows the question behind ">>>>>".
    Direction direction() const { return m_direction; }

    // Rebuilds the compartment list, choosing preferred (0: the first), and shows
    // its head card, or tells that preferred has run empty.
    void FillFach(qint32 preferred);
    // Shows the head card of the compartment named by the list's text.
    void FrageDisplay();
    // Back from the edit window: the card on display now reads so; shows the window.
    void showEditedCard(const QString &frage, const QString &antwort);
    // The edit window found its card deleted: practice shows again and goes on.
    void goOnAfterEdit();

    void formUnload() override;

protected:
    // Whatever plays stops when practice leaves the screen.
    void hideEvent(QHideEvent *event) override;

private:
    void cmdFachOk_Click();
    void cmdNeuGebiet_Click();
    void cmdZumStart_Click();
    void cmdAntwort_Click();
    void cmdFrage_Click();
    void cmdRichtig_Click();
    void cmdFastRichtig_Click();
    void cmdFalsch_Click();
    void cmdEdit_Click();
    // A verdict on the card on display; practice goes on in the compartment the
    // list names, else in the one the card was judged in.
    void MoveToFach(Verdict verdict);
    // A verdict found the card missing: says why; a card deleted meanwhile leaves
    // the display and practice goes on.
    void cardLost(qint32 card);
    // The card on display is gone: the next one where the list points, or at its start.
    void goOnWithoutCard();
    // FillFach; with firstIfGone, a compartment that no longer holds cards gives
    // way to the list's first entry without a message.
    void fillList(qint32 preferred, bool firstIfGone);
    // Single keys: Space reveals or hides, 1, 2, 3 judge.
    void setUpKeys();
    // The side on display with its language and sound; empty text without a card.
    ShownSide shownSide();
    // A side came on display: its sound plays or it is read, as set.
    void sideShown();
    // T and V: the shown side's sound again, and the side read aloud.
    void playSideSound();
    void readSideAloud();
    // Another window or an undo changed the file: the display follows.
    void cardsChanged(const Change &change, const QObject *origin);
    // The compartment list anew, the card on display kept.
    void refreshList();

    // Due practice after a verdict on a card of fach: that compartment again while its
    // head card is due, else the next lower one holding a due card. False when none
    // is left: the user has been told, and practice goes on as usual.
    bool goOnDue(qint32 subject, qint32 fach);

    // The compartment the list's text names, or empty after telling the user.
    std::optional<qint32> listedFach();
    // The same without a message.
    std::optional<qint32> namedFach() const;
    // The subject's key, or empty after telling the user.
    std::optional<qint32> subjectKey();
    // Nothing of the subject can be shown: a card left from an earlier subject
    // must not stay on display, where a verdict or an edit would reach it.
    void forgetCard();
    // The card there is to judge or edit; tells the user when there is none.
    // Checked first: without a card, the list's text is beside the point.
    std::optional<qint32> requireCard();
    // Each label's picture of the card (none: no pictures); a picture that cannot be
    // read leaves the texts alone.
    void showPictures(std::optional<qint32> card);
    // Removes the entries and whatever was typed into the list.
    void emptyList();
    // Practice goes on in that direction: the caption tells it.
    void setDirection(Direction direction);
    // The subject's directions practised; Forward for one that never chose.
    DirectionSetting setting();
    // Practising both ways, the forward places come first: once none of them is due
    // (or, in due practice, none is left), the reverse places follow. True when
    // practice turned to them.
    bool turnToReverse(qint32 subject);
    // Shows the texts of a card the way the direction asks it.
    void showTexts(const QString &frage, const QString &antwort);

    CommandButton *cmdFrage;
    CommandButton *cmdZumStart;
    CommandButton *cmdEdit;
    CommandButton *cmdFachOk;
    ComboBox *cmbFach;
    CommandButton *cmdNeuGebiet;
    CommandButton *cmdFalsch;
    CommandButton *cmdFastRichtig;
    CommandButton *cmdRichtig;
    CommandButton *cmdAntwort;
    Label *lblAntwort;
    Label *lblFrage;

    QString m_subject;
    // The card the labels show; empty once they were emptied, so that no verdict
    // or edit reaches a card the user no longer sees.
    std::optional<qint32> m_card;
    bool m_dueOnly = false;
    Direction m_direction = Direction::Forward;
    // Both ways: the reverse places are still to come.
    bool m_reverseToCome = false;
};

} // namespace tarlivo::ui
