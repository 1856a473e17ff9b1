#include "app/aboutwindow.h"
#include "app/commandline.h"
#include "media/plugins.h"
#include "print/printsupport.h"
#include "testapp.h"
#include "ui/datafile.h"

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <unistd.h>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

// Catches what the About window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestStartup : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    // An installation: bin/tarlivo with the reader in libexec/tarlivo.
    void makeInstallation(const QString &prefix)
    {
        QVERIFY(QDir().mkpath(path(prefix + "/bin")) && QDir().mkpath(path(prefix + "/libexec/tarlivo")));
        QFile reader(path(prefix + "/libexec/tarlivo/tarlivo-mdb-reader"));
        QVERIFY(reader.open(QIODevice::WriteOnly));
        reader.setPermissions(reader.permissions() | QFile::ExeOwner);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        makeInstallation("usr");
        QVERIFY(QDir().mkpath(path("portable")) && QDir().mkpath(path("work")) && QDir().mkpath(path("home")));
        QFile file(path("work/blocker"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("dataFile");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text"); // contained in the output
        const int run = ParsedCommandLine::Run, err = ParsedCommandLine::Error;
        QTest::newRow("plain start") << QStringList{} << run << int(CommandLine::Start) << ""
                                     << ""
                                     << "";
        QTest::newRow("datei") << QStringList{"--datei", "a b.mdb"} << run << int(CommandLine::Start) << "a b.mdb"
                               << ""
                               << "";
        QTest::newRow("datei=") << QStringList{"--datei=x.mdb", "--exportieren", "out", "--gebiet", "Mathe"} << run
                                << int(CommandLine::Export) << "x.mdb"
                                << "out"
                                << "";
        QTest::newRow("import") << QStringList{"--importieren", "in.apkg"} << run << int(CommandLine::Import) << ""
                                << "in.apkg"
                                << "";
        QTest::newRow("due report") << QStringList{"--faellig", "--gebiet", "Mathe"} << run << int(CommandLine::Due)
                                    << ""
                                    << ""
                                    << "";
        QTest::newRow("due report with import") << QStringList{"--faellig", "--importieren", "a"} << err << 0 << ""
                                                << ""
                                                << "nicht zugleich";
        QTest::newRow("print") << QStringList{"--drucken", "a.pdf", "--gebiet", "Mathe", "--karten"} << run
                               << int(CommandLine::Print) << ""
                               << "a.pdf"
                               << "";
        QTest::newRow("print with export") << QStringList{"--drucken", "a.pdf", "--exportieren", "b"} << err << 0 << ""
                                           << ""
                                           << "nicht zugleich";
        QTest::newRow("cards without print") << QStringList{"--karten"} << err << 0 << ""
                                             << ""
                                             << "--karten gilt nur mit --drucken";
        QTest::newRow("help") << QStringList{"-h"} << int(ParsedCommandLine::Help) << 0 << ""
                              << ""
                              << "--datei PFAD";
        QTest::newRow("help: what Karten counts") << QStringList{"--help"} << int(ParsedCommandLine::Help) << 0 << ""
                                                  << ""
                                                  << "die Plätze der geübten Richtungen";
        QTest::newRow("version") << QStringList{"--version"} << int(ParsedCommandLine::Version) << 0 << ""
                                 << ""
                                 << "Tarlivo 2.";
        QTest::newRow("unknown") << QStringList{"--file", "x"} << err << 0 << ""
                                 << ""
                                 << "Unbekannte Option „--file“";
        QTest::newRow("no value") << QStringList{"--datei"} << err << 0 << ""
                                  << ""
                                  << "Nach „--datei“ fehlt der Wert";
        QTest::newRow("empty value") << QStringList{"--datei="} << err << 0 << ""
                                     << ""
                                     << "leer";
        QTest::newRow("twice") << QStringList{"--datei", "a", "--datei", "b"} << err << 0 << ""
                               << ""
                               << "mehrfach";
        QTest::newRow("both") << QStringList{"--importieren", "a", "--exportieren", "b"} << err << 0 << ""
                              << ""
                              << "nicht zugleich";
        QTest::newRow("gebiet alone") << QStringList{"--gebiet", "Mathe"} << err << 0 << ""
                                      << ""
                                      << "nur mit";
        QTest::newRow("positional") << QStringList{"Tarlivo.mdb"} << err << 0 << ""
                                    << ""
                                    << "Unerwartetes Argument";
        QTest::newRow("sync, the folder set")
            << QStringList{"--abgleichen", "--datei", "a.mdb"} << run << int(CommandLine::Sync) << "a.mdb"
            << ""
            << "";
        QTest::newRow("sync through a folder")
            << QStringList{"--abgleichen", "Sync/Tarlivo"} << run << int(CommandLine::Sync) << ""
            << "Sync/Tarlivo"
            << "";
        QTest::newRow("sync=folder") << QStringList{"--abgleichen=Sync"} << run << int(CommandLine::Sync) << ""
                                     << "Sync"
                                     << "";
        QTest::newRow("sync, two folders") << QStringList{"--abgleichen", "a", "b"} << err << 0 << ""
                                           << ""
                                           << "Unerwartetes Argument „b“";
        QTest::newRow("sync with import") << QStringList{"--abgleichen", "--importieren", "a"} << err << 0 << ""
                                          << ""
                                          << "nicht zugleich";
        QTest::newRow("help: sync") << QStringList{"--help"} << int(ParsedCommandLine::Help) << 0 << ""
                                    << ""
                                    << "--abgleichen [ORDNER]";
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, outcome);
        QFETCH(int, action);
        QFETCH(QString, dataFile);
        QFETCH(QString, file);
        QFETCH(QString, text);
        const ParsedCommandLine parsed = parseCommandLine(QStringList{"tarlivo"} + args);
        QCOMPARE(int(parsed.outcome), outcome);
        QVERIFY2(parsed.text.contains(text), qPrintable(parsed.text));
        if (outcome != ParsedCommandLine::Run)
            return;
        QCOMPARE(int(parsed.command.action), action);
        QCOMPARE(parsed.command.dataFile, dataFile);
        QCOMPARE(parsed.command.file, file);
    }

    void dataFile_data()
    {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("programDir");
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("expected"); // under the temporary dir; empty: refused
        QTest::addColumn<QString>("error");
        QTest::newRow("portable copy") << ""
                                       << "portable"
                                       << "/xdg"
                                       << "home"
                                       << "portable/Tarlivo.mdb"
                                       << "";
        QTest::newRow("installed") << ""
                                   << "usr/bin"
                                   << "xdg"
                                   << "home"
                                   << "xdg/Tarlivo/Tarlivo.mdb"
                                   << "";
        QTest::newRow("installed, no XDG") << ""
                                           << "usr/bin"
                                           << ""
                                           << "home"
                                           << "home/.local/share/Tarlivo/Tarlivo.mdb"
                                           << "";
        QTest::newRow("relative XDG ignored") << ""
                                              << "usr/bin"
                                              << "relative"
                                              << "home"
                                              << "home/.local/share/Tarlivo/Tarlivo.mdb"
                                              << "";
        QTest::newRow("no home at all") << ""
                                        << "usr/bin"
                                        << ""
                                        << ""
                                        << ""
                                        << "XDG_DATA_HOME";
        QTest::newRow("datei relative") << "eigene.mdb"
                                        << "usr/bin"
                                        << "xdg"
                                        << "home"
                                        << "work/eigene.mdb"
                                        << "";
        QTest::newRow("datei absolute") << "@/portable/x.mdb"
                                        << "usr/bin"
                                        << "xdg"
                                        << "home"
                                        << "portable/x.mdb"
                                        << "";
        QTest::newRow("datei folder") << "@/portable"
                                      << "portable"
                                      << ""
                                      << ""
                                      << ""
                                      << "ist ein Ordner";
        QTest::newRow("datei missing folder") << "fehlt/x.mdb"
                                              << "portable"
                                              << ""
                                              << ""
                                              << ""
                                              << "gibt es nicht";
        QTest::newRow("datei in a file") << "blocker/x.mdb"
                                         << "portable"
                                         << ""
                                         << ""
                                         << ""
                                         << "gibt es nicht";
    }

    void dataFile()
    {
        QFETCH(QString, requested);
        QFETCH(QString, programDir);
        QFETCH(QString, xdg);
        QFETCH(QString, home);
        QFETCH(QString, expected);
        QFETCH(QString, error);
        QProcessEnvironment env;
        if (!xdg.isEmpty())
            env.insert("XDG_DATA_HOME", xdg.startsWith('/') || xdg == "relative" ? xdg : path(xdg));
        if (!home.isEmpty())
            env.insert("HOME", path(home));
        requested.replace("@", m_dir.path());
        const DataFileChoice choice = chooseDataFile(requested, path(programDir), env, path("work"));
        if (expected.isEmpty()) {
            QVERIFY(choice.path.isEmpty());
            QVERIFY2(choice.error.contains(error), qPrintable(choice.error));
        } else {
            QVERIFY2(choice.error.isEmpty(), qPrintable(choice.error));
            QCOMPARE(choice.path, path(expected));
            // Only the user's data folder is ever made; a named file's folder must exist.
            QCOMPARE(choice.createFolder, expected.endsWith("Tarlivo/Tarlivo.mdb"));
        }
    }

    void readOnlyProgramFolderUsesTheUserFolder()
    {
        if (::geteuid() == 0)
            QSKIP("root may write everywhere");
        QVERIFY(QDir().mkpath(path("readonly")));
        QFile::setPermissions(path("readonly"), QFile::ReadOwner | QFile::ExeOwner);
        QProcessEnvironment env;
        env.insert("XDG_DATA_HOME", path("xdg"));
        QCOMPARE(chooseDataFile({}, path("readonly"), env, path("work")).path, path("xdg/Tarlivo/Tarlivo.mdb"));
    }

    void dataFolderIsMadeOnFirstUse()
    {
        DataFileChoice made{path("fresh/a/Tarlivo/Tarlivo.mdb"), {}, true};
        QVERIFY(makeDataFolder(made));
        QVERIFY(QFileInfo(path("fresh/a/Tarlivo")).isDir());
        QVERIFY(!QFile::exists(made.path)); // the store makes the file itself

        DataFileChoice blocked{path("work/blocker/Tarlivo/Tarlivo.mdb"), {}, true};
        QVERIFY(!makeDataFolder(blocked));
        QVERIFY2(blocked.error.contains("kann nicht angelegt werden"), qPrintable(blocked.error));
        QVERIFY(blocked.path.isEmpty());
    }

    void readerIsFoundBesideOrInLibexec()
    {
        QCOMPARE(findLegacyReader(path("usr/bin")), path("usr/libexec/tarlivo/tarlivo-mdb-reader"));
        QCOMPARE(findLegacyReader(path("portable")), path("portable/tarlivo-mdb-reader"));
        QVERIFY(isInstalledLayout(path("usr/bin")) && !isInstalledLayout(path("portable")));
    }

    void aboutWindowShowsAndOpensTheFolders()
    {
        AboutWindow about(path("xdg/Tarlivo/Tarlivo.mdb"));
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QList<QLabel *> labels = about.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
                            [&](QLabel *l) { return l->text() == path("xdg/Tarlivo/Tarlivo.mdb"); }));
        for (QLabel *label : labels)
            QCOMPARE(label->textFormat(), Qt::PlainText);
        for (QWidget *w : about.findChildren<QWidget *>())
            if (w->focusPolicy() != Qt::NoFocus && w->isVisibleTo(&about))
                QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());
        about.findChild<QPushButton *>("openDataFolder")->click();
        about.findChild<QPushButton *>("openBackupFolder")->click();
        QDesktopServices::unsetUrlHandler("file");
        const QUrl folder = QUrl::fromLocalFile(path("xdg/Tarlivo"));
        QCOMPARE(catcher.opened, (QList<QUrl>{folder, folder}));
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(!about.isVisible());
    }

    void mediaLibrariesLoadOnFirstUse_data()
    {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<QString>("library");
        QTest::newRow("sound") << "sound"
                               << "libQt6Multimedia.so";
        QTest::newRow("reading aloud") << "voice"
                                       << "libQt6TextToSpeech.so";
        QTest::newRow("printing") << "printer"
                                  << "libQt6PrintSupport.so";
    }

    // A started program, practising a card, has neither library mapped; its plugin
    // brings it.
    void mediaLibrariesLoadOnFirstUse()
    {
        QFETCH(QString, plugin);
        QFETCH(QString, library);
        const auto mapped = [&library] {
            QFile maps("/proc/self/maps");
            return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library.toLatin1());
        };
        TestApp app;
        app.seed({{"Vokabeln", 1}});
        app.startPractice("Vokabeln");
        QVERIFY(app.forms->window<FrmUeb>().shownCard().has_value());
        QVERIFY2(!mapped(), qPrintable(library));
        QString error;
        const QStringList folders{QStringLiteral(TARLIVO_PLUGIN_DIR)};
        const bool loaded = plugin == "voice"   ? tarlivo::media::voiceMaker(&error, folders) != nullptr
                            : plugin == "sound" ? tarlivo::media::soundPlayerMaker(&error, folders) != nullptr
                                                : tarlivo::print::printSupport(&error, folders) != nullptr;
        QVERIFY2(loaded, qPrintable(error));
        QVERIFY(mapped());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
