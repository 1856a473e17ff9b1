#pragma once

#include "shell/form.h"

namespace tarlivo::ui {

class CommandButton;

// The start window: the two roads and the end.
class FrmWelcome : public Form {
    Q_OBJECT
public:
    static const FormDesign &layout();
    explicit FrmWelcome(Forms &forms);

    void formLoad() override;

    CommandButton *cmdEnd;
    CommandButton *cmdUeben;
    CommandButton *cmdNeu;

private:
    void cmdNeu_Click();
    void cmdUeben_Click();
    void cmdEnd_Click();
};

} // namespace tarlivo::ui
