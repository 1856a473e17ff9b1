// Nothing lost through the windows: changes are on disk when the window shows
// them; a second running copy, a full disk, a failing drive or a file changed
// under the program's feet bring a clear message, leave the file as it was and
// keep what the user typed; and a backup is made each day of use.

#include "crashmodel.h"
#include "faultvfs.h"
#include "rawdb.h"
#include "storedb.h"
#include "testapp.h"
#include "ui/messages.h"
#include "windows.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

enum class Op { NewSubject, Rename, StoreCard, Verdict, Edit };

const Op allOps[] = {Op::NewSubject, Op::Rename, Op::StoreCard, Op::Verdict, Op::Edit};

const char *opName(Op op)
{
    switch (op) {
    case Op::NewSubject:
        return "new subject";
    case Op::Rename:
        return "rename";
    case Op::StoreCard:
        return "store card";
    case Op::Verdict:
        return "verdict";
    case Op::Edit:
        return "edit";
    }
    return "?";
}

// One change made through the windows: everything up to its last button press,
// the press, and what the window and the file must show afterwards.
struct Scenario {
    Op op;
    std::unique_ptr<TestApp> app;
    QString question = QStringLiteral("Hauptstadt von Peru?");
    QString answer = QStringLiteral("Lima");
    QString name = QStringLiteral("Geschichte");
    qint32 card = 0;
    QString shownQuestion;
    QString listText;

    Scenario(Op o, bool bigTexts = false, StoreOptions options = noBackups())
        : op(o), app(std::make_unique<TestApp>(options))
    {
        if (bigTexts) {
            question = QString(60000, QLatin1Char('F'));
            answer = QString(60000, QLatin1Char('A'));
            name = QStringLiteral("Geschichte ") + QString(30000, QChar(0x00e4));
        }
        Seeder seed = app->seeder();
        const qint32 erdkunde = seed.subject(QStringLiteral("Erdkunde"));
        const qint32 chemie = seed.subject(QStringLiteral("Chemie"));
        seed.card(erdkunde, QStringLiteral("Hauptstadt von Frankreich?"), QStringLiteral("Paris"));
        seed.card(erdkunde, QStringLiteral("Hauptstadt von Italien?"), QStringLiteral("Rom"));
        seed.card(chemie, QStringLiteral("H2O?"), QStringLiteral("Wasser"));
    }

    Forms &forms() { return *app->forms; }
    FrmGebiete *gebiete() { return drive::gebiete(forms()); }
    FrmNeu *neu() { return drive::neu(forms()); }
    FrmUeb *ueb() { return drive::ueb(forms()); }
    FrmEdit *edit() { return drive::edit(forms()); }

    // Everything before the last press; false when a window did not come up.
    bool prepare()
    {
        forms().start();
        switch (op) {
        case Op::NewSubject:
            return drive::toSubjectsForEntry(forms());
        case Op::Rename:
            if (!drive::toSubjectsForEntry(forms()))
                return false;
            drive::choose(combo(gebiete(), "cmbGebiet"), QStringLiteral("Erdkunde"));
            return true;
        case Op::StoreCard:
            if (!drive::openEntry(forms(), QStringLiteral("Erdkunde")))
                return false;
            drive::type(textBox(neu(), "txtFrage"), question);
            drive::type(textBox(neu(), "txtAntwort"), answer);
            return true;
        case Op::Verdict:
        case Op::Edit:
            if (!drive::openPractice(forms(), QStringLiteral("Erdkunde")))
                return false;
            card = ueb()->shownCard().value_or(0);
            shownQuestion = label(ueb(), "lblFrage")->text();
            listText = combo(ueb(), "cmbFach")->text();
            if (op == Op::Verdict)
                return card != 0;
            drive::click(button(ueb(), "cmdEdit"));
            if (!edit())
                return false;
            textBox(edit(), "txtEditFrage")->setText(question);
            textBox(edit(), "txtEditAntwort")->setText(answer);
            return true;
        }
        return false;
    }

