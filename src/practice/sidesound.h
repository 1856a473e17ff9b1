#pragma once

#include "ui/playback.h"

#include <QtGlobal>

#include <optional>

namespace tarlivo::store {
class Store;
}

namespace tarlivo::windows {

// The sound of this card's side, if any: the one place practice asks the data file
// for it. Throws StoreError.
std::optional<ui::SideSound> sideSound(store::Store &store, qint32 cardId, bool answer);

} // namespace tarlivo::windows
