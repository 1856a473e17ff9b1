#pragma once

#include "shell/form.h"

namespace tarlivo::ui {

// The maximised light-yellow backdrop behind all other windows.
class FrmBackground : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Background;
    static const FormDesign &layout();
    FrmBackground(Session &session, Forms &forms);
};

} // namespace tarlivo::ui
