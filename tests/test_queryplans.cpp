#include "rawdb.h"
#include "store/places.h"
#include "store/queries.h"
#include "store/store.h"
#include "storedb.h"
#include "testapp.h"

#include <QTemporaryDir>
#include <QtTest>

#include <map>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

// The plan's lines, without the word older SQLite versions put after SCAN/SEARCH.
QStringList planOf(Store &store, const char *statement)
{
    const QByteArray explain = QByteArray("EXPLAIN QUERY PLAN ") + statement;
    sql::Statement q(storedb::of(store), explain.constData());
    QStringList lines;
    while (q.step())
        lines << q.text(3).replace(QRegularExpression(QStringLiteral("^(SCAN|SEARCH) TABLE ")), QStringLiteral("\\1 "));
    return lines;
}

// Every row of both tables, to see that a refused statement changed nothing.
QString snapshot(Store &store)
{
    QString rows;
    sql::Statement cards(storedb::of(store), "SELECT idFrageAntwort, idGebiet FROM tblFrageAntwort ORDER BY 1");
    while (cards.step())
        rows += QStringLiteral("c%1:%2 ").arg(cards.int64(0)).arg(cards.int64(1));
    sql::Statement positions(storedb::of(store),
                             "SELECT idFrageAntwort, Fach, Stelle, idGebiet FROM tblPosition ORDER BY 1");
    while (positions.step())
        rows += QStringLiteral("p%1:%2:%3:%4 ")
                    .arg(positions.int64(0))
                    .arg(positions.int64(1))
                    .arg(positions.int64(2))
                    .arg(positions.int64(3));
    return rows;
}

qint64 mismatchedPositions(Store &store)
{
    sql::Statement q(storedb::of(store), "SELECT COUNT(*) FROM tblPosition AS p JOIN tblFrageAntwort AS f "
                                         "USING (idFrageAntwort) WHERE p.idGebiet IS NOT f.idGebiet");
    return q.step() ? q.int64(0) : -1;
}

} // namespace

