#pragma once

#include "shell/form.h"

namespace tarlivo::ui {

class CommandButton;
class Label;
class TextBox;

// Correcting the texts of the card on display.
class FrmEdit : public Form {
    Q_OBJECT
public:
    static const FormDesign &layout();
    explicit FrmEdit(Forms &forms);

    CommandButton *cmdUebernahme; // designed as "cmdÜbernahme"
    TextBox *txtEditAntwort;
    TextBox *txtEditFrage;

private:
    void cmdUebernahme_Click();
    void SaveEdit();
};

} // namespace tarlivo::ui
