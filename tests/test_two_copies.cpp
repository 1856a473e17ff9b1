// Two running copies of Tarlivo on one file (a user started it twice), both
// storing cards, giving verdicts and editing at the same time through their
// windows: no queue place is handed out twice, nothing is lost or corrupted.

#include "crashmodel.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <set>

using namespace crashmodel;

namespace {

struct Position {
    qint64 compartment;
    qint64 queuePlace;
};

// What one copy reported.
struct Report {
    std::vector<std::pair<qint64, Position>> written; // in order
    std::map<qint64, Op> storedCards;                 // key -> "> C" change
    std::map<qint64, std::vector<Op>> edits;          // card -> "> E" changes
    int verdicts = 0;
    int refused = 0;
    QStringList unexpected;
};

Report parse(const QByteArray &output)
{
    Report r;
    std::optional<Op> pending;
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith(QLatin1String("> "))) {
            pending = parseIntent(line);
        } else if (line.startsWith(QLatin1String("P "))) {
            const QStringList f = line.split(QLatin1Char(' '));
            r.written.push_back({f[1].toLongLong(), Position{f[2].toLongLong(), f[3].toLongLong()}});
        } else if (line.startsWith(QLatin1String("< ")) && pending) {
            if (pending->kind == QLatin1Char('C'))
                r.storedCards[line.section(QLatin1Char(' '), 2, 2).toLongLong()] = *pending;
            else if (pending->kind == QLatin1Char('E'))
                r.edits[pending->fields.value(0).toLongLong()].push_back(*pending);
            else if (pending->kind == QLatin1Char('V'))
                ++r.verdicts;
            pending.reset();
        } else if (line.startsWith(QLatin1String("~ "))) {
            ++r.refused;
            pending.reset();
        } else if (line.startsWith(QLatin1String("! "))) {
            r.unexpected << unhex(line.mid(2));
        }
    }
    return r;
}

} // namespace

class TestTwoCopies : public QObject {
    Q_OBJECT

private slots:
    void bothCopiesWorkAtOnceWithoutLossOrSharedPlaces()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tarlivo.mdb"));
        // Some subjects and cards to start with, from one copy alone.
        QProcess setup, a, b;
        startDriver(setup, {dir.path(), QStringLiteral("7"), QStringLiteral("s"), QStringLiteral("--ops"),
                            QStringLiteral("60")});
        QVERIFY(setup.waitForFinished(60000));
        QCOMPARE(setup.exitCode(), 0);
        const rawdb::State before = rawdb::read(path);
        QVERIFY(before.cards.size() > 5);

        const int ops = 400;
        const QStringList both{QStringLiteral("--ops"), QString::number(ops), QStringLiteral("--cards-only"),
                               QStringLiteral("--log")};
        startDriver(a, QStringList{dir.path(), QStringLiteral("11"), QStringLiteral("a")} + both);
        startDriver(b, QStringList{dir.path(), QStringLiteral("12"), QStringLiteral("b")} + both);
        QVERIFY(a.waitForFinished(180000));
        QVERIFY(b.waitForFinished(180000));
        QCOMPARE(a.exitStatus(), QProcess::NormalExit);
        QCOMPARE(b.exitStatus(), QProcess::NormalExit);
        const Report ra = parse(a.readAllStandardOutput());
        const Report rb = parse(b.readAllStandardOutput());
        QVERIFY2(ra.unexpected.isEmpty(), qPrintable(ra.unexpected.join(QLatin1Char('\n'))));
        QVERIFY2(rb.unexpected.isEmpty(), qPrintable(rb.unexpected.join(QLatin1Char('\n'))));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);

        const QStringList problems = rawdb::violations(path);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1String("; "))));
        const rawdb::State after = rawdb::read(path);

        // Every new card and every verdict wrote exactly one position, and no
        // queue place went to two writes, across both copies.
        std::set<qint64> places;
        std::map<qint64, Position> latest;
        for (const Report *r : {&ra, &rb}) {
            QCOMPARE(int(r->written.size()), int(r->storedCards.size()) + r->verdicts);
            for (const auto &[card, pos] : r->written) {
                QVERIFY2(places.insert(pos.queuePlace).second,
                         qPrintable(QStringLiteral("place %1 twice").arg(pos.queuePlace)));
                QVERIFY(pos.compartment >= 1);
                if (!latest.count(card) || latest[card].queuePlace < pos.queuePlace)
                    latest[card] = pos;
            }
        }
        // The copies really were at work at the same time: their places interleave.
        auto range = [](const Report &r) {
            qint64 lo = LLONG_MAX, hi = 0;
            for (const auto &w : r.written) {
                lo = std::min(lo, w.second.queuePlace);
                hi = std::max(hi, w.second.queuePlace);
            }
            return std::make_pair(lo, hi);
        };
        const auto [aLow, aHigh] = range(ra);
        const auto [bLow, bHigh] = range(rb);
        QVERIFY2(aLow < bHigh && bLow < aHigh, "the two copies never overlapped");

        // Each card's place is the last one written for it.
        for (const auto &[card, pos] : latest) {
            QVERIFY2(after.cards.count(card), qPrintable(QString::number(card)));
            QCOMPARE(after.cards.at(card).compartment, pos.compartment);
            QCOMPARE(after.cards.at(card).queuePlace, pos.queuePlace);
        }
        // Cards neither copy touched stand where they stood.
        for (const auto &[card, old] : before.cards) {
            if (!latest.count(card)) {
                QCOMPARE(after.cards.at(card).compartment, old.compartment);
                QCOMPARE(after.cards.at(card).queuePlace, old.queuePlace);
            }
        }
        // Every stored card is there, under its subject, with its texts or a later edit.
        for (const Report *r : {&ra, &rb}) {
            for (const auto &[id, op] : r->storedCards) {
                QVERIFY2(after.cards.count(id), qPrintable(QStringLiteral("card %1 lost").arg(id)));
                const rawdb::Card &card = after.cards.at(id);
                QCOMPARE(after.subjects.at(card.subject), unhex(op.fields.value(0)));
                bool matches = card.question == unhex(op.fields.value(1)) && card.answer == unhex(op.fields.value(2));
                for (const Report *s : {&ra, &rb})
                    if (s->edits.count(id))
                        for (const Op &e : s->edits.at(id))
                            matches = matches
                                      || (card.question == unhex(e.fields.value(1))
                                          && card.answer == unhex(e.fields.value(2)));
                QVERIFY2(matches, qPrintable(QStringLiteral("card %1 holds texts nobody wrote").arg(id)));
            }
        }
        QCOMPARE(after.cards.size(), before.cards.size() + ra.storedCards.size() + rb.storedCards.size());
        QCOMPARE(after.log.size(), before.log.size() + size_t(ra.verdicts + rb.verdicts));
        qInfo("%zu cards stored and %d verdicts given by two copies at once; %d changes refused after waiting",
              ra.storedCards.size() + rb.storedCards.size(), ra.verdicts + rb.verdicts, ra.refused + rb.refused);
    }
};

QTEST_GUILESS_MAIN(TestTwoCopies)
#include "test_two_copies.moc"
