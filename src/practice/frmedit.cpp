#include "practice/frmedit.h"

#include "practice/frmueb.h"
#include "shell/controls.h"
#include "shell/forms.h"
#include "shell/messages.h"

namespace tarlivo::ui {

const FormDesign &FrmEdit::layout()
{
    // clang-format off: one row per control, as the design table reads
    static const FormDesign design{
        "frmEdit",
        "Edit",
        8550,
        5655,
        Placement::Centred,
        0,
        {
            {"cmdÜbernahme", Kind::CommandButton, "&Übernehmen", 360, 4320, 7815, 615, 4, true},
            {"txtEditAntwort", Kind::TextBox, "Text1", 4440, 1080, 3735, 3015, 1, true, NoFlags, "Antwort"},
            {"txtEditFrage", Kind::TextBox, "Text1", 360, 1080, 3735, 3015, 0, true, NoFlags, "Frage"},
            {"Label2", Kind::Label, "Antwort", 4560, 720, 1095, 255, 3, true},
            {"Label1", Kind::Label, "Frage", 480, 720, 1095, 255, 2, true},
        }};
    // clang-format on
    return design;
}

FrmEdit::FrmEdit(Forms &forms)
    : Form(layout(), forms), cmdUebernahme(control<CommandButton>("cmdÜbernahme")),
      txtEditAntwort(control<TextBox>("txtEditAntwort")), txtEditFrage(control<TextBox>("txtEditFrage"))
{
    connect(cmdUebernahme, &QPushButton::clicked, this, &FrmEdit::cmdUebernahme_Click);
}

void FrmEdit::cmdUebernahme_Click()
{
    // Only a box without any character is empty; a single space is a text.
    if (txtEditAntwort->text().isEmpty() || txtEditFrage->text().isEmpty()) {
        forms().message(this, text::missingInput());
        return;
    }
    SaveEdit();
}

void FrmEdit::SaveEdit()
{
    const qint32 card = forms().pubs().AktFrageID;
    if (card == 0) {
        forms().message(this, text::noCardOnDisplay());
        return;
    }
    try {
        forms().db().saveCardText(card, txtEditFrage->text(), txtEditAntwort->text());
    } catch (const StoreError &error) {
        if (error.kind() == StoreErrorKind::NotFound)
            forms().message(this, text::cardMissing(card));
        else
            forms().report(this, error);
        return;
    }
    FrmUeb &ueb = forms().frmUeb();
    ueb.lblFrage->setText(txtEditFrage->text());
    ueb.lblAntwort->setText(txtEditAntwort->text());
    ueb.showForm();
    hide();
}

} // namespace tarlivo::ui
