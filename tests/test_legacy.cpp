#include "legacy/legacyimport.h"
#include "legacy/legacystream.h"
#include "rawdb.h"
#include "storedb.h"
#include "testapp.h"
#include "ui/messages.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <array>
#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

QString fixture(const char *name) { return QStringLiteral(TARLIVO_TEST_DATA "/legacy/") + QLatin1String(name); }

using drive::entries;
using rawdb::readBytes;

QStringList filesIn(const QString &dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

LegacyImportOptions readerOptions()
{
    LegacyImportOptions options;
    options.readerPath = TestApp::readerPath();
    return options;
}

QString original(const TestApp &app, int number = 1) { return legacyOriginalName(app.dbPath(), number); }

// The long memo of small.mdb: 3000 numbered lines with umlauts, each ended by CR LF.
QString longMemo()
{
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("Zeile %1 äöüß\r\n").arg(i);
    return text;
}

// Everything small.mdb holds, as its README describes it.
const std::vector<LegacySubject> &smallSubjects()
{
    static const std::vector<LegacySubject> subjects{
        {1, QStringLiteral("Französisch – Grundwortschatz")},
        {3, QStringLiteral("Größen & Maße")},
        {7, QStringLiteral("Übung \"Zitat\" mit ß und €")},
    };
    return subjects;
}

const std::vector<LegacyCard> &smallCards()
{
    static const std::vector<LegacyCard> cards{
        {1, 1, QStringLiteral("Was heißt \"der Käse\"?"), QStringLiteral("le fromage")},
        {2, 1, QStringLiteral("Übersetze: Brötchen"),
         QStringLiteral("Zeile 1: le petit pain\r\nZeile 2: la baguette\r\nZeile 3: Ende")},
        {5, 3, QStringLiteral("Wie viel wiegt ein Liter Wasser?"), QStringLiteral("1 kg (ca.) – \"genau\" bei 4 °C")},
        {10, 7, QStringLiteral("Leere Antwort?"), QStringLiteral("")},
        {11, 7, QStringLiteral("NULL-Antwort?"), QString()},
        {40, 3, QStringLiteral("Langer Memo-Text"), longMemo()},
    };
    return cards;
}

// Card, compartment, place.
const std::vector<std::array<qint32, 3>> &smallPositions()
{
    static const std::vector<std::array<qint32, 3>> positions{
        {1, 1, 1}, {2, 2, 1}, {5, 3, 4}, {10, 4, 2}, {11, 5, 9}, {40, 1, 3},
    };
    return positions;
}

// Compares texts including the difference between NULL and empty.
void compareText(const QString &actual, const QString &expected, const char *what)
{
    QVERIFY2(actual.isNull() == expected.isNull(), what);
    QVERIFY2(actual == expected, what);
}

// The stream the reader writes, built by hand for readers that misbehave.
struct Stream {
    QByteArray bytes = QByteArray(legacy::kMagic, sizeof legacy::kMagic);

    Stream &tag(char t)
    {
        bytes += t;
        return *this;
    }
    Stream &u32(quint32 v)
    {
        for (int i = 0; i < 4; ++i)
            bytes += char((v >> (8 * i)) & 0xff);
        return *this;
    }
    Stream &str(const QByteArray &s)
    {
        u32(quint32(s.size()));
        bytes += s;
        return *this;
    }
    Stream &table(int index, quint32 declared)
    {
        const legacy::TableSpec &layout = legacy::kTables[index];
        tag(legacy::kTable).str(layout.name).u32(declared).u32(quint32(layout.columnCount));
        for (int c = 0; c < layout.columnCount; ++c)
            str(layout.columns[c]);
        return *this;
    }
    Stream &row(const QList<QByteArray> &values)
    {
        tag(legacy::kRow);
        for (const QByteArray &v : values)
            v.isNull() ? u32(quint32(legacy::kNull)) : str(v);
        return *this;
    }
    Stream &end(quint32 read) { return tag(legacy::kTableEnd).u32(read); }
};

// A stand-in for the reader: a shell script with the given body.
QString fakeReader(const QString &dir, const QByteArray &body)
{
    const QString path = QDir(dir).filePath(QStringLiteral("fake-reader.sh"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// Puts file where the program expects its database and takes the practice road.
void startPractice(TestApp &app, const QByteArray &file)
{
    QVERIFY(rawdb::writeBytes(app.dbPath(), file));
    app.forms->start();
    drive::toSubjectsForPractice(*app.forms);
}

// The subject taken in the subject window on screen: its practice window.
FrmUeb *chooseSubject(TestApp &app, const QString &name)
{
    return drive::takeSubject(*app.forms, name) ? drive::ueb(*app.forms) : nullptr;
}

void chooseCompartment(FrmUeb &ueb, const QString &compartment)
{
    drive::choose(combo(ueb, "cmbFach"), compartment);
    drive::click(button(ueb, "cmdFachOk"));
}

// The refused file is untouched, nothing is left beside it, and the user is back at
// the start window with no connection.
void checkRefused(TestApp &app, const QByteArray &before)
{
    QCOMPARE(readBytes(app.dbPath()), before);
    QCOMPARE(filesIn(app.dir.path()), QStringList{QStringLiteral("Tarlivo.mdb")});
    QVERIFY(app.forms->window<FrmWelcome>().isVisible());
    TestApp::settle();
    QVERIFY(!app.forms->loaded("frmGebiete"));
    QVERIFY(!app.forms->session().store());
}

} // namespace

class TestLegacy : public QObject {
    Q_OBJECT

private slots:
    void readerDeliversEveryFieldOfSmallFile()
    {
        const LegacyData data = readLegacyFile(fixture("small.mdb"), readerOptions());
        QCOMPARE(data.jetVersion, 1);
        QVERIFY(data.missingTables.isEmpty());

        QCOMPARE(data.subjects.size(), smallSubjects().size());
        for (std::size_t i = 0; i < data.subjects.size(); ++i) {
            QCOMPARE(data.subjects[i].id, smallSubjects()[i].id);
            compareText(data.subjects[i].name, smallSubjects()[i].name, "subject name");
        }
        QCOMPARE(data.cards.size(), smallCards().size());
        for (std::size_t i = 0; i < data.cards.size(); ++i) {
            const LegacyCard &got = data.cards[i];
            const LegacyCard &want = smallCards()[i];
            QCOMPARE(got.id, want.id);
            QCOMPARE(got.subject, want.subject);
            compareText(got.question, want.question, qPrintable(QStringLiteral("Frage of %1").arg(want.id)));
            compareText(got.answer, want.answer, qPrintable(QStringLiteral("Antwort of %1").arg(want.id)));
        }
        // Longer than the library's default buffer: it must arrive whole.
        QCOMPARE(data.cards.back().answer.toUtf8().size(), 61890);

        QCOMPARE(data.positions.size(), smallPositions().size());
        for (std::size_t i = 0; i < data.positions.size(); ++i) {
            QCOMPARE(data.positions[i].card, std::optional<qint32>(smallPositions()[i][0]));
            QCOMPARE(data.positions[i].compartment, std::optional<qint32>(smallPositions()[i][1]));
            QCOMPARE(data.positions[i].queuePlace, std::optional<qint32>(smallPositions()[i][2]));
        }
    }

    void importKeepsEveryFieldAndTheOldFile()
    {
        TestApp app;
        QVERIFY(rawdb::writeBytes(app.dbPath(), readBytes(fixture("small.mdb"))));
        const std::optional<LegacyImportReport> report = importLegacyFile(app.dbPath(), readerOptions());
        QVERIFY(report);
        QCOMPARE(report->subjects, 3);
        QCOMPARE(report->cards, 6);
        QCOMPARE(report->cardsWithoutPosition + report->cardsWithoutPlace + report->positionsWithoutCard
                     + report->duplicatePositions + report->cardsWithoutSubject + report->compartmentsRaised,
                 0);
        QVERIFY(report->unnamedSubjects.isEmpty() && report->renamedSubjects.isEmpty());

        // The old file lies byte for byte under its new name; nothing else is left.
        QCOMPARE(report->originalPath, original(app));
        QCOMPARE(readBytes(original(app)), readBytes(fixture("small.mdb")));
        QCOMPARE(filesIn(app.dir.path()),
                 (QStringList{QStringLiteral("Tarlivo-Access-Original.mdb"), QStringLiteral("Tarlivo.mdb")}));
        QCOMPARE(sniffFormat(app.dbPath()), FileFormat::SQLite);

        const std::unique_ptr<Store> store = app.openStore();
        QCOMPARE(store->checkInvariants(true), QStringList());
        sql::Database &db = storedb::of(*store);
        {
            sql::Statement q(db, "SELECT idGebiet, NameGebiet FROM tblGebiet ORDER BY idGebiet");
            for (const LegacySubject &want : smallSubjects()) {
                QVERIFY(q.step());
                QCOMPARE(q.int64(0), qint64(want.id));
                compareText(q.text(1), want.name, "subject name");
            }
            QVERIFY(!q.step());
        }
        {
            sql::Statement q(db, "SELECT f.idFrageAntwort, f.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle, "
                                 "p.idGebiet FROM tblFrageAntwort AS f JOIN tblPosition AS p USING (idFrageAntwort) "
                                 "ORDER BY f.idFrageAntwort");
            for (std::size_t i = 0; i < smallCards().size(); ++i) {
                const LegacyCard &want = smallCards()[i];
                QVERIFY(q.step());
                QCOMPARE(q.int64(0), qint64(want.id));
                QCOMPARE(q.int64(1), qint64(*want.subject));
                compareText(q.text(2), want.question, "Frage");
                compareText(q.text(3), want.answer, "Antwort");
                QCOMPARE(q.int64(4), qint64(smallPositions()[i][1]));
                QCOMPARE(q.int64(5), qint64(smallPositions()[i][2]));
                QCOMPARE(q.int64(6), qint64(*want.subject));
            }
            QVERIFY(!q.step());
        }
        // The bytes SQLite holds are the file's bytes, CR LF and all.
        sql::Statement q(db, "SELECT CAST(Antwort AS BLOB) FROM tblFrageAntwort WHERE idFrageAntwort = 2");
        QVERIFY(q.step());
        QCOMPARE(q.text(0).toUtf8(), QByteArray("Zeile 1: le petit pain\r\nZeile 2: la baguette\r\nZeile 3: Ende"));
    }

    void keysContinueAboveTheLargestImportedKey()
    {
        TestApp app;
        QVERIFY(rawdb::writeBytes(app.dbPath(), readBytes(fixture("small.mdb"))));
        QVERIFY(importLegacyFile(app.dbPath(), readerOptions()));
        const std::unique_ptr<Store> store = app.openStore();
        {
            sql::Statement q(storedb::of(*store), "SELECT name, seq FROM sqlite_sequence ORDER BY name");
            QVERIFY(q.step());
            QCOMPARE(q.text(0), QStringLiteral("tblFrageAntwort"));
            QCOMPARE(q.int64(1), 40LL);
            QVERIFY(q.step());
            QCOMPARE(q.text(0), QStringLiteral("tblGebiet"));
            QCOMPARE(q.int64(1), 7LL);
        }
        store->addSubject(QStringLiteral("Neu"));
        QCOMPARE(store->subjectId(QStringLiteral("Neu")), std::optional<qint32>(8));
        const qint32 card = store->addCard(8, QStringLiteral("F"), QStringLiteral("A"));
        QCOMPARE(card, 41);
        QCOMPARE(store->headCard(8, 1), std::optional<qint32>(41));
        sql::Statement q(storedb::of(*store), "SELECT Stelle FROM tblPosition WHERE idFrageAntwort = 41");
        QVERIFY(q.step());
        QCOMPARE(q.int64(0), 10LL);
    }

    void emptyNameAndNullNameStayApart()
    {
        const LegacyData data = readLegacyFile(fixture("empty-vs-null.mdb"), readerOptions());
        QCOMPARE(data.subjects.size(), std::size_t(3));
        QVERIFY(data.subjects[0].name.isEmpty() && !data.subjects[0].name.isNull());
        QVERIFY(data.subjects[1].name.isNull());
        QCOMPARE(data.subjects[2].name, QStringLiteral("x"));
        QCOMPARE(data.missingTables, (QStringList{QStringLiteral("tblFrageAntwort"), QStringLiteral("tblPosition")}));

        // NameGebiet cannot be NULL in the store: that subject gets a name saying so.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tarlivo.mdb"));
        const LegacyImportReport report = writeLegacyStore(data, path);
        QCOMPARE(report.unnamedSubjects, QStringList{QStringLiteral("Ohne Namen")});
        const std::unique_ptr<Store> store = Store::open(path, noBackups());
        QCOMPARE(store->allSubjects(), (QStringList{QString(), QStringLiteral("Ohne Namen"), QStringLiteral("x")}));
        QCOMPARE(store->subjectId(QString("")), std::optional<qint32>(1));
        QCOMPARE(store->subjectId(QStringLiteral("Ohne Namen")), std::optional<qint32>(2));

        // As a whole the file is no data file of the older program.
        TestApp app;
        const QByteArray before = readBytes(fixture("empty-vs-null.mdb"));
        startPractice(app, before);
        const QStringList shown = app.dialogs.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(QStringLiteral("Die Tabelle „tblFrageAntwort“ fehlt")), qPrintable(shown[0]));
        QVERIFY2(shown[0].contains(QDir::toNativeSeparators(app.dbPath())), qPrintable(shown[0]));
        checkRefused(app, before);
    }

    void takenOverFileIsPractisedWhereTheUserLeftOff()
    {
        TestApp app;
        startPractice(app, readBytes(fixture("small.mdb")));
        const QStringList shown = app.dialogs.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(QStringLiteral("3 Gebiete und 6 Fragen")), qPrintable(shown[0]));
        QVERIFY2(shown[0].contains(QStringLiteral("„%1“").arg(QDir::toNativeSeparators(original(app)))),
                 qPrintable(shown[0]));
        QVERIFY(!shown[0].contains(QStringLiteral("behoben")));

        FrmUeb *ueb = chooseSubject(app, QStringLiteral("Französisch – Grundwortschatz"));
        QVERIFY(ueb && ueb->isVisible());
        QCOMPARE(entries(combo(ueb, "cmbFach")), (QStringList{"1", "2"}));
        QCOMPARE(ueb->shownCard(), std::optional<qint32>(1));
        QCOMPARE(label(ueb, "lblFrage")->text(), QStringLiteral("Was heißt \"der Käse\"?"));
        button(ueb, "cmdAntwort")->click();
        QCOMPARE(label(ueb, "lblAntwort")->text(), QStringLiteral("le fromage"));

        // Card 1 leaves compartment 1 for the end of the queue, behind card 2 in
        // compartment 2, which has waited since place 1.
        button(ueb, "cmdRichtig")->click();
        QCOMPARE(app.dialogs.take(), QStringList{QStringLiteral("Fach : 1 ist leer!\nBitte neu wählen!")});
        chooseCompartment(*ueb, QStringLiteral("2"));
        QCOMPARE(ueb->shownCard(), std::optional<qint32>(2));
        QCOMPARE(label(ueb, "lblAntwort")->text(), smallCards()[1].answer);
        button(ueb, "cmdFastRichtig")->click();
        QCOMPARE(ueb->shownCard(), std::optional<qint32>(1));
        button(ueb, "cmdFastRichtig")->click();
        QCOMPARE(ueb->shownCard(), std::optional<qint32>(2));
        QVERIFY(app.dialogs.take().isEmpty());

        // A NULL answer shows as empty text, on display and in the edit window.
        button(ueb, "cmdNeuGebiet")->click();
        ueb = chooseSubject(app, QStringLiteral("Übung \"Zitat\" mit ß und €"));
        QVERIFY(ueb);
        QCOMPARE(entries(combo(ueb, "cmbFach")), (QStringList{"4", "5"}));
        QCOMPARE(ueb->shownCard(), std::optional<qint32>(10));
        chooseCompartment(*ueb, QStringLiteral("5"));
        QCOMPARE(ueb->shownCard(), std::optional<qint32>(11));
        QCOMPARE(label(ueb, "lblFrage")->text(), QStringLiteral("NULL-Antwort?"));
        button(ueb, "cmdAntwort")->click();
        QVERIFY(label(ueb, "lblAntwort")->text().isEmpty());
        button(ueb, "cmdEdit")->click();
        QVERIFY(app.forms->window<FrmEdit>().isVisible());
        QVERIFY(textBox(app.forms->window<FrmEdit>(), "txtEditAntwort")->text().isEmpty());
        QVERIFY(app.dialogs.take().isEmpty());
    }

    void secondStartOpensTheNewStoreWithoutTakingOverAgain()
    {
        TestApp app;
        startPractice(app, readBytes(fixture("small.mdb")));
        QCOMPARE(app.dialogs.take().size(), 1);
        const QByteArray store = readBytes(app.dbPath());

        ScriptedDialogs dialogs;
        Forms again(dialogs, {app.dbPath(), noBackups(), [] {}, TestApp::readerPath()});
        again.start();
        button(again.window<FrmWelcome>(), "cmdUeben")->click();
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(dialogs.progressWindows.isEmpty());
        auto *gebiete = static_cast<FrmGebiete *>(again.loaded("frmGebiete"));
        QVERIFY(gebiete && gebiete->isVisible());
        QCOMPARE(combo(gebiete, "cmbGebiet")->count(), 3);
        QCOMPARE(readBytes(app.dbPath()), store);
        QCOMPARE(filesIn(app.dir.path()),
                 (QStringList{QStringLiteral("Tarlivo-Access-Original.mdb"), QStringLiteral("Tarlivo.mdb")}));
    }

    void earlierOriginalsAreNeverOverwritten()
    {
        TestApp app;
        QVERIFY(rawdb::writeBytes(original(app, 1), "first"));
        QVERIFY(rawdb::writeBytes(original(app, 2), "second"));
        startPractice(app, readBytes(fixture("small.mdb")));
        const QStringList shown = app.dialogs.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(QDir::toNativeSeparators(original(app, 3))), qPrintable(shown[0]));
        QCOMPARE(readBytes(original(app, 1)), QByteArray("first"));
        QCOMPARE(readBytes(original(app, 2)), QByteArray("second"));
        QCOMPARE(readBytes(original(app, 3)), readBytes(fixture("small.mdb")));
        QCOMPARE(original(app, 3), QDir(app.dir.path()).filePath(QStringLiteral("Tarlivo-Access-Original-3.mdb")));
    }

    void unreadableFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("reason");
        const QByteArray small = readBytes(fixture("small.mdb"));
        // The library crashes on this one while reading the catalogue.
        QTest::newRow("damaged") << readBytes(fixture("damaged-crashes-reader.mdb"))
                                 << QStringLiteral("Die Datei ist beschädigt: Das Programm zum Lesen der Datei ist "
                                                   "dabei abgestürzt.");
        // Whole pages, but the positions' pages are gone: the library reads none.
        QTest::newRow("cut at a page") << small.left(49 * 4096)
                                       << QStringLiteral("Die Tabelle „tblPosition“ meldet 6 Einträge, gelesen "
                                                         "wurden 0.");
        QTest::newRow("cut inside a page") << small.left(200000) << QStringLiteral("Die Datei ist unvollständig");
        QTest::newRow("cut before the tables")
            << small.left(16 * 4096) << QStringLiteral("Die Tabelle „tblGebiet“ fehlt");
        QTest::newRow("only a header") << small.left(4096)
                                       << QStringLiteral("Die Datei ist beschädigt oder keine lesbare "
                                                         "Access-Datenbank.");
    }

    void unreadableFilesAreRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, reason);
        TestApp app;
        startPractice(app, file);
        const QStringList shown = app.dialogs.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(reason), qPrintable(shown[0]));
        QVERIFY2(shown[0].contains(QStringLiteral("„%1“").arg(QDir::toNativeSeparators(app.dbPath()))),
                 qPrintable(shown[0]));
        QVERIFY2(shown[0].endsWith(QStringLiteral("Die Datei wurde nicht verändert.")), qPrintable(shown[0]));
        checkRefused(app, file);
    }

    void misbehavingReadersAreCaught_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("declared");
        QTest::addColumn<qint64>("read");

        const auto tables = [](quint32 declaredSubjects, const QList<QList<QByteArray>> &subjects) {
            Stream s;
            s.tag(legacy::kJetVersion).u32(1).table(0, declaredSubjects);
            for (const QList<QByteArray> &row : subjects)
                s.row(row);
            return s;
        };
        Stream whole = tables(1, {{"1", "a"}});
        whole.end(1).table(1, 0).end(0).table(2, 0).end(0).tag(legacy::kEnd);
        QTest::newRow("sound stream") << whole.bytes << QByteArray() << -1 << 0LL << 0LL;
        QTest::newRow("exits with an error after all")
            << whole.bytes << QByteArray("exit 5") << int(LegacyImportError::ReaderFailed) << 0LL << 0LL;
        QTest::newRow("fewer rows than declared") << tables(2, {{"1", "a"}}).end(1).bytes << QByteArray()
                                                  << int(LegacyImportError::CountMismatch) << 2LL << 1LL;
        QTest::newRow("more rows than declared") << tables(1, {{"1", "a"}, {"2", "b"}}).bytes << QByteArray("sleep 30")
                                                 << int(LegacyImportError::CountMismatch) << 1LL << 2LL;
        QTest::newRow("stream ends early")
            << tables(1, {}).bytes << QByteArray() << int(LegacyImportError::ReaderFailed) << 0LL << 0LL;
        QTest::newRow("key is no number")
            << tables(1, {{"1.5", "a"}}).bytes << QByteArray() << int(LegacyImportError::BadValue) << 0LL << 0LL;
        QTest::newRow("crashes") << QByteArray() << QByteArray("kill -SEGV $$") << int(LegacyImportError::ReaderCrashed)
                                 << 0LL << 0LL;
        QTest::newRow("goes silent") << QByteArray() << QByteArray("exec sleep 30") << int(LegacyImportError::Stalled)
                                     << 0LL << 0LL;
        QTest::newRow("prints something else")
            << QByteArray() << QByteArray("echo hello") << int(LegacyImportError::ReaderFailed) << 0LL << 0LL;
    }

    void misbehavingReadersAreCaught()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, script);
        QFETCH(int, kind);
        QFETCH(qint64, declared);
        QFETCH(qint64, read);
        QTemporaryDir dir;
        QByteArray body;
        if (!stream.isEmpty()) {
            QVERIFY(rawdb::writeBytes(dir.filePath(QStringLiteral("stream")), stream));
            body = "cat '" + QFile::encodeName(dir.filePath(QStringLiteral("stream"))) + "'\n";
        }
        LegacyImportOptions options;
        options.readerPath = fakeReader(dir.path(), body + script);
        options.stallTimeoutMs = 300;
        try {
            const LegacyData data = readLegacyFile(fixture("small.mdb"), options);
            QCOMPARE(kind, -1);
            QCOMPARE(data.subjects.size(), std::size_t(1));
            QCOMPARE(data.subjects[0].name, QStringLiteral("a"));
        } catch (const LegacyImportError &error) {
            QCOMPARE(int(error.kind()), kind);
            QCOMPARE(error.declared, declared);
            QCOMPARE(error.read, read);
        }

        options.readerPath = dir.filePath(QStringLiteral("no-such-reader"));
        QVERIFY_THROWS_EXCEPTION(LegacyImportError, readLegacyFile(fixture("small.mdb"), options));
    }

    void brokenDataIsRepairedAndCounted()
    {
        LegacyData data;
        data.subjects = {{2, QStringLiteral("Biologie")},
                         {5, QStringLiteral("BIOLOGIE")},
                         {8, QStringLiteral("Biologie (2)")},
                         {9, QStringLiteral("ohne gebiet")}};
        data.cards = {{1, 2, QStringLiteral("eins"), QStringLiteral("1")},
                      {2, 99, QStringLiteral("zwei"), QStringLiteral("2")},
                      {3, std::nullopt, QStringLiteral("drei"), QStringLiteral("3")},
                      {4, 5, QStringLiteral("vier"), QStringLiteral("4")},
                      {5, 8, QString(), QStringLiteral("5")}};
        data.positions = {{1, 3, 10}, {1, 4, 2}, {77, 1, 5}, {4, 0, 7}, {5, -2, std::nullopt}, {std::nullopt, 1, 1}};
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tarlivo.mdb"));
        const LegacyImportReport report = writeLegacyStore(data, path);

        QCOMPARE(report.subjects, 5);
        QCOMPARE(report.cards, 5);
        QCOMPARE(report.cardsWithoutPosition, 2);
        QCOMPARE(report.cardsWithoutPlace, 1);
        QCOMPARE(report.positionsWithoutCard, 2);
        QCOMPARE(report.duplicatePositions, 1);
        QCOMPARE(report.cardsWithoutSubject, 2);
        QCOMPARE(report.orphanSubject, QStringLiteral("Ohne Gebiet (2)"));
        QCOMPARE(report.compartmentsRaised, 2);
        QCOMPARE(report.renamedSubjects.size(), 1);
        QCOMPARE(report.renamedSubjects[0], qMakePair(QStringLiteral("BIOLOGIE"), QStringLiteral("BIOLOGIE (3)")));

        const std::unique_ptr<Store> store = Store::open(path, noBackups());
        QCOMPARE(store->checkInvariants(true), QStringList());
        QCOMPARE(store->subjectId(QStringLiteral("BIOLOGIE (3)")), std::optional<qint32>(5));
        QCOMPARE(store->subjectId(QStringLiteral("Ohne Gebiet (2)")), std::optional<qint32>(10));
        // Card, subject, compartment, place: the first position row of card 1 wins;
        // the cards without a place queue up behind the largest place kept, in file order.
        const std::vector<std::array<qint64, 4>> expected{
            {1, 2, 3, 10}, {2, 10, 1, 11}, {3, 10, 1, 12}, {4, 5, 1, 7}, {5, 8, 1, 13}};
        sql::Statement q(storedb::of(*store), "SELECT p.idFrageAntwort, f.idGebiet, p.Fach, p.Stelle FROM tblPosition "
                                              "AS p JOIN tblFrageAntwort AS f USING (idFrageAntwort) ORDER BY 1");
        for (const auto &row : expected) {
            QVERIFY(q.step());
            for (int c = 0; c < 4; ++c)
                QCOMPARE(q.int64(c), row[std::size_t(c)]);
        }
        QVERIFY(!q.step());
        QVERIFY(store->cardText(5)->question.isNull());

        const QString text = text::legacyImported(report, path);
        for (const char *part : {"2 Fragen hatten keinen Platz", "1 Frage hatte keine Stelle",
                                 "2 Platzangaben gehörten zu keiner Frage", "1 doppelte Platzangabe",
                                 "2 Fragen gehörten zu keinem Gebiet und stehen jetzt im Gebiet „Ohne Gebiet (2)“",
                                 "2 Fragen standen in keinem gültigen Fach",
                                 "Das Gebiet „BIOLOGIE“ gab es mehrmals; das spätere heißt jetzt „BIOLOGIE (3)“"})
            QVERIFY2(text.contains(QString::fromUtf8(part)), part);

        data.cards.push_back({4, 2, QStringLiteral("doppelt"), QString()});
        try {
            writeLegacyStore(data, dir.filePath(QStringLiteral("second.mdb")));
            QFAIL("a doubled card key was taken over");
        } catch (const LegacyImportError &error) {
            QCOMPARE(error.kind(), LegacyImportError::DuplicateKey);
            QCOMPARE(error.table, QStringLiteral("tblFrageAntwort"));
        }
    }

    void placesSharedInTheOldFileArePractisedByCardKey()
    {
        LegacyData data;
        data.subjects = {{5, QStringLiteral("Gleichstand")}};
        // Read in this order; cards 9 and 4 share a place.
        data.cards = {{9, 5, QStringLiteral("neun"), QString()},
                      {4, 5, QStringLiteral("vier"), QString()},
                      {7, 5, QStringLiteral("sieben"), QString()}};
        data.positions = {{9, 2, 3}, {4, 2, 3}, {7, 2, 1}};
        TestApp app;
        writeLegacyStore(data, app.dbPath());
        FrmUeb *ueb = &app.startPractice(QStringLiteral("Gleichstand"));
        QVERIFY(ueb->isVisible());
        QStringList seen{label(ueb, "lblFrage")->text()};
        for (int i = 0; i < 3; ++i) {
            button(ueb, "cmdFastRichtig")->click();
            seen << label(ueb, "lblFrage")->text();
        }
        QCOMPARE(seen, (QStringList{"sieben", "vier", "neun", "sieben"}));
        QVERIFY(app.dialogs.take().isEmpty());
    }

    void largeFileArrivesWholeWithProgress()
    {
        TestApp app;
        const QByteArray file = readBytes(fixture("large-20k.mdb"));
        startPractice(app, file);
        QCOMPARE(app.dialogs.take().size(), 1);
        QCOMPARE(app.dialogs.progressWindows.size(), 1);
        const ScriptedDialogs::ProgressRecord &progress = *app.dialogs.progressWindows[0];
        QVERIFY(!progress.open);
        QCOMPARE(progress.done, 20000LL);
        QCOMPARE(progress.total, 20000LL);
        QVERIFY(progress.label.contains(QStringLiteral("20000 von 20000 Fragen")));
        QCOMPARE(readBytes(original(app)), file);

        // Every card as the reader sees it in the old file.
        const LegacyData data = readLegacyFile(original(app), readerOptions());
        QCOMPARE(data.subjects.size(), std::size_t(12));
        QCOMPARE(data.cards.size(), std::size_t(20000));
        Store &store = app.forms->session().db();
        QCOMPARE(store.checkInvariants(), QStringList());
        std::map<qint32, LegacyPosition> placeOf;
        for (const LegacyPosition &p : data.positions)
            placeOf[*p.card] = p;
        for (const LegacyCard &card : data.cards) {
            sql::Statement q(storedb::of(store), "SELECT f.idGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle FROM "
                                                 "tblFrageAntwort AS f JOIN tblPosition AS p USING (idFrageAntwort) "
                                                 "WHERE f.idFrageAntwort = ?1");
            q.bind(1, card.id);
            QVERIFY(q.step());
            QCOMPARE(q.int64(0), qint64(*card.subject));
            QVERIFY(q.text(1) == card.question && q.text(2) == card.answer);
            QCOMPARE(q.int64(3), qint64(*placeOf[card.id].compartment));
            QCOMPARE(q.int64(4), qint64(*placeOf[card.id].queuePlace));
        }
    }

    void cancellingLeavesTheFileAlone()
    {
        TestApp app;
        app.dialogs.cancelProgressAfter = 1;
        const QByteArray file = readBytes(fixture("small.mdb"));
        startPractice(app, file);
        const QStringList shown = app.dialogs.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(QStringLiteral("Die Übernahme wurde abgebrochen.")), qPrintable(shown[0]));
        checkRefused(app, file);
    }

    void fileHeldByAnotherCopyIsNotTakenOver()
    {
        TestApp app;
        QVERIFY(rawdb::writeBytes(app.dbPath(), readBytes(fixture("small.mdb"))));
        const int fd = ::open(QFile::encodeName(app.dbPath()).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        try {
            importLegacyFile(app.dbPath(), readerOptions());
            QFAIL("taken over while another copy held it");
        } catch (const LegacyImportError &error) {
            QCOMPARE(error.kind(), LegacyImportError::Busy);
        }
        ::close(fd);
        QCOMPARE(filesIn(app.dir.path()), QStringList{QStringLiteral("Tarlivo.mdb")});
    }
};

QTEST_MAIN(TestLegacy)
#include "test_legacy.moc"
