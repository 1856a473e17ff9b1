#include "app/application.h"
#include "app/commandline.h"
#include "app/forms.h"
#include "print/command.h"
#include "sync/runcommand.h"
#include "transfer/command.h"
#include "ui/datafile.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcessEnvironment>
#include <QTextStream>

#include <cstdio>

using namespace tarlivo::store;

namespace {

QStringList argumentList(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

// The program's folder without a QCoreApplication: the arguments are read, and
// --help answered, before any application object (and so any display) exists.
QString programDir()
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.exists() ? QFileInfo(self.canonicalFilePath()).absolutePath() : QDir::currentPath();
}

int runCommand(const tarlivo::app::CommandLine &command, const QString &dataFile)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    tarlivo::transfer::CommandRequest request;
    using Request = tarlivo::transfer::CommandRequest;
    request.action = command.action == tarlivo::app::CommandLine::Import ? Request::Import
                     : command.action == tarlivo::app::CommandLine::Due  ? Request::Due
                                                                         : Request::Export;
    request.dataFile = dataFile;
    request.file = command.file;
    request.subject = command.subject;
    return tarlivo::transfer::runCommand(request, out, err);
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace tarlivo::ui;
    using namespace tarlivo::app;
    const ParsedCommandLine parsed = parseCommandLine(argumentList(argc, argv));
    switch (parsed.outcome) {
    case ParsedCommandLine::Help:
    case ParsedCommandLine::Version:
        QTextStream(stdout) << parsed.text;
        return 0;
    case ParsedCommandLine::Error:
        QTextStream(stderr) << parsed.text;
        return kUsageExitCode;
    case ParsedCommandLine::Run:
        break;
    }
    const CommandLine &command = parsed.command;

    DataFileChoice data =
        chooseDataFile(command.dataFile, programDir(), QProcessEnvironment::systemEnvironment(), QDir::currentPath());
    // A report of what is due, and printing, read the file where it is and never make one.
    if (command.action != CommandLine::Due && command.action != CommandLine::Print)
        makeDataFolder(data);

    if (command.action == CommandLine::Print) {
        // Fonts and painting need Qt Gui, but no window: the offscreen platform
        // serves without a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        app.setApplicationName(QStringLiteral("Tarlivo"));
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (!data.error.isEmpty()) {
            err << "tarlivo: " << data.error << '\n';
            return 1;
        }
        return tarlivo::print::runPrintCommand({data.path, command.file, command.subject, command.cards}, out, err);
    }

    if (command.action != CommandLine::Start) {
        QCoreApplication app(argc, argv);
        app.setApplicationName(QStringLiteral("Tarlivo"));
        if (!data.error.isEmpty()) {
            QTextStream(stderr) << "tarlivo: " << data.error << '\n';
            return 1;
        }
        if (command.action == CommandLine::Sync) {
            QTextStream out(stdout);
            QTextStream err(stderr);
            return tarlivo::sync::runSyncCommand({data.path, command.file}, out, err);
        }
        return runCommand(command, data.path);
    }

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tarlivo"));
    app.setDesktopFileName(QStringLiteral("de.velmorin.Tarlivo"));
    // The program ends by "&Ende" or by closing the start window or the backdrop.
    app.setQuitOnLastWindowClosed(false);
    installGermanTranslation(app);

    QtDialogs dialogs;
    if (!data.error.isEmpty()) {
        // Started from the menu there is no terminal to read it on.
        QTextStream(stderr) << "tarlivo: " << data.error << '\n';
        dialogs.message(nullptr, data.error);
        return 1;
    }
    Forms forms(dialogs, {data.path, {}, [] { QCoreApplication::quit(); }});
    forms.start();
    return app.exec();
}
