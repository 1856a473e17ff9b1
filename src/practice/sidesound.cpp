#include "practice/sidesound.h"

#include "store/store.h"

namespace tarlivo::ui {

std::optional<SideSound> sideSound(Store &store, qint32 cardId, bool answer)
{
    // The data file holds no media yet: no card has a sound of its own.
    Q_UNUSED(store);
    Q_UNUSED(cardId);
    Q_UNUSED(answer);
    return std::nullopt;
}

} // namespace tarlivo::ui
