#include "transfer/command.h"

#include "store/numbertest.h"
#include "store/store.h"
#include "transfer/exporter.h"
#include "transfer/importer.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QFileInfo>

using namespace tarlivo::store;

namespace tarlivo::transfer {
namespace {

// What is due, one line per subject holding cards, for a reminder to read: a
// report never creates the data file it is asked about.
int reportDue(const CommandRequest &request, QTextStream &out, QTextStream &err)
{
    if (!QFileInfo::exists(request.dataFile)) {
        err << text::noDataFile(request.dataFile) << Qt::endl;
        return 1;
    }
    StoreOptions options;
    options.now = request.now;
    options.backups = false; // it never writes
    std::unique_ptr<Store> store = Store::open(request.dataFile, options);
    std::optional<qint32> only;
    if (!request.subject.isEmpty()) {
        only = store->subjectId(request.subject);
        if (!only) {
            err << text::subjectNotFound(request.subject) << Qt::endl;
            return 1;
        }
    }
    out << QStringLiteral("Gebiet\tFällig\tKarten") << '\n';
    for (const SubjectDue &subject : store->dueBySubject())
        if (!only || subject.subjectId == *only)
            out << subject.name << '\t' << subject.figures.dueNow << '\t' << subject.figures.cards << '\n';
    out.flush();
    return 0;
}

} // namespace

int runCommand(const CommandRequest &request, QTextStream &out, QTextStream &err)
{
    try {
        if (request.action == CommandRequest::Due)
            return reportDue(request, out, err);
        // The same rules as the windows: a missing file is created, a foreign one refused.
        std::unique_ptr<Store> store = Store::open(request.dataFile);
        if (request.action == CommandRequest::Export) {
            const ExportResult result = exportCards(*store, request.file, request.subject);
            out << text::exportSummary(result.cards, result.subjects, request.file, result.leftOut) << Qt::endl;
            return 0;
        }
        std::unique_ptr<ImportFile> file = ImportFile::open(request.file);
        ImportSettings settings;
        settings.targetSubject = request.subject;
        // Anki, kvtml and Pauker: a subject given takes all cards instead of the decks or lessons.
        if (file->kind() != ImportFile::Kind::Text && !request.subject.isEmpty() && readsAsNumber(request.subject)) {
            err << text::invalidSubjectName(request.subject) << Qt::endl;
            return 1;
        }
        if (file->kind() == ImportFile::Kind::Text && !file->hasSubjectColumn()) {
            if (request.subject.isEmpty()) {
                err << text::noSubjectGiven(request.file) << Qt::endl;
                return 1;
            }
            if (readsAsNumber(request.subject)) {
                err << text::invalidSubjectName(request.subject) << Qt::endl;
                return 1;
            }
        }
        const ImportSummary summary = runImport(*file, *store, settings);
        out << text::importSummary(summary, request.file) << Qt::endl;
        return 0;
    } catch (const TransferError &e) {
        err << e.message() << Qt::endl;
    } catch (const StoreError &e) {
        err << text::storeProblem(e) << Qt::endl;
    }
    return 1;
}

} // namespace tarlivo::transfer
