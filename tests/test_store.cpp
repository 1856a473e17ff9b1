#include "rawdb.h"
#include "store/collation.h"
#include "store/store.h"
#include "storedb.h"
#include "testapp.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <numeric>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

// What the status line and the plan show of one subject, or (nullopt) all.
DueFigures dueOf(Store &store, std::optional<qint32> subjectId)
{
    DueFigures sum;
    for (const SubjectDue &subject : store.dueBySubject()) {
        if (subjectId && subject.subjectId != *subjectId)
            continue;
        const DueFigures &f = subject.figures;
        sum.dueNow += f.dueNow;
        sum.dueWithinWeek += f.dueWithinWeek;
        sum.cards += f.cards;
        if (f.nextDueDay)
            sum.nextDueDay = sum.nextDueDay ? std::min(*sum.nextDueDay, *f.nextDueDay) : *f.nextDueDay;
    }
    return sum;
}

struct Position {
    qint64 compartment;
    qint64 queuePlace;
};

Position positionOf(Store &store, qint32 card)
{
    sql::Statement q(storedb::of(store), "SELECT Fach, Stelle FROM tblPosition WHERE idFrageAntwort = ?1");
    q.bind(1, card);
    if (!q.step())
        return {-1, -1};
    return {q.int64(0), q.int64(1)};
}

// A file of a version before both directions.
#define kWithoutBothDirections                                                                                         \
    "DROP TABLE tblRichtung; DROP TABLE tblPositionUmgekehrt; DROP TABLE tblUebungUmgekehrt; "                         \
    "DROP TRIGGER trgUmgekehrtCardSubject; DROP TRIGGER trgUmgekehrtCardDelete; "                                      \
    "DROP TRIGGER trgRichtungSubjectDelete; DROP TRIGGER IF EXISTS trgUebungUmgekehrtDelete;"

