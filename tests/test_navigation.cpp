#include "app/aboutwindow.h"
#include "app/frmbackground.h"
#include "cards/cardlistwindow.h"
#include "plan/planwindow.h"
#include "statistics/statisticswindow.h"
#include "testapp.h"
#include "transferwindows/exportdialog.h"

#include <QMenuBar>
#include <QtTest>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::transferwindows;
using namespace tarlivo::app;

namespace {

using drive::entries;

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
        QVERIFY(app.forms->window<FrmWelcome>().isVisible());
        // No database work before the subject window loads.
        QVERIFY(!QFile::exists(app.dbPath()));
        QVERIFY(!app.forms->loaded("frmGebiete"));
    }

    // Opened from the backdrop's menu while the start window shows: below the menu
    // bar, in front, and Escape closes it.
    void toolWindowsOpenBelowTheMenuBar_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("card list") << 0;
        QTest::newRow("statistics") << 1;
        QTest::newRow("plan") << 2;
        QTest::newRow("export") << 3;
        QTest::newRow("about") << 4;
    }
    void toolWindowsOpenBelowTheMenuBar()
    {
        QFETCH(int, kind);
        NavApp app;
        auto &backdrop = app.forms->window<FrmBackground>();
        auto *bar = backdrop.findChild<QMenuBar *>();
        QTRY_VERIFY(bar && bar->isVisible());
        ToolWindows &tools = app.forms->tools();
        const std::function<QWidget *()> open[] = {
            [&] { return tools.openCardList(), static_cast<QWidget *>(tools.find<CardListWindow>()); },
            [&] { return tools.openStatistics(), static_cast<QWidget *>(tools.find<StatisticsWindow>()); },
            [&] { return tools.openPlan(), static_cast<QWidget *>(tools.find<PlanWindow>()); },
            [&] { return tools.openExport(), static_cast<QWidget *>(tools.find<ExportDialog>()); },
            [&] { return tools.openAbout(), static_cast<QWidget *>(tools.find<AboutWindow>()); },
        };
        QWidget *window = open[kind]();
        QVERIFY(window && window->isVisible());
        QVERIFY(app.forms->window<FrmWelcome>().isVisible());
        const int barBottom = bar->mapToGlobal(QPoint(0, bar->height())).y();
        QVERIFY2(window->frameGeometry().top() >= barBottom,
                 qPrintable(QStringLiteral("%1 < %2").arg(window->frameGeometry().top()).arg(barBottom)));
        QTRY_COMPARE(QApplication::activeWindow(), window);
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
    }

    void startButtonsSetModusBeforeTheSubjectWindowLoads()
    {
        NavApp app;
        FrmWelcome &welcome = app.forms->window<FrmWelcome>();

        button(welcome, "cmdUeben")->click();
        FrmGebiete *gebiete = app.gebiete();
        QCOMPARE(gebiete->road(), tarlivo::ui::Road::Practice);
        QVERIFY(gebiete && gebiete->isVisible());
        QVERIFY(!welcome.isVisible());
        // The load already saw "Ueb": only the subject with cards is listed.
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), QStringList{"Voll"});
        QVERIFY(!button(gebiete, "cmdGebietNeu")->isVisible());
        QVERIFY(!button(gebiete, "cmdGebietEdit")->isVisible());
        QVERIFY(button(gebiete, "cmdUebernahmeGebiet")->isVisible());

        // Back to the start through a title-bar close, then the other road.
        gebiete->close();
        TestApp::settle();
        QVERIFY(welcome.isVisible());
        button(welcome, "cmdNeu")->click();
        gebiete = app.gebiete();
        QCOMPARE(gebiete->road(), tarlivo::ui::Road::Entry);
        QVERIFY(gebiete && gebiete->isVisible());
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Leer", "Voll"}));
        QVERIFY(button(gebiete, "cmdGebietNeu")->isVisible());
        QVERIFY(button(gebiete, "cmdGebietEdit")->isVisible());
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void cardEntryRoadListsEverySubjectAndLeadsToCardEntry()
    {
        NavApp app(false);
        FrmGebiete *gebiete = app.forms->showGebiete(tarlivo::ui::Road::Entry, tarlivo::ui::Upkeep::NewAndRename);
        QVERIFY(gebiete);
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Leer", "Voll"}));
        button(gebiete, "cmdUebernahmeGebiet")->click();
        QVERIFY(app.forms->window<FrmNeu>().isVisible());
        QVERIFY(!app.forms->loaded("frmUeb"));
    }

    void endStopsTheRunWithoutQuestion()
    {
        NavApp app;
        button(app.forms->window<FrmWelcome>(), "cmdNeu")->click();
        button(app.gebiete(), "cmdUebernahmeGebiet")->click();
        button(app.forms->window<FrmNeu>(), "cmdZumStart")->click(); // the card entry window is now hidden
        QCOMPARE(app.endCalls, 0);
        button(app.forms->window<FrmWelcome>(), "cmdEnd")->click();
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
        FrmWelcome &welcome = app.forms->window<FrmWelcome>();
        (practice ? button(welcome, "cmdUeben") : button(welcome, "cmdNeu"))->click();
        QPointer<FrmGebiete> gebiete = app.gebiete();
        drive::choose(combo(gebiete, "cmbGebiet"), "Voll");
        button(gebiete, "cmdUebernahmeGebiet")->click();

        if (practice)
            QCOMPARE(app.forms->window<FrmUeb>().subject(), QString("Voll"));
        Form &taken = practice ? static_cast<Form &>(app.forms->window<FrmUeb>()) : app.forms->window<FrmNeu>();
        QVERIFY(taken.isVisible());
        QCOMPARE(taken.windowTitle(), QString("Voll"));
        QVERIFY(!app.forms->loaded("frmGebiete"));
        TestApp::settle();
        QVERIFY(gebiete.isNull());
        if (!practice)
            return;

        FrmUeb &ueb = app.forms->window<FrmUeb>();
        // FillFach ran: compartment 1 listed, its head card shown as typed.
        QCOMPARE(entries(combo(ueb, "cmbFach")), QStringList{"1"});
        QCOMPARE(label(ueb, "lblFrage")->text(), QString("<b>x</b>"));
        QCOMPARE(label(ueb, "lblFrage")->textFormat(), Qt::PlainText);
        // The practice window looked the subject up itself: the card entry
        // window was not created behind the user's back.
        QVERIFY(!app.forms->loaded("frmNeu"));

        // Leaving practice and taking the other road: the subject window comes back
        // from its design, with every button and every subject.
        button(ueb, "cmdZumStart")->click();
        QVERIFY(!ueb.isVisible());
        QVERIFY(app.forms->window<FrmWelcome>().isVisible());
        button(app.forms->window<FrmWelcome>(), "cmdNeu")->click();
        FrmGebiete *fresh = app.gebiete();
        QVERIFY(fresh && fresh->isVisible());
        QVERIFY(button(fresh, "cmdGebietNeu")->isVisible());
        QVERIFY(button(fresh, "cmdGebietEdit")->isVisible());
        QVERIFY(button(fresh, "cmdUebernahmeGebiet")->isVisible());
        QCOMPARE(entries(combo(fresh, "cmbGebiet")), (QStringList{"Leer", "Voll"}));
        QVERIFY(app.dialogs.messages.isEmpty());
    }

    void cardEntryWindowLeavesKeepingWhatWasTyped()
    {
        NavApp app;
        button(app.forms->window<FrmWelcome>(), "cmdNeu")->click();
        button(app.gebiete(), "cmdUebernahmeGebiet")->click();
        FrmNeu &neu = app.forms->window<FrmNeu>();
        QTest::keyClicks(textBox(neu, "txtFrage"), "Frage?");
        QTest::keyClicks(textBox(neu, "txtAntwort"), "Antwort!");
        QVERIFY(button(neu, "cmdUebernahme")->isVisibleTo(&neu));

        button(neu, "cmdZurueck")->click();
        QVERIFY(!neu.isVisible());
        FrmGebiete *gebiete = app.gebiete();
        QVERIFY(gebiete && gebiete->isVisible());
        QCOMPARE(entries(combo(gebiete, "cmbGebiet")), (QStringList{"Leer", "Voll"}));
        button(gebiete, "cmdUebernahmeGebiet")->click();
        QVERIFY(neu.isVisible());
        QCOMPARE(textBox(neu, "txtFrage")->text(), QString("Frage?"));
        QCOMPARE(textBox(neu, "txtAntwort")->text(), QString("Antwort!"));
        QVERIFY(button(neu, "cmdUebernahme")->isVisible());

        button(neu, "cmdZumStart")->click();
        QVERIFY(!neu.isVisible());
        QVERIFY(app.forms->window<FrmWelcome>().isVisible());
        QCOMPARE(app.forms->loaded("frmNeu"), &neu);
        QCOMPARE(textBox(neu, "txtFrage")->text(), QString("Frage?"));
        QVERIFY(button(neu, "cmdUebernahme")->isVisibleTo(&neu));
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
        FrmWelcome &welcome = app.forms->window<FrmWelcome>();
        if (window == "frmNeu" || window == "frmGebiete") {
            button(welcome, "cmdNeu")->click();
            if (window == "frmNeu") {
                button(app.gebiete(), "cmdUebernahmeGebiet")->click();
                QTest::keyClicks(textBox(app.forms->window<FrmNeu>(), "txtFrage"), "getippt");
            }
        } else if (window == "frmUeb" || window == "frmEdit") {
            button(welcome, "cmdUeben")->click();
            button(app.gebiete(), "cmdUebernahmeGebiet")->click();
            if (window == "frmEdit")
                button(app.forms->window<FrmUeb>(), "cmdEdit")->click();
        }
        QPointer<Form> form = app.forms->loaded(window);
        QVERIFY(form && form->isVisible());
        QPointer<ComboBox> compartmentList =
            window == "frmUeb" ? combo(app.forms->window<FrmUeb>(), "cmbFach") : nullptr;

        QVERIFY(form->close());

        QCOMPARE(app.endCalls, ends ? 1 : 0);
        if (ends)
            return;
        // Unloaded: the registry lets go of it at once, the object follows.
        QVERIFY(!app.forms->loaded(window));
        QVERIFY(!form->isVisible());
        if (compartmentList)
            QCOMPARE(compartmentList->count(), 0);
        TestApp::settle();
        QVERIFY(form.isNull());
        QVERIFY(welcome.isVisible());
        QVERIFY(app.dialogs.messages.isEmpty());
        // A card entry window closed with text in it comes back empty from its design.
        if (window == "frmNeu")
            QCOMPARE(textBox(app.forms->window<FrmNeu>(), "txtFrage")->text(), QString());
    }
};

QTEST_MAIN(TestNavigation)
#include "test_navigation.moc"
