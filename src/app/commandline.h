#pragma once

#include <QString>
#include <QStringList>

namespace tarlivo::app {

// What the command line asks for.
struct CommandLine {
    enum Action { Start, Import, Export, Due, Print, Sync };
    Action action = Start;
    QString dataFile;   // --datei as given; empty: the usual place
    QString file;       // the file to import from, export or print to; the folder to sync through
    QString subject;    // --gebiet; empty: none given
    bool cards = false; // --karten: print cards to cut out rather than a list
};

// The outcome of reading the arguments (argv, the program's name first).
struct ParsedCommandLine {
    enum Outcome { Run, Help, Version, Error };
    Outcome outcome = Run;
    CommandLine command;
    QString text; // Help, Version: for stdout; Error: the German message for stderr
};

ParsedCommandLine parseCommandLine(const QStringList &arguments);

// Exit status for a command line that cannot be run.
constexpr int kUsageExitCode = 1;

} // namespace tarlivo::app
