#pragma once

#include <QString>

class QWidget;

namespace tarlivo::ui {

class Dialogs;

// Takes the file of the older Access-based program at path over into a new store
// under the same name, with a progress window while it reads and one message telling
// what was taken over and where the old file now lies. False after telling the user
// why not: the old file is then untouched. readerPath: the program that reads it.
bool takeOverLegacyFile(const QString &path, const QString &readerPath, Dialogs &dialogs, QWidget *parent);

} // namespace tarlivo::ui