    // The last press.
    void commit()
    {
        switch (op) {
        case Op::NewSubject:
            drive::newSubject(gebiete(), app->dialogs, name);
            break;
        case Op::Rename:
            drive::renameSubject(gebiete(), app->dialogs, QStringLiteral("Erdkunde"), name);
            break;
        case Op::StoreCard:
            drive::click(button(neu(), "cmdUebernahme"));
            break;
        case Op::Verdict:
            drive::click(button(ueb(), "cmdRichtig"));
            break;
        case Op::Edit:
            drive::click(button(edit(), "cmdUebernahme"));
            break;
        }
    }

    // After a refused press: the window still holds what the user typed or saw.
    QString whatWasLost()
    {
        switch (op) {
        case Op::NewSubject:
        case Op::Rename: {
            FrmGebiete *g = gebiete();
            if (!g)
                return QStringLiteral("subject window gone");
            if (combo(g, "cmbGebiet")->findText(QStringLiteral("Erdkunde")) < 0 || combo(g, "cmbGebiet")->count() != 2)
                return QStringLiteral("subject list changed");
            return {};
        }
        case Op::StoreCard:
            if (!neu() || textBox(neu(), "txtFrage")->text() != question
                || textBox(neu(), "txtAntwort")->text() != answer)
                return QStringLiteral("typed card lost");
            if (!textBox(neu(), "txtAntwort")->isVisible() || !button(neu(), "cmdUebernahme")->isVisible())
                return QStringLiteral("entry window went back a stage");
            return {};
        case Op::Verdict:
            if (!ueb() || ueb()->shownCard().value_or(0) != card || label(ueb(), "lblFrage")->text() != shownQuestion)
                return QStringLiteral("card on display changed");
            return {};
        case Op::Edit:
            if (!edit() || textBox(edit(), "txtEditFrage")->text() != question
                || textBox(edit(), "txtEditAntwort")->text() != answer)
                return QStringLiteral("edited texts lost");
            if (ueb())
                return QStringLiteral("went back to practice as if saved");
            return {};
        }
        return QStringLiteral("?");
    }

    // The change as the crash model describes it.
    crashmodel::Op change() const
    {
        auto h = [](const QString &s) { return QStringLiteral("h") + QString::fromLatin1(s.toUtf8().toHex()); };
        switch (op) {
        case Op::NewSubject:
            return {QLatin1Char('S'), {h(name)}, {}};
        case Op::Rename:
            return {QLatin1Char('R'), {h(QStringLiteral("Erdkunde")), h(name)}, {}};
        case Op::StoreCard:
            return {QLatin1Char('C'), {h(QStringLiteral("Erdkunde")), h(question), h(answer)}, {}};
        case Op::Verdict:
            return {QLatin1Char('V'), {QStringLiteral("R"), QString::number(card), h(listText)}, {}};
        case Op::Edit:
            return {QLatin1Char('E'), {QString::number(card), h(question), h(answer)}, {}};
        }
        return {};
    }

    // Empty when after is before with exactly this change.
    QString checkChanged(const rawdb::State &before, const rawdb::State &after) const
    {
        rawdb::State expected = before;
        const QString error = crashmodel::apply(expected, change());
        if (!error.isEmpty())
            return error;
        return expected == after ? QString() : after.differenceTo(expected);
    }

    // Empty when the press went through: nothing said, and the file holds before
    // with exactly this change.
    QString storedSilently(const rawdb::State &before)
    {
        const QStringList shown = app->dialogs.take();
        if (!shown.isEmpty())
            return QStringLiteral("told: ") + shown.join(QLatin1String(" | "));
        return checkChanged(before, rawdb::read(app->dbPath()));
    }

    // Empty when the press was refused with one message naming reason (and saying
    // that nothing was stored), and the window lost nothing.
    QString refusedFor(const QString &reason, bool toldNothingStored = true)
    {
        const QStringList shown = app->dialogs.take();
        if (shown.size() != 1)
            return QStringLiteral("%1 messages: %2").arg(shown.size()).arg(shown.join(QLatin1String(" | ")));
        if (!shown.front().contains(reason)
            || (toldNothingStored && !shown.front().contains(QStringLiteral("Es wurde nichts gespeichert."))))
            return QStringLiteral("told: ") + shown.front();
        return whatWasLost();
    }
};

