#include "collation.h"
#include "store.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace tarlivo;

namespace {

StoreOptions quiet()
{
    StoreOptions options;
    options.backups = false;
    return options;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Runs SQL on the file through a plain connection, without the program's collation.
void rawExec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    char *error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    const QString message = error ? QString::fromUtf8(error) : QString();
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

qint64 rawCount(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt *stmt = nullptr;
    qint64 result = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        result = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

struct Position {
    qint64 fach;
    qint64 stelle;
};

Position positionOf(Store &store, qint32 card)
{
    sql::Statement q(store.database(), "SELECT Fach, Stelle FROM tblPosition WHERE idFrageAntwort = ?1");
    q.bind(1, card);
    if (!q.step())
        return {-1, -1};
    return {q.int64(0), q.int64(1)};
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT

private slots:
    void missingFileIsCreatedAndReadableWithoutTheProgram()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        {
            auto store = Store::open(path, quiet());
            store->addSubject("Mathe");
            store->addCard(*store->subjectId("Mathe"), "1+1", "2");
        }
        QCOMPARE(sniffFormat(path), FileFormat::SQLite);
        // A plain SQLite client reads every table without the program's collation.
        QCOMPARE(rawCount(path, "SELECT COUNT(*) FROM tblGebiet"), 1);
        QCOMPARE(rawCount(path, "SELECT COUNT(*) FROM tblFrageAntwort"), 1);
        QCOMPARE(rawCount(path, "SELECT COUNT(*) FROM tblPosition"), 1);
        QCOMPARE(rawCount(path, "PRAGMA user_version"), Store::kSchemaVersion);
        QVERIFY(QDir(dir.path()).entryList({"*.neu-*"}, QDir::Files).isEmpty());
    }

    void emptyFileBecomesAStore()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        writeFile(path, {});
        auto store = Store::open(path, quiet());
        QVERIFY(store->allSubjects().isEmpty());
    }

    void filesThatCannotServeAreLeftUnchanged_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kind");
        QTest::newRow("text") << QByteArray("Einkaufsliste\nMilch\n") << int(StoreErrorKind::NotADatabase);
        QByteArray jet("\x00\x01\x00\x00Standard Jet DB\x00\x01", 21);
        jet.append(QByteArray(200, '\x5a'));
        QTest::newRow("jet4") << jet << int(StoreErrorKind::LegacyFormat);
        QByteArray damaged("SQLite format 3\0", 16);
        damaged.append(QByteArray(4096, '\xee'));
        QTest::newRow("damaged sqlite") << damaged << int(StoreErrorKind::Corrupt);
    }

    void filesThatCannotServeAreLeftUnchanged()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        writeFile(path, bytes);
        try {
            Store::open(path, quiet());
            QFAIL("opened a file that cannot serve");
        } catch (const StoreError &e) {
            QCOMPARE(int(e.kind()), kind);
        }
        QCOMPARE(readAll(path), bytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Tarlivo.mdb"});
    }

