#include "shell/legacytakeover.h"

#include "legacy/legacyimport.h"
#include "shell/dialogs.h"
#include "shell/forms.h"
#include "shell/messages.h"

namespace tarlivo::ui {

bool takeOverLegacyFile(Forms &forms, QWidget *parent)
{
    ModPubs &pubs = forms.pubs();
    const QString path = forms.setup().dataFile;
    std::optional<LegacyImportReport> report;
    {
        std::unique_ptr<Progress> progress = forms.dialogs().progress(parent);
        LegacyImportOptions options;
        options.readerPath = forms.legacyReaderPath();
        options.progress = [&progress](qint64 read, qint64 declared) {
            return progress->update(text::legacyProgress(read, declared), read, declared);
        };
        try {
            report = importLegacyFile(path, options);
        } catch (const LegacyImportError &error) {
            progress.reset();
            forms.message(parent, text::legacyImportFailed(error));
            return false;
        }
    }
    // Without a report another running copy has just taken the file over.
    if (report)
        forms.message(parent, text::legacyImported(*report, path));
    try {
        ConnectDB(pubs, forms.setup().dataFile, forms.setup().storeOptions);
        return true;
    } catch (const StoreError &error) {
        forms.message(parent, text::storeError(error, true));
        return false;
    }
}

} // namespace tarlivo::ui
