#pragma once

#include "ui/form.h"

class QMenuBar;

namespace tarlivo::ui {

// The maximised light-yellow backdrop behind all other windows, carrying the menu
// bar of the functions beyond the designed windows.
class FrmBackground : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Background;
    static const FormDesign &layout();
    FrmBackground(Session &session, Navigator &navigator);
    // The menu bar along the top edge; it shows once the backdrop is on screen.
    void setMenuBar(QMenuBar *bar);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeMenuBar();

    QMenuBar *m_bar = nullptr;
};

} // namespace tarlivo::ui
