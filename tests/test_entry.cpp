#include "rawdb.h"
#include "testapp.h"

#include <QInputMethodEvent>
#include <QtTest>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

// Which of the controls that start hidden are shown now.
QString stage(const FrmNeu &neu)
{
    QStringList shown;
    if (!label(neu, "lblAntwort")->isHidden())
        shown << "lblAntwort";
    if (!textBox(neu, "txtAntwort")->isHidden())
        shown << "txtAntwort";
    if (!button(neu, "cmdUebernahme")->isHidden())
        shown << "cmdUebernahme";
    return shown.join(' ');
}

const char *const kCards = "SELECT g.NameGebiet, f.Frage, f.Antwort, p.Fach, p.Stelle FROM tblFrageAntwort AS f "
                           "JOIN tblGebiet AS g USING (idGebiet) JOIN tblPosition AS p USING (idFrageAntwort) "
                           "ORDER BY f.idFrageAntwort";

} // namespace

class TestEntry : public QObject {
    Q_OBJECT

private slots:
    void revealFollowsKeyPresses_data()
    {
        QTest::addColumn<bool>("inAnswer");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("reveals");
        for (bool inAnswer : {false, true}) {
            const char *box = inAnswer ? "answer: " : "question: ";
            auto row = [&](const char *action, bool reveals) {
                QTest::newRow(QByteArray(box).append(action).constData()) << inAnswer << QString(action) << reveals;
            };
            row("letter", true);
            row("umlaut", true);
            row("digit", true);
            row("space", true);
            row("Enter", true);
            row("Backspace", true);
            row("character composed from dead keys", true);
            row("composition still open", false);
            row("arrow keys", false);
            row("Home and End", false);
            row("Delete", false);
            row("Tab", false);
            row("text set from code", false);
            row("text inserted as a mouse paste", false);
        }
    }

    void revealFollowsKeyPresses()
    {
        QFETCH(bool, inAnswer);
        QFETCH(QString, action);
        QFETCH(bool, reveals);
        TestApp app;
        app.seed({{"Mathe", 0}});
        FrmNeu &neu = app.startEntry("Mathe");
        QCOMPARE(stage(neu), QString());
        TextBox *box = textBox(neu, "txtFrage");
        if (inAnswer) {
            QTest::keyClick(textBox(neu, "txtFrage"), Qt::Key_Q);
            QCOMPARE(stage(neu), QString("lblAntwort txtAntwort"));
            box = textBox(neu, "txtAntwort");
        }
        // Something to move over and delete.
        box->setText("ab");
        box->moveCursor(QTextCursor::End);

        if (action == "letter")
            QTest::keyClick(box, Qt::Key_X);
        else if (action == "umlaut")
            QTest::keyClick(box, Qt::Key_Udiaeresis);
        else if (action == "digit")
            QTest::keyClick(box, Qt::Key_7);
        else if (action == "space")
            QTest::keyClick(box, Qt::Key_Space);
        else if (action == "Enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (action == "Backspace")
            QTest::keyClick(box, Qt::Key_Backspace);
        else if (action == "character composed from dead keys") {
            QInputMethodEvent composed;
            composed.setCommitString(QString::fromUtf8("é"));
            QApplication::sendEvent(box, &composed);
            QCOMPARE(box->text(), QString::fromUtf8("abé"));
        } else if (action == "composition still open") {
            QInputMethodEvent open(QStringLiteral("´"), {});
            QApplication::sendEvent(box, &open);
        } else if (action == "arrow keys")
            for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down})
                QTest::keyClick(box, key);
        else if (action == "Home and End")
            for (Qt::Key key : {Qt::Key_Home, Qt::Key_End})
                QTest::keyClick(box, key);
        else if (action == "Delete") {
            box->moveCursor(QTextCursor::Start);
            QTest::keyClick(box, Qt::Key_Delete);
            QCOMPARE(box->text(), QString("b"));
        } else if (action == "Tab")
            QTest::keyClick(box, Qt::Key_Tab);
        else if (action == "text set from code")
            box->setText("von außen");
        else if (action == "text inserted as a mouse paste")
            box->insertPlainText("eingefügt");

