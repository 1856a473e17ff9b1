#include "app/frmwelcome.h"

#include "ui/controls.h"

using namespace tarlivo::store;
using namespace tarlivo::ui;

namespace tarlivo::app {

const FormDesign &FrmWelcome::layout()
{
    // clang-format off: one row per control, as the design table reads
    static const FormDesign design{
        "frmWelcome",
        "Velmorin - Solvendo - Tarlivo 2.0",
        6735,
        4695,
        Placement::Centred,
        0,
        {
            {"cmdEnd", Kind::CommandButton, "&Ende", 600, 3240, 5535, 495, 3, true},
            {"cmdUeben", Kind::CommandButton, "&Übung starten", 3600, 2160, 2295, 495, 2, true},
            {"cmdNeu", Kind::CommandButton, "&Neue Fragen + Antworten", 840, 2160, 2295, 495, 1, true},
            {"Label1", Kind::Label, "Tarlivo", 1200, 960, 4335, 495, 0, true, CentredText | TitleFont},
        }};
    // clang-format on
    return design;
}

FrmWelcome::FrmWelcome(Session &session, Navigator &navigator)
    : Form(layout(), kId, session, navigator), cmdEnd(control<CommandButton>("cmdEnd")),
      cmdUeben(control<CommandButton>("cmdUeben")), cmdNeu(control<CommandButton>("cmdNeu"))
{
    connect(cmdNeu, &QPushButton::clicked, this, &FrmWelcome::cmdNeu_Click);
    connect(cmdUeben, &QPushButton::clicked, this, &FrmWelcome::cmdUeben_Click);
    connect(cmdEnd, &QPushButton::clicked, this, &FrmWelcome::cmdEnd_Click);
}

void FrmWelcome::formLoad()
{
    // The backdrop goes up first, so that everything else opens in front of it.
    navigator().showBackdrop();
}

void FrmWelcome::cmdNeu_Click()
{
    hide();
    navigator().showSubjects(Road::Entry, Upkeep::NewAndRename);
}

void FrmWelcome::cmdUeben_Click()
{
    hide();
    navigator().showSubjects(Road::Practice, Upkeep::None);
}

void FrmWelcome::cmdEnd_Click() { navigator().end(); }

} // namespace tarlivo::app
