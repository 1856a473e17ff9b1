#include "practice.h"
#include "ui/messages.h"

#include <QAccessible>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

using Position = PracticeApp::Position;

// The verdict or compartment button of that caption.
CommandButton *captioned(FrmUeb &w, const QString &caption)
{
    for (CommandButton *b :
         {button(w, "cmdRichtig"), button(w, "cmdFastRichtig"), button(w, "cmdFalsch"), button(w, "cmdFachOk")})
        if (b->text() == caption)
            return b;
    return nullptr;
}

// Records the answer label's caption at the moment it is hidden.
struct HideWatcher : QObject {
    QStringList textsAtHide;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide)
            textsAtHide << static_cast<Label *>(watched)->text();
        return false;
    }
};

} // namespace

class TestPractice : public QObject {
    Q_OBJECT

private slots:
    // ---- The compartment list and the head card ----

    void listHoldsTheSubjectsCompartmentsAscending_data()
    {
        QTest::addColumn<QList<int>>("mine");
        QTest::addColumn<QList<int>>("others");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("1 and 2") << QList<int>{1, 2, 1} << QList<int>{} << QStringList{"1", "2"};
        QTest::newRow("numeric, not textual")
            << QList<int>{10, 2, 1, 10} << QList<int>{} << QStringList{"1", "2", "10"};
        QTest::newRow("all in 5") << QList<int>{5, 5, 5} << QList<int>{1, 2} << QStringList{"5"};
        QTest::newRow("gaps; other subject's absent")
            << QList<int>{4, 1, 3} << QList<int>{2, 5, 1} << QStringList{"1", "3", "4"};
    }

