#include "app/commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#ifndef TARLIVO_VERSION
#define TARLIVO_VERSION "0"
#endif

namespace tarlivo::app {

namespace {

struct Options {
    QCommandLineOption datei{QStringLiteral("datei"), {}, QStringLiteral("PFAD")};
    QCommandLineOption importieren{QStringLiteral("importieren"), {}, QStringLiteral("DATEI")};
    QCommandLineOption exportieren{QStringLiteral("exportieren"), {}, QStringLiteral("DATEI")};
    QCommandLineOption subject{QStringLiteral("gebiet"), {}, QStringLiteral("NAME")};
    QCommandLineOption drucken{QStringLiteral("drucken"), {}, QStringLiteral("AUSGABE")};
    QCommandLineOption faellig{QStringLiteral("faellig")};
    // Its folder, optional, comes as the one argument beside the options.
    QCommandLineOption abgleichen{QStringLiteral("abgleichen")};
    QCommandLineOption karten{QStringLiteral("karten")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}};

    QList<const QCommandLineOption *> withValue() const
    {
        return {&datei, &importieren, &exportieren, &drucken, &subject};
    }
};

// Written out here rather than taken from the parser, whose headings are English
// until a translation is loaded, and none is before the arguments are read.
QString helpText(const QString &program)
{
    return QStringLiteral("Aufruf: %1 [--datei PFAD] [--importieren DATEI | --exportieren DATEI | --faellig]"
                          " [--gebiet NAME]\n"
                          "       %1 [--datei PFAD] --drucken AUSGABE.pdf [--gebiet NAME] [--karten]\n"
                          "       %1 [--datei PFAD] --abgleichen [ORDNER]\n"
                          "\n"
                          "Tarlivo, der Karteikasten zum Lernen mit Fragen und Antworten.\n"
                          "Ohne Optionen öffnet sich das Startfenster.\n"
                          "\n"
                          "Optionen:\n"
                          "  --datei PFAD          die Datendatei PFAD verwenden, statt der üblichen\n"
                          "                        (neben dem Programm, wenn sein Ordner beschreibbar\n"
                          "                        ist, sonst $XDG_DATA_HOME/Tarlivo/Tarlivo.mdb)\n"
                          "  --importieren DATEI   Fragen und Antworten aus DATEI in die Datendatei\n"
                          "                        übernehmen, ohne Fenster\n"
                          "  --exportieren DATEI   Fragen und Antworten in DATEI schreiben, ohne Fenster\n"
                          "  --faellig             je Gebiet mit Karten zeigen, wie viele jetzt fällig\n"
                          "                        sind, ohne Fenster (Gebiet, Fällig, Karten); gezählt\n"
                          "                        werden die Plätze der geübten Richtungen: eine Karte,\n"
                          "                        die in beide Richtungen geübt wird, zählt zweimal\n"
                          "  --drucken AUSGABE     die Karten als PDF nach AUSGABE drucken (A4), ohne\n"
                          "                        Fenster: je Gebiet eine Liste Frage, Antwort, Fach\n"
                          "  --karten              mit --drucken Karteikarten zum Ausschneiden statt der\n"
                          "                        Liste: 8 je Blatt, eine Seite Fragen, eine Seite\n"
                          "                        Antworten (beidseitig, über die lange Kante)\n"
                          "  --abgleichen [ORDNER] die Datendatei über ORDNER mit den anderen Rechnern\n"
                          "                        abgleichen, ohne Fenster (etwa für cron); ohne ORDNER\n"
                          "                        über den Ordner, der für die Datei gewählt ist; ein\n"
                          "                        angegebener wird gemerkt, wenn noch keiner gewählt ist\n"
                          "  --gebiet NAME         beim Importieren, Exportieren, Drucken oder --faellig\n"
                          "                        nur das Gebiet NAME\n"
                          "  -h, --help            diese Hilfe zeigen\n"
                          "  -v, --version         die Version zeigen\n"
                          "\n"
                          "Rückgabewert: 0 bei Erfolg, 1 bei einem Fehler.\n")
        .arg(program);
}

QString hint(const QString &program)
{
    return QStringLiteral("\n„%1 --help“ zeigt die möglichen Optionen.\n").arg(program);
}

ParsedCommandLine error(const QString &program, const QString &message)
{
    ParsedCommandLine result;
    result.outcome = ParsedCommandLine::Error;
    result.text = QStringLiteral("%1: %2").arg(program, message) + hint(program);
    return result;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList &given)
{
    // "--abgleichen=ORDNER" as "--abgleichen ORDNER": the folder is optional, which the
    // parser's options with a value are not.
    QStringList arguments;
    for (const QString &argument : given) {
        if (argument.startsWith(QLatin1String("--abgleichen="))) {
            arguments << QStringLiteral("--abgleichen") << argument.mid(13);
            continue;
        }
        arguments << argument;
    }
    const QString program = QStringLiteral("tarlivo");
    Options o;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const QCommandLineOption *option : o.withValue())
        parser.addOption(*option);
    parser.addOption(o.faellig);
    parser.addOption(o.abgleichen);
    parser.addOption(o.karten);
    parser.addOption(o.help);
    parser.addOption(o.version);

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString &name = unknown.first();
            return error(program, QStringLiteral("Unbekannte Option „%1%2“.").arg(name.size() == 1 ? "-" : "--", name));
        }
        // The parser fails otherwise only on an option lacking its value or
        // carrying one it takes none of.
        for (const QCommandLineOption *option : o.withValue())
            if (arguments.size() > 1 && arguments.last() == QStringLiteral("--") + option->names().first())
                return error(program, QStringLiteral("Nach „%1“ fehlt der Wert.").arg(arguments.last()));
        return error(program,
                     QStringLiteral("Die Optionen --faellig, --karten, --help und --version nehmen keinen Wert."));
    }
    const bool sync = parser.isSet(o.abgleichen);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > (sync ? 1 : 0))
        return error(program, QStringLiteral("Unerwartetes Argument „%1“.").arg(positional.at(sync ? 1 : 0)));
    if (sync && !positional.isEmpty() && positional.first().trimmed().isEmpty())
        return error(program, QStringLiteral("Der Ordner nach --abgleichen ist leer."));

    ParsedCommandLine result;
    if (parser.isSet(o.help)) {
        result.outcome = ParsedCommandLine::Help;
        result.text = helpText(program);
        return result;
    }
    if (parser.isSet(o.version)) {
        result.outcome = ParsedCommandLine::Version;
        result.text = QStringLiteral("Tarlivo " TARLIVO_VERSION "\n");
        return result;
    }

    for (const QCommandLineOption *option : o.withValue()) {
        const QString name = QStringLiteral("--") + option->names().first();
        const QStringList values = parser.values(*option);
        if (values.size() > 1)
            return error(program, QStringLiteral("Die Option %1 ist mehrfach angegeben.").arg(name));
        if (values.size() == 1 && values.first().trimmed().isEmpty())
            return error(program, QStringLiteral("Der Wert von %1 ist leer.").arg(name));
    }
    const bool import = parser.isSet(o.importieren);
    const bool exportTo = parser.isSet(o.exportieren);
    const bool due = parser.isSet(o.faellig);
    const bool print = parser.isSet(o.drucken);
    if (import && exportTo)
        return error(program, QStringLiteral("--importieren und --exportieren gehen nicht zugleich."));
    if (due && (import || exportTo))
        return error(program, QStringLiteral("--faellig geht nicht zugleich mit --importieren oder --exportieren."));
    if (print && (import || exportTo || due))
        return error(program,
                     QStringLiteral("--drucken geht nicht zugleich mit --importieren, --exportieren oder --faellig."));
    if (sync && (import || exportTo || due || print))
        return error(program, QStringLiteral("--abgleichen geht nicht zugleich mit --importieren, --exportieren, "
                                             "--faellig oder --drucken."));
    if (parser.isSet(o.subject) && !import && !exportTo && !due && !print)
        return error(program,
                     QStringLiteral("--gebiet gilt nur mit --importieren, --exportieren, --drucken oder --faellig."));
    if (parser.isSet(o.karten) && !print)
        return error(program, QStringLiteral("--karten gilt nur mit --drucken."));

    CommandLine &command = result.command;
    command.action = import     ? CommandLine::Import
                     : exportTo ? CommandLine::Export
                     : due      ? CommandLine::Due
                     : print    ? CommandLine::Print
                     : sync     ? CommandLine::Sync
                                : CommandLine::Start;
    command.dataFile = parser.value(o.datei);
    command.file = import  ? parser.value(o.importieren)
                   : print ? parser.value(o.drucken)
                   : sync  ? positional.value(0)
                           : parser.value(o.exportieren);
    command.cards = parser.isSet(o.karten);
    command.subject = parser.value(o.subject);
    return result;
}

} // namespace tarlivo::app
