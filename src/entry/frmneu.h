#pragma once

#include "shell/form.h"

#include <optional>

namespace tarlivo::ui {

class CommandButton;
class Label;
class TextBox;

// Typing new cards for the subject named in the window's caption.
class FrmNeu : public Form {
    Q_OBJECT
public:
    static const FormDesign &layout();
    explicit FrmNeu(Forms &forms);

    // The key of the subject of that name; empty when there is none.
    // Throws StoreError when the database fails.
    std::optional<qint32> getIDgebiet(const QString &GebText);

    CommandButton *cmdZumStart;
    CommandButton *cmdZurueck;
    CommandButton *cmdUebernahme;
    TextBox *txtAntwort;
    TextBox *txtFrage;
    Label *lblAntwort;
    Label *lblFrage;

private:
    void txtFrage_KeyPress();
    void txtAntwort_KeyPress();
    void cmdUebernahme_Click();
    void cmdZurueck_Click();
    void cmdZumStart_Click();
    void SaveFrageAntwort();
};

} // namespace tarlivo::ui
