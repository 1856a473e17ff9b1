#pragma once

#include "ui/form.h"

namespace tarlivo::ui {

class CommandButton;

// The start window: the two roads and the end.
class FrmWelcome : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Welcome;
    static const FormDesign &layout();
    FrmWelcome(Session &session, Navigator &navigator);

    void formLoad() override;

private:
    void cmdNeu_Click();
    void cmdUeben_Click();
    void cmdEnd_Click();

    CommandButton *cmdEnd;
    CommandButton *cmdUeben;
    CommandButton *cmdNeu;
};

} // namespace tarlivo::ui
