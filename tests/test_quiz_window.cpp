#include "app/frmbackground.h"
#include "quizwindow/quizwindow.h"
#include "rawdb.h"
#include "testapp.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

QString labelText(const QuizWindow &w, const char *name) { return ctl<QLabel>(w, name)->text(); }

// The choice buttons on display, by their answers: "&2 cat" -> "cat".
QStringList choices(const QuizWindow &w)
{
    QStringList shown;
    for (int i = 1; i <= 4; ++i) {
        auto *b = ctl<QPushButton>(w, qPrintable(QStringLiteral("cmdWahl%1").arg(i)));
        if (b->isVisible())
            shown << b->text().section(QLatin1Char(' '), 1);
    }
    return shown;
}

void answer(QuizWindow &w, const QString &typed)
{
    QLineEdit *box = ctl<QLineEdit>(w, "txtAntwort");
    QVERIFY(box->isVisible() && box->isEnabled());
    QTest::keyClicks(box, typed);
    QTest::keyClick(box, Qt::Key_Return);
}

// Picks the choice by its key, 1 to 4.
void pick(QuizWindow &w, const QString &text)
{
    const int index = int(choices(w).indexOf(text));
    QVERIFY2(index >= 0, qPrintable(choices(w).join('|')));
    QTest::keyClick(&w, Qt::Key(Qt::Key_1 + index));
}

} // namespace

