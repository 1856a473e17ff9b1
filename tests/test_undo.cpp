#include "rawdb.h"
#include "store/history.h"
#include "store/store.h"
#include "storedb.h"
#include "testapp.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

// A file with two subjects and a few cards; one card carries the NULL texts of
// the older program.
struct Fixture {
    QTemporaryDir dir;
    QString path = dir.filePath("Tarlivo.mdb");
    qint64 clock = 1'700'000'000;
    Seeder seed;
    qint32 latein = 0;
    qint32 chemie = 0;
    qint32 nullCard = 0;

    Fixture()
    {
        StoreOptions options = noBackups();
        options.now = [this] { return clock; };
        seed.store = Store::open(path, options);
        latein = seed.subject("Latein", 3);
        chemie = seed.subject("Chemie", 2);
        sql::Statement q(storedb::of(store()), "INSERT INTO tblFrageAntwort (idGebiet) VALUES (?1)");
        q.bind(1, latein).run();
        nullCard = qint32(sqlite3_last_insert_rowid(storedb::of(store()).handle()));
        sql::Statement p(storedb::of(store()),
                         "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) VALUES (?1, 2, 50, ?2)");
        p.bind(1, nullCard).bind(2, latein).run();
        sql::Statement(storedb::of(store()), "INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) VALUES (?1, ?2, ?3)")
            .bind(1, nullCard)
            .bind(2, clock - 86400)
            .bind(3, Store::learningDay(clock - 86400))
            .run();
        store().setInterval(chemie, 2, 5);
        store().setAnswerTolerances(chemie, {Verdict::Wrong, Verdict::Right, Verdict::Right, Verdict::Wrong});
    }
    Store &store() { return *seed.store; }

    // One user action of the kind named.
    Change act(const QString &kind)
    {
        // A day later, so that a time set anew differs from the one before.
        clock += 86400;
        Change c;
        if (kind == "verdict")
            c = store().judgeCard(2, Verdict::Right);
        else if (kind == "verdict falsch")
            c = store().judgeCard(nullCard, Verdict::Wrong);
        else if (kind == "new card")
            store().addCard(chemie, "Säure", "pH < 7", &c);
        else if (kind == "edit")
            store().saveCardText(1, "neu", QString(), &c);
        else if (kind == "edit of NULL texts")
            store().saveCardText(nullCard, "jetzt", "Text", &c);
        else if (kind == "set compartment")
            c = store().setCompartment({1, 2}, 3);
        else if (kind == "interval changed")
            c = store().setInterval(latein, 3, 10);
        else if (kind == "interval back to its default")
            c = store().setInterval(chemie, 2, std::nullopt);
        else if (kind == "tolerances changed")
            c = store().setAnswerTolerances(
                latein, {Verdict::Right, Verdict::Wrong, Verdict::AlmostRight, Verdict::AlmostRight});
        else if (kind == "tolerances back to the defaults")
            c = store().setAnswerTolerances(chemie, {});
        else if (kind == "subject deleted")
            c = store().deleteSubject(chemie);
        else if (kind == "picture added")
            c = store().editCard(1, "F0", "A0", {{CardSide::Question, MediaKind::Picture, false, "b.png", "PNG"}});
        else if (kind == "direction chosen")
            c = *store().setDirection(latein, DirectionSetting::Both);
        return c;
    }
};

void expectConflict(const std::function<void()> &step, const QString &side)
{
    try {
        step();
        QFAIL("the step was not refused");
    } catch (const StoreError &e) {
        QCOMPARE(e.kind(), StoreErrorKind::Conflict);
        QVERIFY2(e.detail().startsWith(side), qPrintable(e.detail()));
    }
}

} // namespace

