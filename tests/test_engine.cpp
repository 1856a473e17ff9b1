#include "engine/practicerun.h"
#include "testapp.h"

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::engine;
using Kind = Notice::Kind;

namespace {

const QDate kDay(2026, 3, 10); // no summer time change near it
qint64 at(int days) { return QDateTime(kDay.addDays(days), QTime(12, 0)).toSecsSinceEpoch(); }

// A store on a clock of its own, the cards "F.."/"A.." of one subject, and a run on it.
struct Fixture {
    QTemporaryDir dir;
    qint64 clock = at(0);
    Seeder seed{Store::open(dir.filePath(QStringLiteral("t.db")), options())};
    qint32 subject = seed.subject(QStringLiteral("Latein"));
    PracticeRun run{[this]() -> Store & { return *seed.store; }};

    StoreOptions options()
    {
        StoreOptions o = noBackups();
        o.now = [this] { return clock; };
        return o;
    }
    // Each entry "F3" or "F3/2": the card F3/A3 in that forward (and reverse) compartment.
    void cards(const QStringList &entries, DirectionSetting setting)
    {
        std::vector<std::pair<qint32, int>> reverse;
        for (const QString &entry : entries) {
            const QStringList parts = entry.split(QLatin1Char('/'));
            const QString name = parts[0];
            reverse.emplace_back(seed.card(subject, name, QLatin1Char('A') + name.mid(1), name.mid(1, 1).toInt()),
                                 parts.size() > 1 ? parts[1].toInt() : 1);
        }
        seed.store->setDirection(subject, setting);
        for (const auto &[card, compartment] : reverse)
            if (compartment > 1)
                seed.store->setCompartment({card}, compartment, Direction::Reverse);
    }
};

QList<int> kinds(const Step &step)
{
    QList<int> result;
    for (const Notice &notice : step.notices)
        result << int(notice.kind);
    return result;
}

} // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    // Richtig on every place asked, until the run tells something: the order of the
    // places each mode asks.
    void modesAskTheirPlacesInOrder_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("setting");
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QList<int>>("notices"); // of the last step
        const int forward = int(DirectionSetting::Forward), both = int(DirectionSetting::Both);
        const int due = int(Mode::Due), all = int(Mode::All), designed = int(Mode::Compartments);
        const QList<int> dueEnd{int(Kind::AllDuePractised), int(Kind::CompartmentEmpty)};
        QTest::newRow("due both ways: forward from the highest compartment, then reverse")
            << due << both << QStringList{"F1", "F2", "F3"} << 1 << QStringList{"F2", "F1", "A1", "A2", "A3"} << dueEnd;
        QTest::newRow("due reverse only") << due << int(DirectionSetting::Reverse) << QStringList{"F2", "F1"} << 0
                                          << QStringList{"A2", "A1"} << dueEnd;
        QTest::newRow("due, nothing due: the lowest compartment's head as designed")
            << due << forward << QStringList{"F3"} << 0 << QStringList{"F3"} << QList<int>{int(Kind::AllDuePractised)};
        QTest::newRow("all places, due or not, both ways")
            << all << both << QStringList{"F1/3", "F2a", "F2b", "F4"} << 0
            << QStringList{"F4", "F2a", "F2b", "F1", "A1", "A2a", "A2b", "A4"} << QList<int>{int(Kind::AllPractised)};
        QTest::newRow("designed, both ways: the reverse places once no forward one is due")
            << designed << both << QStringList{"F1"} << 0 << QStringList{"F1", "A1"}
            << QList<int>{int(Kind::CompartmentEmpty)};
    }

    void modesAskTheirPlacesInOrder()
    {
        QFETCH(int, mode);
        QFETCH(int, setting);
        QFETCH(QStringList, cards);
        QFETCH(int, days);
        QFETCH(QStringList, asked);
        QFETCH(QList<int>, notices);
        Fixture f;
        f.cards(cards, DirectionSetting(setting));
        f.clock = at(days);

        Step step = f.run.start(QStringLiteral("Latein"), Mode(mode));
        QStringList seen;
        std::optional<qint32> listed;
        for (int i = 0; i < 20; ++i) {
            if (step.list == Step::List::Fill)
                listed = step.compartments[std::size_t(step.selected)];
            if (step.display == Step::Display::Ask)
                seen << f.run.place()->asked;
            if (mode == int(Mode::All) && f.run.place())
                QCOMPARE(f.run.remaining(), qint64(asked.size() - seen.size() + 1));
            if (!step.notices.empty() || !f.run.place())
                break;
            const std::optional<Place> next = f.run.peek();
            step = f.run.judge(Verdict::Right, listed);
            QCOMPARE(step.judged.cards.size(), std::size_t(1));
            if (mode == int(Mode::All) && f.run.place())
                QCOMPARE(next->asked, f.run.place()->asked);
        }
        QCOMPARE(seen, asked);
        QCOMPARE(kinds(step), notices);
        QVERIFY(f.seed.store->checkInvariants().isEmpty());
    }

    // The end of due practice leaves nothing that could be judged again; an undone
    // verdict asks its place again and due practice goes on with it.
    void dueEndLeavesNothingToJudge_data()
    {
        QTest::addColumn<int>("firstInterval"); // of compartment 1
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QList<int>>("notices");
        QTest::newRow("the compartment emptied")
            << 0 << int(Verdict::Right) << QList<int>{int(Kind::AllDuePractised), int(Kind::CompartmentEmpty)};
        QTest::newRow("the card back in its compartment, not due")
            << 1 << int(Verdict::Wrong) << QList<int>{int(Kind::AllDuePractised)};
    }

    void dueEndLeavesNothingToJudge()
    {
        QFETCH(int, firstInterval);
        QFETCH(int, verdict);
        QFETCH(QList<int>, notices);
        Fixture f;
        f.cards({"F1"}, DirectionSetting::Forward);
        f.seed.store->setInterval(f.subject, 1, firstInterval);
        f.clock = at(1);

        QCOMPARE(f.run.start(QStringLiteral("Latein"), Mode::Due).display, Step::Display::Ask);
        const Step end = f.run.judge(Verdict(verdict), 1);
        QCOMPARE(kinds(end), notices);
        QCOMPARE(end.display, Step::Display::Clear);
        QVERIFY(!f.run.place() && !f.run.dueOnly());
        const Step again = f.run.judge(Verdict::Right, 1);
        QCOMPARE(kinds(again), QList<int>{int(Kind::NoCardOnDisplay)});
        QVERIFY(again.judged.isEmpty());

        f.seed.store->undo(end.judged);
        Change undone = end.judged; // as the session tells an undo: before and after swapped
        for (auto &row : undone.cards)
            std::swap(row.before, row.after);
        for (auto &row : undone.log)
            std::swap(row.before, row.after);
        const Step back = f.run.follow(undone, true, true, 1);
        QCOMPARE(back.display, Step::Display::Ask);
        QCOMPARE(f.run.place()->asked, QStringLiteral("F1"));
        QVERIFY(f.run.dueOnly());
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
