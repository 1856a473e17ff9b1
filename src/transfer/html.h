#pragma once

#include <QString>
#include <QStringList>

namespace tarlivo::transfer {

// Plain text from a field written in HTML: <br> and the ends of blocks become line
// breaks, entities are decoded, other tags are dropped. Sound references
// ([sound:...]) and images (<img ...>) are dropped and counted in *media.
// With refs, the files they name are collected there instead of counted.
struct MediaRefs {
    QStringList pictures; // the src of each <img>
    QStringList sounds;   // the name in each [sound:...]
};
QString htmlToText(const QString &html, int *media = nullptr, MediaRefs *refs = nullptr);

} // namespace tarlivo::transfer