    void foreignSqliteFileIsRefusedUnchanged()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        rawExec(path, "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('x');");
        const QByteArray before = readAll(path);
        try {
            Store::open(path, quiet());
            QFAIL("opened a foreign database");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::SchemaMismatch);
        }
        QCOMPARE(readAll(path), before);
    }

    void namesCompareGermanAndWithoutCase()
    {
        QCOMPARE(compareNames("Äpfel", "ÄPFEL"), 0);
        QCOMPARE(compareNames("äpfel", "ÄPFEL"), 0);
        QVERIFY(compareNames("Apfel", "Äpfel") < 0);
        QVERIFY(compareNames("Äpfel", "Birne") < 0);
        QVERIFY(compareNames("Zebra", "äpfel") > 0);

        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), quiet());
        for (const char *name : {"Zebra", "Äpfel", "birne", "Apfel", "Öl", "Ofen"})
            store->addSubject(QString::fromUtf8(name));
        QCOMPARE(store->allSubjects(), (QStringList{"Apfel", "Äpfel", "birne", "Ofen", "Öl", "Zebra"}));
        QCOMPARE(store->subjectId("ÄPFEL"), store->subjectId("Äpfel"));
        QVERIFY(store->subjectId("Äpfel") != store->subjectId("Apfel"));
        try {
            store->addSubject("zebra");
            QFAIL("a name equal but for case was added");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::Duplicate);
        }
        QCOMPARE(store->allSubjects().size(), 6);
    }

    void namesWithQuotesAndSqlAreStoredAsTyped()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), quiet());
        const QStringList names{"Er sagte \"Hallo\"", "O'Brien", "a; DROP TABLE tblGebiet; --", "NameGebiet"};
        for (const QString &name : names)
            store->addSubject(name);
        for (const QString &name : names)
            QVERIFY2(store->subjectId(name).has_value(), qPrintable(name));
        QCOMPARE(store->allSubjects().size(), names.size());
        store->renameSubject("NameGebiet", "x\" OR \"1\"=\"1");
        QVERIFY(!store->subjectExists("NameGebiet"));
        QVERIFY(store->subjectExists("x\" OR \"1\"=\"1"));
        QCOMPARE(store->allSubjects().size(), names.size());
    }

    void practiceRoadListsOnlySubjectsWithCards()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), quiet());
        store->addSubject("Leer");
        store->addSubject("Voll");
        for (int i = 0; i < 3; ++i)
            store->addCard(*store->subjectId("Voll"), "F", "A");
        QCOMPARE(store->subjectsWithCards(), QStringList{"Voll"});
        QCOMPARE(store->allSubjects(), (QStringList{"Leer", "Voll"}));
    }

    void newCardsQueueBehindEveryCardOfEverySubject()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), quiet());
        store->addSubject("A");
        store->addSubject("B");
        const qint32 a = *store->subjectId("A");
        const qint32 b = *store->subjectId("B");
        const qint32 first = store->addCard(a, "q1", "a1");
        QCOMPARE(positionOf(*store, first).stelle, 1);
        QCOMPARE(positionOf(*store, first).fach, 1);
        const qint32 second = store->addCard(b, "q2", "a2");
        store->moveCard(first, 3); // first now stands at 3
        const qint32 third = store->addCard(b, "q3", "a3");
        QCOMPARE(positionOf(*store, second).stelle, 2);
        QCOMPARE(positionOf(*store, first).stelle, 3);
        QCOMPARE(positionOf(*store, first).fach, 3);
        QCOMPARE(positionOf(*store, third).stelle, 4);
        QVERIFY(third > second && second > first);
        QVERIFY(store->checkInvariants().isEmpty());
    }

    void cardAndPositionAreWrittenTogetherOrNotAtAll()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, quiet());
        store->addSubject("A");
        store->addCard(*store->subjectId("A"), "q", "a");
        // Make the second insert fail after the first succeeded.
        rawExec(path, "CREATE TRIGGER failPosition BEFORE INSERT ON tblPosition "
                      "BEGIN SELECT RAISE(ABORT, 'forced'); END;");
        QVERIFY_THROWS_EXCEPTION(StoreError, store->addCard(*store->subjectId("A"), "q2", "a2"));
        QCOMPARE(rawCount(path, "SELECT COUNT(*) FROM tblFrageAntwort"), 1);
        QCOMPARE(rawCount(path, "SELECT COUNT(*) FROM tblPosition"), 1);
    }

    void textsAreStoredExactly()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), quiet());
        store->addSubject("A");
        const QString frage = QString::fromUtf8("  Zeile 1\nZeile \"2\"\r\nÄÖÜß€ 😀 ") + QChar(0) + "nach NUL";
        const QString antwort = "";
        const qint32 card = store->addCard(*store->subjectId("A"), frage, antwort);
        const auto texts = store->cardText(card);
        QVERIFY(texts);
        QCOMPARE(texts->frage, frage);
        QCOMPARE(texts->antwort, antwort);
        QVERIFY(!texts->antwort.isNull());
    }

    void compartmentsAscendNumerically()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), quiet());
        store->addSubject("A");
        store->addSubject("B");
        const qint32 a = *store->subjectId("A");
        for (int fach : {10, 2, 1, 2, 10})
            store->moveCard(store->addCard(a, "q", "a"), fach);
        store->moveCard(store->addCard(*store->subjectId("B"), "q", "a"), 5);
        QCOMPARE(store->compartments(a), (std::vector<qint32>{1, 2, 10}));
        QVERIFY(store->compartments(*store->subjectId("B")) == std::vector<qint32>{5});
        store->addSubject("C");
        QVERIFY(store->compartments(*store->subjectId("C")).empty());
    }

    void headCardIsTheLongestWaitingOfSubjectAndCompartment()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, quiet());
        store->addSubject("A");
        store->addSubject("B");
        const qint32 a = *store->subjectId("A");
        const qint32 b = *store->subjectId("B");
        const qint32 other = store->addCard(b, "fremd", "x");
        const qint32 c10 = store->addCard(a, "zehn", "x");
        const qint32 c4 = store->addCard(a, "vier", "x");
        const qint32 c7 = store->addCard(a, "sieben", "x");
        rawExec(path, qPrintable(QString("UPDATE tblPosition SET Fach = 2, Stelle = CASE idFrageAntwort "
                                         "WHEN %1 THEN 1 WHEN %2 THEN 10 WHEN %3 THEN 4 ELSE 7 END")
                                     .arg(other)
                                     .arg(c10)
                                     .arg(c4)));
        Q_UNUSED(c7);
        QCOMPARE(store->headCard(a, 2), c4);
        QCOMPARE(store->headCard(b, 2), other);
        QVERIFY(!store->headCard(a, 1));
    }

    void moveRefusesBeyondThirtyTwoBitsAndMissingRows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, quiet());
        store->addSubject("A");
        const qint32 card = store->addCard(*store->subjectId("A"), "q", "a");
        const qint32 last = store->addCard(*store->subjectId("A"), "q", "a");
        rawExec(path, qPrintable(QString("UPDATE tblPosition SET Stelle = 2147483647 WHERE idFrageAntwort = %1").arg(last)));
        try {
            store->moveCard(card, 2);
            QFAIL("moved beyond the largest queue place");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::Limit);
        }
        QCOMPARE(positionOf(*store, card).fach, 1);
        QCOMPARE(positionOf(*store, card).stelle, 1);

        rawExec(path, "DELETE FROM tblPosition WHERE Stelle = 1");
        rawExec(path, "UPDATE tblPosition SET Stelle = 5");
        try {
            store->moveCard(card, 2);
            QFAIL("moved a card without a position row");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::NotFound);
        }
        QVERIFY_THROWS_EXCEPTION(StoreError, store->moveCard(last, 0));
        QVERIFY_THROWS_EXCEPTION(StoreError, store->saveCardText(999, "q", "a"));
    }

    void positionAlwaysCarriesItsCardsSubject()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, quiet());
        store->addSubject("A");
        store->addSubject("B");
        const qint32 card = store->addCard(*store->subjectId("A"), "q", "a");
        sqlite3 *db = nullptr;
        sqlite3_open(path.toUtf8().constData(), &db);
        // The database itself refuses a position row or a card that disagrees.
        QVERIFY(sqlite3_exec(db, qPrintable(QString("UPDATE tblPosition SET idGebiet = %1").arg(*store->subjectId("B"))),
                             nullptr, nullptr, nullptr) != SQLITE_OK);
        QVERIFY(sqlite3_exec(db, qPrintable(QString("UPDATE tblFrageAntwort SET idGebiet = %1").arg(*store->subjectId("B"))),
                             nullptr, nullptr, nullptr) != SQLITE_OK);
        QVERIFY(sqlite3_exec(db, "INSERT INTO tblFrageAntwort (idGebiet, Frage, Antwort) VALUES (1, 'x', 'y');"
                                 "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                                 "VALUES (last_insert_rowid(), 1, 99, 2);",
                             nullptr, nullptr, nullptr) != SQLITE_OK);
        sqlite3_close(db);
        QCOMPARE(store->headCard(*store->subjectId("A"), 1), card);
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
