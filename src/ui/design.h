#pragma once

#include <QRgb>
#include <vector>

namespace tarlivo::ui {

// Window designs are data: what a window holds, where, and in which tab order.
// Positions and sizes are in twips; 15 twips make one device-independent pixel.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int pixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

enum class Kind { Label, TextBox, CommandButton, ComboBox };

enum ControlFlag : unsigned {
    NoFlags = 0,
    CentredText = 1, // label text centred
    WordWrap = 2,    // label breaks at word boundaries
    TitleFont = 4,   // the start window's large product title
};

struct ControlDesign {
    const char *name;
    Kind kind;
    const char *text; // caption of labels and buttons, text of boxes
    int left, top, width, height;
    int tabIndex;
    bool visible;
    unsigned flags = NoFlags;
    const char *accessibleName = nullptr; // what a screen reader calls an input control
};

enum class Placement { Centred, Maximised };

struct FormDesign {
    const char *name;
    const char *caption;
    int width, height; // client area
    Placement placement;
    QRgb background;                     // 0: the platform's standard
    std::vector<ControlDesign> controls; // in creation order
};

} // namespace tarlivo::ui
