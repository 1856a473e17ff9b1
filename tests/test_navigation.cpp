#include "shell/frmbackground.h"
#include "testapp.h"

#include <QtTest>

using namespace tarlivo::ui;

namespace {

using windows::entries;

// "Leer" has no card; "Voll" has two. Started, the run shows its start window.
struct NavApp : TestApp {
    explicit NavApp(bool started = true)
    {
        Seeder seed = seeder();
        const qint32 voll = seed.subject("Voll");
        seed.subject("Leer");
        seed.card(voll, "<b>x</b>", "eins");
        seed.card(voll, "zwei", "zwei");
        if (started)
            forms->start();
    }
};

} // namespace

class TestNavigation : public QObject {
    Q_OBJECT

private slots:
    void startShowsWelcomeOverBackdrop()
    {
        TestApp app;
        app.forms->start();
        QVERIFY(app.forms->loaded("frmBackground"));
        QVERIFY(app.forms->loaded("frmBackground")->isVisible());
        QVERIFY(app.forms->frmWelcome().isVisible());
        // No database work before the subject window loads.
        QVERIFY(!QFile::exists(app.dbPath()));
        QVERIFY(!app.forms->loaded("frmGebiete"));
    }

    void startButtonsSetModusBeforeTheSubjectWindowLoads()
    {
        NavApp app;
        FrmWelcome &welcome = app.forms->frmWelcome();

        welcome.cmdUeben->click();
        QCOMPARE(app.forms->pubs().Modus, QString("Ueb"));
        FrmGebiete *gebiete = app.gebiete();
        QVERIFY(gebiete && gebiete->isVisible());
        QVERIFY(!welcome.isVisible());
        // The load already saw "Ueb": only the subject with cards is listed.
        QCOMPARE(entries(gebiete->cmbGebiet), QStringList{"Voll"});
        QVERIFY(!gebiete->cmdGebietNeu->isVisible());
        QVERIFY(!gebiete->cmdGebietEdit->isVisible());
        QVERIFY(gebiete->cmdUebernahmeGebiet->isVisible());

        // Back to the start through a title-bar close, then the other road.
        gebiete->close();
        TestApp::settle();
        QVERIFY(welcome.isVisible());
        welcome.cmdNeu->click();
        QCOMPARE(app.forms->pubs().Modus, QString("Edit"));
        gebiete = app.gebiete();
        QVERIFY(gebiete && gebiete->isVisible());
        QCOMPARE(entries(gebiete->cmbGebiet), (QStringList{"Leer", "Voll"}));
        QVERIFY(gebiete->cmdGebietNeu->isVisible());
        QVERIFY(gebiete->cmdGebietEdit->isVisible());
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void emptyModusIsTheCardEntryRoad()
    {
        NavApp app(false);
        QVERIFY(app.forms->pubs().Modus.isEmpty());
        FrmGebiete *gebiete = app.forms->showGebiete();
        QVERIFY(gebiete);
        QCOMPARE(entries(gebiete->cmbGebiet), (QStringList{"Leer", "Voll"}));
        gebiete->cmdUebernahmeGebiet->click();
        QVERIFY(app.forms->frmNeu().isVisible());
        QVERIFY(!app.forms->loaded("frmUeb"));
    }

    void endStopsTheRunWithoutQuestion()
    {
        NavApp app;
        app.forms->frmWelcome().cmdNeu->click();
        app.gebiete()->cmdUebernahmeGebiet->click();
        app.forms->frmNeu().cmdZumStart->click(); // the card entry window is now hidden
        QCOMPARE(app.endCalls, 0);
        app.forms->frmWelcome().cmdEnd->click();
        QCOMPARE(app.endCalls, 1);
        QVERIFY(app.dialogs.messages.isEmpty());
        QVERIFY(app.dialogs.inputBoxes.isEmpty());
    }

    void takingASubject_data()
    {
        QTest::addColumn<bool>("practice");
        QTest::newRow("card entry road") << false;
        QTest::newRow("practice road") << true;
    }

    void takingASubject()
    {
        QFETCH(bool, practice);
        NavApp app;
        FrmWelcome &welcome = app.forms->frmWelcome();
        (practice ? welcome.cmdUeben : welcome.cmdNeu)->click();
        QPointer<FrmGebiete> gebiete = app.gebiete();
        windows::choose(gebiete->cmbGebiet, "Voll");
        gebiete->cmdUebernahmeGebiet->click();

        QCOMPARE(app.forms->pubs().GebietName, QString("Voll"));
        Form &taken = practice ? static_cast<Form &>(app.forms->frmUeb()) : app.forms->frmNeu();
        QVERIFY(taken.isVisible());
        QCOMPARE(taken.windowTitle(), QString("Voll"));
        QVERIFY(!app.forms->loaded("frmGebiete"));
        TestApp::settle();
        QVERIFY(gebiete.isNull());
        if (!practice)
            return;

        FrmUeb &ueb = app.forms->frmUeb();
        // FillFach ran: compartment 1 listed, its head card shown as typed.
        QCOMPARE(entries(ueb.cmbFach), QStringList{"1"});
        QCOMPARE(ueb.lblFrage->text(), QString("<b>x</b>"));
        QCOMPARE(ueb.lblFrage->textFormat(), Qt::PlainText);
        // The practice window looked the subject up through the card entry window,
        // which now exists but was never shown.
        QVERIFY(app.forms->loaded("frmNeu"));
        QVERIFY(!app.forms->loaded("frmNeu")->isVisible());

        // Leaving practice and taking the other road: the subject window comes back
        // from its design, with every button and every subject.
        ueb.cmdZumStart->click();
        QVERIFY(!ueb.isVisible());
        QVERIFY(app.forms->frmWelcome().isVisible());
        app.forms->frmWelcome().cmdNeu->click();
        FrmGebiete *fresh = app.gebiete();
        QVERIFY(fresh && fresh->isVisible());
        QVERIFY(fresh->cmdGebietNeu->isVisible());
        QVERIFY(fresh->cmdGebietEdit->isVisible());
        QVERIFY(fresh->cmdUebernahmeGebiet->isVisible());
        QCOMPARE(entries(fresh->cmbGebiet), (QStringList{"Leer", "Voll"}));
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void cardEntryWindowLeavesKeepingWhatWasTyped()
    {
        NavApp app;
        app.forms->frmWelcome().cmdNeu->click();
        app.gebiete()->cmdUebernahmeGebiet->click();
        FrmNeu &neu = app.forms->frmNeu();
        QTest::keyClicks(neu.txtFrage, "Frage?");
        QTest::keyClicks(neu.txtAntwort, "Antwort!");
        QVERIFY(neu.cmdUebernahme->isVisibleTo(&neu));

        neu.cmdZurueck->click();
        QVERIFY(!neu.isVisible());
        FrmGebiete *gebiete = app.gebiete();
        QVERIFY(gebiete && gebiete->isVisible());
        QCOMPARE(entries(gebiete->cmbGebiet), (QStringList{"Leer", "Voll"}));
        gebiete->cmdUebernahmeGebiet->click();
        QVERIFY(neu.isVisible());
        QCOMPARE(neu.txtFrage->text(), QString("Frage?"));
        QCOMPARE(neu.txtAntwort->text(), QString("Antwort!"));
        QVERIFY(neu.cmdUebernahme->isVisible());

        neu.cmdZumStart->click();
        QVERIFY(!neu.isVisible());
        QVERIFY(app.forms->frmWelcome().isVisible());
        QCOMPARE(app.forms->loaded("frmNeu"), &neu);
        QCOMPARE(neu.txtFrage->text(), QString("Frage?"));
        QVERIFY(neu.cmdUebernahme->isVisibleTo(&neu));
    }

    void closingThroughTheTitleBar_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("ends");
        QTest::newRow("start window") << "frmWelcome" << true;
        QTest::newRow("backdrop") << "frmBackground" << true;
        QTest::newRow("subject window") << "frmGebiete" << false;
        QTest::newRow("card entry window") << "frmNeu" << false;
        QTest::newRow("practice window") << "frmUeb" << false;
        QTest::newRow("edit window") << "frmEdit" << false;
    }

    void closingThroughTheTitleBar()
    {
        QFETCH(QString, window);
        QFETCH(bool, ends);
        NavApp app;
        FrmWelcome &welcome = app.forms->frmWelcome();
        if (window == "frmNeu" || window == "frmGebiete") {
            welcome.cmdNeu->click();
            if (window == "frmNeu") {
                app.gebiete()->cmdUebernahmeGebiet->click();
                QTest::keyClicks(app.forms->frmNeu().txtFrage, "getippt");
            }
        } else if (window == "frmUeb" || window == "frmEdit") {
            welcome.cmdUeben->click();
            app.gebiete()->cmdUebernahmeGebiet->click();
            if (window == "frmEdit")
                app.forms->frmUeb().cmdEdit->click();
        }
        QPointer<Form> form = app.forms->loaded(window);
        QVERIFY(form && form->isVisible());
        QPointer<ComboBox> fachList = window == "frmUeb" ? app.forms->frmUeb().cmbFach : nullptr;

        QVERIFY(form->close());

        QCOMPARE(app.endCalls, ends ? 1 : 0);
        if (ends)
            return;
        // Unloaded: the registry lets go of it at once, the object follows.
        QVERIFY(!app.forms->loaded(window));
        QVERIFY(!form->isVisible());
        if (fachList)
            QCOMPARE(fachList->count(), 0);
        TestApp::settle();
        QVERIFY(form.isNull());
        QVERIFY(welcome.isVisible());
        QVERIFY(app.dialogs.messages.isEmpty());
        // A card entry window closed with text in it comes back empty from its design.
        if (window == "frmNeu")
            QCOMPARE(app.forms->frmNeu().txtFrage->text(), QString());
    }
};

QTEST_MAIN(TestNavigation)
#include "test_navigation.moc"
