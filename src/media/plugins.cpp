#include "media/plugins.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibrary>

namespace tarlivo::media {

QFunctionPointer pluginSymbol(const QString &name, const char *symbol, QString *error, const QStringList &folders)
{
    QStringList reasons;
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QStringLiteral("lib%1.so").arg(name));
        if (!QFile::exists(path))
            continue;
        QLibrary library(path);
        if (!library.load()) {
            reasons << library.errorString();
            continue;
        }
        // Never unloaded: objects it made may outlive any one caller.
        if (const QFunctionPointer maker = library.resolve(symbol))
            return maker;
        reasons << QStringLiteral("%1: %2 fehlt").arg(path, QLatin1String(symbol));
    }
    if (error)
        *error = reasons.isEmpty() ? QStringLiteral("lib%1.so nicht gefunden in %2").arg(name, folders.join(", "))
                                   : reasons.join('\n');
    return nullptr;
}

QStringList pluginFolders()
{
    const QString bin = QCoreApplication::applicationDirPath();
    return {bin, QDir::cleanPath(bin + QStringLiteral("/" TARLIVO_PLUGINS_FROM_BIN))};
}

TarlivoMakeSoundPlayer soundPlayerMaker(QString *error, const QStringList &folders)
{
    return reinterpret_cast<TarlivoMakeSoundPlayer>(
        pluginSymbol(QStringLiteral("tarlivo_sound"), "tarlivo_make_sound_player", error, folders));
}

TarlivoMakeVoice voiceMaker(QString *error, const QStringList &folders)
{
    return reinterpret_cast<TarlivoMakeVoice>(
        pluginSymbol(QStringLiteral("tarlivo_voice"), "tarlivo_make_voice", error, folders));
}

} // namespace tarlivo::media