class TestQuizWindow : public QObject {
    Q_OBJECT

private slots:
    // A learner types and picks answers through due practice to its end message; each
    // verdict moves its card when the learner goes on, and undo takes it back.
    void typedAndChosenAnswersToTheEnd()
    {
        TestApp app;
        Seeder seed = app.seeder();
        const qint32 tiere = seed.subject("Tiere");
        const qint32 hund = seed.card(tiere, "Hund", "dog");
        const qint32 katze = seed.card(tiere, "Katze", "cat");
        const qint32 maus = seed.card(tiere, "Maus", "mouse");
        const qint32 vogel = seed.card(tiere, "Vogel", "bird");
        const qint32 kaktus = seed.card(seed.subject("Zimmerpflanzen"), "Kaktus", "cactus");
        const auto compartment = [&](qint32 card) { return int(rawdb::read(app.dbPath()).cards.at(card).compartment); };

        app.forms->start();
        FrmBackground &backdrop = app.forms->window<FrmBackground>();
        backdrop.findChild<QAction *>(QStringLiteral("actAbfrage"))->trigger();
        QuizWindow *w = app.forms->tools().find<QuizWindow>();
        QVERIFY(w && w->isVisible());
        QVERIFY(w->windowTitle().startsWith("Abfrage"));
        QVERIFY(ctl<QCheckBox>(*w, "chkFaellig")->isChecked());
        QCOMPARE(labelText(*w, "lblFrage"), QString("Hund"));
        QCOMPARE(ctl<QLabel>(*w, "lblFrage")->accessibleName(), QString("Hund"));
        QCOMPARE(labelText(*w, "lblNoch"), QString("Noch 4 Karten"));

        // A subject's last card deleted elsewhere: the subject leaves the list, the run goes on.
        QComboBox *subjects = ctl<QComboBox>(*w, "cmbGebiet");
        QVERIFY(subjects->findText("Zimmerpflanzen") >= 0);
        app.forms->session().tell(seed.store->deleteCards({kaktus}), nullptr);
        QCOMPARE(subjects->findText("Zimmerpflanzen"), -1);
        QCOMPARE(subjects->currentText(), QString("Tiere"));
        QCOMPARE(labelText(*w, "lblFrage"), QString("Hund"));
        seed.store.reset();

        // Typed: a near miss, taken as right by the learner, stored on Enter.
        answer(*w, "Dog");
        QCOMPARE(labelText(*w, "lblErgebnis"), QString("Fast richtig: Groß-/Kleinschreibung\nRichtig ist: dog"));
        QCOMPARE(ctl<QLabel>(*w, "lblErgebnis")->accessibleName(), labelText(*w, "lblErgebnis"));
        QCOMPARE(compartment(hund), 1);
        ctl<QPushButton>(*w, "cmdRecht")->click();
        QTest::keyClick(ctl<QPushButton>(*w, "cmdWeiter"), Qt::Key_Return);
        QCOMPARE(compartment(hund), 2);
        QCOMPARE(backdrop.findChild<QAction *>(QStringLiteral("actRueckgaengig"))->text(),
                 QString("&Rückgängig: Abfrage „Hund“"));

        // Wrong through "Prüfen": back to compartment 1, still due.
        QCOMPARE(labelText(*w, "lblFrage"), QString("Katze"));
        QTest::keyClicks(ctl<QLineEdit>(*w, "txtAntwort"), "cta");
        ctl<QPushButton>(*w, "cmdPruefen")->click();
        QCOMPARE(labelText(*w, "lblErgebnis"), QString("Falsch\nRichtig ist: cat"));
        ctl<QPushButton>(*w, "cmdWeiter")->click();
        QCOMPARE(labelText(*w, "lblNoch"), QString("Noch 3 Karten"));

        // Chosen: the card waiting is asked again with four answers of the subject.
        QComboBox *art = ctl<QComboBox>(*w, "cmbArt");
        art->setCurrentIndex(1);
        emit art->activated(1);
        QCOMPARE(labelText(*w, "lblFrage"), QString("Maus"));
        QStringList offered = choices(*w);
        offered.sort();
        QCOMPARE(offered, (QStringList{"bird", "cat", "dog", "mouse"}));
        QVERIFY(!ctl<QLineEdit>(*w, "txtAntwort")->isVisible());
        pick(*w, "mouse");
        QCOMPARE(labelText(*w, "lblErgebnis"), QString("Richtig"));
        QTest::keyClick(w, Qt::Key_Return);
        QCOMPARE(compartment(maus), 2);
        QCOMPARE(labelText(*w, "lblFrage"), QString("Vogel"));
        pick(*w, "cat");
        QCOMPARE(labelText(*w, "lblErgebnis"), QString("Falsch\nRichtig ist: bird"));
        QVERIFY(!ctl<QPushButton>(*w, "cmdFalsch")->isEnabled());
        ctl<QPushButton>(*w, "cmdWeiter")->click();
        QCOMPARE(compartment(vogel), 1);

        // The subject's tolerance for letter case set to wrong, saved in the file.
        art->setCurrentIndex(0);
        emit art->activated(0);
        app.dialogs.dialogAnswers << [](QDialog &d) {
            d.findChild<QComboBox *>(QStringLiteral("cmbSchreibung"))->setCurrentIndex(2);
            d.accept();
        };
        ctl<QPushButton>(*w, "cmdToleranz")->click();
        QCOMPARE(labelText(*w, "lblFrage"), QString("Katze"));
        answer(*w, "Cat");
        QCOMPARE(labelText(*w, "lblErgebnis"), QString("Falsch: Groß-/Kleinschreibung\nRichtig ist: cat"));
        ctl<QPushButton>(*w, "cmdRecht")->click();
        ctl<QPushButton>(*w, "cmdWeiter")->click();
        QCOMPARE(compartment(katze), 2);

        // Closing with a result shown stores it; opened again, nothing is due.
        QCOMPARE(labelText(*w, "lblFrage"), QString("Vogel"));
        answer(*w, "bird");
        QCOMPARE(labelText(*w, "lblErgebnis"), QString("Richtig"));
        w->close();
        QCOMPARE(compartment(vogel), 2);
        backdrop.findChild<QAction *>(QStringLiteral("actAbfrage"))->trigger();
        QCOMPARE(labelText(*w, "lblErgebnis"), QString("Alle fälligen Karten sind geübt."));
        QCOMPARE(labelText(*w, "lblNoch"), QString("Noch 0 Karten"));

        // Undo takes the last verdict back, and the card is asked again.
        backdrop.findChild<QAction *>(QStringLiteral("actRueckgaengig"))->trigger();
        QCOMPARE(compartment(vogel), 1);
        QCOMPARE(labelText(*w, "lblFrage"), QString("Vogel"));
        QCOMPARE(labelText(*w, "lblNoch"), QString("Noch 1 Karte"));
        QCOMPARE(rawdb::read(app.dbPath()).tolerances, (std::map<qint64, QString>{{tiere, "1,2,3,2"}}));
        QCOMPARE(app.dialogs.messages, QStringList());
    }
};

QTEST_MAIN(TestQuizWindow)
#include "test_quiz_window.moc"