class TestQueryPlans : public QObject {
    Q_OBJECT

private slots:
    // The practice loop runs these at every verdict: answered from an index they
    // take microseconds at a million cards, by a scan half a second.
    void hotStatementsUseTheirIndex_data()
    {
        QTest::addColumn<QByteArray>("statement");
        QTest::addColumn<QStringList>("required");
        QTest::addColumn<QStringList>("allowedScans"); // of small tables and the recursion only

        QTest::newRow("compartments")
            << QByteArray(Places::statements(Direction::Forward).compartments)
            << QStringList{"SEARCH tblPosition USING COVERING INDEX ixPositionQueue (idGebiet=?)",
                           "SEARCH tblPosition USING COVERING INDEX ixPositionQueue "
                           "(idGebiet=? AND Fach>?)"}
            << QStringList{"SCAN f"};
        QTest::newRow("head card") << QByteArray(Places::statements(Direction::Forward).headCard)
                                   << QStringList{"SEARCH tblPosition USING COVERING INDEX ixPositionQueue "
                                                  "(idGebiet=? AND Fach=?)"}
                                   << QStringList{};
        QTest::newRow("largest queue place")
            << QByteArray(Places::statements(Direction::Forward).maxQueuePlace)
            << QStringList{"SEARCH tblPosition USING COVERING INDEX ixPositionStelle"} << QStringList{};
        QTest::newRow("subjects with cards")
            << QByteArray(queries::kSubjectsWithCards)
            << QStringList{"SEARCH p USING COVERING INDEX ixPositionQueue (idGebiet=?)"} << QStringList{"SCAN g"};
        QTest::newRow("subject by name") << QByteArray(queries::kSubjectId) << QStringList{}
                                         << QStringList{"SCAN tblGebiet"};
        QTest::newRow("card texts") << QByteArray(queries::kCardText)
                                    << QStringList{"SEARCH tblFrageAntwort USING INTEGER PRIMARY KEY (rowid=?)"}
                                    << QStringList{};
        // Undo compares a card's rows; a place coming back is checked as free.
        QTest::newRow("card rows") << QByteArray(queries::kCardRow)
                                   << QStringList{"SEARCH f USING INTEGER PRIMARY KEY (rowid=?)",
                                                  "SEARCH p USING INTEGER PRIMARY KEY (rowid=?) LEFT-JOIN"}
                                   << QStringList{};
        QTest::newRow("cards at a place")
            << QByteArray(Places::statements(Direction::Forward).atQueuePlace)
            << QStringList{"SEARCH tblPosition USING COVERING INDEX ixPositionStelle (Stelle=?)"} << QStringList{};
        // Statistics: one subject's range of an index; the log only by day ranges.
        QTest::newRow("cards per compartment")
            << QByteArray(queries::kCardsPerCompartment)
            << QStringList{"SEARCH tblPosition USING COVERING INDEX ixPositionQueue (idGebiet=? AND Fach>?)",
                           "SEARCH tblPosition USING COVERING INDEX ixPositionQueue (idGebiet=? AND Fach=?)"}
            << QStringList{"SCAN f"};
        QTest::newRow("cards per compartment, all subjects")
            << QByteArray(queries::kCardsPerCompartmentAll)
            << QStringList{"SEARCH tblPosition USING COVERING INDEX ixPositionFach (Fach>?)",
                           "SEARCH tblPosition USING COVERING INDEX ixPositionFach (Fach=?)"}
            << QStringList{"SCAN f"};
        QTest::newRow("card count") << QByteArray(queries::kCardCount)
                                    << QStringList{"SEARCH tblPosition USING COVERING INDEX ixPositionQueue "
                                                   "(idGebiet=?)"}
                                    << QStringList{};
        QTest::newRow("verdicts of a day") << QByteArray(queries::kVerdictsBetween)
                                           << QStringList{"SEARCH tblUebung USING COVERING INDEX ixUebungGebiet "
                                                          "(idGebiet=? AND Zeitpunkt>? AND Zeitpunkt<?)"}
                                           << QStringList{};
        QTest::newRow("verdicts of a day, all subjects")
            << QByteArray(queries::kVerdictsBetweenAll)
            << QStringList{"SEARCH tblUebung USING COVERING INDEX ixUebungZeit (Zeitpunkt>? AND Zeitpunkt<?)"}
            << QStringList{};
        QTest::newRow("practised on a day") << QByteArray(queries::kPractisedBetween)
                                            << QStringList{"SEARCH tblUebung USING COVERING INDEX ixUebungGebiet "
                                                           "(idGebiet=? AND Zeitpunkt>? AND Zeitpunkt<?)"}
                                            << QStringList{};
        QTest::newRow("practised on a day, all subjects")
            << QByteArray(queries::kPractisedBetweenAll)
            << QStringList{"SEARCH tblUebung USING COVERING INDEX ixUebungZeit (Zeitpunkt>? AND Zeitpunkt<?)"}
            << QStringList{};
        // The card list: a page at a million cards reads the index up to its offset, never a sort of all.
        const QString keysOfSubject = "SEARCH tblPosition USING COVERING INDEX ixPositionQueue (idGebiet=?)";
        const QStringList pageScans{"SCAN k", "SCAN tblPosition USING COVERING INDEX ixPositionFach"};
        QTest::newRow("list page of a subject")
            << QByteArray(queries::kPageSubject) << QStringList{keysOfSubject} << pageScans;
        QTest::newRow("list page of a subject from the end")
            << QByteArray(queries::kPageSubjectFromEnd) << QStringList{keysOfSubject} << pageScans;
        QTest::newRow("list page of all") << QByteArray(queries::kPageAll) << QStringList{pageScans[1]} << pageScans;
        QTest::newRow("list page of all from the end")
            << QByteArray(queries::kPageAllFromEnd) << QStringList{pageScans[1]} << pageScans;
        // The hits: the index's, and the cards it does not hold yet read by key from its mark on.
        const QStringList hitsRead{"SCAN tblSuche VIRTUAL TABLE INDEX 0:M2",
                                   "SEARCH tblFrageAntwort USING INTEGER PRIMARY KEY (rowid>?)"};
        const QStringList hitScans{hitsRead[0], "SCAN tblSucheStand", "SCAN s"};
        QTest::newRow("list search") << QByteArray(queries::kKeysByPractice[1]) << hitsRead << hitScans;
        QTest::newRow("list search by Frage") << QByteArray(queries::kKeysByQuestion[1]) << hitsRead << hitScans;
        QTest::newRow("list row") << QByteArray(queries::kListRow)
                                  << QStringList{"SEARCH p USING INTEGER PRIMARY KEY (rowid=?)"} << QStringList{};
        const QStringList keyList{"SCAN json_each VIRTUAL TABLE INDEX 1:"};
        QTest::newRow("cards by key list")
            << QByteArray(queries::kCardRows) << QStringList{"SEARCH p USING INTEGER PRIMARY KEY (rowid=?)"} << keyList;
        QTest::newRow("delete cards by key list")
            << QByteArray(queries::kDeleteCards)
            << QStringList{"SEARCH tblFrageAntwort USING INTEGER PRIMARY KEY (rowid=?)"} << keyList;
        // The calendar: each compartment's day buckets as ranges of their key; a card by its keys.
        const QStringList buckets{"SEARCH b USING PRIMARY KEY (idGebiet=? AND Richtung=? AND Fach=? AND Tag<?)",
                                  "SEARCH b USING PRIMARY KEY (idGebiet=? AND Richtung=? AND Fach>?)",
                                  "SEARCH i USING PRIMARY KEY (idGebiet=? AND Fach=?)"};
        // d and w: each subject beside the directions it practises, two constant rows.
        const QStringList bucketScans{"SCAN g", "SCAN f", "SCAN k", "SCAN d", "SCAN w", "SCAN CONSTANT ROW"};
        QTest::newRow("due by compartment") << QByteArray(queries::kDueByCompartment) << buckets << bucketScans;
        QTest::newRow("forecast") << QByteArray(queries::kForecast) << buckets << bucketScans;
        QTest::newRow("a card's day") << QByteArray(queries::kCardDay)
                                      << QStringList{"SEARCH p USING INTEGER PRIMARY KEY (rowid=?)",
                                                     "SEARCH s USING INTEGER PRIMARY KEY (rowid=?)"}
                                      << QStringList{};
        QTest::newRow("interval") << QByteArray(queries::kInterval)
                                  << QStringList{"SEARCH tblIntervall USING PRIMARY KEY (idGebiet=? AND Fach=?)"}
                                  << QStringList{};
        QTest::newRow("delete positions by key list")
            << QByteArray(queries::kDeletePositions)
            << QStringList{"SEARCH tblPosition USING INTEGER PRIMARY KEY (rowid=?)"} << keyList;
    }

