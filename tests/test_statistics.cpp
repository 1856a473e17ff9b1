#include "store/store.h"
#include "testapp.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

const QDate kToday(2026, 3, 10);

// Seconds of a local time days after kToday: the store must count it on that
// local day, whatever the machine's time zone.
qint64 at(int days, QTime time) { return QDateTime(kToday.addDays(days), time).toSecsSinceEpoch(); }

QString shown(const Statistics &s)
{
    QStringList days;
    for (const DayVerdicts &d : s.days)
        days << QStringLiteral("%1/%2/%3").arg(d.right).arg(d.almostRight).arg(d.wrong);
    QStringList compartments;
    for (const CompartmentCount &c : s.compartments)
        compartments << QStringLiteral("%1:%2").arg(c.compartment).arg(c.count);
    return QStringLiteral("%1 | %2 | today %3 streak %4 cards %5")
        .arg(days.join(' '), compartments.join(' '))
        .arg(s.today)
        .arg(s.streak)
        .arg(s.cards);
}

} // namespace

class TestStatistics : public QObject {
    Q_OBJECT

private slots:
    void figuresOfASmallFile_data()
    {
        QTest::addColumn<QString>("subject"); // empty: all subjects
        QTest::addColumn<int>("clockDay");
        // Richtig/Fast/Falsch of the last five days, oldest first; compartments; figures.
        QTest::addColumn<QString>("expected");

        QTest::newRow("one subject") << "Latein" << 0
                                     << "1/0/0 0/0/0 1/0/0 0/1/0 1/0/1 | 1:2 2:1 3:1 | today 2 streak 3 cards 4";
        QTest::newRow("subject not practised lately")
            << "Chemie" << 0 << "0/0/0 0/0/0 0/0/1 0/0/0 0/0/0 | 1:2 | today 0 streak 0 cards 2";
        QTest::newRow("all subjects") << "" << 0
                                      << "1/0/0 0/0/0 1/0/1 0/1/0 1/0/1 | 1:4 2:1 3:1 | today 2 streak 3 cards 6";
        // The next morning, before the first verdict: the run goes on until yesterday.
        QTest::newRow("next day, nothing yet")
            << "Latein" << 1 << "0/0/0 1/0/0 0/1/0 1/0/1 0/0/0 | 1:2 2:1 3:1 | today 0 streak 3 cards 4";
        QTest::newRow("two days later") << "Latein" << 2
                                        << "1/0/0 0/1/0 1/0/1 0/0/0 0/0/0 | 1:2 2:1 3:1 | today 0 streak 0 cards 4";
    }

    void figuresOfASmallFile()
    {
        QFETCH(QString, subject);
        QFETCH(int, clockDay);
        QFETCH(QString, expected);

        QTemporaryDir dir;
        qint64 clock = 0;
        StoreOptions options = noBackups();
        options.now = [&clock] { return clock; };
        Seeder seed{Store::open(dir.filePath("Tarlivo.mdb"), options)};
        Store &store = *seed.store;
        const qint32 latein = seed.subject("Latein", 4); // cards 1 to 4
        const qint32 chemie = seed.subject("Chemie", 2); // cards 5 and 6

        struct Given {
            int day;
            QTime time;
            qint32 card;
            Verdict verdict;
        };
        const Given given[] = {
            {0, QTime(0, 0), 1, Verdict::Right}, // the first second of the day
            {0, QTime(9, 0), 2, Verdict::Wrong},
            {-1, QTime(23, 59, 59), 3, Verdict::AlmostRight}, // the last second of the day before
            {-2, QTime(12, 0), 1, Verdict::Right},
            {-4, QTime(12, 0), 4, Verdict::Right}, // a day without verdicts between
            {-2, QTime(8, 0), 5, Verdict::Wrong},
        };
        for (const Given &g : given) {
            clock = at(g.day, g.time);
            store.judgeCard(g.card, g.verdict);
        }

        clock = at(clockDay, QTime(12, 0));
        const std::optional<qint32> id =
            subject.isEmpty() ? std::nullopt : std::optional<qint32>(subject == "Latein" ? latein : chemie);
        const Statistics s = store.statistics(id, 5);
        QCOMPARE(shown(s), expected);
        QCOMPARE(s.days.back().day, kToday.addDays(clockDay));
        QCOMPARE(store.cardCount(id), s.cards);
        QCOMPARE(store.statistics(id).today, s.today);
    }
};

QTEST_GUILESS_MAIN(TestStatistics)
#include "test_statistics.moc"
