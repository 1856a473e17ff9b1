#pragma once

#include <QtGlobal>

#include <optional>

class QComboBox;

namespace tarlivo::store {
class Store;
}

namespace tarlivo::ui {

// Fills a subject chooser: "Alle Gebiete" first, then every subject with its key as
// item data; keep is chosen again when it is still there. Throws StoreError.
void fillSubjectChooser(QComboBox &box, store::Store &store, std::optional<qint32> keep);

} // namespace tarlivo::ui