    void hotStatementsUseTheirIndex()
    {
        QFETCH(QByteArray, statement);
        QFETCH(QStringList, required);
        QFETCH(QStringList, allowedScans);

        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
        store->addSubject("A");
        for (int i = 0; i < 5; ++i)
            store->addCard(*store->subjectId("A"), "q", "a");

        const QStringList plan = planOf(*store, statement.constData());
        const QString shown = plan.join(QStringLiteral(" | "));
        for (const QString &line : required)
            QVERIFY2(plan.contains(line), qPrintable(QStringLiteral("missing \"%1\" in: %2").arg(line, shown)));
        for (const QString &line : plan) {
            if (line.startsWith(QLatin1String("SCAN ")))
                QVERIFY2(allowedScans.contains(line), qPrintable(QStringLiteral("unexpected scan in: ") + shown));
            QVERIFY2(!line.contains(QLatin1String("tblFrageAntwort")) || line.startsWith(QLatin1String("SEARCH")),
                     qPrintable(QStringLiteral("cards read without a key in: ") + shown));
        }
    }

    // The practice statements trust the subject key on the position row; the
    // program writes it and the database refuses any row where it is wrong.
    void programWritesEachPositionWithItsCardsSubject()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
        const QStringList names{"Latein", "Chemie", "Ökologie"};
        for (const QString &name : names)
            store->addSubject(name);
        std::map<qint32, qint32> subjectOfCard;
        for (int i = 0; i < 30; ++i) {
            const qint32 subject = *store->subjectId(names[i % names.size()]);
            subjectOfCard[store->addCard(subject, QString::number(i), "a")] = subject;
        }
        for (const auto &[card, subject] : subjectOfCard) {
            store->setCompartment({card}, 1 + card % 4);
            if (card % 3 == 0)
                store->saveCardText(card, "neu", "neu");
        }
        store->renameSubject("Chemie", "Biochemie");

