#pragma once

#include "shell/form.h"

namespace tarlivo::ui {

// The maximised light-yellow backdrop behind all other windows.
class FrmBackground : public Form {
    Q_OBJECT
public:
    static const FormDesign &layout();
    explicit FrmBackground(Forms &forms);
};

} // namespace tarlivo::ui
