#pragma once

#include "media/output.h"

#include <QString>
#include <QStringList>

namespace tarlivo::media {

// The folders the plugins are looked for in, first match wins: beside the program
// (a build or a portable copy), then where the package installs them.
QStringList pluginFolders();

// The symbol of the plugin library lib<name>.so from the first of folders that
// holds it; null when none loads, with the reason in *error. A library once loaded
// stays for the rest of the run.
QFunctionPointer pluginSymbol(const QString &name, const char *symbol, QString *error,
                              const QStringList &folders = pluginFolders());

// Loads the sound or voice plugin from the first of folders that holds it and hands
// out its maker; null when none loads, with the reason in *error. A library once
// loaded stays for the rest of the run.
TarlivoMakeSoundPlayer soundPlayerMaker(QString *error, const QStringList &folders = pluginFolders());
TarlivoMakeVoice voiceMaker(QString *error, const QStringList &folders = pluginFolders());

} // namespace tarlivo::media
