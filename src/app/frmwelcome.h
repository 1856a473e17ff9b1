#pragma once

#include "ui/form.h"

namespace tarlivo::ui {
class CommandButton;
} // namespace tarlivo::ui

namespace tarlivo::app {
// The start window: the two roads and the end.
class FrmWelcome : public ui::Form {
    Q_OBJECT
public:
    static constexpr ui::WindowId kId = ui::WindowId::Welcome;
    static const ui::FormDesign &layout();
    FrmWelcome(ui::Session &session, ui::Navigator &navigator);

    void formLoad() override;

private:
    void cmdNeu_Click();
    void cmdUeben_Click();
    void cmdEnd_Click();

    ui::CommandButton *cmdEnd;
    ui::CommandButton *cmdUeben;
    ui::CommandButton *cmdNeu;
};

} // namespace tarlivo::app
