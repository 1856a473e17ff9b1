#include "legacy/legacyimport.h"

#include "store/store.h"

using namespace tarlivo::store;

namespace tarlivo::legacy {
namespace {

using Error = LegacyImportError;
using legacy::tableError;
using legacy::writeFailed;

} // namespace

std::optional<LegacyImportReport> importLegacyFile(const QString &path, const LegacyImportOptions &options)
{
    const legacy::FileLock lock(path);
    // Another copy may have put its new store in place while this one waited.
    const FileFormat format = sniffFormat(path);
    if (!lock.stillAt(path) || (format != FileFormat::Jet3 && format != FileFormat::Jet4))
        return std::nullopt;

    LegacyData data = readLegacyFile(path, options);
    if (!data.missingTables.isEmpty())
        throw tableError(Error::MissingTable, path, data.missingTables.first());

    legacy::TempStore temp(path);
    LegacyImportReport report;
    try {
        report = writeLegacyStore(data, temp.path());
    } catch (Error &error) {
        // Told about the file the user knows, not the temporary one.
        Error e(error.kind(), path, error.detail());
        e.table = error.table;
        e.column = error.column;
        e.diskFull = error.diskFull;
        e.readOnly = error.readOnly;
        throw e;
    }

    // Checked as the program will open it.
    try {
        StoreOptions quiet;
        quiet.backups = false;
        const std::unique_ptr<Store> store = Store::open(temp.path(), quiet);
        const QStringList problems = store->checkInvariants(true);
        if (!problems.isEmpty())
            throw Error(Error::Unsound, path, problems.join(QStringLiteral("; ")));
    } catch (const StoreError &error) {
        throw writeFailed(path, error);
    }

    report.originalPath = legacy::swapIntoPlace(path, temp, lock);
    return report;
}

} // namespace tarlivo::legacy
