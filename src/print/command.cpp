#include "print/command.h"

#include "print/document.h"
#include "store/store.h"
#include "texts/wording.h"
#include "transfer/transfertexts.h"

#include <QFileInfo>

using namespace tarlivo::store;

namespace tarlivo::print {

int runPrintCommand(const PrintRequest &request, QTextStream &out, QTextStream &err)
{
    try {
        // Printing only reads: a data file that is not there is not made for it.
        if (!QFileInfo::exists(request.dataFile)) {
            err << transfer::text::noDataFile(request.dataFile) << Qt::endl;
            return 1;
        }
        StoreOptions storeOptions;
        storeOptions.backups = false;
        std::unique_ptr<Store> store = Store::open(request.dataFile, storeOptions);
        PrintOptions options;
        options.subject = request.subject;
        options.layout = request.cards ? Layout::Cards : Layout::List;
        if (!options.subject.isEmpty() && !store->subjectExists(options.subject)) {
            err << transfer::text::subjectNotFound(options.subject) << Qt::endl;
            return 1;
        }
        const std::vector<PrintSubject> subjects = readCards(*store, options);
        if (subjects.empty()) {
            err << (options.subject.isEmpty() ? QStringLiteral("Es gibt keine Karten zum Drucken.")
                                              : QStringLiteral("Das Gebiet %1 hat keine Karten zum Drucken.")
                                                    .arg(texts::quoted(options.subject)))
                << Qt::endl;
            return 1;
        }
        const Document document = layOut(subjects, options);
        writePdf(document, request.file);
        out << texts::byNumber(cardCount(subjects), "%1 Karte", "%1 Karten")
            << texts::byNumber(qint64(document.pages.size()), " auf %1 Seite", " auf %1 Seiten")
            << QStringLiteral(" in %1 geschrieben.").arg(texts::quoted(request.file)) << Qt::endl;
        return 0;
    } catch (const PrintError &e) {
        err << e.message() << Qt::endl;
    } catch (const StoreError &e) {
        err << transfer::text::storeProblem(e) << Qt::endl;
    }
    return 1;
}

} // namespace tarlivo::print