class TestUndo : public QObject {
    Q_OBJECT

private slots:
    void undoAndRedoRestoreExactRows_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind :
             {"verdict", "verdict falsch", "new card", "edit", "edit of NULL texts", "set compartment",
              "interval changed", "interval back to its default", "tolerances changed",
              "tolerances back to the defaults", "subject deleted", "picture added", "direction chosen"})
            QTest::newRow(kind) << QString(kind);
    }

    void undoAndRedoRestoreExactRows()
    {
        QFETCH(QString, kind);
        Fixture f;
        const rawdb::State before = rawdb::read(f.path);
        const Change change = f.act(kind);
        QVERIFY(!change.isEmpty());
        const rawdb::State after = rawdb::read(f.path);
        QVERIFY(before != after);

        for (int round = 0; round < 2; ++round) {
            f.store().undo(change);
            QVERIFY2(rawdb::read(f.path) == before, qPrintable(rawdb::read(f.path).differenceTo(before)));
            QCOMPARE(f.store().checkInvariants(), QStringList());
            f.store().redo(change);
            QVERIFY2(rawdb::read(f.path) == after, qPrintable(rawdb::read(f.path).differenceTo(after)));
            QCOMPARE(f.store().checkInvariants(), QStringList());
        }
        // The step as the windows are told it after an undo: its every row as the file
        // now holds it, so that it is a step from here back to where the user was.
        f.store().undo(change);
        const Change told = change.reversed();
        f.store().undo(told);
        QVERIFY2(rawdb::read(f.path) == after, qPrintable(rawdb::read(f.path).differenceTo(after)));
        f.store().redo(told);
        QVERIFY2(rawdb::read(f.path) == before, qPrintable(rawdb::read(f.path).differenceTo(before)));
        f.store().redo(change);
        // NULL texts come back as NULL, not as empty texts.
        if (kind == "edit of NULL texts") {
            f.store().undo(change);
            QCOMPARE(rawdb::count(f.path, "SELECT COUNT(*) FROM tblFrageAntwort WHERE Frage IS NULL "
                                          "AND Antwort IS NULL"),
                     1);
        }
    }

    void verdictLogsWhatHappened()
    {
        Fixture f;
        f.clock = 1'765'000'123;
        const Change c = f.store().judgeCard(f.nullCard, Verdict::AlmostRight);
        QCOMPARE(c.log.size(), size_t(1));
        QVERIFY(!c.log[0].before);
        QCOMPARE(
            rawdb::rows(f.path, "SELECT idUebung, Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, FachNachher, "
                                "Urteil FROM tblUebung"),
            QStringList{
                QStringLiteral("%1|1765000123|%2|%3|2|2|2").arg(c.log[0].after->id).arg(f.nullCard).arg(f.latein)});
        QCOMPARE(c.cards.at(0).after->queuePlace, 51); // behind the largest place, as setCompartment
        // The card and its log row go together: a refused verdict logs nothing.
        QVERIFY_THROWS_EXCEPTION(StoreError, f.store().judgeCard(999, Verdict::Right));
        sql::Statement(storedb::of(f.store()), "UPDATE tblPosition SET Fach = 2147483647 WHERE idFrageAntwort = 1")
            .run();
        QVERIFY_THROWS_EXCEPTION(StoreError, f.store().judgeCard(1, Verdict::Right));
        QCOMPARE(rawdb::count(f.path, "SELECT COUNT(*) FROM tblUebung"), 1);
    }

    // A deleted subject with its cards comes back with its keys: the subject
    // first; on redo the cards go before their subject.
    void deletedSubjectComesBackWithItsCards()
    {
        Fixture f;
        const qint32 card = f.seed.card(f.chemie, "Base", "pH > 7", 3);
        const rawdb::State full = rawdb::read(f.path);
        Change c;
        c.subjects.push_back({SubjectRow{f.chemie, "Chemie"}, std::nullopt});
        for (const auto &[id, row] : full.cards)
            if (row.subject == f.chemie)
                c.cards.push_back({CardRow{qint32(id), f.chemie, row.question, row.answer, qint32(row.compartment),
                                           qint32(row.queuePlace), row.enteredAt},
                                   std::nullopt});
        QCOMPARE(c.cards.size(), size_t(3));
        f.store().redo(c);
        QCOMPARE(rawdb::count(f.path, "SELECT COUNT(*) FROM tblFrageAntwort"), 4);
        QCOMPARE(rawdb::count(f.path, "SELECT COUNT(*) FROM tblGebiet"), 1);
        f.store().undo(c);
        QVERIFY2(rawdb::read(f.path) == full, qPrintable(rawdb::read(f.path).differenceTo(full)));
        QCOMPARE(f.store().cardText(card)->question, QStringLiteral("Base"));
        QCOMPARE(f.store().checkInvariants(), QStringList());
    }

    // Another running copy changed the rows between the step and its undo (or
    // redo): the step is refused and nothing is written.
    void refusedWhenAnotherCopyChangedTheRows_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("undone"); // interfere after undo, then try redo
        QTest::addColumn<QByteArray>("statement");

        QTest::newRow("verdict: card moved again")
            << "verdict" << false << QByteArray("UPDATE tblPosition SET Fach = 7 WHERE idFrageAntwort = 2");
        QTest::newRow("verdict: old place taken")
            << "verdict" << false << QByteArray("UPDATE tblPosition SET Stelle = 2 WHERE idFrageAntwort = 3");
        QTest::newRow("verdict: its time set again")
            << "verdict" << false << QByteArray("UPDATE tblFachSeit SET Seit = Seit + 1 WHERE idFrageAntwort = 2");
        QTest::newRow("verdict: log row gone") << "verdict" << false << QByteArray("DELETE FROM tblUebung");
        QTest::newRow("verdict: card edited")
            << "verdict" << false << QByteArray("UPDATE tblFrageAntwort SET Frage = 'x' WHERE idFrageAntwort = 2");
        QTest::newRow("new card: edited")
            << "new card" << false << QByteArray("UPDATE tblFrageAntwort SET Antwort = 'x' WHERE Frage = 'Säure'");
        QTest::newRow("edit: edited again")
            << "edit" << false << QByteArray("UPDATE tblFrageAntwort SET Frage = 'neuer' WHERE idFrageAntwort = 1");
        QTest::newRow("edit: card moved to another subject")
            << "edit" << false << QByteArray("UPDATE tblFrageAntwort SET idGebiet = 2 WHERE idFrageAntwort = 1");
        QTest::newRow("edit undone: edited again")
            << "edit" << true << QByteArray("UPDATE tblFrageAntwort SET Antwort = 'x' WHERE idFrageAntwort = 1");
        QTest::newRow("new card undone: its key taken")
            << "new card" << true
            << QByteArray("INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) "
                          "SELECT seq, 1, 'x', 'y' FROM sqlite_sequence WHERE name = 'tblFrageAntwort'");
        QTest::newRow("new card undone: its place taken")
            << "new card" << true
            << QByteArray("UPDATE tblPosition SET Stelle = (SELECT MAX(Stelle) + 1 FROM tblPosition) "
                          "WHERE idFrageAntwort = 1");
        QTest::newRow("verdict undone: card moved")
            << "verdict" << true << QByteArray("UPDATE tblPosition SET Fach = 9 WHERE idFrageAntwort = 2");
    }

    void refusedWhenAnotherCopyChangedTheRows()
    {
        QFETCH(QString, kind);
        QFETCH(bool, undone);
        QFETCH(QByteArray, statement);
        Fixture f;
        const Change change = f.act(kind);
        if (undone)
            f.store().undo(change);
        {
            rawdb::Connection other(f.path);
            const auto [rc, changed] = other.run(statement.constData(), {});
            QCOMPARE(rc, SQLITE_DONE);
            QCOMPARE(changed, 1);
        }
        const rawdb::State meanwhile = rawdb::read(f.path);
        if (undone)
            expectConflict([&] { f.store().redo(change); }, "redo");
        else
            expectConflict([&] { f.store().undo(change); }, "undo");
        QVERIFY2(rawdb::read(f.path) == meanwhile, qPrintable(rawdb::read(f.path).differenceTo(meanwhile)));
    }

    void historyMovesStepsBetweenItsSides()
    {
        Fixture f;
        History h;
        QSignalSpy changed(&h, &History::changed);
        QVERIFY(!h.canUndo() && !h.canRedo() && !h.undo(f.store()));
        h.record("Bewertung", f.act("verdict"));
        h.record("Bearbeiten", f.act("edit"));
        QCOMPARE(h.undoLabel(), QStringLiteral("Bearbeiten"));
        QVERIFY(h.undo(f.store()));
        QCOMPARE(h.undoLabel(), QStringLiteral("Bewertung"));
        QCOMPARE(h.redoLabel(), QStringLiteral("Bearbeiten"));
        QCOMPARE(f.store().cardText(1)->question, QStringLiteral("F0"));

        // Refused: the step stays where it was.
        rawdb::exec(f.path, "UPDATE tblPosition SET Fach = 8 WHERE idFrageAntwort = 2");
        QVERIFY_THROWS_EXCEPTION(StoreError, h.undo(f.store()));
        QCOMPARE(h.undoLabel(), QStringLiteral("Bewertung"));
        QVERIFY(h.redo(f.store()));
        QCOMPARE(f.store().cardText(1)->question, QStringLiteral("neu"));
        QCOMPARE(changed.count(), 4);

        // A new step ends what could be redone; only the newest steps are kept.
        QVERIFY(h.undo(f.store()));
        for (int i = 0; i < History::kMaxSteps + 5; ++i)
            h.record(QString::number(i), f.act("new card"));
        QVERIFY(!h.canRedo());
        int steps = 0;
        while (h.undo(f.store()))
            ++steps;
        QCOMPARE(steps, History::kMaxSteps);
        QCOMPARE(h.redoLabel(), QStringLiteral("5"));
        h.clear();
        QVERIFY(!h.canUndo() && !h.canRedo());
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "test_undo.moc"
