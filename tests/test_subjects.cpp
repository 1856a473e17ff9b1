#include "rawdb.h"
#include "store/numbertest.h"
#include "testapp.h"
#include "transfer/command.h"
#include "ui/messages.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

using drive::entries;

QStringList subjectRows(const TestApp &app)
{
    return rawdb::rows(app.dbPath(), "SELECT idGebiet, NameGebiet FROM tblGebiet ORDER BY idGebiet");
}

// The subject window on the card-entry road, as the start window's button opens it.
FrmGebiete &openCardRoad(TestApp &app)
{
    app.forms->start();
    return *drive::toSubjectsForEntry(*app.forms);
}

// How many descriptors of this process are open on the file.
int openDescriptors(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int n = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files))
        if (fd.symLinkTarget() == target)
            ++n;
    return n;
}

} // namespace

using tarlivo::ui::Road;
using tarlivo::ui::Upkeep;
Q_DECLARE_METATYPE(Road)

class TestSubjects : public QObject {
    Q_OBJECT

private slots:
    void listsInGermanOrderForEachRoad_data()
    {
        QTest::addColumn<Road>("road");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("card entry") << Road::Entry
                                    << QStringList{"Apfel", "Äpfel", "birne", "leer", "Ofen", "Öl", "Zebra"};
        QTest::newRow("practice") << Road::Practice << QStringList{"Apfel", "Äpfel", "Öl", "Zebra"};
    }

