#include "sync/runcommand.h"

#include "store/store.h"
#include "sync/runwording.h"
#include "sync/sync.h"
#include "texts/wording.h"

#include <QDir>
#include <QFileInfo>

using namespace tarlivo::store;

namespace tarlivo::sync {

int runSyncCommand(const SyncRequest &request, QTextStream &out, QTextStream &err)
{
    const QString given =
        request.folder.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(request.folder).absoluteFilePath());
    // Checked before the data file is touched: a mistyped folder leaves no new file.
    if (!given.isEmpty() && !QFileInfo(given).isDir()) {
        err << text::folderMissing(given) << Qt::endl;
        return 1;
    }
    if (given.isEmpty() && !QFileInfo::exists(request.dataFile)) {
        err << QStringLiteral("Die Datendatei %1 gibt es noch nicht, und ohne sie ist kein Abgleichordner gesetzt. "
                              "Bitte geben Sie den Ordner an: tarlivo --abgleichen ORDNER")
                   .arg(texts::quoted(request.dataFile))
            << Qt::endl;
        return 1;
    }
    try {
        std::unique_ptr<Store> store = Store::open(request.dataFile);
        if (store->isReadOnly()) {
            err << text::storeProblem(StoreError(StoreErrorKind::ReadOnly, request.dataFile)) << Qt::endl;
            return 1;
        }
        const std::optional<QString> set = sync::folder(*store);
        const QString folder = given.isEmpty() ? set.value_or(QString()) : given;
        if (folder.isEmpty()) {
            err << QStringLiteral("Für die Datendatei %1 ist kein Abgleichordner gesetzt. Bitte geben Sie ihn an "
                                  "(tarlivo --abgleichen ORDNER) oder wählen Sie ihn unter „Datei → Abgleich …“.")
                       .arg(texts::quoted(request.dataFile))
                << Qt::endl;
            return 1;
        }
        if (!set || set->isEmpty())
            setFolder(*store, folder);
        const Outcome outcome = syncNow(*store, folder);
        out << QStringLiteral("Abgleich mit %1: %2.").arg(texts::quoted(folder), text::outcomeSummary(outcome)) << '\n';
        for (const QString &note : outcome.notes)
            out << note << '\n';
        out.flush();
        return 0;
    } catch (const SyncError &error) {
        err << error.message << Qt::endl;
    } catch (const StoreError &error) {
        err << text::storeProblem(error) << Qt::endl;
    }
    return 1;
}

} // namespace tarlivo::sync
