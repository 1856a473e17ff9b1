#include "accesskeys.h"
#include "app/frmbackground.h"
#include "plan/planwindow.h"
#include "rawdb.h"
#include "testapp.h"
#include "ui/messages.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

const QDate kDay(2026, 3, 10); // no summer time change near it

qint64 at(int days, int hour = 12) { return QDateTime(kDay.addDays(days), QTime(hour, 0)).toSecsSinceEpoch(); }
QString dateOf(int days) { return kDay.addDays(days).toString(QStringLiteral("dd.MM.yyyy")); }

// A run whose store, the windows' and the seeder's alike, reads the clock set here.
struct ClockedApp {
    qint64 clock = at(0);
    TestApp app{options()};
    Seeder seed{Store::open(app.dbPath(), options())};

    StoreOptions options()
    {
        StoreOptions o = noBackups();
        o.now = [this] { return clock; };
        return o;
    }
    Session &session() { return app.forms->session(); }
    PlanWindow &openPlan(qint32 subject)
    {
        app.forms->tools().openPlan();
        PlanWindow *plan = app.forms->tools().find<PlanWindow>();
        plan->showSubject(subject);
        return *plan;
    }
};

QStringList rowOf(const QTableWidget *table, int row)
{
    QStringList cells;
    for (int column = 0; column < table->columnCount(); ++column)
        cells << table->item(row, column)->text();
    return cells;
}

} // namespace

class TestPlan : public QObject {
    Q_OBJECT

private slots:
    void duePracticeRunsDownTheCompartmentsToTheMessage()
    {
        ClockedApp run;
        const qint32 latein = run.seed.subject("Latein");
        run.seed.subject("Chemie", 2); // due as well, but not chosen
        run.seed.card(latein, "F3a", "A", 3);
        run.seed.card(latein, "F3b", "A", 3);
        run.seed.card(latein, "F1", "A", 1);
        run.seed.card(latein, "F4", "A", 4); // due on day 4
        run.clock = at(3);
        run.app.forms->start();

        ctl<QPushButton>(run.openPlan(latein), "cmdUeben")->click();
        FrmUeb *ueb = drive::ueb(*run.app.forms);
        QVERIFY(ueb);
        QCOMPARE(ueb->windowTitle(), QStringLiteral("Latein"));
        // Shown card and list text before each verdict: compartment 3 while its head is
        // due, then 1, where a card judged Falsch stays due.
        const struct {
            const char *question;
            const char *compartment;
            const char *verdict;
        } steps[] = {{"F3a", "3", "cmdRichtig"},
                     {"F3b", "3", "cmdFalsch"},
                     {"F1", "1", "cmdFalsch"},
                     {"F3b", "1", "cmdRichtig"},
                     {"F1", "1", "cmdRichtig"}};
        for (const auto &step : steps) {
            QCOMPARE(label(ueb, "lblFrage")->text(), QLatin1String(step.question));
            QCOMPARE(combo(ueb, "cmbFach")->currentText(), QLatin1String(step.compartment));
            QVERIFY(run.app.dialogs.take().isEmpty());
            button(ueb, step.verdict)->click();
        }
        // Said once; then the designed window's own way: compartment 1 is empty.
        QCOMPARE(run.app.dialogs.take(), (QStringList{text::allDuePractised(), text::compartmentEmpty(1)}));
        QVERIFY(!ueb->practisingDue());
        QCOMPARE(drive::entries(combo(ueb, "cmbFach")), (QStringList{"2", "4"}));
        // The card judged last is no longer on display: "Richtig" judges nothing.
        QCOMPARE(label(ueb, "lblFrage")->text(), QString());
        button(ueb, "cmdRichtig")->click();
        QCOMPARE(run.app.dialogs.take(), QStringList{text::noCardOnDisplay()});
        button(ueb, "cmdFachOk")->click();
        QCOMPARE(label(ueb, "lblFrage")->text(), QStringLiteral("F3b"));
        button(ueb, "cmdRichtig")->click();
        QCOMPARE(label(ueb, "lblFrage")->text(), QStringLiteral("F1"));
        QCOMPARE(run.app.dialogs.take(), QStringList());
    }

