#include "app/frmbackground.h"

#include <QMenuBar>

namespace tarlivo::ui {

const FormDesign &FrmBackground::layout()
{
    static const FormDesign design{"frmBackground", "", 4680, 3090, Placement::Maximised, qRgb(255, 255, 192), {}};
    return design;
}

FrmBackground::FrmBackground(Session &session, Navigator &navigator) : Form(layout(), kId, session, navigator)
{
    // Behind the other windows wherever the window manager honours it.
    setWindowFlag(Qt::WindowStaysOnBottomHint);
    // The platform fills an empty title with the program's name; a blank keeps the
    // title bar empty as designed.
    setWindowTitle(QStringLiteral(" "));
}

void FrmBackground::setMenuBar(QMenuBar *bar)
{
    m_bar = bar;
    // Laying out the bar loads the fonts. That waits until the window is on screen,
    // as a plain window's first paint waits for them; the bar shows before that paint.
    m_bar->hide();
}

void FrmBackground::showEvent(QShowEvent *event)
{
    Form::showEvent(event);
    if (m_bar && !m_bar->isVisible())
        QMetaObject::invokeMethod(this, &FrmBackground::placeMenuBar, Qt::QueuedConnection);
}

void FrmBackground::resizeEvent(QResizeEvent *event)
{
    Form::resizeEvent(event);
    if (m_bar && m_bar->isVisible())
        placeMenuBar();
}

void FrmBackground::placeMenuBar()
{
    // Along the top edge, across the whole width.
    m_bar->setGeometry(0, 0, width(), m_bar->sizeHint().height());
    m_bar->show();
}

} // namespace tarlivo::ui
