#include "ui/picture.h"

#include <QBuffer>
#include <QImageReader>

namespace tarlivo::ui {

QSize fittedSize(QSize picture, QSize box)
{
    if (picture.isEmpty() || box.isEmpty())
        return picture.isEmpty() ? QSize() : picture;
    if (picture.width() <= box.width() && picture.height() <= box.height())
        return picture;
    return picture.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QImage decodePicture(const QByteArray &bytes, QSize box)
{
    if (bytes.isEmpty() || bytes.size() > kMaxPictureBytes)
        return QImage();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // The decoder's own allocations stay within the largest picture allowed.
    reader.setAllocationLimit(int(kMaxPicturePixels * 4 / (1024 * 1024)) + 1);
    // The size the file claims, checked before a single pixel is decoded.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || qint64(size.width()) * size.height() > kMaxPicturePixels)
        return QImage();
    const QSize target = fittedSize(size, box);
    if (target != size)
        reader.setScaledSize(target);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return QImage();
    return image;
}

} // namespace tarlivo::ui