    void planShowsFiguresAndEditsIntervals_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("saved"); // -1: refused
        QTest::addColumn<QString>("dueAfter");
        QTest::newRow("a week") << "7" << 7 << "2";
        QTest::newRow("at once") << " 0" << 0 << "3";
        QTest::newRow("the longest") << "3650" << 3650 << "2";
        QTest::newRow("too long") << "3651" << -1 << "2";
        QTest::newRow("negative") << "-1" << -1 << "2";
        QTest::newRow("a fraction") << "2,5" << -1 << "2";
        QTest::newRow("a word") << "zwei" << -1 << "2";
        QTest::newRow("nothing") << "" << -1 << "2";
    }

    void planShowsFiguresAndEditsIntervals()
    {
        QFETCH(QString, typed);
        QFETCH(int, saved);
        QFETCH(QString, dueAfter);

        ClockedApp run;
        const qint32 latein = run.seed.subject("Latein", 2);
        const qint32 chemie = run.seed.subject("Chemie");
        run.seed.subject("Leer");
        run.seed.card(latein, "F3", "A", 3);
        run.seed.card(chemie, "F2", "A", 2);
        run.clock = at(1);
        PlanWindow &plan = run.openPlan(latein);

        auto *gebiete = ctl<QTableWidget>(plan, "tblGebiete");
        auto *compartments = ctl<QTableWidget>(plan, "tblFaecher");
        QCOMPARE(gebiete->rowCount(), 3);
        // Chemie's card falls due today; Latein's compartment 1 was due yesterday already.
        const QString overdue = text::overdueSince(dateOf(0));
        QCOMPARE(rowOf(gebiete, 0), (QStringList{"Chemie", "1", "1", "1", dateOf(1)}));
        QCOMPARE(rowOf(gebiete, 1), (QStringList{"Latein", "2", "3", "3", overdue}));
        QCOMPARE(rowOf(gebiete, 2), (QStringList{"Leer", "0", "0", "0", text::noDueCard()}));
        QCOMPARE(compartments->rowCount(), 10);
        QCOMPARE(rowOf(compartments, 0), (QStringList{"1", "0", "2", "2", "2", overdue}));
        QCOMPARE(rowOf(compartments, 1), (QStringList{"2", "1", "0", "0", "0", text::noDueCard()}));
        QCOMPARE(rowOf(compartments, 2), (QStringList{"3", "2", "0", "1", "1", dateOf(2)}));
        QCOMPARE(rowOf(compartments, 9), (QStringList{"10", "256", "0", "0", "0", text::noDueCard()}));
        QCOMPARE(sharedAccessKeys(plan), QStringList());
        // "Karten" counts places, two for a card practised both ways: the header says so.
        for (const auto &[t, column] : {std::pair{gebiete, int(PlanWindow::SubjectCards)},
                                        std::pair{compartments, int(PlanWindow::CompartmentCards)}})
            QVERIFY(t->horizontalHeaderItem(column)->toolTip().contains(QStringLiteral("Richtungen")));
        for (const QWidget *w : plan.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QLineEdit *>(w)
                || qobject_cast<const QAbstractItemView *>(w))
                QVERIFY2(!w->objectName().isEmpty() && !w->accessibleName().isEmpty(), w->metaObject()->className());

        plan.showCompartment(3);
        auto *txtAbstand = ctl<QLineEdit>(plan, "txtAbstand");
        QCOMPARE(txtAbstand->text(), QStringLiteral("2"));
        txtAbstand->selectAll();
        QTest::keyClick(txtAbstand, Qt::Key_Backspace);
        QTest::keyClicks(txtAbstand, typed);
        QTest::keyClick(txtAbstand, Qt::Key_Return);

        Store &store = run.session().db();
        History &history = run.session().history();
        QCOMPARE(run.app.dialogs.take(),
                 saved < 0 ? QStringList{text::intervalInvalid(typed, Store::kMaxInterval)} : QStringList{});
        QCOMPARE(store.interval(latein, 3), saved < 0 ? 2 : saved);
        QCOMPARE(compartments->item(2, PlanWindow::CompartmentInterval)->text(),
                 QString::number(saved < 0 ? 2 : saved));
        QCOMPARE(gebiete->item(1, PlanWindow::SubjectDueNow)->text(), dueAfter);
        QCOMPARE(history.canUndo(), saved >= 0);
        if (saved < 0)
            return;
        QCOMPARE(history.undoLabel(), QStringLiteral("Abstand von Fach 3 in „Latein“"));
        QVERIFY(run.session().undo(nullptr));
        QCOMPARE(store.interval(latein, 3), 2);
        QCOMPARE(compartments->item(2, PlanWindow::CompartmentInterval)->text(), QStringLiteral("2"));
        QCOMPARE(gebiete->item(1, PlanWindow::SubjectDueNow)->text(), QStringLiteral("2"));
    }

    void statusLineFollowsChangesAndDays_data()
    {
        QTest::addColumn<QList<int>>("cards");  // per subject, all in compartment 1; empty: no file yet
        QTest::addColumn<int>("right");         // verdicts in practice of the first subject
        QTest::addColumn<int>("hoursLater");    // from noon
        QTest::addColumn<QString>("elsewhere"); // what another running copy writes once the line is filled
        QTest::addColumn<QString>("expected");
        const QString none;
        QTest::newRow("no file yet") << QList<int>{} << 0 << 0 << none << "Heute ist nichts fällig.";
        QTest::newRow("nothing") << QList<int>{0} << 0 << 0 << none << "Heute ist nichts fällig.";
        QTest::newRow("one card") << QList<int>{1} << 0 << 0 << none << "Heute fällig: 1 Karte in 1 Gebiet";
        QTest::newRow("a verdict") << QList<int>{2, 3} << 1 << 0 << none << "Heute fällig: 4 Karten in 2 Gebieten";
        QTest::newRow("a subject done") << QList<int>{1, 3} << 1 << 0 << none << "Heute fällig: 3 Karten in 1 Gebiet";
        QTest::newRow("03:00 next night")
            << QList<int>{1, 3} << 1 << 15 << none << "Heute fällig: 3 Karten in 1 Gebiet";
        QTest::newRow("05:00 next morning")
            << QList<int>{1, 3} << 1 << 17 << none << "Heute fällig: 4 Karten in 2 Gebieten";
        QTest::newRow("another copy's verdicts")
            << QList<int>{2, 3} << 0 << 0 << "UPDATE tblPosition SET Fach = 2 WHERE idGebiet = 1"
            << "Heute fällig: 3 Karten in 1 Gebiet";
        QTest::newRow("another copy's verdict after one here")
            << QList<int>{2, 3} << 1 << 0
            << "UPDATE tblPosition SET Fach = 2 WHERE idFrageAntwort = (SELECT MAX(idFrageAntwort) FROM tblPosition)"
            << "Heute fällig: 3 Karten in 2 Gebieten";
    }

    void statusLineFollowsChangesAndDays()
    {
        QFETCH(QList<int>, cards);
        QFETCH(int, right);
        QFETCH(int, hoursLater);
        QFETCH(QString, elsewhere);
        QFETCH(QString, expected);

        ClockedApp run;
        const QStringList names{"Alpha", "Beta"};
        for (int i = 0; i < cards.size(); ++i)
            run.seed.subject(names[i], cards[i]);
        if (cards.isEmpty()) {
            run.seed.store.reset();
            QVERIFY(QFile::remove(run.app.dbPath()));
        }
        run.app.forms->start();
        QLabel *line = run.app.forms->window<FrmBackground>().statusLine();
        QCOMPARE(line->objectName(), QStringLiteral("lblFaellig"));
        // Filled at start, before any window opened the file.
        QTRY_VERIFY(!line->text().isEmpty());
        if (right > 0) {
            FrmUeb &ueb = run.app.startPractice(names[0]);
            // The subject window opened the file afresh: counted before the verdicts.
            QTest::qWait(10);
            for (int i = 0; i < right; ++i)
                button(ueb, "cmdRichtig")->click();
        }
        if (hoursLater > 0) {
            // The count after the change first; then the day-change timer runs out.
            QTest::qWait(10);
            run.clock += hoursLater * 3600;
            run.app.forms->window<FrmBackground>().findChild<QTimer *>("tmrTageswechsel")->start(0);
        }
        if (!elsewhere.isEmpty()) {
            QTest::qWait(10);
            rawdb::Connection other(run.app.dbPath());
            QCOMPARE(other.exec(elsewhere.toUtf8().constData()), SQLITE_OK);
        }
        QTRY_COMPARE(line->text(), expected);
        // A screen reader hears the counts, not only what the line is.
        QCOMPARE(line->accessibleName(), expected);
        QVERIFY(line->isVisible());
        QCOMPARE(QFile::exists(run.app.dbPath()), !cards.isEmpty());
    }

    // One card, both ways: chosen in the plan, practised forward first, then the
    // answer asked; each verdict moves only its own place, and undo shows the
    // reverse side again.
    void practisesOneCardBothWays()
    {
        ClockedApp run;
        const qint32 vokabeln = run.seed.subject("Vokabeln");
        const qint32 card = run.seed.card(vokabeln, "Hund", "dog");
        run.app.forms->start();
        PlanWindow &plan = run.openPlan(vokabeln);
        auto *direction = ctl<QComboBox>(plan, "cmbRichtung");
        QCOMPARE(direction->currentText(), QStringLiteral("Frage -> Antwort"));
        direction->setCurrentIndex(2);
        emit direction->activated(2);
        QCOMPARE(run.app.dialogs.take(), QStringList());
        QCOMPARE(rowOf(ctl<QTableWidget>(plan, "tblGebiete"), 0).mid(0, 2), (QStringList{"Vokabeln", "2"}));
        plan.close();

        FrmUeb &ueb = run.app.startPractice("Vokabeln");
        const auto shown = [&] {
            return QStringList{ueb.windowTitle(), label(ueb, "lblFrage")->text(), label(ueb, "lblAntwort")->text()};
        };
        const auto places = [&] {
            const std::optional<CardRow> row = run.seed.store->cardRow(card);
            return std::make_pair(row->compartment, row->reverse ? row->reverse->compartment : 0);
        };
        QCOMPARE(shown(), (QStringList{"Vokabeln", "Hund", "dog"}));
        button(ueb, "cmdRichtig")->click();
        QCOMPARE(places(), std::make_pair(2, 1));
        // The forward place is done for today: the reverse one follows.
        QCOMPARE(shown(), (QStringList{"Vokabeln (umgekehrt)", "dog", "Hund"}));
        QCOMPARE(drive::entries(combo(ueb, "cmbFach")), QStringList{"1"});
        button(ueb, "cmdFastRichtig")->click();
        QCOMPARE(places(), std::make_pair(2, 1));
        button(ueb, "cmdRichtig")->click();
        QCOMPARE(places(), std::make_pair(2, 2));
        run.app.dialogs.take();
        run.app.forms->window<FrmBackground>().findChild<QAction *>("actRueckgaengig")->trigger();
        QCOMPARE(places(), std::make_pair(2, 1));
        QCOMPARE(shown(), (QStringList{"Vokabeln (umgekehrt)", "dog", "Hund"}));
        // The status line counts the reverse place due again, the forward one not.
        QTRY_COMPARE(run.app.forms->window<FrmBackground>().statusLine()->text(), text::dueToday(1, 1));
        // The edit window edits Frage and Antwort, whichever side is asked.
        button(ueb, "cmdEdit")->click();
        QCOMPARE(textBox(run.app.forms->window<FrmEdit>(), "txtEditFrage")->text(), QStringLiteral("Hund"));
    }
};

QTEST_MAIN(TestPlan)
#include "test_plan.moc"
