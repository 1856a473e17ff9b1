#include "ui/legacytakeover.h"

#include "legacy/legacyimport.h"
#include "ui/dialogs.h"
#include "ui/messages.h"

using namespace tarlivo::store;
using namespace tarlivo::legacy;

namespace tarlivo::ui {

bool takeOverLegacyFile(const QString &path, const QString &readerPath, Dialogs &dialogs, QWidget *parent)
{
    std::optional<LegacyImportReport> report;
    {
        std::unique_ptr<Progress> progress = dialogs.progress(parent);
        LegacyImportOptions options;
        options.readerPath = readerPath;
        options.progress = [&progress](qint64 read, qint64 declared) {
            return progress->update(text::legacyProgress(read, declared), read, declared);
        };
        try {
            report = importLegacyFile(path, options);
        } catch (const LegacyImportError &error) {
            progress.reset();
            dialogs.message(parent, text::legacyImportFailed(error));
            return false;
        }
    }
    // Without a report another running copy has just taken the file over.
    if (report)
        dialogs.message(parent, text::legacyImported(*report, path));
    return true;
}

} // namespace tarlivo::ui