qint64 berlin(const QDate &date, int hour, int minute = 0)
{
    return QDateTime(date, QTime(hour, minute)).toSecsSinceEpoch();
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT

private slots:
    // The calendar's days are local: a zone with summer time shows they stay put.
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void dueFromTheDayItsIntervalAfterItCame_data()
    {
        QTest::addColumn<qint64>("entered");
        QTest::addColumn<int>("compartment");
        QTest::addColumn<int>("interval"); // -1: the default
        QTest::addColumn<qint64>("now");
        QTest::addColumn<bool>("due");

        const QDate march10(2026, 3, 10);
        QTest::newRow("compartment 1 at once") << berlin(march10, 10) << 1 << -1 << berlin(march10, 10) << true;
        QTest::newRow("compartment 2 before 04:00")
            << berlin(march10, 22) << 2 << -1 << berlin(march10.addDays(1), 3, 59) << false;
        QTest::newRow("compartment 2 from 04:00")
            << berlin(march10, 22) << 2 << -1 << berlin(march10.addDays(1), 4) << true;
        QTest::newRow("after midnight is the evening before")
            << berlin(march10.addDays(1), 2) << 2 << -1 << berlin(march10.addDays(1), 4) << true;
        QTest::newRow("compartment 5 waits 8 days")
            << berlin(march10, 12) << 5 << -1 << berlin(march10.addDays(7), 23) << false;
        const QDate year(2025, 1, 1);
        QTest::newRow("compartment 11: a year, not yet")
            << berlin(year, 12) << 11 << -1 << berlin(year.addDays(365), 3, 59) << false;
        QTest::newRow("compartment 11: a year") << berlin(year, 12) << 11 << -1 << berlin(year.addDays(365), 4) << true;
        QTest::newRow("compartment 30 waits no longer")
            << berlin(year, 12) << 30 << -1 << berlin(year.addDays(365), 4) << true;
        QTest::newRow("changed to 3650, a day short")
            << berlin(year, 12) << 11 << 3650 << berlin(year.addDays(3649), 12) << false;
        QTest::newRow("changed to 3650") << berlin(year, 12) << 11 << 3650 << berlin(year.addDays(3650), 4) << true;
        QTest::newRow("compartment 1 changed to 2 days")
            << berlin(march10, 12) << 1 << 2 << berlin(march10.addDays(1), 12) << false;
        // 29 March 2026 the clocks go from 02:00 to 03:00, 25 October from 03:00 back to 02:00.
        QTest::newRow("spring: 04:00 on the wall clock")
            << berlin(QDate(2026, 3, 28), 4) << 2 << -1 << berlin(QDate(2026, 3, 29), 4) << true;
        QTest::newRow("spring: 03:59") << berlin(QDate(2026, 3, 28), 4) << 2 << -1 << berlin(QDate(2026, 3, 29), 3, 59)
                                       << false;
        QTest::newRow("autumn: 03:30 after the change")
            << berlin(QDate(2026, 10, 24), 12) << 2 << -1 << berlin(QDate(2026, 10, 25), 4) - 1800 << false;
        QTest::newRow("autumn: 04:00") << berlin(QDate(2026, 10, 24), 12) << 2 << -1 << berlin(QDate(2026, 10, 25), 4)
                                       << true;
    }

    void dueFromTheDayItsIntervalAfterItCame()
    {
        QFETCH(qint64, entered);
        QFETCH(int, compartment);
        QFETCH(int, interval);
        QFETCH(qint64, now);
        QFETCH(bool, due);
        QTemporaryDir dir;
        qint64 clock = entered;
        StoreOptions options = noBackups();
        options.now = [&clock] { return clock; };
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), options);
        store->addSubject("A");
        const qint32 subject = *store->subjectId("A");
        const qint32 card = store->addCard(subject, "q", "a");
        store->setCompartment({card}, compartment);
        if (interval >= 0)
            store->setInterval(subject, compartment, interval);
        clock = now;
        // The card's own answer and the buckets' must agree.
        QCOMPARE(store->isDue(card), due);
        QCOMPARE(dueOf(*store, subject).dueNow, due ? 1 : 0);
        QCOMPARE(dueOf(*store, std::nullopt).dueNow, due ? 1 : 0);
        QCOMPARE(store->highestDueCompartment(subject), due ? std::optional<qint32>(compartment) : std::nullopt);
        const std::vector<qint64> days = store->forecast(subject, 4000);
        QCOMPARE(days.front(), due ? 1 : 0);
        QCOMPARE(std::accumulate(days.begin(), days.end(), qint64(0)), 1);
        // The day it falls due, and the compartment's figures with its interval.
        const qint32 intervalDays = interval >= 0 ? interval : Store::defaultInterval(compartment);
        QCOMPARE(dueOf(*store, subject).nextDueDay, std::optional<qint64>(Store::learningDay(entered) + intervalDays));
        const std::vector<CompartmentDue> plan = store->dueByCompartment(subject);
        const auto it = std::find_if(plan.begin(), plan.end(),
                                     [&](const CompartmentDue &c) { return c.compartment == compartment; });
        QVERIFY(it != plan.end());
        QCOMPARE(it->days, intervalDays);
        QCOMPARE(it->figures.dueNow, due ? 1 : 0);
        QCOMPARE(it->figures.cards, 1);
        QCOMPARE(plan.size(), size_t(compartment > 10 ? 11 : 10)); // 1 to 10, and a higher one holding cards
        QCOMPARE(store->checkInvariants(), QStringList());
    }

    void missingFileIsCreatedAndReadableWithoutTheProgram()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        {
            auto store = Store::open(path, noBackups());
            store->addSubject("Mathe");
            store->addCard(*store->subjectId("Mathe"), "1+1", "2");
        }
        QCOMPARE(sniffFormat(path), FileFormat::SQLite);
        // A plain SQLite client reads every table without the program's collation.
        QCOMPARE(rawdb::count(path, "SELECT COUNT(*) FROM tblGebiet"), 1);
        QCOMPARE(rawdb::count(path, "SELECT COUNT(*) FROM tblFrageAntwort"), 1);
        QCOMPARE(rawdb::count(path, "SELECT COUNT(*) FROM tblPosition"), 1);
        QCOMPARE(rawdb::count(path, "PRAGMA user_version"), Store::kSchemaVersion);
        QVERIFY(QDir(dir.path()).entryList({"*.neu-*"}, QDir::Files).isEmpty());
    }

    void fileOfTheFirstVersionIsUpgradedInPlace()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        {
            auto store = Store::open(path, noBackups());
            store->addSubject("Erdkunde");
            store->addSubject("Biologie");
            store->addCard(*store->subjectId("Erdkunde"), "Hauptstadt von Österreich", "Wien");
        }
        // As the first version wrote it: no log, no search index, no calendar, cards bound to their subject.
        QCOMPARE(rawdb::Connection(path).exec(
                     "DROP TABLE tblFachSeit; DROP TABLE tblIntervall; DROP TABLE tblFaellig; "
                     "DROP TRIGGER trgKarteMediumKarte; DROP TABLE tblKarteMedium; DROP TABLE tblMedium; "
                     "DROP TRIGGER trgFachSeitDelete; DROP TRIGGER trgFaelligPositionInsert; "
                     "DROP TRIGGER trgFaelligPositionDelete; DROP TRIGGER trgFaelligPositionUpdate; DROP TABLE "
                     "tblSuche; DROP TABLE tblSucheStand; DROP TABLE tblUebung; DROP TRIGGER "
                     "trgCardSubjectFollows;"
                     "DROP TRIGGER trgSucheInsert; DROP TRIGGER trgSucheDelete; DROP TRIGGER trgSucheUpdate;"
                     "CREATE TRIGGER trgCardKeepsSubject BEFORE UPDATE OF idGebiet ON tblFrageAntwort "
                     "WHEN NEW.idGebiet IS NOT OLD.idGebiet "
                     "BEGIN SELECT RAISE(ABORT, 'a card never changes its subject'); END;" kWithoutBothDirections
                     "PRAGMA user_version = 1;"),
                 SQLITE_OK);
        {
            auto store = Store::open(path, noBackups());
            QVERIFY(store->checkInvariants().isEmpty());
        }
        QCOMPARE(rawdb::count(path, "PRAGMA user_version"), Store::kSchemaVersion);
        // The cards already there are found, whatever the case of the letters typed.
        QCOMPARE(rawdb::count(path, "SELECT COUNT(*) FROM tblSuche WHERE tblSuche MATCH '\"ÖSTERR\"'"), 1);
        QCOMPARE(rawdb::Connection(path)
                     .run("UPDATE tblFrageAntwort SET idGebiet = (SELECT idGebiet FROM tblGebiet "
                          "WHERE NameGebiet = 'Biologie')",
                          {})
                     .first,
                 SQLITE_DONE);
        QCOMPARE(rawdb::count(path, "SELECT COUNT(*) FROM tblPosition AS p JOIN tblGebiet AS g USING (idGebiet) "
                                    "WHERE g.NameGebiet = 'Biologie'"),
                 1);
    }

    // A card of an earlier version came into its compartment with its last verdict;
    // one never judged is due at once.
    void fileOfVersionThreeGetsTheTimes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        qint64 clock = berlin(QDate(2026, 5, 4), 18);
        StoreOptions options = noBackups();
        options.now = [&clock] { return clock; };
        qint32 judged = 0;
        qint32 untouched = 0;
        {
            auto store = Store::open(path, options);
            store->addSubject("A");
            const qint32 a = *store->subjectId("A");
            judged = store->addCard(a, "q1", "a1");
            untouched = store->addCard(a, "q2", "a2");
            store->judgeCard(judged, Verdict::Right);
            clock += 3600;
            store->judgeCard(judged, Verdict::Right);
        }
        QCOMPARE(rawdb::Connection(path).exec("DROP TRIGGER trgKarteMediumKarte; DROP TABLE tblKarteMedium; "
                                              "DROP TABLE tblMedium; "
                                              "DROP TABLE tblFachSeit; DROP TABLE tblIntervall; DROP TABLE tblFaellig; "
                                              "DROP TRIGGER trgFachSeitDelete; DROP TRIGGER trgFaelligPositionInsert; "
                                              "DROP TRIGGER trgFaelligPositionDelete; "
                                              "DROP TRIGGER trgFaelligPositionUpdate; " kWithoutBothDirections
                                              "PRAGMA user_version = 3;"),
                 SQLITE_OK);
        clock += 10 * 86400;
        auto store = Store::open(path, options);
        QCOMPARE(rawdb::count(path, "PRAGMA user_version"), Store::kSchemaVersion);
        QCOMPARE(store->cardRow(judged)->enteredAt, berlin(QDate(2026, 5, 4), 19));
        QCOMPARE(store->cardRow(untouched)->enteredAt, 0);
        QCOMPARE(store->checkInvariants(), QStringList());
        // Compartment 3 waits two days: due by now, as is the card never judged.
        QCOMPARE(dueOf(*store, std::nullopt).dueNow, 2);
    }

    void halfMadeStoreOfAKilledRunIsRemoved()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        // The process id of a run that has certainly ended.
        const pid_t gone = fork();
        if (gone == 0)
            _exit(0);
        waitpid(gone, nullptr, 0);
        const QString stale = path + QStringLiteral(".neu-%1").arg(gone);
        QVERIFY(rawdb::writeBytes(stale, "half"));
        QVERIFY(rawdb::writeBytes(stale + "-journal", "half"));
        auto store = Store::open(path, noBackups());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Tarlivo.mdb"});
    }

    void emptyFileBecomesAStore()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        QVERIFY(rawdb::writeBytes(path, {}));
        auto store = Store::open(path, noBackups());
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
        QVERIFY(rawdb::writeBytes(path, bytes));
        try {
            Store::open(path, noBackups());
            QFAIL("opened a file that cannot serve");
        } catch (const StoreError &e) {
            QCOMPARE(int(e.kind()), kind);
        }
        QCOMPARE(rawdb::readBytes(path), bytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Tarlivo.mdb"});
    }

    void foreignSqliteFileIsRefusedUnchanged()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        rawdb::exec(path, "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('x');");
        const QByteArray before = rawdb::readBytes(path);
        try {
            Store::open(path, noBackups());
            QFAIL("opened a foreign database");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::SchemaMismatch);
        }
        QCOMPARE(rawdb::readBytes(path), before);
    }

    void namesCompareGermanAndWithoutCase()
    {
        QCOMPARE(compareNames("Äpfel", "ÄPFEL"), 0);
        QCOMPARE(compareNames("äpfel", "ÄPFEL"), 0);
        QVERIFY(compareNames("Apfel", "Äpfel") < 0);
        QVERIFY(compareNames("Äpfel", "Birne") < 0);
        QVERIFY(compareNames("Zebra", "äpfel") > 0);

        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
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
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
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

    void textsAreStoredExactly()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
        store->addSubject("A");
        const QString question = QString::fromUtf8("  Zeile 1\nZeile \"2\"\r\nÄÖÜß€ 😀 ") + QChar(0) + "nach NUL";
        const QString answer = "";
        const qint32 card = store->addCard(*store->subjectId("A"), question, answer);
        const auto texts = store->cardText(card);
        QVERIFY(texts);
        QCOMPARE(texts->question, question);
        QCOMPARE(texts->answer, answer);
        QVERIFY(!texts->answer.isNull());
    }

    void headCardIsTheLongestWaitingOfSubjectAndCompartment()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, noBackups());
        store->addSubject("A");
        store->addSubject("B");
        const qint32 a = *store->subjectId("A");
        const qint32 b = *store->subjectId("B");
        const qint32 other = store->addCard(b, "fremd", "x");
        const qint32 c10 = store->addCard(a, "zehn", "x");
        const qint32 c4 = store->addCard(a, "vier", "x");
        const qint32 c7 = store->addCard(a, "sieben", "x");
        const auto placed =
            rawdb::Connection(path).run("UPDATE tblPosition SET Fach = 2, Stelle = CASE idFrageAntwort "
                                        "WHEN :other THEN 1 WHEN :c10 THEN 10 WHEN :c4 THEN 4 ELSE 7 END",
                                        {{":other", other}, {":c10", c10}, {":c4", c4}});
        QCOMPARE(placed, std::make_pair(SQLITE_DONE, 4));
        Q_UNUSED(c7);
        QCOMPARE(store->headCard(a, 2), c4);
        QCOMPARE(store->headCard(b, 2), other);
        QVERIFY(!store->headCard(a, 1));
    }

    // An import counts the learning days of its cards' times by whole days where the
    // clocks do not change: across both changes of the clocks and before 1970 they
    // are the days the calendar counts.
    void importedTimesTakeTheCalendarsDays()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
        std::vector<qint64> times;
        for (const QDateTime &from : {QDateTime(QDate(2026, 3, 28), QTime(0, 0)),
                                      QDateTime(QDate(2025, 10, 25), QTime(0, 0)), QDateTime(QDate(1969, 12, 31), {})})
            for (qint64 t = from.toSecsSinceEpoch(), end = t + 3 * 86400; t < end; t += 433)
                times.push_back(t);
        size_t i = 0;
        store->importCards([&](BulkCard &c) {
            if (i == times.size())
                return false;
            c = BulkCard{QStringLiteral("Zeiten"), QString::number(i), QStringLiteral("a"), 2, times[i]};
            ++i;
            return true;
        });
        sql::Statement q(storedb::of(*store), "SELECT Seit, Tag FROM tblFachSeit");
        int rows = 0;
        for (; q.step(); ++rows)
            QCOMPARE(q.int64(1), Store::learningDay(q.int64(0)));
        QCOMPARE(rows, int(times.size()));
    }

    // Duplicates in a large subject are asked through the text index, built at the
    // first such import; a large import over many subjects and compartments drops it
    // and builds two position indexes anew at its end. Either way duplicates (of an
    // old subject first met after that point too), queue, checks and indexes come
    // out as from a small import.
    void importsKeepQueueDuplicatesAndChecksWhateverTheirSize()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, noBackups());
        auto import = [&store](const std::vector<BulkCard> &cards) {
            size_t i = 0;
            return store->importCards([&](BulkCard &c) { return i < cards.size() && (c = cards[i++], true); });
        };
        std::vector<BulkCard> old;
        for (int i = 0; i < 2500; ++i)
            old.push_back({"Alt", QStringLiteral("alt %1").arg(i), "x"});
        QCOMPARE(import(old).cardsStored, 2500);
        rawdb::exec(path, "UPDATE tblFrageAntwort SET Frage = NULL WHERE Frage = 'alt 0'");
        const char *textIndex = "SELECT count(*) FROM sqlite_master WHERE name = 'ixFrageAntwortText'";
        QCOMPARE(rawdb::count(path, textIndex), 0);

        const BulkImportResult small = import({{"Alt", "alt 7", "x"}, {"Alt", "", "x"}, {"Alt", "neu", "x"}});
        QCOMPARE(small.cardsStored, 1);
        QCOMPARE(small.duplicatesSkipped, 2);
        QCOMPARE(rawdb::count(path, textIndex), 1);

        const BulkImportResult r = store->importCards([n = 0](BulkCard &c) mutable {
            const QString question = n == 29999 ? QStringLiteral("alt 8") : QString::number(n == 29997 ? 1 : n);
            c = BulkCard{n % 2 ? QStringLiteral("Alt") : QStringLiteral("B"), question, QStringLiteral("x"), 1 + n % 3};
            return ++n <= 30000;
        });
        QCOMPARE(r.cardsStored, 29998);
        QCOMPARE(r.duplicatesSkipped, 2);
        QCOMPARE(rawdb::count(path, textIndex), 0);
        QCOMPARE(store->headCard(*store->subjectId("Alt"), 2),
                 qint32(rawdb::count(path, "SELECT idFrageAntwort FROM tblFrageAntwort WHERE Frage = '1'")));
        QCOMPARE(rawdb::rows(path, "SELECT name FROM sqlite_master WHERE name IN ('ixPositionQueue', "
                                   "'ixPositionFach', 'trgPositionInsertSubject') ORDER BY name"),
                 QStringList({"ixPositionFach", "ixPositionQueue", "trgPositionInsertSubject"}));
        QCOMPARE(store->checkInvariants(), QStringList());
    }

    void moveRefusesBeyondThirtyTwoBitsAndMissingRows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, noBackups());
        store->addSubject("A");
        const qint32 card = store->addCard(*store->subjectId("A"), "q", "a");
        const qint32 last = store->addCard(*store->subjectId("A"), "q", "a");
        QCOMPARE(rawdb::Connection(path).run("UPDATE tblPosition SET Stelle = 2147483647 WHERE idFrageAntwort = ?1",
                                             {{"?1", last}}),
                 std::make_pair(SQLITE_DONE, 1));
        try {
            store->setCompartment({card}, 2);
            QFAIL("moved beyond the largest queue place");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::Limit);
        }
        QCOMPARE(positionOf(*store, card).compartment, 1);
        QCOMPARE(positionOf(*store, card).queuePlace, 1);

        rawdb::exec(path, "DELETE FROM tblPosition WHERE Stelle = 1");
        rawdb::exec(path, "UPDATE tblPosition SET Stelle = 5");
        try {
            store->setCompartment({card}, 2);
            QFAIL("moved a card without a position row");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::NotFound);
        }
        QVERIFY_THROWS_EXCEPTION(StoreError, store->setCompartment({last}, 0));
        QVERIFY_THROWS_EXCEPTION(StoreError, store->saveCardText(999, "q", "a"));
    }

    // Each direction keeps its own place: a verdict moves only the place of the
    // direction judged, the due count takes only the directions practised, and undo
    // takes verdict and choice back to the file as it was.
    void verdictsMoveThePlaceOfTheirDirection_data()
    {
        QTest::addColumn<QList<int>>("settings");    // chosen one after the other
        QTest::addColumn<int>("compartment");        // forward place before
        QTest::addColumn<int>("reverseCompartment"); // reverse place before, when there is one
        QTest::addColumn<Direction>("judged");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<int>("compartmentAfter");
        QTest::addColumn<int>("reverseAfter"); // 0: none
        QTest::addColumn<int>("dueAfter");     // places of the subject due now, the other card's too

        const auto F = Direction::Forward;
        const auto R = Direction::Reverse;
        QTest::newRow("forward only") << QList<int>{} << 2 << 0 << F << Verdict::Right << 3 << 0 << 1;
        QTest::newRow("both: reverse Richtig") << QList<int>{2} << 2 << 1 << R << Verdict::Right << 2 << 2 << 2;
        QTest::newRow("both: reverse Falsch") << QList<int>{2} << 3 << 4 << R << Verdict::Wrong << 3 << 1 << 3;
        QTest::newRow("both: forward Fast Richtig")
            << QList<int>{2} << 3 << 4 << F << Verdict::AlmostRight << 3 << 4 << 2;
        QTest::newRow("reverse only: forward not counted")
            << QList<int>{1} << 1 << 2 << R << Verdict::AlmostRight << 1 << 2 << 1;
        QTest::newRow("back to forward keeps the place")
            << QList<int>{2, 0} << 2 << 1 << F << Verdict::Right << 3 << 1 << 1;
        QTest::newRow("forward only: no reverse place to judge")
            << QList<int>{} << 2 << 0 << R << Verdict::Right << 2 << 0 << 1;
    }

    void verdictsMoveThePlaceOfTheirDirection()
    {
        QFETCH(QList<int>, settings);
        QFETCH(int, compartment);
        QFETCH(int, reverseCompartment);
        QFETCH(Direction, judged);
        QFETCH(Verdict, verdict);
        QFETCH(int, compartmentAfter);
        QFETCH(int, reverseAfter);
        QFETCH(int, dueAfter);

        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, noBackups());
        store->addSubject("A");
        const qint32 subject = *store->subjectId("A");
        // A second card, due at once both ways, keeps the fill and the counts honest.
        const qint32 other = store->addCard(subject, "other", "x");
        const qint32 card = store->addCard(subject, "Hund", "dog");
        store->setCompartment({card}, compartment);
        const QStringList before = rawdb::rows(path, "SELECT * FROM tblPositionUmgekehrt");
        std::vector<Change> steps;
        for (int setting : settings)
            steps.push_back(*store->setDirection(subject, DirectionSetting(setting)));
        if (reverseCompartment > 0)
            steps.push_back(store->setCompartment({card}, reverseCompartment, Direction::Reverse));
        const std::optional<CardRow> placed = store->cardRow(card);
        bool judgedOk = true;
        try {
            steps.push_back(store->judgeCard(card, verdict, judged));
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreErrorKind::NotFound);
            judgedOk = false;
        }
        const std::optional<CardRow> after = store->cardRow(card);
        QCOMPARE(after->compartment, compartmentAfter);
        QCOMPARE(after->reverse ? after->reverse->compartment : 0, reverseAfter);
        QCOMPARE(dueOf(*store, subject).dueNow, qint64(dueAfter));
        QCOMPARE(store->checkInvariants(), QStringList());

        if (judgedOk) {
            store->undo(steps.back());
            QCOMPARE(store->cardRow(card), placed);
            store->redo(steps.back());
            QCOMPARE(store->cardRow(card), after);
        }
        Q_UNUSED(other);
        for (auto it = steps.rbegin(); it != steps.rend(); ++it)
            store->undo(*it);
        QCOMPARE(store->checkInvariants(), QStringList());
        QCOMPARE(store->direction(subject), DirectionSetting::Forward);
        QCOMPARE(rawdb::rows(path, "SELECT * FROM tblPositionUmgekehrt"), before);
    }

    // "Abbrechen" while a subject gets its reverse places: nothing changed.
    void cancelledTurnOnChangesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, noBackups());
        store->addSubject("A");
        const qint32 subject = *store->subjectId("A");
        store->importCards([n = 0](BulkCard &c) mutable {
            c = BulkCard{QStringLiteral("A"), QString::number(n), QStringLiteral("x")};
            return ++n <= 200000;
        });
        const QByteArray bytes = rawdb::readBytes(path);
        int asked = 0;
        QVERIFY(!store->setDirection(subject, DirectionSetting::Both, [&asked] { return ++asked < 2; }));
        QVERIFY(asked >= 2);
        QCOMPARE(store->direction(subject), DirectionSetting::Forward);
        QVERIFY(rawdb::readBytes(path) == bytes);
        QCOMPARE(store->checkInvariants(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
