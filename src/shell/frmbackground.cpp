#include "shell/frmbackground.h"

namespace tarlivo::ui {

const FormDesign &FrmBackground::layout()
{
    static const FormDesign design{"frmBackground", "", 4680, 3090, Placement::Maximised, qRgb(255, 255, 192), {}};
    return design;
}

FrmBackground::FrmBackground(Session &session, Forms &forms) : Form(layout(), kId, session, forms)
{
    // Behind the other windows wherever the window manager honours it.
    setWindowFlag(Qt::WindowStaysOnBottomHint);
    // The platform fills an empty title with the program's name; a blank keeps the
    // title bar empty as designed.
    setWindowTitle(QStringLiteral(" "));
}

} // namespace tarlivo::ui
