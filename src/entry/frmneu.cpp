#include "entry/frmneu.h"

#include "ui/controls.h"
#include "ui/messages.h"

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {

const FormDesign &FrmNeu::layout()
{
    // clang-format off: one row per control, as the design table reads
    static const FormDesign design{
        "frmNeu",
        "Anlegen neuer Fragen und Antworten",
        8670,
        6030,
        Placement::Centred,
        0,
        {
            {"cmdZumStart", Kind::CommandButton, "Zum &Start", 2400, 5040, 1695, 495, 7, true},
            {"cmdZurueck", Kind::CommandButton, "&Zurück", 360, 5040, 1695, 495, 6, true},
            {"cmdUebernahme", Kind::CommandButton, "&Übernehmen", 4560, 5040, 3735, 495, 2, false},
            {"txtAntwort", Kind::TextBox, "", 4560, 1680, 3735, 3015, 1, false, NoFlags, "Antwort"},
            {"txtFrage", Kind::TextBox, "", 360, 1680, 3735, 3015, 0, true, NoFlags, "Frage"},
            {"lblAntwort", Kind::Label, "Antwort", 4680, 1200, 1095, 255, 5, false},
            {"lblFrage", Kind::Label, "Frage", 480, 1200, 1095, 255, 4, true},
        }};
    // clang-format on
    return design;
}

FrmNeu::FrmNeu(Session &session, Navigator &navigator)
    : Form(layout(), kId, session, navigator), cmdZumStart(control<CommandButton>("cmdZumStart")),
      cmdZurueck(control<CommandButton>("cmdZurueck")), cmdUebernahme(control<CommandButton>("cmdUebernahme")),
      txtAntwort(control<TextBox>("txtAntwort")), txtFrage(control<TextBox>("txtFrage")),
      lblAntwort(control<Label>("lblAntwort")), lblFrage(control<Label>("lblFrage"))
{
    connect(txtFrage, &TextBox::characterTyped, this, &FrmNeu::txtFrage_KeyPress);
    connect(txtAntwort, &TextBox::characterTyped, this, &FrmNeu::txtAntwort_KeyPress);
    connect(cmdUebernahme, &QPushButton::clicked, this, &FrmNeu::cmdUebernahme_Click);
    connect(cmdZurueck, &QPushButton::clicked, this, &FrmNeu::cmdZurueck_Click);
    connect(cmdZumStart, &QPushButton::clicked, this, &FrmNeu::cmdZumStart_Click);
}

void FrmNeu::startEntry(const QString &subject)
{
    setWindowTitle(subject);
    showForm();
}

void FrmNeu::txtFrage_KeyPress()
{
    lblAntwort->setVisible(true);
    txtAntwort->setVisible(true);
}

void FrmNeu::txtAntwort_KeyPress() { cmdUebernahme->setVisible(true); }

void FrmNeu::cmdUebernahme_Click() { SaveFrageAntwort(); }

void FrmNeu::SaveFrageAntwort()
{
    // A card without its question or its answer would show as a blank in practice.
    if (txtFrage->text().isEmpty() || txtAntwort->text().isEmpty()) {
        session().message(this, text::missingInput());
        return;
    }
    // The caption names the subject. Card and position are written together; on
    // any failure nothing is written and both texts stay for another try.
    const QString subject = windowTitle();
    try {
        const std::optional<qint32> id = getIDgebiet(session().db(), subject);
        if (!id) {
            session().message(this, text::unknownSubject(subject));
            return;
        }
        Change change;
        session().db().addCard(*id, txtFrage->text(), txtAntwort->text(), &change);
        session().record(text::newCardLabel(txtFrage->text()), change, this);
    } catch (const StoreError &error) {
        session().report(this, error);
        return;
    }
    txtFrage->setFocus(Qt::OtherFocusReason);
    txtFrage->setText(QString());
    txtAntwort->setText(QString());
    lblAntwort->setVisible(false);
    txtAntwort->setVisible(false);
    cmdUebernahme->setVisible(false);
}

void FrmNeu::cmdZurueck_Click()
{
    hide();
    navigator().showSubjects(Road::Entry, Upkeep::NewAndRename);
}

void FrmNeu::cmdZumStart_Click()
{
    hide();
    navigator().showStart();
}

} // namespace tarlivo::windows
