#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace tarlivo::ui {

// The largest picture shown: anything larger is refused before it is decoded.
inline constexpr qint64 kMaxPicturePixels = 20'000'000;
inline constexpr qint64 kMaxPictureBytes = 20 * 1024 * 1024;

// A picture's size scaled down to fit box, its aspect kept; never larger than it is.
QSize fittedSize(QSize picture, QSize box);

// Decodes a stored picture, scaled down to fit box when one is given. A damaged,
// unknown or hostile file (too many bytes or pixels, a size it does not tell)
// gives a null image: the card then shows its texts alone.
QImage decodePicture(const QByteArray &bytes, QSize box = {});

} // namespace tarlivo::ui
