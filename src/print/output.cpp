#include "print/document.h"

#include "texts/wording.h"

#include <QDir>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>

using namespace tarlivo::store;

namespace tarlivo::print {

void paintPage(QPainter &painter, const Document &document, int index)
{
    const Page &page = document.pages.at(size_t(index));
    painter.save();
    const QPaintDevice *device = painter.device();
    painter.scale(device->logicalDpiX() / kDotsPerInch, device->logicalDpiY() / kDotsPerInch);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, dots(0.15)));
    for (const QLineF &line : page.lines)
        painter.drawLine(line);
    for (const PictureBlock &picture : page.pictures)
        painter.drawImage(picture.rect, picture.image);
    for (const TextBlock &text : page.texts)
        for (int i = 0; i < text.lineCount; ++i)
            text.layout->lineAt(text.firstLine + i).draw(&painter, text.offset);
    painter.restore();
}

namespace {

QString cannotWrite(const QString &path, const QString &why)
{
    return QStringLiteral("%1 kann nicht geschrieben werden: %2").arg(texts::quoted(path), why);
}

} // namespace

void writePdf(const Document &document, const QString &path)
{
    const QFileInfo info(path);
    const QDir folder = info.absoluteDir();
    if (!folder.exists())
        throw PrintError(cannotWrite(
            path, QStringLiteral("Den Ordner %1 gibt es nicht.").arg(texts::quoted(folder.absolutePath()))));
    if (info.isDir())
        throw PrintError(cannotWrite(path, QStringLiteral("Das ist ein Ordner.")));
    // Written under a temporary name beside it and renamed once whole: a failure
    // leaves nothing behind, and an older file of that name stays as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw PrintError(cannotWrite(
            path, QStringLiteral("Der Ordner %1 ist nicht beschreibbar.").arg(texts::quoted(folder.absolutePath()))));
    {
        QPdfWriter writer(&file);
        writer.setResolution(int(kDotsPerInch));
        writer.setPageSize(QPageSize(document.paper == Paper::A4 ? QPageSize::A4 : QPageSize::Letter));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setCreator(QStringLiteral("Tarlivo"));
        writer.setTitle(QStringLiteral("Tarlivo"));
        QPainter painter;
        if (!painter.begin(&writer))
            throw PrintError(cannotWrite(path, QStringLiteral("Das PDF ließ sich nicht anlegen.")));
        for (int i = 0; i < int(document.pages.size()); ++i) {
            if (i > 0)
                writer.newPage();
            paintPage(painter, document, i);
        }
        painter.end();
    }
    if (!file.commit())
        throw PrintError(
            cannotWrite(path, QStringLiteral("Sie ließ sich nicht fertig schreiben (%1).").arg(file.errorString())));
}

} // namespace tarlivo::print
