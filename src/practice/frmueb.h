#pragma once

#include "shell/form.h"

#include <optional>

namespace tarlivo::ui {

class ComboBox;
class CommandButton;
class Label;

// Practice: the compartments of the subject in GebietName, the head card of the
// chosen compartment, and the three verdicts.
class FrmUeb : public Form {
    Q_OBJECT
public:
    static const FormDesign &layout();
    explicit FrmUeb(Forms &forms);

    // Rebuilds the compartment list, preferring LastFach (0: none), and shows the
    // head card, or tells that LastFach has run empty.
    void FillFach(qint32 LastFach);
    // Shows the head card of the compartment named by the list's text.
    void FrageDisplay();

    void formUnload() override;

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
    void MoveToFach(qint32 NeuFach);

    // The compartment the list's text names, or empty after telling the user.
    std::optional<qint32> listedFach();
    // The subject's key, or empty after telling the user.
    std::optional<qint32> subjectKey();
    // Nothing of the subject can be shown: a card left from an earlier subject
    // must not stay on display, where a verdict or an edit would reach it.
    void forgetCard();
    // Whether a card is there to judge or edit; tells the user when not. Checked
    // first: without a card, the list's text is beside the point.
    bool cardOnDisplay();
    // Removes the entries and whatever was typed into the list.
    void emptyList();

    // Whether the labels show the card in AktFrageID: "&Gebietsauswahl" empties
    // them but keeps AktFrageID, and no verdict or edit may reach a card not shown.
    bool m_cardOnDisplay = false;
};

} // namespace tarlivo::ui
