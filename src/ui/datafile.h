#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace tarlivo::ui {

// Where the data file lies, decided once at start-up for the windows and the
// command line alike.
struct DataFileChoice {
    QString path;              // absolute path of the data file; empty when error is set
    QString error;             // German, naming the path and the reason
    bool createFolder = false; // the user's data folder, made on first use
};

// The data file for this run. requested is the --datei value (empty: none given),
// taken relative to workingDir; its folder must exist. Without it, a portable copy
// (its folder writable and not an installed bin/ folder) keeps the file beside the
// program, an installed one in $XDG_DATA_HOME/Tarlivo (by default
// ~/.local/share/Tarlivo). Creates nothing.
DataFileChoice chooseDataFile(const QString &requested, const QString &programDir, const QProcessEnvironment &env,
                              const QString &workingDir);

// Makes the user's data folder when the choice asks for it. False, with choice.error
// set, when it cannot be made.
bool makeDataFolder(DataFileChoice &choice);

// The program that reads files of the older Access-based program: beside the
// program (a build or portable copy), else where an installation puts it.
QString findLegacyReader(const QString &programDir);

// True when programDir is the bin/ folder of an installation, told by the reader
// lying where the installation puts it.
bool isInstalledLayout(const QString &programDir);

} // namespace tarlivo::ui