    void listHoldsTheSubjectsCompartmentsAscending()
    {
        QFETCH(QList<int>, mine);
        QFETCH(QList<int>, others);
        QFETCH(QStringList, expected);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 o = app.subject("Andere");
        QList<qint32> cards;
        // Interleaved, so that the other subject's cards sit between ours in the queue.
        for (int i = 0; i < std::max(mine.size(), others.size()); ++i) {
            if (i < others.size())
                app.card(o, QString("o%1").arg(i), "x", others[i]);
            if (i < mine.size())
                cards << app.card(s, QString("m%1").arg(i), QString("a%1").arg(i), mine[i]);
        }
        const int first = *std::min_element(mine.begin(), mine.end());
        const int head = int(std::find(mine.begin(), mine.end(), first) - mine.begin());

        app.startPractice("Latein");
        QVERIFY(app.ueb().isVisible());
        QCOMPARE(app.ueb().windowTitle(), QString("Latein"));
        QCOMPARE(app.entries(), expected);
        QCOMPARE(combo(app.ueb(), "cmbFach")->currentIndex(), 0);
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), expected.first());
        QCOMPARE(app.akt(), cards[head]);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("m%1").arg(head));
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString("a%1").arg(head));
        QVERIFY(!app.answerShown());
        QCOMPARE(app.dialogs.take(), QStringList());
    }

    void headCardIsSmallestQueuePlaceOfSubjectAndCompartment()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 o = app.subject("Andere");
        const qint32 w = app.card(o, "fremd", "x");
        const qint32 x = app.card(s, "zehn", "10");
        const qint32 y = app.card(s, "vier", "4");
        const qint32 z = app.card(s, "sieben", "7");
        app.setQueuePlace(w, 1);
        app.setQueuePlace(x, 10);
        app.setQueuePlace(y, 4);
        app.setQueuePlace(z, 7);
        const auto before = app.snapshot();

        app.startPractice("Latein");
        QCOMPARE(app.akt(), y);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("vier"));

        // "&Übernehmen" again and again: the same head card, answer hidden, nothing written.
        button(app.ueb(), "cmdAntwort")->click();
        button(app.ueb(), "cmdFachOk")->click();
        QCOMPARE(app.akt(), y);
        QVERIFY(!app.answerShown());
        button(app.ueb(), "cmdFachOk")->click();
        QCOMPARE(app.akt(), y);
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString("4"));
        QVERIFY(!app.answerShown());
        QCOMPARE(app.snapshot(), before);
        QCOMPARE(app.dialogs.take(), QStringList());
    }

    void revealAndHideAnyNumberOfTimes()
    {
        PracticeApp app;
        app.card(app.subject("Latein"), "F", "A");
        app.startPractice("Latein");
        const auto before = app.snapshot();
        FrmUeb &w = app.ueb();
        button(w, "cmdFrage")->click();
        QVERIFY(!app.answerShown());
        button(w, "cmdAntwort")->click();
        QVERIFY(app.answerShown());
        button(w, "cmdAntwort")->click();
        QVERIFY(app.answerShown());
        button(w, "cmdFrage")->click();
        button(w, "cmdFrage")->click();
        QVERIFY(!app.answerShown());
        button(w, "cmdAntwort")->click();
        QVERIFY(app.answerShown());
        QCOMPARE(label(w, "lblAntwort")->text(), QString("A"));
        QCOMPARE(label(w, "lblFrage")->text(), QString("F"));
        QCOMPARE(app.snapshot(), before);
    }

    void longTextsScrollToTheirEnd()
    {
        PracticeApp app;
        QStringList lines;
        for (int i = 1; i <= 60; ++i)
            lines << QStringLiteral("Zeile %1").arg(i);
        app.card(app.subject("Latein"), lines.join('\n'), "kurz");
        app.startPractice("Latein");
        FrmUeb &w = app.ueb();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect designed = label(w, "lblFrage")->geometry();

        auto *area = label(w, "lblFrage")->findChild<QScrollArea *>();
        QVERIFY(area);
        QCOMPARE(area->focusPolicy(), Qt::NoFocus);
        QScrollBar *bar = area->verticalScrollBar();
        QTRY_VERIFY(bar->isVisible());
        bar->setValue(bar->maximum());
        // The last line lies inside the label's designed rectangle once scrolled.
        const QWidget *shown = area->widget();
        QVERIFY(shown->mapTo(area->viewport(), QPoint(0, shown->height())).y() <= area->viewport()->height());
        QCOMPARE(label(w, "lblFrage")->geometry(), designed);
        // A screen reader meets the designed labels alone, each with its text once.
        QCOMPARE(w.findChildren<QLabel *>().size(), 3);
        QCOMPARE(QAccessible::queryAccessibleInterface(label(w, "lblFrage"))->text(QAccessible::Name),
                 lines.join('\n'));

        // A short text shows no bar.
        button(w, "cmdAntwort")->click();
        auto *answer = label(w, "lblAntwort")->findChild<QScrollArea *>();
        QTRY_VERIFY(!answer->verticalScrollBar()->isVisible());
    }

    void answerIsHiddenBeforeItTakesTheNextAnswer()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        app.card(s, "erste", "geheim 1");
        app.card(s, "zweite", "geheim 2");
        app.startPractice("Latein");
        button(app.ueb(), "cmdAntwort")->click();
        HideWatcher watcher;
        label(app.ueb(), "lblAntwort")->installEventFilter(&watcher);
        button(app.ueb(), "cmdRichtig")->click();
        label(app.ueb(), "lblAntwort")->removeEventFilter(&watcher);
        QCOMPARE(watcher.textsAtHide, QStringList{"geheim 1"});
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("zweite"));
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString("geheim 2"));
        QVERIFY(!app.answerShown());
    }

    // ---- The verdicts ----

    void verdictMovesCardBehindTheWholeQueue_data()
    {
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<bool>("revealed");
        QTest::addColumn<qint64>("newCompartment");
        QTest::newRow("Richtig in 3") << "Richtig" << true << qint64(4);
        QTest::newRow("Fast Richtig in 3") << "Fast Richtig" << true << qint64(3);
        QTest::newRow("Falsch in 3") << "Falsch" << true << qint64(1);
        QTest::newRow("Richtig, answer hidden") << "Richtig" << false << qint64(4);
        QTest::newRow("Falsch, answer hidden") << "Falsch" << false << qint64(1);
    }

    void verdictMovesCardBehindTheWholeQueue()
    {
        QFETCH(QString, verdict);
        QFETCH(bool, revealed);
        QFETCH(qint64, newCompartment);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 o = app.subject("Andere");
        const qint32 a = app.card(s, "a", "A", 1);
        const qint32 c1 = app.card(s, "c1", "C1", 3);
        const qint32 c2 = app.card(s, "c2", "C2", 3);
        const qint32 far = app.card(o, "fremd", "x", 3);
        app.setQueuePlace(far, 500); // the largest place belongs to another subject
        app.startPractice("Latein");
        app.takeCompartment("3");
        QCOMPARE(app.akt(), c1);
        if (revealed)
            button(app.ueb(), "cmdAntwort")->click();
        auto expected = app.snapshot();

        captioned(app.ueb(), verdict)->click();
        expected.positions[c1] = {newCompartment, 501};
        QCOMPARE(app.snapshot(), expected);
        QCOMPARE(app.dialogs.take(), QStringList());
        // Compartment 3 still holds a card of the subject: it is shown next.
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("3"));
        QCOMPARE(app.akt(), c2);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("c2"));
        QVERIFY(!app.answerShown());
        // 3 was the subject's highest compartment: the first "Richtig" there opens 4.
        QCOMPARE(app.entries(), newCompartment == 4 ? QStringList({"1", "3", "4"}) : QStringList({"1", "3"}));
        QCOMPARE(app.position(a), (Position{1, 1}));
    }

    void almostRightQueuesBehindTheOthers()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a = app.card(s, "A", "1");
        const qint32 b = app.card(s, "B", "2");
        const qint32 c = app.card(s, "C", "3");
        app.startPractice("Latein");
        QCOMPARE(app.akt(), a);
        button(app.ueb(), "cmdFastRichtig")->click();
        QCOMPARE(app.akt(), b);
        QCOMPARE(app.position(a), (Position{1, 4}));
        button(app.ueb(), "cmdFastRichtig")->click();
        QCOMPARE(app.akt(), c);
        QCOMPARE(app.position(b), (Position{1, 5}));
        // The queue of compartment 1 now reads C, A, B.
        QCOMPARE(app.position(c), (Position{1, 3}));
        button(app.ueb(), "cmdFastRichtig")->click();
        QCOMPARE(app.akt(), a);
        button(app.ueb(), "cmdFastRichtig")->click();
        QCOMPARE(app.akt(), b);
        QCOMPARE(app.dialogs.take(), QStringList());
    }

    void onlyCardOfItsCompartmentComesBack_data()
    {
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>("compartment");
        QTest::newRow("Fast Richtig, only card of 2") << "Fast Richtig" << 2;
        QTest::newRow("Falsch, only card of 1") << "Falsch" << 1;
    }

    void onlyCardOfItsCompartmentComesBack()
    {
        QFETCH(QString, verdict);
        QFETCH(int, compartment);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 other = app.card(s, "anderes Fach", "x", compartment == 1 ? 3 : 1);
        const qint32 only = app.card(s, "allein", "y", compartment);
        app.startPractice("Latein");
        app.takeCompartment(QString::number(compartment));
        QCOMPARE(app.akt(), only);
        button(app.ueb(), "cmdAntwort")->click();
        captioned(app.ueb(), verdict)->click();
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.position(only), (Position{compartment, 3}));
        QCOMPARE(app.position(other), (Position{compartment == 1 ? 3 : 1, 1}));
        QCOMPARE(app.akt(), only);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("allein"));
        QVERIFY(!app.answerShown());
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString::number(compartment));
    }

    void rightOnLastCardOfCompartmentKeepsItOnDisplay_data() { addRevealedRows(); }

    void rightOnLastCardOfCompartmentKeepsItOnDisplay()
    {
        QFETCH(bool, revealed);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a1 = app.card(s, "a1", "A1", 1);
        const qint32 a2 = app.card(s, "a2", "A2", 1);
        const qint32 b = app.card(s, "b", "B", 2);
        app.startPractice("Latein");
        app.takeCompartment("2");
        QCOMPARE(app.akt(), b);
        if (revealed)
            button(app.ueb(), "cmdAntwort")->click();

        button(app.ueb(), "cmdRichtig")->click();
        QCOMPARE(app.dialogs.take(), QStringList{"Fach : 2 ist leer!\nBitte neu wählen!"});
        QCOMPARE(app.position(b), (Position{3, 4}));
        QCOMPARE(app.entries(), QStringList({"1", "3"}));
        QCOMPARE(combo(app.ueb(), "cmbFach")->currentIndex(), 0);
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("1"));
        // The moved card is still the card on display, its answer as it was.
        QCOMPARE(app.akt(), b);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("b"));
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString("B"));
        QCOMPARE(app.answerShown(), revealed);

        // The next verdict counts from the card's own compartment, 3 + 1; practice
        // goes on in the list's 1.
        button(app.ueb(), "cmdRichtig")->click();
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.position(b), (Position{4, 5}));
        QCOMPARE(app.position(a1), (Position{1, 1}));
        QCOMPARE(app.position(a2), (Position{1, 2}));
        QCOMPARE(app.entries(), QStringList({"1", "4"}));
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("1"));
        QCOMPARE(app.akt(), a1);
        QVERIFY(!app.answerShown());
    }

    void wrongInFourGoesBehindCompartmentOne()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a = app.card(s, "a", "A", 1);
        const qint32 d1 = app.card(s, "d1", "D1", 4);
        const qint32 d2 = app.card(s, "d2", "D2", 4);
        app.startPractice("Latein");
        app.takeCompartment("4");
        QCOMPARE(app.akt(), d1);
        button(app.ueb(), "cmdFalsch")->click();
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.position(d1), (Position{1, 4}));
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("4"));
        QCOMPARE(app.akt(), d2);

        button(app.ueb(), "cmdFalsch")->click();
        QCOMPARE(app.dialogs.take(), QStringList{"Fach : 4 ist leer!\nBitte neu wählen!"});
        QCOMPARE(app.position(d2), (Position{1, 5}));
        QCOMPARE(app.entries(), QStringList{"1"});
        QCOMPARE(app.akt(), d2);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("d2"));

        // Compartment 1 now queues a, d1, d2.
        button(app.ueb(), "cmdFachOk")->click();
        QCOMPARE(app.akt(), a);
        button(app.ueb(), "cmdRichtig")->click();
        QCOMPARE(app.akt(), d1);
        button(app.ueb(), "cmdRichtig")->click();
        QCOMPARE(app.akt(), d2);
    }

    // The card moves from its own compartment; the list's text only says where
    // practice goes on, and text that names no compartment blocks nothing.
    void verdictCountsFromTheCardOnDisplay_data()
    {
        QTest::addColumn<QString>("shown"); // the card judged: a1, a2 in 1, c in 3, e in 5
        QTest::addColumn<QString>("typed"); // into the list, without "&Übernehmen"
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<qint64>("newCompartment"); // of the card judged
        QTest::addColumn<QString>("listAfter");
        QTest::addColumn<QString>("nextCard"); // on display afterwards
        QTest::addColumn<QString>("message");
        QTest::newRow("picked entry 5") << "a1"
                                        << "5"
                                        << "Richtig" << qint64(2) << "5"
                                        << "e"
                                        << "";
        QTest::newRow("typed 4, no cards there") << "a1"
                                                 << "4"
                                                 << "Richtig" << qint64(2) << "1"
                                                 << "a1" << text::compartmentEmpty(4);
        QTest::newRow("typed 3, cards there") << "a1"
                                              << " 3 "
                                              << "Fast Richtig" << qint64(1) << "3"
                                              << "c"
                                              << "";
        QTest::newRow("garbage: on in the card's own") << "a1"
                                                       << "abc"
                                                       << "Richtig" << qint64(2) << "1"
                                                       << "a2"
                                                       << "";
        QTest::newRow("empty text") << "a1"
                                    << ""
                                    << "Fast Richtig" << qint64(1) << "1"
                                    << "a2"
                                    << "";
        QTest::newRow("garbage, card's own emptied") << "e"
                                                     << "9x"
                                                     << "Falsch" << qint64(1) << "1"
                                                     << "e" << text::compartmentEmpty(5);
        QTest::newRow("listed compartment emptied") << "c"
                                                    << "3"
                                                    << "Richtig" << qint64(4) << "1"
                                                    << "c" << text::compartmentEmpty(3);
    }

    void verdictCountsFromTheCardOnDisplay()
    {
        QFETCH(QString, shown);
        QFETCH(QString, typed);
        QFETCH(QString, verdict);
        QFETCH(qint64, newCompartment);
        QFETCH(QString, listAfter);
        QFETCH(QString, nextCard);
        QFETCH(QString, message);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const std::map<QString, qint32> cards{{"a1", app.card(s, "a1", "A", 1)},
                                              {"a2", app.card(s, "a2", "A", 1)},
                                              {"c", app.card(s, "c", "C", 3)},
                                              {"e", app.card(s, "e", "E", 5)}};
        const qint32 card = cards.at(shown);
        app.startPractice("Latein");
        app.takeCompartment(QString::number(app.position(card).compartment));
        QCOMPARE(app.akt(), card);
        const qint64 before = app.position(card).compartment;
        app.choose(typed);

        captioned(app.ueb(), verdict)->click();
        QCOMPARE(app.dialogs.take(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(app.position(card).compartment, newCompartment);
        // The practice log tells the same move.
        QCOMPARE(rawdb::rows(app.dbPath(), "SELECT FachVorher, FachNachher FROM tblUebung"),
                 QStringList{QStringLiteral("%1|%2").arg(before).arg(newCompartment)});
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), listAfter);
        QCOMPARE(app.akt(), cards.at(nextCard));
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), nextCard);
    }

    // ---- Leaving the practice window ----

    void gebietsauswahlClearsAndOffersRenaming()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a = app.card(s, "a", "A");
        app.subject("Leer");
        app.startPractice("Latein");
        button(app.ueb(), "cmdAntwort")->click();
        button(app.ueb(), "cmdNeuGebiet")->click();
        app.settle();
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString());
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString());
        QVERIFY(app.answerShown()); // emptied, not hidden
        QCOMPARE(combo(app.ueb(), "cmbFach")->count(), 0);
        QVERIFY(!app.ueb().isVisible());
        QCOMPARE(app.ueb().windowTitle(), QString("Latein"));
        // The emptied display holds no card a verdict or an edit could reach.
        QCOMPARE(app.akt(), 0);
        FrmGebiete *g = app.gebiete();
        QVERIFY(g && g->isVisible());
        QVERIFY(button(g, "cmdGebietNeu")->isHidden());
        QVERIFY(!button(g, "cmdGebietEdit")->isHidden());
        QVERIFY(!button(g, "cmdUebernahmeGebiet")->isHidden());
        // Still the practice road: only subjects with cards.
        QCOMPARE(combo(g, "cmbGebiet")->count(), 1);
        QCOMPARE(combo(g, "cmbGebiet")->itemText(0), QString("Latein"));

        app.takeSubject("Latein");
        QVERIFY(app.ueb().isVisible());
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("a"));
        QCOMPARE(app.akt(), a);
        QVERIFY(!app.answerShown());
        QCOMPARE(app.dialogs.take(), QStringList());
    }

    void zumStartThenPracticeStartsAtTheFirstEntry()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a = app.card(s, "a", "A", 1);
        const qint32 c = app.card(s, "c", "C", 3);
        app.startPractice("Latein");
        app.takeCompartment("3");
        QCOMPARE(app.akt(), c);
        const auto shown = app.display();
        button(app.ueb(), "cmdZumStart")->click();
        QVERIFY(!app.ueb().isVisible());
        QVERIFY(app.forms->window<FrmWelcome>().isVisible());
        QCOMPARE(app.display(), shown);

        app.startPractice("Latein");
        QCOMPARE(app.entries(), QStringList({"1", "3"}));
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("1"));
        QCOMPARE(app.akt(), a);
        QCOMPARE(app.dialogs.take(), QStringList());
    }

    // ---- What the program refuses, telling the user and writing nothing ----

    // Text typed into the compartment list, then "&Übernehmen": only a whole number
    // from 1 up counts, blanks around it aside; anything else is refused.
    void listTextCountsOnlyAsAWholeNumber_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("compartment"); // the compartment it names; 0: none
        const struct {
            const char *typed;
            qint64 compartment;
        } texts[] = {
            {"", 0},
            {"abc", 0},
            {"2.0", 0},
            {"3.0", 0},
            {"1; DELETE FROM tblPosition", 0},
            {"1; DROP TABLE tblPosition", 0},
            {"0x1", 0},
            {"0x10", 0},
            {"0", 0},
            {"-0", 0},
            {"-1", 0},
            {"2147483648", 0},
            {"99999999999", 0},
            {"1 2", 0},
            {"3 4", 0},
            {"1e3", 0},
            {"٣", 0},
            {" 3 ", 3},
            {"+2", 2},
            {"2147483647", 2147483647},
            {"7", 7}, // no cards anywhere
            {"2", 2}, // only another subject's cards
            {" 9 ", 9},
        };
        for (const auto &t : texts)
            QTest::addRow("\"%s\"", t.typed) << QString::fromUtf8(t.typed) << t.compartment;
    }

    void listTextCountsOnlyAsAWholeNumber()
    {
        QFETCH(QString, typed);
        QFETCH(qint64, compartment);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 eins = app.card(s, "eins", "1");
        app.card(s, "drei", "3", 3);
        app.card(app.subject("Andere"), "o", "O", 2);
        app.startPractice("Latein");
        QCOMPARE(app.akt(), eins);
        button(app.ueb(), "cmdAntwort")->click();
        app.choose(typed);
        QCOMPARE(app.display().listText, typed);
        const auto file = app.snapshot();

        if (compartment == 0) {
            app.pressRefused(button(app.ueb(), "cmdFachOk"), text::notACompartment(typed));
        } else if (compartment != 3) {
            app.pressRefused(button(app.ueb(), "cmdFachOk"), text::compartmentEmpty(compartment));
        } else {
            button(app.ueb(), "cmdFachOk")->click();
            QCOMPARE(app.snapshot(), file);
            QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("drei"));
        }
        QVERIFY(rawdb::violations(app.dbPath()).isEmpty());
    }

    void practiceWithoutCardsStartsEmpty_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("practisedBefore");
        QTest::addColumn<QString>("message");
        QTest::newRow("subject without cards") << "Leer" << false << text::subjectWithoutCards("Leer");
        QTest::newRow("no such subject") << "Gibt es nicht" << false << text::unknownSubject("Gibt es nicht");
        QTest::newRow("without cards, after practice") << "Leer" << true << text::subjectWithoutCards("Leer");
        QTest::newRow("no such subject, after practice")
            << "Gibt es nicht" << true << text::unknownSubject("Gibt es nicht");
    }

    void practiceWithoutCardsStartsEmpty()
    {
        QFETCH(QString, name);
        QFETCH(bool, practisedBefore);
        QFETCH(QString, message);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        app.card(s, "a", "A");
        app.subject("Leer");
        if (practisedBefore) {
            app.startPractice("Latein");
            button(app.ueb(), "cmdAntwort")->click();
            button(app.ueb(), "cmdZumStart")->click();
        }
        const auto file = app.snapshot();

        app.startPractice(name);
        QCOMPARE(app.dialogs.take(), QStringList{message});
        QVERIFY(app.ueb().isVisible());
        QCOMPARE(app.ueb().windowTitle(), name);
        QCOMPARE(combo(app.ueb(), "cmbFach")->count(), 0);
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString());
        // No card of another subject stays on display under this subject's name.
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString());
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString());

        // No card on display: every verdict and "&Edit" say so, also with a number typed.
        for (CommandButton *b :
             {button(app.ueb(), "cmdRichtig"), button(app.ueb(), "cmdFastRichtig"), button(app.ueb(), "cmdFalsch")}) {
            for (const QString &typed : {QString(), QString("1")}) {
                app.choose(typed);
                b->click();
                QCOMPARE(app.dialogs.take(), QStringList{text::noCardOnDisplay()});
            }
        }
        button(app.ueb(), "cmdEdit")->click();
        QCOMPARE(app.dialogs.take(), QStringList{text::noCardOnDisplay()});
        QVERIFY(app.ueb().isVisible());
        QVERIFY(!app.forms->loaded("frmEdit") || !app.edit().isVisible());
        QCOMPARE(app.snapshot(), file);

        // Both ways out still work, and each empties what was typed into the list.
        app.choose("3");
        button(app.ueb(), "cmdZumStart")->click();
        QVERIFY(app.forms->window<FrmWelcome>().isVisible());
        app.startPractice(name);
        app.dialogs.take();
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString());
        app.choose("3");
        button(app.ueb(), "cmdNeuGebiet")->click();
        app.settle();
        QVERIFY(!app.ueb().isVisible());
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString());
        app.takeSubject("Latein");
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("a"));
        QCOMPARE(app.dialogs.take(), QStringList());
    }

    void valuesBeyond32BitsAreRefused_data()
    {
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<qint64>("compartment"); // of the card on display
        QTest::addColumn<QString>("typed");      // into the list before the verdict; empty: none
        QTest::addColumn<qint64>("largestQueuePlace");
        QTest::addColumn<QString>("message");
        const qint64 top = 2147483647;
        QTest::newRow("Richtig in compartment 2147483647")
            << "Richtig" << top << "" << qint64(10) << text::compartmentLimit();
        QTest::newRow("Richtig at the last place") << "Richtig" << qint64(1) << "" << top << text::queueLimit();
        QTest::newRow("Fast Richtig at the last place")
            << "Fast Richtig" << qint64(1) << "" << top << text::queueLimit();
        QTest::newRow("Falsch at the last place") << "Falsch" << qint64(2) << "" << top << text::queueLimit();
        QTest::newRow("Fast Richtig in 2147483647 is fine") << "Fast Richtig" << top << "" << qint64(10) << "";
    }

    void valuesBeyond32BitsAreRefused()
    {
        QFETCH(QString, verdict);
        QFETCH(qint64, compartment);
        QFETCH(QString, typed);
        QFETCH(qint64, largestQueuePlace);
        QFETCH(QString, message);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 card = app.card(s, "oben", "O");
        app.setCompartment(card, compartment);
        app.setQueuePlace(app.card(app.subject("Andere"), "o", "x"), largestQueuePlace);
        app.startPractice("Latein");
        QCOMPARE(app.entries(), QStringList{QString::number(compartment)});
        QCOMPARE(app.akt(), card);
        if (!message.isEmpty())
            return app.pressRefused(captioned(app.ueb(), verdict), message);
        auto file = app.snapshot();
        captioned(app.ueb(), verdict)->click();
        QCOMPARE(app.dialogs.take(), QStringList());
        file.positions[card] = {compartment, largestQueuePlace + 1};
        QCOMPARE(app.snapshot(), file);
        QCOMPARE(app.akt(), card);
    }

    void missingPositionRowIsTold_data()
    {
        QTest::addColumn<QString>("verdict");
        QTest::newRow("Richtig") << "Richtig";
        QTest::newRow("Fast Richtig") << "Fast Richtig";
        QTest::newRow("Falsch") << "Falsch";
    }

    void missingPositionRowIsTold()
    {
        QFETCH(QString, verdict);
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a = app.card(s, "a", "A");
        app.card(s, "b", "B");
        app.startPractice("Latein");
        button(app.ueb(), "cmdAntwort")->click();
        app.rawDelete("DELETE FROM tblPosition WHERE idFrageAntwort = ?1", a);
        app.pressRefused(captioned(app.ueb(), verdict), text::cardMissing(a));
    }

    void missingCardRowIsTold()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a = app.card(s, "a", "A");
        const qint32 b = app.card(s, "b", "B");
        const qint32 c = app.card(s, "c", "C");

        // The head card's text row is gone when practice starts: nothing is shown.
        app.rawDelete("DELETE FROM tblFrageAntwort WHERE idFrageAntwort = ?1", a);
        auto file = app.snapshot();
        app.startPractice("Latein");
        QCOMPARE(app.dialogs.take(), QStringList{text::cardMissing(a)});
        QCOMPARE(app.entries(), QStringList{"1"});
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString());
        QCOMPARE(app.akt(), 0);
        button(app.ueb(), "cmdRichtig")->click();
        QCOMPARE(app.dialogs.take(), QStringList{text::noCardOnDisplay()});
        QCOMPARE(app.snapshot(), file);

        // Mended by hand (the card put behind the others): b is shown, and the next
        // head card after b is c, whose text row then goes missing.
        app.setQueuePlace(a, 100);
        button(app.ueb(), "cmdFachOk")->click();
        QCOMPARE(app.akt(), b);
        button(app.ueb(), "cmdAntwort")->click();
        app.rawDelete("DELETE FROM tblFrageAntwort WHERE idFrageAntwort = ?1", c);
        file = app.snapshot();
        button(app.ueb(), "cmdRichtig")->click();
        // The verdict on b is written; showing c fails and b stays on display.
        QCOMPARE(app.dialogs.take(), QStringList{text::cardMissing(c)});
        file.positions[b] = {2, 101};
        QCOMPARE(app.snapshot(), file);
        QCOMPARE(app.akt(), b);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("b"));
        QVERIFY(app.answerShown());
    }

    // ---- A whole session, against a model of the rules ----

    void twentyCardsThroughSeveralCompartments()
    {
        PracticeApp app;
        const qint32 s = app.subject("Vokabeln");
        const qint32 o = app.subject("Andere");

        // The model: every card's compartment and place, the texts of our cards.
        std::map<qint32, Position> pos;
        std::map<qint32, PracticeApp::Texts> texts;
        std::set<qint32> mine;
        qint64 largest = 0;
        for (int i = 0; i < 20; ++i) {
            const qint32 id = app.card(s, QString("Frage %1").arg(i), QString("Antwort %1").arg(i));
            pos[id] = {1, ++largest};
            texts[id] = {QString("Frage %1").arg(i), QString("Antwort %1").arg(i)};
            mine.insert(id);
            if (i % 7 == 0) {
                const qint32 other = app.card(o, "fremd", "x");
                pos[other] = {1, ++largest};
                texts[other] = {"fremd", "x"};
            }
        }
        auto compartments = [&] {
            std::set<qint64> f;
            for (qint32 id : mine)
                f.insert(pos[id].compartment);
            QStringList list;
            for (qint64 n : f)
                list << QString::number(n);
            return list;
        };
        auto head = [&](qint64 compartment) {
            qint32 best = 0;
            for (qint32 id : mine)
                if (pos[id].compartment == compartment && (!best || pos[id].queuePlace < pos[best].queuePlace))
                    best = id;
            return best;
        };
        QString listText;
        qint32 onDisplay = 0;
        auto start = [&] {
            listText = compartments().first();
            onDisplay = head(listText.toLongLong());
        };
        auto checkWindow = [&](const char *where, int step) {
            const QString at = QString("%1 at step %2").arg(where).arg(step);
            QVERIFY2(app.entries() == compartments(), qPrintable(at + ": list " + app.entries().join(',')));
            QVERIFY2(combo(app.ueb(), "cmbFach")->text() == listText, qPrintable(at));
            QVERIFY2(app.akt() == onDisplay, qPrintable(at));
            QVERIFY2(label(app.ueb(), "lblFrage")->text() == texts[onDisplay].question, qPrintable(at));
            QVERIFY2(label(app.ueb(), "lblAntwort")->text() == texts[onDisplay].answer, qPrintable(at));
        };
        auto checkFile = [&](int step) {
            const auto file = app.snapshot();
            QVERIFY2(file.positions.size() == int(pos.size()), qPrintable(QString::number(step)));
            for (const auto &[id, p] : pos)
                if (!(file.positions.value(id) == p))
                    QFAIL(qPrintable(QString("card %1 at step %2: file F%3/S%4, expected F%5/S%6")
                                         .arg(id)
                                         .arg(step)
                                         .arg(file.positions.value(id).compartment)
                                         .arg(file.positions.value(id).queuePlace)
                                         .arg(p.compartment)
                                         .arg(p.queuePlace)));
        };

        app.startPractice("Vokabeln");
        start();
        checkWindow("start", 0);

        std::mt19937 random(20240611);
        int verdicts[3] = {};
        int emptied = 0;
        qint64 highest = 1;
        for (int step = 1; step <= 160; ++step) {
            if (step == 70) {
                // Correct the card on display; it keeps its compartment and place.
                button(app.ueb(), "cmdEdit")->click();
                textBox(app.edit(), "txtEditFrage")->setText("Frage \"neu\"");
                textBox(app.edit(), "txtEditAntwort")->setText(" ");
                button(app.edit(), "cmdUebernahme")->click();
                texts[onDisplay] = {"Frage \"neu\"", " "};
                checkWindow("edit", step);
            }
            if (step == 100) {
                // Leave for the subject choice and come back.
                button(app.ueb(), "cmdNeuGebiet")->click();
                app.settle();
                app.takeSubject("Vokabeln");
                start();
                checkWindow("Gebietsauswahl", step);
            }
            if (step == 130) {
                button(app.ueb(), "cmdZumStart")->click();
                app.startPractice("Vokabeln");
                start();
                checkWindow("Zum Start", step);
            }
            const unsigned roll = random() % 100;
            if (roll < 8) {
                // Another compartment, taken over.
                const QStringList list = compartments();
                listText = list[int(random() % unsigned(list.size()))];
                app.takeCompartment(listText);
                onDisplay = head(listText.toLongLong());
                QCOMPARE(app.dialogs.take(), QStringList());
                checkWindow("Übernehmen", step);
                continue;
            }
            if (roll < 12) {
                // Another compartment chosen, then judged at once.
                const QStringList list = compartments();
                listText = list[int(random() % unsigned(list.size()))];
                app.choose(listText);
            }
            if (random() % 3 == 0)
                button(app.ueb(), "cmdAntwort")->click();

            // The card moves from its own compartment; practice goes on in the list's.
            const qint64 n = listText.toLongLong();
            const qint64 own = pos[onDisplay].compartment;
            const unsigned kind = random() % 100 < 55 ? 0 : (random() % 2 ? 1 : 2);
            const qint64 newCompartment = kind == 0 ? own + 1 : kind == 1 ? own : 1;
            ++verdicts[kind];
            (kind == 0   ? button(app.ueb(), "cmdRichtig")
             : kind == 1 ? button(app.ueb(), "cmdFastRichtig")
                         : button(app.ueb(), "cmdFalsch"))
                ->click();
            pos[onDisplay] = {newCompartment, ++largest};
            highest = std::max(highest, newCompartment);
            const QStringList list = compartments();
            if (list.contains(QString::number(n))) {
                onDisplay = head(n);
                QVERIFY2(app.dialogs.take().isEmpty(), qPrintable(QString::number(step)));
                QVERIFY2(!app.answerShown(), qPrintable(QString::number(step)));
            } else {
                listText = list.first();
                ++emptied;
                QCOMPARE(app.dialogs.take(), QStringList{text::compartmentEmpty(n)});
            }
            checkWindow("verdict", step);
            checkFile(step);
            if (QTest::currentTestFailed())
                return;
        }

        // The session went where it was meant to go.
        QVERIFY2(highest >= 5, qPrintable(QString::number(highest)));
        QVERIFY(verdicts[0] >= 20 && verdicts[1] >= 10 && verdicts[2] >= 10);
        QVERIFY(emptied >= 3);

        // The file, read afresh, holds exactly the model's places and texts.
        const auto file = app.snapshot();
        QCOMPARE(file.positions.size(), int(pos.size()));
        QCOMPARE(file.texts.size(), int(texts.size()));
        for (const auto &[id, t] : texts)
            QCOMPARE(file.texts.value(id), t);
        checkFile(-1);
        QVERIFY(app.openStore()->checkInvariants().isEmpty());
    }
};

QTEST_MAIN(TestPractice)
#include "test_practice.moc"
