#pragma once

#include "shell/form.h"

namespace tarlivo::ui {

class MainMenu;

// The maximised light-yellow backdrop behind all other windows, carrying the menu
// bar of the functions beyond the designed windows.
class FrmBackground : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Background;
    static const FormDesign &layout();
    FrmBackground(Session &session, Forms &forms);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeMenuBar();

    MainMenu *m_menu;
};

} // namespace tarlivo::ui
