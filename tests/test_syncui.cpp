// Sync as the user meets it: the window, the command line, and the syncs the
// program runs in the background. Two data files on one machine share one folder.

#include "app/forms.h"
#include "rawdb.h"
#include "sync/runcommand.h"
#include "sync/scheduler.h"
#include "sync/sync.h"
#include "syncwindow/syncwindow.h"
#include "testapp.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

QStringList questions(const QString &path)
{
    QStringList all;
    for (const auto &[key, card] : rawdb::read(path).cards)
        all << card.question;
    all.sort();
    return all;
}

// The other machine: a data file of its own with one card, synced into folder.
struct Other {
    QString path;
    std::unique_ptr<Store> store;

    Other(const QTemporaryDir &dir, const QString &folder) : path(dir.filePath(QStringLiteral("B.mdb")))
    {
        store = Store::open(path, noBackups());
        store->addSubject(QStringLiteral("Bio"));
        add(QStringLiteral("Zelle"));
        sync::setFolder(*store, folder);
        sync::syncNow(*store, folder);
    }
    void add(const QString &question) { store->addCard(*store->subjectId(QStringLiteral("Bio")), question, question); }
    sync::Outcome syncNow() { return sync::syncNow(*store, *sync::folder(*store)); }
};

} // namespace

class TestSyncUi : public QObject {
    Q_OBJECT

private slots:
    // Chosen, synced now with the other data file, its machines listed; a folder
    // gone is told in German.
    void windowChoosesSyncsListsAndTells()
    {
        TestApp app;
        QTemporaryDir shared;
        Other other(app.dir, shared.path());
        app.forms->start();
        // On screen, with no folder yet: no sync runs.
        QTRY_VERIFY(app.forms->window<FrmBackground>().statusLine()->isVisible());
        QVERIFY(!app.forms->syncs());
        app.forms->window<FrmBackground>().findChild<QAction *>(QStringLiteral("actAbgleich"))->trigger();
        auto *window = app.forms->tools().find<SyncWindow>();
        QVERIFY(window && window->isVisible());
        auto *result = drive::ctl<QLabel>(*window, "resultLabel");
        QCOMPARE(result->text(), QStringLiteral("Noch kein Abgleichordner gewählt."));

        app.dialogs.fileAnswers << shared.path();
        drive::ctl<QPushButton>(*window, "chooseButton")->click();
        QCOMPARE(drive::ctl<QLineEdit>(*window, "folderEdit")->text(), shared.path());
        sync::Scheduler &syncs = *app.forms->syncs();
        QTRY_VERIFY(!syncs.busy() && syncs.lastOutcome());
        QVERIFY2(result->text().contains(QStringLiteral("übernommen")), qPrintable(result->text()));
        QCOMPARE(result->accessibleName(), result->text());
        QCOMPARE(questions(app.dbPath()), QStringList{"Zelle"});

        other.add(QStringLiteral("Kern"));
        other.syncNow();
        drive::ctl<QPushButton>(*window, "syncButton")->click();
        QTRY_COMPARE(questions(app.dbPath()), (QStringList{"Kern", "Zelle"}));
        QTRY_VERIFY(!syncs.busy());
        auto *machines = drive::ctl<QTreeWidget>(*window, "machineList");
        QCOMPARE(machines->topLevelItemCount(), 2);
        QVERIFY(machines->topLevelItem(0)->text(0).endsWith(QStringLiteral(" (dieser Rechner)")));
        QVERIFY(!machines->topLevelItem(1)->text(0).contains(QStringLiteral("dieser Rechner")));
        QVERIFY(machines->topLevelItem(1)->text(1) != QStringLiteral("noch nie"));

        // The folder went away (a drive not mounted): the sync's own German reason.
        QVERIFY(QDir(shared.path()).rename(shared.path(), shared.path() + QStringLiteral("-weg")));
        drive::ctl<QPushButton>(*window, "syncButton")->click();
        QTRY_VERIFY(!syncs.problem().isEmpty());
        QVERIFY2(result->text().contains(QStringLiteral("Der Abgleich ist fehlgeschlagen: ") + syncs.problem()),
                 qPrintable(result->text()));
        QVERIFY(app.forms->window<FrmBackground>().statusLine()->text().contains(syncs.problem()));
        QVERIFY(app.dialogs.messages.isEmpty());
        QVERIFY(QDir().rename(shared.path() + QStringLiteral("-weg"), shared.path()));
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("file");   // none, junk, readonly, plain, synced (the folder set before)
        QTest::addColumn<QString>("folder"); // given; "-": none, "fehlt": one that does not exist
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QStringList>("cards"); // afterwards; none: no data file
        const QStringList none, zelle{"Zelle"};
        QTest::newRow("second machine, no data file") << "none"
                                                      << "" << 0 << "Änderungen übernommen" << zelle;
        QTest::newRow("folder kept from before") << "synced"
                                                 << "-" << 0 << "nichts Neues." << zelle;
        QTest::newRow("no data file, no folder") << "none"
                                                 << "-" << 1 << "gibt es noch nicht" << none;
        QTest::newRow("none set") << "plain"
                                  << "-" << 1 << "ist kein Abgleichordner gesetzt" << QStringList{};
        QTest::newRow("missing folder") << "none"
                                        << "fehlt" << 1 << "gibt es nicht (oder er ist kein Ordner)" << none;
        QTest::newRow("not a data file") << "junk"
                                         << "" << 1 << "Die Datei ist keine Tarlivo-Datenbank." << none;
        QTest::newRow("read-only data file") << "readonly"
                                             << "" << 1 << "schreibgeschützt" << QStringList{};
    }
    void commandLine()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(QStringList, cards);
        QTemporaryDir dir;
        const QString shared = dir.filePath(QStringLiteral("Sync"));
        QVERIFY(QDir().mkpath(shared));
        Other other(dir, shared);
        const QString path = dir.filePath(QStringLiteral("A.mdb"));
        if (file == QLatin1String("junk"))
            QVERIFY(rawdb::writeBytes(path, "kein SQLite"));
        if (file == QLatin1String("plain") || file == QLatin1String("readonly"))
            Store::open(path, noBackups());
        if (file == QLatin1String("readonly"))
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        if (file == QLatin1String("synced")) {
            const std::unique_ptr<Store> store = Store::open(path, noBackups());
            sync::setFolder(*store, shared);
            sync::syncNow(*store, shared);
        }
        const QString given = folder == QLatin1String("-") ? QString()
                              : folder.isEmpty()           ? shared
                                                           : dir.filePath(folder);
        const QByteArray before = rawdb::readBytes(path);

