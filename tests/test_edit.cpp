#include "practice.h"
#include "ui/messages.h"

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

void save(PracticeApp &app, const QString &question, const QString &answer)
{
    textBox(app.edit(), "txtEditFrage")->setText(question);
    textBox(app.edit(), "txtEditAntwort")->setText(answer);
    button(app.edit(), "cmdUebernahme")->click();
}

// A practice session on "Latein" with two cards in compartment 1, the first on display.
struct EditApp : PracticeApp {
    qint32 a = 0;
    qint32 b = 0;
    EditApp()
    {
        const qint32 s = subject("Latein");
        a = card(s, "amare", "lieben");
        b = card(s, "videre", "sehen");
        startPractice("Latein");
    }
};

} // namespace

class TestEdit : public QObject {
    Q_OBJECT

private slots:
    void editKeepsTheAnswersVisibility_data() { addRevealedRows(); }

    void editKeepsTheAnswersVisibility()
    {
        QFETCH(bool, revealed);
        EditApp app;
        if (revealed)
            button(app.ueb(), "cmdAntwort")->click();
        auto file = app.snapshot();
        button(app.ueb(), "cmdEdit")->click();
        QVERIFY(app.edit().isVisible());
        QVERIFY(!app.ueb().isVisible());
        QCOMPARE(app.edit().windowTitle(), QString("Latein"));
        QCOMPARE(textBox(app.edit(), "txtEditFrage")->text(), QString("amare"));
        // Offered also while the label is hidden.
        QCOMPARE(textBox(app.edit(), "txtEditAntwort")->text(), QString("lieben"));

        save(app, "amo", "ich liebe");
        QCOMPARE(app.dialogs.take(), QStringList());
        QVERIFY(!app.edit().isVisible());
        QVERIFY(app.ueb().isVisible());
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("amo"));
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString("ich liebe"));
        QCOMPARE(app.answerShown(), revealed);
        QCOMPARE(app.akt(), app.a);
        QCOMPARE(app.entries(), QStringList{"1"});
        file.texts[app.a] = {"amo", "ich liebe"};
        QCOMPARE(app.snapshot(), file);
        button(app.ueb(), "cmdAntwort")->click();
        QVERIFY(app.answerShown());
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), QString("ich liebe"));
    }

    void textsAreCheckedThenStoredExactlyAsTyped_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("refused"); // for a box left empty
        QTest::newRow("question empty") << ""
                                        << "lieben" << true;
        QTest::newRow("answer empty") << "amare"
                                      << "" << true;
        QTest::newRow("both empty") << ""
                                    << "" << true;
        QTest::newRow("a single space") << " "
                                        << "leer" << false;
        QTest::newRow("double quotes") << "Er sagte \"ave\""
                                       << "\"" << false;
        QTest::newRow("blanks and lines kept") << "  vorn und hinten  "
                                               << "Zeile 1\n Zeile 2 \n"
                                               << false;
        QTest::newRow("statement text") << "'; DROP TABLE tblFrageAntwort; --"
                                        << "<b>kein Fettdruck</b>" << false;
    }

    void textsAreCheckedThenStoredExactlyAsTyped()
    {
        QFETCH(QString, question);
        QFETCH(QString, answer);
        QFETCH(bool, refused);
        EditApp app;
        button(app.ueb(), "cmdAntwort")->click();
        const auto file = app.snapshot();
        button(app.ueb(), "cmdEdit")->click();
        save(app, question, answer);
        if (refused) {
            QCOMPARE(app.dialogs.take(), QStringList{"Fehlende Eingabe!"});
            QCOMPARE(app.snapshot(), file);
            QVERIFY(app.edit().isVisible());
            QVERIFY(!app.ueb().isVisible());
            QCOMPARE(textBox(app.edit(), "txtEditFrage")->text(), question);
            QCOMPARE(textBox(app.edit(), "txtEditAntwort")->text(), answer);
            QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("amare"));
            // Filled in, the same window saves.
            question = "amo";
            answer = "ich liebe";
            save(app, question, answer);
        }
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.snapshot().texts.value(app.a), (PracticeApp::Texts{question, answer}));
        QCOMPARE(app.snapshot().texts.value(app.b), (PracticeApp::Texts{"videre", "sehen"}));
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), question);
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), answer);
        QCOMPARE(label(app.ueb(), "lblFrage")->textFormat(), Qt::PlainText);
        // Read back through the program, the card shows the same texts.
        button(app.ueb(), "cmdFachOk")->click();
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), question);
        QCOMPARE(label(app.ueb(), "lblAntwort")->text(), answer);
    }

    void savingKeepsCompartmentAndPlace()
    {
        EditApp app;
        const auto before = app.snapshot();
        button(app.ueb(), "cmdEdit")->click();
        save(app, "amo", "ich liebe");
        QCOMPARE(app.snapshot().positions, before.positions);
        // Still the head card of compartment 1 until a verdict moves it.
        button(app.ueb(), "cmdFachOk")->click();
        QCOMPARE(app.akt(), app.a);
        button(app.ueb(), "cmdRichtig")->click();
        QCOMPARE(app.position(app.a), (PracticeApp::Position{2, 3}));
        QCOMPARE(app.akt(), app.b);
    }

    void editAfterTheEmptiedMessageEditsTheMovedCard()
    {
        PracticeApp app;
        const qint32 s = app.subject("Latein");
        const qint32 a = app.card(s, "amare", "lieben", 1);
        const qint32 c = app.card(s, "currere", "laufen", 2);
        app.startPractice("Latein");
        app.takeCompartment("2");
        button(app.ueb(), "cmdRichtig")->click();
        QCOMPARE(app.dialogs.take(), QStringList{text::compartmentEmpty(2)});
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("1"));

        button(app.ueb(), "cmdEdit")->click();
        QCOMPARE(textBox(app.edit(), "txtEditFrage")->text(), QString("currere"));
        save(app, "curro", "ich laufe");
        QCOMPARE(app.snapshot().texts.value(c), (PracticeApp::Texts{"curro", "ich laufe"}));
        QCOMPARE(app.snapshot().texts.value(a), (PracticeApp::Texts{"amare", "lieben"}));
        QCOMPARE(app.position(c), (PracticeApp::Position{3, 3}));
        QCOMPARE(app.akt(), c);
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("1"));
    }

    void captionIsTheSubjectOfEachVisit()
    {
        EditApp app;
        app.card(app.subject("Griechisch"), "λόγος", "Wort");
        button(app.ueb(), "cmdEdit")->click();
        QCOMPARE(app.edit().windowTitle(), QString("Latein"));
        save(app, "amare", "lieben");
        button(app.ueb(), "cmdNeuGebiet")->click();
        app.settle();
        app.takeSubject("Griechisch");
        button(app.ueb(), "cmdEdit")->click();
        QCOMPARE(app.edit().windowTitle(), QString("Griechisch"));
        QCOMPARE(textBox(app.edit(), "txtEditFrage")->text(), QString("λόγος"));
    }

    // The card was deleted while its edit window was open: here, through the card
    // list's store and its change notice, or by another running copy unseen.
    void saveOnADeletedCardGoesOnWithPractice_data()
    {
        QTest::addColumn<bool>("here");
        QTest::newRow("in this copy") << true;
        QTest::newRow("by another copy") << false;
    }

    void saveOnADeletedCardGoesOnWithPractice()
    {
        QFETCH(bool, here);
        EditApp app;
        button(app.ueb(), "cmdEdit")->click();
        if (here) {
            Session &session = app.forms->session();
            session.record(QStringLiteral("Löschen"), session.db().deleteCards({app.a}), nullptr);
        } else {
            app.openStore()->deleteCards({app.a});
        }
        const auto file = app.snapshot();
        save(app, "amo", "ich liebe");
        QCOMPARE(app.dialogs.take(), QStringList{text::cardGone()});
        QCOMPARE(app.snapshot(), file);
        QVERIFY(!app.edit().isVisible());
        QVERIFY(app.ueb().isVisible());
        QCOMPARE(app.akt(), app.b);
        QCOMPARE(label(app.ueb(), "lblFrage")->text(), QString("videre"));
        QCOMPARE(combo(app.ueb(), "cmbFach")->text(), QString("1"));
    }
};

QTEST_MAIN(TestEdit)
#include "test_edit.moc"