    void listsInGermanOrderForEachRoad()
    {
        QFETCH(Road, road);
        QFETCH(QStringList, expected);
        TestApp app;
        app.seed({{"Zebra", 3}, {"Äpfel", 1}, {"birne", 0}, {"Apfel", 2}, {"Öl", 1}, {"Ofen", 0}, {"leer", 0}});
        FrmGebiete *gebiete = app.forms->showGebiete(road, Upkeep::NewAndRename);
        QVERIFY(gebiete);
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), expected);
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentIndex(), 0);
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), expected.first());
    }

    void noRowLeavesTheListAsItWas()
    {
        TestApp app;
        app.seed({{"Alt", 0}});
        // The practice road as "&Gebietsauswahl" opens it: renaming stays possible.
        FrmGebiete *gebiete = app.forms->showGebiete(Road::Practice, Upkeep::RenameOnly);
        QVERIFY(gebiete);
        QCOMPARE(combo(gebiete, "cmbGebiet")->count(), 0);
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), QString());

        combo(gebiete, "cmbGebiet")->setEditText("Alt");
        app.dialogs.answers = QStringList{"Neu"};
        button(gebiete, "cmdGebietEdit")->click();
        QCOMPARE(subjectRows(app), QStringList{"1|Neu"});
        // No subject has a card, so the refill found nothing and cleared nothing.
        QCOMPARE(combo(gebiete, "cmbGebiet")->count(), 0);
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), QString("Alt"));
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void missingFileIsCreatedWithItsTables()
    {
        TestApp app;
        QVERIFY(!QFile::exists(app.dbPath()));
        FrmGebiete &gebiete = openCardRoad(app);
        QVERIFY(gebiete.isVisible());
        QCOMPARE(app.forms->session().dataFile(), app.dbPath());
        // The search index's own tables (tblSuche_*) aside.
        QCOMPARE(
            rawdb::rows(app.dbPath(), "SELECT name FROM sqlite_master WHERE type = 'table' "
                                      "AND name LIKE 'tbl%' AND name NOT LIKE 'tblSuche\\_%' ESCAPE '\\' "
                                      "ORDER BY name"),
            (QStringList{
                "tblAbgleichGelesen", "tblAbgleichId",        "tblAbgleichStand", "tblAbgleichStill", "tblAbgleichUhr",
                "tblEinstellung",     "tblFachSeit",          "tblFaellig",       "tblFrageAntwort",  "tblGebiet",
                "tblGebietSprache",   "tblGebietToleranz",    "tblIntervall",     "tblKarteMedium",   "tblMedium",
                "tblPosition",        "tblPositionUmgekehrt", "tblRichtung",      "tblSuche",         "tblSucheStand",
                "tblUebung",          "tblUebungUmgekehrt"}));
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void everyLoadReplacesTheConnection()
    {
        TestApp app;
        FrmGebiete *gebiete = &openCardRoad(app);
        app.dialogs.answers = QStringList{"Geschichte"};
        button(gebiete, "cmdGebietNeu")->click();
        button(gebiete, "cmdUebernahmeGebiet")->click();
        FrmNeu &neu = app.forms->window<FrmNeu>();
        keyInCard(neu, "Wann?", "1492");

        for (int visit = 0; visit < 3; ++visit) {
            button(neu, "cmdZurueck")->click();
            TestApp::settle();
            gebiete = app.gebiete();
            QVERIFY(gebiete);
            QCOMPARE(entries(combo(gebiete, "cmbGebiet")), QStringList{"Geschichte"});
            button(gebiete, "cmdUebernahmeGebiet")->click();
        }
        // The earlier connections were closed as they were replaced.
        QCOMPARE(openDescriptors(app.dbPath()), 1);

        // What the last connection wrote is seen by the next one, on the other road.
        keyInCard(neu, "Wer?", "Kolumbus");
        button(neu, "cmdZumStart")->click();
        button(app.forms->window<FrmWelcome>(), "cmdUeben")->click();
        QCOMPARE(entries(combo(app.gebiete(), "cmbGebiet")), QStringList{"Geschichte"});
        QCOMPARE(openDescriptors(app.dbPath()), 1);
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort"), 2);
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void fileThatCannotServeIsLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("practice");
        QTest::newRow("text file") << "text"
                                   << "keine Tarlivo-Datenbank" << false;
        QTest::newRow("foreign SQLite file") << "foreign"
                                             << "fehlen die Tabellen" << true;
        // A damaged file of the older program: the take-over refuses it.
        QTest::newRow("damaged Access file") << "jet"
                                             << "konnte nicht übernommen werden" << false;
        QTest::newRow("directory in its place") << "directory"
                                                << "kann nicht gelesen werden" << true;
        QTest::newRow("missing, directory read-only") << "nodir"
                                                      << "nicht angelegt werden" << true;
        QTest::newRow("locked by another program") << "locked"
                                                   << "anderen laufenden Tarlivo" << false;
    }

    void fileThatCannotServeIsLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QFETCH(bool, practice);
        tarlivo::store::StoreOptions options = noBackups();
        options.busyTimeoutMs = 0;
        TestApp app(options);
        const QString path = app.dbPath();
        std::unique_ptr<rawdb::Connection> holder; // another program
        if (kind == "text") {
            QVERIFY(rawdb::writeBytes(path, "Vokabeln\nHaus = house\n"));
        } else if (kind == "foreign") {
            rawdb::exec(path, "CREATE TABLE Kunden (id INTEGER, Name TEXT); INSERT INTO Kunden VALUES (1, 'x');");
        } else if (kind == "jet") {
            QVERIFY(rawdb::writeBytes(path, QByteArray("\x00\x01\x00\x00Standard Jet DB\x00\x01", 21)
                                                + QByteArray(2027, '\x5a')));
        } else if (kind == "directory") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "nodir") {
            QVERIFY(QFile::setPermissions(app.dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        } else if (kind == "locked") {
            app.seed({{"Mathe", 1}});
            holder = std::make_unique<rawdb::Connection>(path);
            QCOMPARE(holder->exec("BEGIN EXCLUSIVE"), SQLITE_OK);
        }
        const QByteArray before = rawdb::readBytes(path);

        app.forms->start();
        FrmWelcome &welcome = app.forms->window<FrmWelcome>();
        (practice ? button(welcome, "cmdUeben") : button(welcome, "cmdNeu"))->click();

        QCOMPARE(app.dialogs.messages.size(), 1);
        const QString message = app.dialogs.messages.first();
        QVERIFY2(message.contains("„" + path + "“"), qPrintable(message));
        if (kind != "jet")
            QVERIFY2(message.startsWith("Die Datenbank „" + path + "“ kann nicht geöffnet werden."),
                     qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
        QVERIFY(message.endsWith("Die Datei wurde nicht verändert."));
        QCOMPARE(rawdb::readBytes(path), before);
        QCOMPARE(QFileInfo(path).isDir(), kind == "directory");
        QCOMPARE(QFileInfo::exists(path), kind != "nodir");
        QVERIFY(welcome.isVisible());
        QVERIFY(!app.forms->loaded("frmGebiete"));
        QVERIFY(!app.forms->loaded("frmNeu") && !app.forms->loaded("frmUeb"));
        QVERIFY(!app.forms->session().store());

        // Once the file is put right, the same button leads on.
        holder.reset();
        QFile::setPermissions(app.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(QDir().rmdir(path) || QFile::remove(path) || kind == "nodir");
        (practice ? button(welcome, "cmdUeben") : button(welcome, "cmdNeu"))->click();
        QVERIFY(app.gebiete() && app.gebiete()->isVisible());
        QCOMPARE(app.dialogs.messages.size(), 1);
    }

    // Another user's file or a copy on a read-only medium: the report, the export and
    // the windows read it; a change is refused; nothing is written in the folder.
    void readOnlyFileIsReadAndNeverWritten_data()
    {
        QTest::addColumn<bool>("folder");  // the folder read-only too, else the file alone
        QTest::addColumn<bool>("earlier"); // written by an earlier version (an upgrade due)
        QTest::newRow("file") << false << false;
        QTest::newRow("folder") << true << false;
        QTest::newRow("file of an earlier version") << false << true;
        QTest::newRow("folder, earlier version") << true << true;
    }
    void readOnlyFileIsReadAndNeverWritten()
    {
        QFETCH(bool, folder);
        QFETCH(bool, earlier);
        tarlivo::store::StoreOptions options; // with the day's copy, which must not be made
        options.today = [] { return QDate(2024, 3, 1); };
        TestApp app(options);
        const QString path = app.dbPath();
        app.seed({{"Mathe", 2}});
        if (earlier)
            rawdb::exec(path, "DROP TABLE tblRichtung; DROP TABLE tblPositionUmgekehrt; "
                              "DROP TABLE tblUebungUmgekehrt; DROP TRIGGER trgUmgekehrtCardSubject; "
                              "DROP TRIGGER trgUmgekehrtCardDelete; DROP TRIGGER trgRichtungSubjectDelete; "
                              "DROP TRIGGER IF EXISTS trgUebungUmgekehrtDelete; PRAGMA user_version = 6;");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        if (folder)
            QVERIFY(QFile::setPermissions(app.dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        const QStringList files = QDir(app.dir.path()).entryList(QDir::Files | QDir::Hidden);
        const QByteArray bytes = rawdb::readBytes(path);

        QTemporaryDir out;
        const QString exported = out.filePath(QStringLiteral("karten.txt"));
        for (const auto &[action, file, said] :
             {std::tuple{tarlivo::transfer::CommandRequest::Due, QString(), QStringLiteral("Mathe\t2\t2")},
              std::tuple{tarlivo::transfer::CommandRequest::Export, exported, QStringLiteral("2 Fragen")}}) {
            QString said1, err;
            QTextStream o(&said1), e(&err);
            QCOMPARE(tarlivo::transfer::runCommand({action, path, file, {}}, o, e), 0);
            QVERIFY2(said1.contains(said) && err.isEmpty(), qPrintable(said1 + err));
        }
        QVERIFY(rawdb::readBytes(exported).contains("F1\tA1"));

        // The windows open it, say once that nothing can be saved, and refuse a change.
        FrmUeb &ueb = app.startPractice(QStringLiteral("Mathe"));
        QCOMPARE(app.dialogs.take(), QStringList{text::readOnlyDataFile(path)});
        QCOMPARE(label(ueb, "lblFrage")->text(), QStringLiteral("F0"));
        button(ueb, "cmdRichtig")->click();
        const QStringList refused = app.dialogs.take();
        QVERIFY2(refused.size() == 1 && refused.first().contains(QStringLiteral("schreibgeschützt")),
                 qPrintable(refused.join(QLatin1Char('|'))));
        QTest::qWait(20); // the search index's steps, had any been taken
        app.forms.reset();

        QFile::setPermissions(app.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(QDir(app.dir.path()).entryList(QDir::Files | QDir::Hidden), files);
        QVERIFY(rawdb::readBytes(path) == bytes);
    }

    void inputBoxesAskWithPromptAndTitle()
    {
        TestApp app;
        FrmGebiete &gebiete = openCardRoad(app);
        app.dialogs.answers = QStringList{"Mathe", "Mathematik"};
        button(gebiete, "cmdGebietNeu")->click();
        button(gebiete, "cmdGebietEdit")->click();
        QCOMPARE(app.dialogs.inputBoxes.size(), 2);
        QCOMPARE(app.dialogs.inputBoxes[0],
                 qMakePair(QString("Bitte geben Sie ein Gebiet ein."), QString("Gebietseingabe")));
        QCOMPARE(app.dialogs.inputBoxes[1],
                 qMakePair(QString("Bitte geben Sie einen neuen Gebietsnamen ein."), QString("Gebietseditierung")));
        // The rename took its old name from the list box.
        QCOMPARE(subjectRows(app), QStringList{"1|Mathematik"});
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void refusedNamesWriteNothing_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::addColumn<QString>("answer"); // null: Cancel
        QTest::addColumn<QString>("message");
        const QString empty = "Ungültige Eingabe, es wurde kein Text eingegeben.";
        const QString numberNew = "Ungültige Eingaben, Zahlen sind nicht erlaubt.";
        const QString numberRename = "Ungültige Eingabe, Zahlen sind nicht erlaubt.";
        const QString exists = "Dieses Gebiet gibt es schon.";
        QTest::newRow("new: Cancel") << false << QString() << empty;
        QTest::newRow("new: OK on nothing") << false << QString("") << empty;
        // A number is refused as a number even when a subject of that name exists.
        QTest::newRow("new: number that exists") << false << QString("12") << numberNew;
        QTest::newRow("new: decimal with blanks") << false << QString(" 3,5 ") << numberNew;
        QTest::newRow("new: other case") << false << QString("MATHE") << exists;
        QTest::newRow("new: umlaut in other case") << false << QString("ÄPFEL") << exists;
        QTest::newRow("rename: Cancel") << true << QString() << empty;
        QTest::newRow("rename: number") << true << QString("-7") << numberRename;
        QTest::newRow("rename: number that exists") << true << QString("12") << numberRename;
        QTest::newRow("rename: another's name") << true << QString("äpfel") << exists;
        QTest::newRow("rename: own name unchanged") << true << QString("Mathe") << exists;
        // Blanks around a name are dropped before every check.
        QTest::newRow("new: blanks only") << false << QString("  \t ") << empty;
        QTest::newRow("rename: blanks only") << true << QString("   ") << empty;
        QTest::newRow("new: existing name in blanks") << false << QString("  mathe ") << exists;
        QTest::newRow("rename: own name in blanks") << true << QString(" Mathe  ") << exists;
        QTest::newRow("rename: another's name in blanks") << true << QString(" ÄPFEL ") << exists;
    }

    void acceptedNamesAreStoredWithoutSurroundingBlanks_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("new with blanks") << false << QString("  Übersetzung  ")
                                         << QStringList{"1|Mathe", "2|Äpfel", "3|Übersetzung"};
        QTest::newRow("rename to own name in capitals")
            << true << QString("MATHE") << QStringList{"1|MATHE", "2|Äpfel"};
        QTest::newRow("rename to own name in small letters, with blanks")
            << true << QString(" mathe ") << QStringList{"1|mathe", "2|Äpfel"};
        QTest::newRow("rename with blanks") << true << QString("\tPhysik ") << QStringList{"1|Physik", "2|Äpfel"};
    }

    void acceptedNamesAreStoredWithoutSurroundingBlanks()
    {
        QFETCH(bool, rename);
        QFETCH(QString, answer);
        QFETCH(QStringList, rows);
        TestApp app;
        app.seed({{"Mathe", 0}, {"Äpfel", 0}});
        FrmGebiete &gebiete = openCardRoad(app);
        drive::choose(combo(gebiete, "cmbGebiet"), "Mathe");
        app.dialogs.answers = QStringList{answer};
        (rename ? button(gebiete, "cmdGebietEdit") : button(gebiete, "cmdGebietNeu"))->click();
        QCOMPARE(app.dialogs.messages, QStringList());
        QCOMPARE(subjectRows(app), rows);
    }

    void refusedNamesWriteNothing()
    {
        QFETCH(bool, rename);
        QFETCH(QString, answer);
        QFETCH(QString, message);
        TestApp app;
        app.seed({{"Mathe", 0}, {"12", 0}, {"Äpfel", 0}});
        FrmGebiete &gebiete = openCardRoad(app);
        const QStringList rowsBefore = subjectRows(app);
        const QStringList listBefore = entries(combo(gebiete, "cmbGebiet"));
        combo(gebiete, "cmbGebiet")->setCurrentIndex(listBefore.indexOf("Mathe"));
        if (!answer.isNull())
            app.dialogs.answers = QStringList{answer};

        (rename ? button(gebiete, "cmdGebietEdit") : button(gebiete, "cmdGebietNeu"))->click();

        QCOMPARE(app.dialogs.inputBoxes.size(), 1);
        QCOMPARE(app.dialogs.messages, QStringList{message});
        QCOMPARE(subjectRows(app), rowsBefore);
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), listBefore);
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), QString("Mathe"));
    }

    void numberTest_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("number");
        for (const char *n :
             {"12", "0", "-3", "+4.5", "1,5", " 42 ", "\t7\n", "1e3", "1E-3", "2,5e+10", ".5", "-,5", "3.", "007"})
            QTest::newRow(QByteArray(n).replace('\t', "\\t").replace('\n', "\\n").constData())
                << QString::fromUtf8(n) << true;
        for (const char *s :
             {"Kapitel 2", "2a", "3. Klasse", "1.2.3", "1,5,0", "1 000",    "e3",    "1e",  "1e3.5", "+",
              "-",         ".",  "",          "   ",   "0x10",  "12 Affen", "Mathe", "1-2", "--1",   "１２"})
            QTest::newRow(*s ? s : "(empty)") << QString::fromUtf8(s) << false;
    }

    void numberTest()
    {
        QFETCH(QString, text);
        QFETCH(bool, number);
        QCOMPARE(tarlivo::store::readsAsNumber(text), number);
    }

    void namesWithQuotesAndSqlWorkLikeAnyOther_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("double quotes") << "Er sagte \"Hallo\"";
        QTest::newRow("apostrophe") << "O'Brien";
        QTest::newRow("semicolon and SQL") << "Mathe\"; DROP TABLE tblGebiet; --";
        QTest::newRow("always true") << "\" OR \"\"=\"";
        QTest::newRow("a column's name") << "NameGebiet";
        QTest::newRow("markup") << "<b>fett</b>";
    }

    void namesWithQuotesAndSqlWorkLikeAnyOther()
    {
        QFETCH(QString, name);
        TestApp app;
        app.seed({{"Aaa", 1}});
        FrmGebiete *gebiete = &openCardRoad(app);
        app.dialogs.answers = QStringList{name};
        button(gebiete, "cmdGebietNeu")->click();
        QVERIFY(entries(combo(gebiete, "cmbGebiet")).contains(name));
        QCOMPARE(rawdb::rows(app.dbPath(), "SELECT NameGebiet FROM tblGebiet WHERE idGebiet = 2"), QStringList{name});

        // A card for it lands under it.
        combo(gebiete, "cmbGebiet")->setCurrentText(name);
        button(gebiete, "cmdUebernahmeGebiet")->click();
        FrmNeu &neu = app.forms->window<FrmNeu>();
        QCOMPARE(neu.windowTitle(), name);
        keyInCard(neu, "F", "A");
        QCOMPARE(rawdb::rows(app.dbPath(), "SELECT idGebiet FROM tblFrageAntwort WHERE Frage = 'F'"), QStringList{"2"});

        // Renamed, it keeps its key and with it the card; adding it twice is refused.
        button(neu, "cmdZurueck")->click();
        gebiete = app.gebiete();
        combo(gebiete, "cmbGebiet")->setCurrentText(name);
        app.dialogs.answers = QStringList{name + " 2", name + " 2"};
        button(gebiete, "cmdGebietEdit")->click();
        button(gebiete, "cmdGebietNeu")->click();
        QCOMPARE(app.dialogs.messages, QStringList{"Dieses Gebiet gibt es schon."});
        QCOMPARE(subjectRows(app), (QStringList{"1|Aaa", "2|" + name + " 2"}));
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort WHERE idGebiet = 2"), 1);
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblPosition WHERE idGebiet = 2"), 1);
    }

    void renamingWhatNamesNoSubjectIsRefused_data()
    {
        QTest::addColumn<QString>("typed"); // null: nothing typed into an empty list
        QTest::addColumn<QString>("message");
        QTest::newRow("empty list") << QString()
                                    << "Es ist kein Gebiet gewählt.\nBitte wählen Sie ein Gebiet aus der Liste.";
        QTest::newRow("typed unknown name")
            << "Physik"
            << "Das Gebiet \"Physik\" gibt es nicht.\nBitte wählen Sie ein Gebiet aus der Liste.";
    }

    void renamingWhatNamesNoSubjectIsRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        TestApp app;
        if (!typed.isNull())
            app.seed({{"Mathe", 1}});
        FrmGebiete &gebiete = openCardRoad(app);
        if (!typed.isNull())
            combo(gebiete, "cmbGebiet")->setEditText(typed);
        const QStringList before = subjectRows(app);
        app.dialogs.answers = QStringList{"Neuer Name"};

        button(gebiete, "cmdGebietEdit")->click();

        QCOMPARE(app.dialogs.messages, QStringList{message});
        QVERIFY(app.dialogs.inputBoxes.isEmpty()); // refused before asking for a name
        QCOMPARE(subjectRows(app), before);
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), typed.isNull() ? QString() : typed);
    }

    void listIsRefilledAfterAddAndRename()
    {
        TestApp app;
        app.seed({{"Birne", 0}});
        FrmGebiete &gebiete = openCardRoad(app);
        app.dialogs.answers = QStringList{"Zebra", "Apfel", "Aal"};
        button(gebiete, "cmdGebietNeu")->click();
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Birne", "Zebra"}));
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), QString("Birne")); // the first, not the new one
        button(gebiete, "cmdGebietNeu")->click();
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Apfel", "Birne", "Zebra"}));
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentIndex(), 0);
        combo(gebiete, "cmbGebiet")->setCurrentIndex(2);
        button(gebiete, "cmdGebietEdit")->click();
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Aal", "Apfel", "Birne"}));
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentIndex(), 0);
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), QString("Aal"));
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void renamingOnThePracticeRoad()
    {
        TestApp app;
        app.seed({{"Physik", 2}, {"Chemie", 1}, {"Leer", 0}});
        app.forms->start();
        button(app.forms->window<FrmWelcome>(), "cmdUeben")->click();
        button(app.gebiete(), "cmdUebernahmeGebiet")->click();
        button(app.forms->window<FrmUeb>(), "cmdNeuGebiet")->click();
        FrmGebiete *gebiete = app.gebiete();
        QVERIFY(gebiete && gebiete->isVisible());
        QVERIFY(button(gebiete, "cmdGebietEdit")->isVisible());
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Chemie", "Physik"}));

        combo(gebiete, "cmbGebiet")->setCurrentIndex(1);
        app.dialogs.answers = QStringList{"Astronomie"};
        button(gebiete, "cmdGebietEdit")->click();
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Astronomie", "Chemie"}));
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentIndex(), 0);
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort AS f JOIN tblGebiet AS g "
                                            "USING (idGebiet) WHERE g.NameGebiet = 'Astronomie'"),
                 2);

        // Practice goes on under the new name.
        button(gebiete, "cmdUebernahmeGebiet")->click();
        QCOMPARE(app.forms->window<FrmUeb>().windowTitle(), QString("Astronomie"));
        QCOMPARE(entries(combo(app.forms->window<FrmUeb>(), "cmbFach")), QStringList{"1"});
        QVERIFY(app.dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(TestSubjects)
#include "test_subjects.moc"
