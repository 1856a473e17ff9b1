#include "practice/sidesound.h"

#include "store/media.h"
#include "store/store.h"

using namespace tarlivo::store;
using namespace tarlivo::ui;

namespace tarlivo::windows {

std::optional<SideSound> sideSound(Store &store, qint32 cardId, bool answer)
{
    for (const MediaFile &file : store.cardMedia(cardId, answer ? CardSide::Answer : CardSide::Question))
        if (file.kind == MediaKind::Sound)
            return SideSound{store.mediaBytes(file.id), file.name};
    return std::nullopt;
}

} // namespace tarlivo::windows
