#include "shell/legacytakeover.h"

#include "legacy/legacyimport.h"
#include "shell/dialogs.h"
#include "shell/messages.h"
#include "shell/session.h"

namespace tarlivo::ui {

bool takeOverLegacyFile(Session &session, QWidget *parent)
{
    const QString path = session.dataFile();
    std::optional<LegacyImportReport> report;
    {
        std::unique_ptr<Progress> progress = session.dialogs().progress(parent);
        LegacyImportOptions options;
        options.readerPath = session.legacyReaderPath();
        options.progress = [&progress](qint64 read, qint64 declared) {
            return progress->update(text::legacyProgress(read, declared), read, declared);
        };
        try {
            report = importLegacyFile(path, options);
        } catch (const LegacyImportError &error) {
            progress.reset();
            session.message(parent, text::legacyImportFailed(error));
            return false;
        }
    }
    // Without a report another running copy has just taken the file over.
    if (report)
        session.message(parent, text::legacyImported(*report, path));
    try {
        session.open();
        return true;
    } catch (const StoreError &error) {
        session.message(parent, text::storeError(error, true));
        return false;
    }
}

} // namespace tarlivo::ui
