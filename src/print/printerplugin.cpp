// The printer plugin: the only code that links Qt PrintSupport, loaded on the first
// preview or print.
#include "print/printsupport.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace {

// A printer set to the document's paper, painting from its very corner: the pages
// are laid out for the whole sheet.
void prepare(QPrinter &printer, const tarlivo::print::PrintPages &pages)
{
    printer.setPageSize(QPageSize(pages.letter ? QPageSize::Letter : QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setFullPage(true);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    printer.setDocName(QStringLiteral("Tarlivo"));
}

// Every page, or the range the user chose in the print dialog.
bool paint(QPrinter &printer, const tarlivo::print::PrintPages &pages)
{
    int first = 1;
    int last = pages.count;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = std::max(1, printer.fromPage());
        last = std::min(pages.count, printer.toPage() > 0 ? printer.toPage() : pages.count);
    }
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    for (int page = first; page <= last; ++page) {
        if (page > first && !printer.newPage())
            return false;
        pages.paint(painter, page - 1);
    }
    return painter.end();
}

class QtPrintSupport final : public tarlivo::print::PrintSupport {
public:
    void preview(const tarlivo::print::PrintPages &pages, QWidget *parent,
                 const std::function<bool(QDialog &)> &show) override
    {
        QPrinter printer(QPrinter::HighResolution);
        prepare(printer, pages);
        QPrintPreviewDialog dialog(&printer, parent);
        dialog.setObjectName(QStringLiteral("printPreview"));
        dialog.setWindowTitle(QStringLiteral("Druckvorschau"));
        dialog.setAccessibleName(dialog.windowTitle());
        QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                         [&pages](QPrinter *target) { paint(*target, pages); });
        show(dialog);
    }

    bool print(const tarlivo::print::PrintPages &pages, QWidget *parent, const std::function<bool(QDialog &)> &show,
               QString *error) override
    {
        QPrinter printer(QPrinter::HighResolution);
        prepare(printer, pages);
        QPrintDialog dialog(&printer, parent);
        dialog.setObjectName(QStringLiteral("printDialog"));
        dialog.setWindowTitle(QStringLiteral("Drucken"));
        dialog.setAccessibleName(dialog.windowTitle());
        dialog.setMinMax(1, pages.count);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange);
        if (!show(dialog))
            return false;
        if (!paint(printer, pages)) {
            if (error)
                *error =
                    QStringLiteral("Der Drucker „%1“ hat den Auftrag nicht angenommen.").arg(printer.printerName());
            return false;
        }
        return true;
    }
};

} // namespace

extern "C" Q_DECL_EXPORT tarlivo::print::PrintSupport *tarlivo_make_print_support() { return new QtPrintSupport; }
