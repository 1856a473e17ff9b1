#pragma once

#include "ui/form.h"

#include <optional>

namespace tarlivo::ui {
class CommandButton;
class Label;
class TextBox;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// Typing new cards for the subject named in the window's caption.
class FrmNeu : public ui::Form {
    Q_OBJECT
public:
    static constexpr ui::WindowId kId = ui::WindowId::Neu;
    static const ui::FormDesign &layout();
    FrmNeu(ui::Session &session, ui::Navigator &navigator);

    // Opens the window for typing cards of subject, named in its caption.
    void startEntry(const QString &subject);

private:
    void txtFrage_KeyPress();
    void txtAntwort_KeyPress();
    void cmdUebernahme_Click();
    void cmdZurueck_Click();
    void cmdZumStart_Click();
    void SaveFrageAntwort();

    ui::CommandButton *cmdZumStart;
    ui::CommandButton *cmdZurueck;
    ui::CommandButton *cmdUebernahme;
    ui::TextBox *txtAntwort;
    ui::TextBox *txtFrage;
    ui::Label *lblAntwort;
    ui::Label *lblFrage;
};

} // namespace tarlivo::windows
