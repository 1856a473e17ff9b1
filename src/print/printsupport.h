#pragma once

#include "media/plugins.h"

#include <QString>

#include <functional>

class QDialog;
class QPainter;
class QWidget;

namespace tarlivo::print {

// The pages of a document as the printer plugin sees them: how many, on which paper,
// and how to draw one (paintPage).
struct PrintPages {
    int count = 0;
    bool letter = false; // else A4
    std::function<void(QPainter &painter, int page)> paint;
};

// Qt's print preview and print dialog. Implemented by the printer plugin, the only
// code that links Qt PrintSupport, loaded on the first preview or print.
class PrintSupport {
public:
    virtual ~PrintSupport() = default;
    // Shows the pages in Qt's print preview; show runs the dialog modally (the
    // Dialogs seam). Printing from the preview prints them as they are laid out.
    virtual void preview(const PrintPages &pages, QWidget *parent, const std::function<bool(QDialog &)> &show) = 0;
    // Qt's print dialog, then the pages on the printer chosen. False when the user
    // cancelled or printing failed (then *error says why, in German).
    virtual bool print(const PrintPages &pages, QWidget *parent, const std::function<bool(QDialog &)> &show,
                       QString *error) = 0;
};

// The plugin's object, loaded on the first call and kept; null when the plugin
// cannot be loaded, with the reason in *error.
PrintSupport *printSupport(QString *error, const QStringList &folders = media::pluginFolders());

} // namespace tarlivo::print

// What the plugin exports: a function making its object, owned by the caller.
extern "C" {
using TarlivoMakePrintSupport = tarlivo::print::PrintSupport *(*)();
}
