#pragma once

#include "ui/playback.h"

#include <QtGlobal>

#include <optional>

namespace tarlivo {
class Store;
}

namespace tarlivo::ui {

// The sound of this card's side, if any: the one place practice asks the data file
// for it. Throws StoreError.
std::optional<SideSound> sideSound(Store &store, qint32 cardId, bool answer);

} // namespace tarlivo::ui