        QString out, err;
        QTextStream o(&out), e(&err);
        QCOMPARE(sync::runSyncCommand({path, given}, o, e), exitCode);
        QVERIFY2((exitCode ? err : out).contains(said) && (exitCode ? out : err).isEmpty(), qPrintable(out + err));
        if (exitCode != 0) {
            // Refused: the data file as it was, or still none.
            QCOMPARE(rawdb::readBytes(path), before);
            QCOMPARE(QFile::exists(path), file != QLatin1String("none"));
            return;
        }
        QCOMPARE(questions(path), cards);
        // The folder given is the file's from now on.
        QCOMPARE(sync::folder(*Store::open(path, noBackups())), std::optional<QString>(shared));
    }

    // With a folder set: a sync once the first window is on screen, whose cards the
    // status line counts; one every few moments while changes wait; one at the end.
    void backgroundSyncRunsAndTheWindowsFollow()
    {
        QTemporaryDir dir;
        QTemporaryDir shared;
        Other other(dir, shared.path());
        const QString path = databasePath(dir.path());
        sync::setFolder(*Store::open(path, noBackups()), shared.path());
        ScriptedDialogs dialogs;
        Forms::Setup setup{path, noBackups(), [] {}, TestApp::readerPath()};
        setup.syncEvery = std::chrono::milliseconds(50);
        auto forms = std::make_unique<Forms>(dialogs, setup);
        forms->start();
        QLabel *line = forms->window<FrmBackground>().statusLine();
        QTRY_VERIFY(line->text().startsWith(QStringLiteral("Heute fällig: 1 Karte in 1 Gebiet – Abgeglichen um ")));
        QCOMPARE(line->accessibleName(), line->text());

        // A card here waits: the next look at the clock writes it into the folder;
        // the other machine's new card comes back with it and is counted.
        other.add(QStringLiteral("Kern"));
        other.syncNow();
        Store &store = forms->session().db();
        Change change;
        store.addCard(*store.subjectId(QStringLiteral("Bio")), QStringLiteral("Gen"), QStringLiteral("g"), &change);
        forms->session().record(QStringLiteral("Neue Karte"), change, nullptr);
        QTRY_VERIFY(line->text().startsWith(QStringLiteral("Heute fällig: 3 Karten in 1 Gebiet – ")));
        const auto othersCards = [&other] {
            other.syncNow();
            return questions(other.path);
        };
        QTRY_COMPARE(othersCards(), (QStringList{"Gen", "Kern", "Zelle"}));

        // The end waits for the last one (no event in between: the clock cannot run).
        store.addCard(*store.subjectId(QStringLiteral("Bio")), QStringLiteral("Ende"), QStringLiteral("e"));
        forms.reset();
        other.syncNow();
        QCOMPARE(questions(other.path), (QStringList{"Ende", "Gen", "Kern", "Zelle"}));
        QVERIFY(dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(TestSyncUi)
#include "test_syncui.moc"
