#pragma once

#include "ui/form.h"

#include <optional>

namespace tarlivo::ui {

class CommandButton;
class Label;
class TextBox;

// Typing new cards for the subject named in the window's caption.
class FrmNeu : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Neu;
    static const FormDesign &layout();
    FrmNeu(Session &session, Navigator &navigator);

    // Opens the window for typing cards of subject, named in its caption.
    void startEntry(const QString &subject);

private:
    void txtFrage_KeyPress();
    void txtAntwort_KeyPress();
    void cmdUebernahme_Click();
    void cmdZurueck_Click();
    void cmdZumStart_Click();
    void SaveFrageAntwort();

    CommandButton *cmdZumStart;
    CommandButton *cmdZurueck;
    CommandButton *cmdUebernahme;
    TextBox *txtAntwort;
    TextBox *txtFrage;
    Label *lblAntwort;
    Label *lblFrage;
};

} // namespace tarlivo::ui