// Store options whose calendar shows the date held in *today.
StoreOptions datedBy(const QDate *today)
{
    StoreOptions options;
    options.today = [today] { return *today; };
    return options;
}

// The daily backups (and anything else named like one) in dir; not the copy the
// program takes in the background while it waits for the day's first change.
QStringList backupsIn(const QDir &dir)
{
    QStringList names = dir.entryList({QStringLiteral("Tarlivo-Sicherung-*")}, QDir::Files, QDir::Name);
    names.removeIf([](const QString &name) { return name.contains(QStringLiteral(".tmp-%1").arg(::getpid())); });
    return names;
}

void addOpRows()
{
    QTest::addColumn<int>("op");
    for (Op op : allOps)
        QTest::newRow(opName(op)) << int(op);
}

} // namespace

class TestSafety : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { faultvfs::install(); }
    void cleanup() { faultvfs::clear(); }

    // ---- Durability ------------------------------------------------------------

    void changeIsOnDiskWhenTheWindowShowsIt_data() { addOpRows(); }
    void changeIsOnDiskWhenTheWindowShowsIt()
    {
        QFETCH(int, op);
        Scenario s{Op(op)};
        QVERIFY(s.prepare());
        {
            // Every change is synced to disk through a rollback journal.
            sql::Database &conn = storedb::of(s.forms().session().db());
            sql::Statement synchronous(conn, "PRAGMA synchronous");
            QVERIFY(synchronous.step());
            QCOMPARE(synchronous.int64(0), 2); // FULL
            sql::Statement journal(conn, "PRAGMA journal_mode");
            QVERIFY(journal.step());
            QCOMPARE(journal.text(0), QStringLiteral("delete"));
        }

        const rawdb::State before = rawdb::read(s.app->dbPath());
        faultvfs::faults().pathEndsWith = ".mdb";
        faultvfs::faults().syncs = 0;
        s.commit();
        // Before any further step, another connection reads the change from the file,
        // and the file was synced on the way.
        QVERIFY2(faultvfs::faults().syncs >= 1, "the database file was not synced by the change");
        QCOMPARE(s.storedSilently(before), QString());
        QVERIFY(rawdb::violations(s.app->dbPath()).isEmpty());
    }

    // ---- Two running copies ------------------------------------------------------

    void secondCopyHoldingTheFileIsReportedAndNothingWritten_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QByteArray>("hold");
        for (Op op : allOps) {
            QTest::addRow("%s, other copy writing", opName(op)) << int(op) << QByteArray("BEGIN IMMEDIATE");
            QTest::addRow("%s, other copy committing", opName(op)) << int(op) << QByteArray("BEGIN EXCLUSIVE");
            QTest::addRow("%s, other copy reading", opName(op))
                << int(op) << QByteArray("BEGIN; SELECT COUNT(*) FROM tblPosition;");
        }
    }
    void secondCopyHoldingTheFileIsReportedAndNothingWritten()
    {
        QFETCH(int, op);
        QFETCH(QByteArray, hold);
        StoreOptions options = noBackups();
        options.busyTimeoutMs = 50;
        Scenario s(Op(op), false, options);
        QVERIFY(s.prepare());
        const rawdb::State before = rawdb::read(s.app->dbPath());
        {
            rawdb::Connection other(s.app->dbPath());
            QCOMPARE(other.exec(hold.constData()), SQLITE_OK);
            s.commit();
            QCOMPARE(s.refusedFor(QStringLiteral("von einem anderen laufenden Tarlivo benutzt")), QString());
            QCOMPARE(other.exec("ROLLBACK"), SQLITE_OK);
        }
        QVERIFY(rawdb::read(s.app->dbPath()) == before);
        // Once the other copy lets go, the same press goes through.
        s.commit();
        QCOMPARE(s.storedSilently(before), QString());
    }

    void copyWaitsAMomentForTheOther()
    {
        Scenario s(Op::StoreCard); // the standard wait of three seconds
        QVERIFY(s.prepare());
        const rawdb::State before = rawdb::read(s.app->dbPath());
        rawdb::Connection other(s.app->dbPath());
        QCOMPARE(other.exec("BEGIN IMMEDIATE; UPDATE tblGebiet SET NameGebiet = NameGebiet;"), SQLITE_OK);
        std::thread release([&other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            other.exec("COMMIT");
        });
        s.commit();
        release.join();
        QCOMPARE(s.storedSilently(before), QString());
    }

    // ---- Full disk and failing writes ----------------------------------------------

    void failedWriteLeavesFileAndTypedTextAlone_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        const QString full = QStringLiteral("Der Datenträger ist voll.");
        const QString io = QStringLiteral("Beim Lesen oder Schreiben der Datei ist ein Fehler aufgetreten.");
        for (Op op : allOps) {
            if (op != Op::Verdict) // a verdict rewrites a row in place and needs no new page
                QTest::addRow("%s, size limit", opName(op)) << int(op) << QStringLiteral("max_page_count") << full;
            QTest::addRow("%s, disk full at the journal", opName(op))
                << int(op) << QStringLiteral("full journal") << full;
            QTest::addRow("%s, disk full at the database", opName(op))
                << int(op) << QStringLiteral("full database") << full;
            QTest::addRow("%s, write error", opName(op)) << int(op) << QStringLiteral("io") << io;
            QTest::addRow("%s, sync error", opName(op)) << int(op) << QStringLiteral("sync") << io;
        }
    }
    void failedWriteLeavesFileAndTypedTextAlone()
    {
        QFETCH(int, op);
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        Scenario s(Op(op), fault == QLatin1String("max_page_count"));
        QVERIFY(s.prepare());
        const rawdb::State before = rawdb::read(s.app->dbPath());
        const QByteArray bytesBefore = rawdb::readBytes(s.app->dbPath());

        faultvfs::Faults &f = faultvfs::faults();
        sqlite3 *conn = storedb::of(s.forms().session().db()).handle();
        if (fault == QLatin1String("max_page_count")) {
            // The program's own connection may not let the file grow.
            QCOMPARE(sqlite3_exec(conn, "PRAGMA max_page_count = 1", nullptr, nullptr, nullptr), SQLITE_OK);
        } else if (fault == QLatin1String("full journal")) {
            f.pathEndsWith = "-journal";
            f.writeError = SQLITE_FULL;
        } else if (fault == QLatin1String("full database")) {
            // The journal is written and synced, then the database's second page
            // fails: a half-written file that the journal must put right.
            f.pathEndsWith = ".mdb";
            f.writeError = SQLITE_FULL;
            f.writesBeforeFailing = 1;
        } else if (fault == QLatin1String("io")) {
            f.writeError = SQLITE_IOERR_WRITE;
        } else {
            f.syncError = SQLITE_IOERR_FSYNC;
        }
        s.commit();
        const bool fired = f.failedWrites > 0 || (f.syncError != SQLITE_OK && f.syncs > 0);
        QVERIFY2(fired || fault == QLatin1String("max_page_count"), "the fault never struck");
        faultvfs::clear();
        sqlite3_exec(conn, "PRAGMA max_page_count = 1073741823", nullptr, nullptr, nullptr);

        QCOMPARE(s.refusedFor(reason), QString());

        // Read afresh, as the next start would: the file holds what it held.
        QVERIFY(rawdb::violations(s.app->dbPath()).isEmpty());
        QVERIFY(rawdb::read(s.app->dbPath()) == before);
        if (fault != QLatin1String("full database"))
            QVERIFY(rawdb::readBytes(s.app->dbPath()) == bytesBefore);

        // With room again, the same press stores it, once.
        s.commit();
        QCOMPARE(s.storedSilently(before), QString());
    }

    // ---- The file changed under the program's feet ---------------------------------

    void fileChangedWhileRunning_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        const struct {
            const char *change;
            const char *reason;
        } changes[] = {
            {"deleted", "Die Datei wurde gelöscht, während Tarlivo lief."},
            {"replaced by a text file", "Die Datei wurde ersetzt, während Tarlivo lief."},
            {"replaced by another store", "Die Datei wurde ersetzt, während Tarlivo lief."},
            {"overwritten with text", "Die Datei ist beschädigt."},
            {"made read-only", "Die Datei oder ihr Verzeichnis ist schreibgeschützt."},
            {"directory made read-only", "Die Datei oder ihr Verzeichnis ist schreibgeschützt."},
        };
        for (Op op : allOps)
            for (const auto &c : changes)
                QTest::addRow("%s, %s", opName(op), c.change)
                    << int(op) << QString::fromUtf8(c.change) << QString::fromUtf8(c.reason);
    }
    void fileChangedWhileRunning()
    {
        QFETCH(int, op);
        QFETCH(QString, change);
        QFETCH(QString, reason);
        Scenario s{Op(op)};
        QVERIFY(s.prepare());
        const QString path = s.app->dbPath();
        const QString dir = s.app->dir.path();
        const QByteArray original = rawdb::readBytes(path);
        const QByteArray text("Einkaufsliste: Milch, Brot\n");
        // A second name for the file's data, to see that nothing reaches it.
        const QString kept = s.app->dir.filePath(QStringLiteral("kept.link"));
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()), 0);

        QString replacement; // the file now at path, which must stay byte for byte
        if (change == QLatin1String("deleted")) {
            QVERIFY(QFile::remove(path));
        } else if (change == QLatin1String("replaced by a text file")) {
            const QString other = s.app->dir.filePath(QStringLiteral("other.txt"));
            QVERIFY(rawdb::writeBytes(other, text));
            QCOMPARE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
            replacement = path;
        } else if (change == QLatin1String("replaced by another store")) {
            const QString other = s.app->dir.filePath(QStringLiteral("other.mdb"));
            {
                Seeder seed{Store::open(other, noBackups())};
                seed.card(seed.subject(QStringLiteral("Erdkunde")), QStringLiteral("fremd"), QStringLiteral("x"));
            }
            QCOMPARE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
            replacement = path;
        } else if (change == QLatin1String("overwritten with text")) {
            QVERIFY(rawdb::writeBytes(path, text)); // same file, new contents
            replacement = path;
        } else if (change == QLatin1String("made read-only")) {
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        } else {
            QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0555), 0);
        }
        const QByteArray replacementBytes = replacement.isEmpty() ? QByteArray() : rawdb::readBytes(replacement);
        const QByteArray keptBytes = rawdb::readBytes(kept);

        s.commit();
        ::chmod(QFile::encodeName(dir).constData(), 0700);

        QCOMPARE(s.refusedFor(reason, false), QString());
        if (!replacement.isEmpty())
            QVERIFY2(rawdb::readBytes(replacement) == replacementBytes, "the file that took the place was written to");
        if (change != QLatin1String("overwritten with text"))
            QVERIFY2(rawdb::readBytes(kept) == keptBytes, "the program's old file was written to");
        QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
        QCOMPARE(keptBytes == original, change != QLatin1String("overwritten with text"));

        if (change.contains(QLatin1String("read-only"))) {
            // Writable again: the same press goes through, with what was typed.
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
            const rawdb::State before = rawdb::read(path);
            s.commit();
            QCOMPARE(s.storedSilently(before), QString());
        }
    }

    // ---- Backups -----------------------------------------------------------------

    void backupBeforeTheFirstChangeOfEachDay()
    {
        QDate today(2024, 3, 1);
        Scenario s(Op::StoreCard, false, datedBy(&today));
        const QDir dir(s.app->dir.path());
        QVERIFY(s.prepare());
        // Opening and reading make no copy.
        QCOMPARE(backupsIn(dir), QStringList());

        const rawdb::State firstMorning = rawdb::read(s.app->dbPath());
        s.commit();
        QCOMPARE(s.app->dialogs.take(), QStringList());
        const QString first = dir.filePath(QStringLiteral("Tarlivo-Sicherung-2024-03-01.mdb"));
        QCOMPARE(backupsIn(dir), QStringList{QFileInfo(first).fileName()});
        // A sound copy of the file as it was before the day's first change.
        QVERIFY(rawdb::violations(first).isEmpty());
        QVERIFY(rawdb::read(first) == firstMorning);
        QVERIFY(Store::open(first, noBackups())->checkInvariants().isEmpty());
        const QByteArray firstBytes = rawdb::readBytes(first);

        // Later changes that day make none.
        drive::storeCard(s.neu(), QStringLiteral("noch eine"), QStringLiteral("Frage"));
        QCOMPARE(backupsIn(dir).size(), 1);
        QCOMPARE(rawdb::readBytes(first), firstBytes);

        // The next day's first change makes the next, also with the program still running.
        today = today.addDays(1);
        const rawdb::State secondMorning = rawdb::read(s.app->dbPath());
        drive::storeCard(s.neu(), QStringLiteral("am zweiten Tag"), QStringLiteral("Antwort"));
        const QString second = dir.filePath(QStringLiteral("Tarlivo-Sicherung-2024-03-02.mdb"));
        QVERIFY(rawdb::read(second) == secondMorning);
        QCOMPARE(rawdb::readBytes(first), firstBytes);
        QCOMPARE(dir.entryList({QStringLiteral("*.tmp-*")}, QDir::Files), QStringList());
    }

    void keepsTheNewestSevenAndNothingElseIsTouched()
    {
        QDate today(2024, 3, 1);
        Scenario s(Op::StoreCard, false, datedBy(&today));
        const QDir dir(s.app->dir.path());
        const QStringList foreign{QStringLiteral("Tarlivo-Sicherung-Notizen.txt"),
                                  QStringLiteral("Tarlivo-Sicherung-2024-01-01.mdb.bak"),
                                  QStringLiteral("Anderes.mdb")};
        for (const QString &name : foreign)
            QVERIFY(rawdb::writeBytes(dir.filePath(name), "eigene Datei"));
        QVERIFY(s.prepare());
        for (int day = 0; day < 10; ++day) {
            drive::storeCard(s.neu(), QStringLiteral("Tag %1").arg(day), QStringLiteral("x"));
            QCOMPARE(s.app->dialogs.take(), QStringList());
            const QStringList copies =
                dir.entryList({QStringLiteral("Tarlivo-Sicherung-*.mdb")}, QDir::Files, QDir::Name);
            QCOMPARE(copies.size(), std::min(day + 1, 7));
            QCOMPARE(copies.last(), QStringLiteral("Tarlivo-Sicherung-%1.mdb").arg(today.toString(Qt::ISODate)));
            today = today.addDays(1);
        }
        const QStringList copies = dir.entryList({QStringLiteral("Tarlivo-Sicherung-*.mdb")}, QDir::Files, QDir::Name);
        QCOMPARE(copies.first(), QStringLiteral("Tarlivo-Sicherung-2024-03-04.mdb"));
        for (const QString &name : foreign)
            QCOMPARE(rawdb::readBytes(dir.filePath(name)), QByteArray("eigene Datei"));
    }

    // The copy taken in the background at the start serves the day's first change
    // only while it still shows the file as that change finds it.
    void dayCopyShowsTheFileBeforeTheFirstChange_data()
    {
        QTest::addColumn<QString>("between"); // what happens after the start, before the change
        QTest::newRow("nothing") << QString();
        QTest::newRow("another program writes")
            << QStringLiteral("INSERT INTO tblGebiet (NameGebiet) VALUES ('Fremd')");
        QTest::newRow("no change that day") << QStringLiteral("close");
    }
    void dayCopyShowsTheFileBeforeTheFirstChange()
    {
        QFETCH(QString, between);
        const QDate today(2024, 3, 1);
        Scenario s(Op::StoreCard, false, datedBy(&today));
        const QDir dir(s.app->dir.path());
        QVERIFY(s.prepare());
        const QString copy = dir.filePath(QStringLiteral("Tarlivo-Sicherung-2024-03-01.mdb"));
        if (between == QLatin1String("close")) {
            s.app.reset();
            QCOMPARE(dir.entryList({QStringLiteral("Tarlivo-Sicherung-*")}, QDir::Files), QStringList());
            return;
        }
        s.forms().session().db().waitForDayCopy();
        if (!between.isEmpty()) {
            rawdb::Connection other(s.app->dbPath());
            QCOMPARE(other.exec(between.toUtf8().constData()), SQLITE_OK);
        }
        const rawdb::State before = rawdb::read(s.app->dbPath());
        s.commit();
        QCOMPARE(s.app->dialogs.take(), QStringList());
        QVERIFY(rawdb::read(copy) == before);
        QVERIFY(rawdb::violations(copy).isEmpty());
        QCOMPARE(dir.entryList({QStringLiteral("*.tmp-*")}, QDir::Files), QStringList());
    }

    void failedBackupNeverBlocksAndSpeaksOnlyOfAFullDisk_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("told");
        QTest::newRow("disk full") << SQLITE_FULL << true;
        QTest::newRow("write error") << SQLITE_IOERR_WRITE << false;
    }
    void failedBackupNeverBlocksAndSpeaksOnlyOfAFullDisk()
    {
        QFETCH(int, error);
        QFETCH(bool, told);
        QDate today(2024, 3, 1);
        Scenario s(Op::StoreCard, false, datedBy(&today));
        const QDir dir(s.app->dir.path());
        // The copy is taken as the windows open the file.
        faultvfs::faults().pathContains = "-Sicherung-";
        faultvfs::faults().writeError = error;
        faultvfs::faults().writesBeforeFailing = 2; // part of the copy is written
        QVERIFY(s.prepare());
        const rawdb::State before = rawdb::read(s.app->dbPath());
        s.commit();
        QVERIFY(faultvfs::faults().failedWrites > 0);
        faultvfs::clear();

        const QStringList shown = s.app->dialogs.take();
        if (told) {
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown.front().contains(QStringLiteral("Der Datenträger ist voll")), qPrintable(shown.front()));
            QVERIFY2(shown.front().contains(QStringLiteral("Tarlivo-Sicherung-2024-03-01.mdb")),
                     qPrintable(shown.front()));
        } else {
            QCOMPARE(shown, QStringList());
        }
        // The card was stored all the same, and no half copy is left.
        const QString problem = s.checkChanged(before, rawdb::read(s.app->dbPath()));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(backupsIn(dir), QStringList());
        // Said once: the day's later changes neither try again nor repeat it.
        drive::storeCard(s.neu(), QStringLiteral("weiter"), QStringLiteral("arbeiten"));
        QCOMPARE(s.app->dialogs.take(), QStringList());
        // The next day it works again.
        today = today.addDays(1);
        drive::storeCard(s.neu(), QStringLiteral("neuer"), QStringLiteral("Tag"));
        QCOMPARE(backupsIn(dir), QStringList{QStringLiteral("Tarlivo-Sicherung-2024-03-02.mdb")});
    }

    void backupThatFoundTheFileBusyIsTriedAgain()
    {
        const QDate today(2024, 3, 1);
        StoreOptions options = datedBy(&today);
        options.busyTimeoutMs = 50;
        // A verdict goes to its write at once: the backup meets the other copy first.
        Scenario s(Op::Verdict, false, options);
        const QDir dir(s.app->dir.path());
        QVERIFY(s.prepare());
        {
            s.forms().session().db().waitForDayCopy();
            rawdb::Connection other(s.app->dbPath());
            // Written after the copy was taken at the start: the change must take its own.
            QCOMPARE(other.exec("INSERT INTO tblGebiet (NameGebiet) VALUES ('Fremd')"), SQLITE_OK);
            QCOMPARE(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
            s.commit();
            QCOMPARE(s.app->dialogs.take().size(), 1); // the change itself could not wait longer
        }
        QCOMPARE(backupsIn(dir), QStringList());
        s.commit();
        QCOMPARE(s.app->dialogs.take(), QStringList());
        QCOMPARE(backupsIn(dir), QStringList{QStringLiteral("Tarlivo-Sicherung-2024-03-01.mdb")});
    }

    void halfMadeCopiesOfEndedRunsAreRemoved()
    {
        const QDate today(2024, 3, 1);
        Scenario s(Op::StoreCard, false, datedBy(&today));
        const QDir dir(s.app->dir.path());
        // A process id that has ended, and one that runs (this test's parent).
        QProcess ended;
        ended.start(QStringLiteral("true"), {});
        QVERIFY(ended.waitForStarted());
        const qint64 gone = ended.processId();
        QVERIFY(ended.waitForFinished());
        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(sleeper.waitForStarted());
        const QString dead = QStringLiteral("Tarlivo-Sicherung-2024-02-28.mdb.tmp-%1").arg(gone);
        const QString alive = QStringLiteral("Tarlivo-Sicherung-2024-03-01.mdb.tmp-%1").arg(sleeper.processId());
        for (const QString &name : {dead, dead + QStringLiteral("-journal"), alive})
            QVERIFY(rawdb::writeBytes(dir.filePath(name), "halb"));
        QVERIFY(s.prepare());
        s.commit();
        sleeper.kill();
        sleeper.waitForFinished();
        QCOMPARE(s.app->dialogs.take(), QStringList());
        QVERIFY(!QFile::exists(dir.filePath(dead)));
        QVERIFY(!QFile::exists(dir.filePath(dead + QStringLiteral("-journal"))));
        QVERIFY2(QFile::exists(dir.filePath(alive)), "a copy another running Tarlivo is writing was removed");
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Tarlivo-Sicherung-2024-03-01.mdb"))));
    }

    // A real full disk: a small file system of its own, where mounting is allowed.
    void backupOnARealFullDisk()
    {
        QTemporaryDir mountPoint;
        if (::geteuid() != 0
            || ::mount("tarlivo-test", QFile::encodeName(mountPoint.path()).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("no small file system can be mounted here; the fault layer above covers a full disk");
        struct Unmount {
            QByteArray at;
            ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
        } unmount{QFile::encodeName(mountPoint.path())};

        const QDate today(2024, 3, 1);
        ScriptedDialogs dialogs;
        Forms forms(dialogs, Forms::Setup{databasePath(mountPoint.path()), datedBy(&today), [] {}});
        const QString path = databasePath(mountPoint.path());
        {
            Seeder seed{Store::open(path, noBackups())};
            const qint32 erdkunde = seed.subject(QStringLiteral("Erdkunde"));
            for (int i = 0; i < 20; ++i)
                seed.card(erdkunde, QString(3000, QLatin1Char('q')), QStringLiteral("a"));
        }
        // Fill the disk, leaving room for a change but not for a copy of the file.
        const qint64 size = QFileInfo(path).size();
        QVERIFY(size > 120 * 1024);
        {
            const QByteArray filler = QFile::encodeName(QDir(mountPoint.path()).filePath(QStringLiteral("filler")));
            const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            QVERIFY(fd >= 0);
            const QByteArray block(4096, 'x');
            off_t written = 0;
            ssize_t n;
            while ((n = ::write(fd, block.constData(), size_t(block.size()))) > 0)
                written += n;
            QCOMPARE(errno, ENOSPC);
            QCOMPARE(::ftruncate(fd, written - 100 * 1024), 0);
            ::close(fd);
        }
        forms.start();
        FrmNeu *neu = drive::openEntry(forms, QStringLiteral("Erdkunde"));
        QVERIFY(neu);
        const rawdb::State before = rawdb::read(path);
        drive::storeCard(neu, QStringLiteral("trotz vollem"), QStringLiteral("Datenträger"));
        const QStringList shown = dialogs.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.front().contains(QStringLiteral("Der Datenträger ist voll")), qPrintable(shown.front()));
        const rawdb::State after = rawdb::read(path);
        QCOMPARE(after.cards.size(), before.cards.size() + 1);
        QCOMPARE(backupsIn(QDir(mountPoint.path())), QStringList());
    }
};

QTEST_MAIN(TestSafety)
#include "test_safety.moc"