        QString expected = inAnswer ? "lblAntwort txtAntwort" : "";
        if (reveals)
            expected = inAnswer ? "lblAntwort txtAntwort cmdUebernahme" : "lblAntwort txtAntwort";
        QCOMPARE(stage(neu), expected);
    }

    void stagesOnlyGoForward()
    {
        TestApp app;
        app.seed({{"Mathe", 0}});
        FrmNeu &neu = app.startEntry("Mathe");
        QTest::keyClicks(textBox(neu, "txtFrage"), "F");
        QTest::keyClick(textBox(neu, "txtFrage"), Qt::Key_Backspace);
        QCOMPARE(textBox(neu, "txtFrage")->text(), QString());
        QCOMPARE(stage(neu), QString("lblAntwort txtAntwort")); // emptied, yet still open
        QTest::keyClicks(textBox(neu, "txtAntwort"), "A");
        textBox(neu, "txtAntwort")->setText(QString());
        QTest::keyClicks(textBox(neu, "txtFrage"), "mehr");
        QCOMPARE(stage(neu), QString("lblAntwort txtAntwort cmdUebernahme"));
        QVERIFY(label(neu, "lblFrage")->isVisible() && textBox(neu, "txtFrage")->isVisible());
        QVERIFY(button(neu, "cmdZurueck")->isVisible() && button(neu, "cmdZumStart")->isVisible());
    }

    void storingFilesTheCardInCompartmentOneAtTheEndOfTheQueue()
    {
        TestApp app;
        app.seed({{"Mathe", 0}, {"Physik", 0}});
        FrmNeu &neu = app.startEntry("Mathe");
        keyInCard(neu, "1+1", "2");
        // The very first card takes place 1.
        QCOMPARE(rawdb::rows(app.dbPath(), kCards), QStringList{"Mathe|1+1|2|1|1"});

        // Another copy of the program files a card of another subject and moves it on.
        {
            auto other = app.openStore();
            const qint32 card = other->addCard(*other->subjectId("Physik"), "v?", "s/t");
            other->setCompartment({card}, 4);
        }
        keyInCard(neu, "2+2", "4");
        QCOMPARE(rawdb::rows(app.dbPath(), kCards),
                 (QStringList{"Mathe|1+1|2|1|1", "Physik|v?|s/t|4|3", "Mathe|2+2|4|1|4"}));
        QVERIFY(app.openStore()->checkInvariants().isEmpty());
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void resetAfterStoring()
    {
        TestApp app;
        app.seed({{"Mathe", 0}});
        FrmNeu &neu = app.startEntry("Mathe");
        QVERIFY(QTest::qWaitForWindowActive(&neu));
        QTest::keyClicks(textBox(neu, "txtFrage"), "Frage");
        QTest::keyClicks(textBox(neu, "txtAntwort"), "Antwort");
        QTest::mouseClick(button(neu, "cmdUebernahme"), Qt::LeftButton);

        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort"), 1);
        QCOMPARE(QApplication::focusWidget(), textBox(neu, "txtFrage"));
        QCOMPARE(textBox(neu, "txtFrage")->text(), QString());
        QCOMPARE(textBox(neu, "txtAntwort")->text(), QString());
        QCOMPARE(stage(neu), QString());
        // The next card starts over.
        QTest::keyClicks(QApplication::focusWidget(), "n");
        QCOMPARE(stage(neu), QString("lblAntwort txtAntwort"));
    }

    void textsAreStoredExactly_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("answer");
        QTest::newRow("several lines") << "Zeile 1\nZeile 2\n\nZeile 4\n"
                                       << "a\nb";
        QTest::newRow("quotes") << "Was heißt \"Haus\"?"
                                << "it's a 'house'; \"\" --";
        QTest::newRow("umlauts and more") << "Ärger über Öl, Maß"
                                          << "€ 😀 ÄÖÜäöüß";
        QTest::newRow("leading and trailing blanks") << "   eingerückt"
                                                     << "\tTab und Leerzeichen  ";
        QTest::newRow("markup") << "<b>x</b>"
                                << "&amp;";
    }

    void textsAreStoredExactly()
    {
        QFETCH(QString, question);
        QFETCH(QString, answer);
        TestApp app;
        app.seed({{"Mathe", 0}});
        FrmNeu &neu = app.startEntry("Mathe");
        QTest::keyClick(textBox(neu, "txtFrage"), Qt::Key_X);
        QTest::keyClick(textBox(neu, "txtAntwort"), Qt::Key_X);
        textBox(neu, "txtFrage")->setText(question);
        textBox(neu, "txtAntwort")->setText(answer);
        button(neu, "cmdUebernahme")->click();
        QCOMPARE(rawdb::rows(app.dbPath(), "SELECT Frage FROM tblFrageAntwort"), QStringList{question});
        QCOMPARE(rawdb::rows(app.dbPath(), "SELECT Antwort FROM tblFrageAntwort"), QStringList{answer});
        QCOMPARE(rawdb::rows(app.dbPath(), "SELECT Fach, Stelle FROM tblPosition"), QStringList{"1|1"});
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void emptyQuestionOrAnswerIsRefused_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("answer");
        QTest::newRow("question deleted again") << ""
                                                << "Antwort";
        QTest::newRow("empty answer") << "Frage ohne Antwort"
                                      << "";
        QTest::newRow("both empty") << ""
                                    << "";
    }

    void emptyQuestionOrAnswerIsRefused()
    {
        QFETCH(QString, question);
        QFETCH(QString, answer);
        TestApp app;
        app.seed({{"Mathe", 0}});
        FrmNeu &neu = app.startEntry("Mathe");
        QTest::keyClick(textBox(neu, "txtFrage"), Qt::Key_X);
        QTest::keyClick(textBox(neu, "txtAntwort"), Qt::Key_X);
        textBox(neu, "txtFrage")->setText(question);
        textBox(neu, "txtAntwort")->setText(answer);
        button(neu, "cmdUebernahme")->click();
        QCOMPARE(app.dialogs.take(), QStringList{"Fehlende Eingabe!"});
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort"), 0);
        QCOMPARE(textBox(neu, "txtFrage")->text(), question);
        QCOMPARE(textBox(neu, "txtAntwort")->text(), answer);
        QCOMPARE(stage(neu), QString("lblAntwort txtAntwort cmdUebernahme"));
    }

    void failedSecondInsertWritesNothingAndKeepsTheTexts()
    {
        TestApp app;
        app.seed({{"Mathe", 0}});
        FrmNeu &neu = app.startEntry("Mathe");
        keyInCard(neu, "erste", "1");
        // The position insert fails after the card insert went through.
        rawdb::exec(app.dbPath(), "CREATE TRIGGER trgTestFails BEFORE INSERT ON tblPosition "
                                  "BEGIN SELECT RAISE(ABORT, 'forced'); END;");
        keyInCard(neu, "zweite", "2");

        QCOMPARE(app.dialogs.messages.size(), 1);
        QVERIFY2(app.dialogs.messages.first().startsWith("Fehler in der Datenbank „" + app.dbPath() + "“"),
                 qPrintable(app.dialogs.messages.first()));
        QVERIFY(app.dialogs.messages.first().endsWith("Es wurde nichts gespeichert."));
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort"), 1);
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblPosition"), 1);
        QCOMPARE(textBox(neu, "txtFrage")->text(), QString("zweite"));
        QCOMPARE(textBox(neu, "txtAntwort")->text(), QString("2"));
        QCOMPARE(stage(neu), QString("lblAntwort txtAntwort cmdUebernahme"));

        // Once the fault is gone the same card goes in, whole.
        rawdb::exec(app.dbPath(), "DROP TRIGGER trgTestFails");
        button(neu, "cmdUebernahme")->click();
        QCOMPARE(rawdb::rows(app.dbPath(), kCards), (QStringList{"Mathe|erste|1|1|1", "Mathe|zweite|2|1|2"}));
        QVERIFY(app.openStore()->checkInvariants().isEmpty());
    }

    void captionNamingNoSubjectStoresNothingAndLosesNothing_data()
    {
        QTest::addColumn<QString>("typed"); // null: the list is empty
        QTest::addColumn<QString>("message");
        QTest::newRow("typed name of no subject")
            << "Phyisk"
            << "Das Gebiet \"Phyisk\" gibt es nicht.\nBitte wählen Sie ein Gebiet aus der Liste.";
        QTest::newRow("empty list") << QString()
                                    << "Es ist kein Gebiet gewählt.\nBitte wählen Sie ein Gebiet aus der Liste.";
    }

    void captionNamingNoSubjectStoresNothingAndLosesNothing()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        TestApp app;
        if (!typed.isNull())
            app.seed({{"Physik", 0}});
        FrmNeu &neu = app.startEntry(typed);
        QCOMPARE(neu.windowTitle(), typed.isNull() ? QString() : typed);
        keyInCard(neu, "F = m a", "Newton");

        QCOMPARE(app.dialogs.take(), QStringList{message});
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort"), 0);
        QCOMPARE(rawdb::count(app.dbPath(), "SELECT COUNT(*) FROM tblPosition"), 0);
        QCOMPARE(textBox(neu, "txtFrage")->text(), QString("F = m a"));
        QCOMPARE(textBox(neu, "txtAntwort")->text(), QString("Newton"));
        QCOMPARE(stage(neu), QString("lblAntwort txtAntwort cmdUebernahme"));

        // Back, a real subject (made now if there is none), and the card goes in.
        button(neu, "cmdZurueck")->click();
        if (typed.isNull()) {
            app.dialogs.answers = QStringList{"Physik"};
            button(app.gebiete(), "cmdGebietNeu")->click();
        }
        app.takeSubject("Physik");
        button(neu, "cmdUebernahme")->click();
        QCOMPARE(rawdb::rows(app.dbPath(), kCards), QStringList{"Physik|F = m a|Newton|1|1"});
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void theCaptionDecidesTheSubject()
    {
        TestApp app;
        app.seed({{"Biologie", 0}, {"Chemie", 0}});
        FrmNeu &neu = app.startEntry("Biologie");
        QTest::keyClicks(textBox(neu, "txtFrage"), "H2O?");
        button(neu, "cmdZurueck")->click();
        QVERIFY(!neu.isVisible());
        app.takeSubject("Chemie");
        QCOMPARE(&app.forms->window<FrmNeu>(), &neu);
        QVERIFY(neu.isVisible());
        QCOMPARE(neu.windowTitle(), QString("Chemie"));
        QCOMPARE(textBox(neu, "txtFrage")->text(), QString("H2O?"));
        QCOMPARE(stage(neu), QString("lblAntwort txtAntwort"));
        QTest::keyClicks(textBox(neu, "txtAntwort"), "Wasser");
        button(neu, "cmdUebernahme")->click();
        QCOMPARE(rawdb::rows(app.dbPath(), kCards), QStringList{"Chemie|H2O?|Wasser|1|1"});
    }

    void getIDgebietFindsTheSubjectWithoutTheEntryWindow()
    {
        TestApp app;
        app.seed({{"Biologie", 0}, {"Chemie", 1}});
        app.startPractice("Chemie");
        // Practice looks its subject up without the card entry window.
        QVERIFY(!app.forms->loaded("frmNeu"));
        tarlivo::store::Store &db = app.forms->session().db();
        using tarlivo::ui::getIDgebiet;
        QCOMPARE(getIDgebiet(db, "Chemie"), std::optional<qint32>(2));
        QCOMPARE(getIDgebiet(db, "CHEMIE"), std::optional<qint32>(2));
        QCOMPARE(getIDgebiet(db, "Chemie\" OR \"1\"=\"1"), std::nullopt);
    }
};

QTEST_MAIN(TestEntry)
#include "test_entry.moc"
