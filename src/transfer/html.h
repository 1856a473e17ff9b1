#pragma once

#include <QString>

namespace tarlivo::transfer {

// Plain text from a field written in HTML: <br> and the ends of blocks become line
// breaks, entities are decoded, other tags are dropped. Sound references
// ([sound:...]) and images (<img ...>) are dropped and counted in *media.
QString htmlToText(const QString &html, int *media = nullptr);

} // namespace tarlivo::transfer
