#include "practice/sidesound.h"

#include "store/media.h"
#include "store/store.h"

namespace tarlivo::ui {

std::optional<SideSound> sideSound(Store &store, qint32 cardId, bool answer)
{
    for (const MediaFile &file : store.cardMedia(cardId, answer ? CardSide::Answer : CardSide::Question))
        if (file.kind == MediaKind::Sound)
            return SideSound{store.mediaBytes(file.id), file.name};
    return std::nullopt;
}

} // namespace tarlivo::ui