        QCOMPARE(mismatchedPositions(*store), 0);
        for (const QString &name :
             {QStringLiteral("Latein"), QStringLiteral("Biochemie"), QStringLiteral("Ökologie")}) {
            const qint32 subject = *store->subjectId(name);
            int listed = 0;
            for (qint32 compartment : store->compartments(subject)) {
                const std::optional<qint32> head = store->headCard(subject, compartment);
                QVERIFY(head);
                QCOMPARE(subjectOfCard.at(*head), subject);
                ++listed;
            }
            QVERIFY(listed > 0);
        }
        QCOMPARE(store->checkInvariants(), QStringList());
    }

    void databaseRefusesAPositionWithAnotherSubject_data()
    {
        QTest::addColumn<QByteArray>("statement");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("position naming another subject")
            << QByteArray("INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                          "VALUES (:looseCardB, 1, 100, :subjectA)")
            << false;
        QTest::newRow("position without its subject")
            << QByteArray("INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                          "VALUES (:looseCardB, 1, 100, NULL)")
            << false;
        QTest::newRow("position of a missing card")
            << QByteArray("INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                          "VALUES (:missingCard, 1, 100, :subjectA)")
            << false;
        QTest::newRow("position moved to another subject")
            << QByteArray("UPDATE tblPosition SET idGebiet = :subjectB WHERE idFrageAntwort = :cardA") << false;
        QTest::newRow("position handed to a card of another subject")
            << QByteArray("UPDATE tblPosition SET idFrageAntwort = :looseCardB WHERE idFrageAntwort = :cardA") << false;
        QTest::newRow("card moved to another subject: its position follows")
            << QByteArray("UPDATE tblFrageAntwort SET idGebiet = :subjectB WHERE idFrageAntwort = :cardA") << true;
        QTest::newRow("position with its card's subject")
            << QByteArray("INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                          "VALUES (:looseCardB, 1, 100, :subjectB)")
            << true;
        QTest::newRow("position moved within its subject")
            << QByteArray("UPDATE tblPosition SET Fach = 3, Stelle = 100 WHERE idFrageAntwort = :cardA") << true;
    }

    void databaseRefusesAPositionWithAnotherSubject()
    {
        QFETCH(QByteArray, statement);
        QFETCH(bool, accepted);

        QTemporaryDir dir;
        const QString path = dir.filePath("Tarlivo.mdb");
        auto store = Store::open(path, noBackups());
        store->addSubject("A");
        store->addSubject("B");
        const qint32 subjectA = *store->subjectId("A");
        const qint32 subjectB = *store->subjectId("B");
        const qint32 cardA = store->addCard(subjectA, "q", "a");
        // A card as another tool might leave it, still without its position.
        qint32 looseCardB = 0;
        {
            sql::Statement insert(storedb::of(*store),
                                  "INSERT INTO tblFrageAntwort (idGebiet, Frage, Antwort) VALUES (?1, 'q', 'a')");
            insert.bind(1, subjectB).run();
            looseCardB = qint32(sqlite3_last_insert_rowid(storedb::of(*store).handle()));
        }
        const QString before = snapshot(*store);

        // Another program on the file: a plain connection, none of the store's code.
        const int rc = rawdb::Connection(path)
                           .run(statement.constData(), {{":subjectA", subjectA},
                                                        {":subjectB", subjectB},
                                                        {":cardA", cardA},
                                                        {":looseCardB", looseCardB},
                                                        {":missingCard", 999}})
                           .first;
        // Refused by the schema's own checks, not by a statement that failed to prepare.
        QCOMPARE(rc, accepted ? SQLITE_DONE : SQLITE_CONSTRAINT);
        if (!accepted)
            QCOMPARE(snapshot(*store), before);
        QCOMPARE(mismatchedPositions(*store), 0);
    }
};

QTEST_GUILESS_MAIN(TestQueryPlans)
#include "test_queryplans.moc"
