#include "controls.h"
#include "frmgebiete.h"
#include "frmneu.h"
#include "frmueb.h"
#include "frmwelcome.h"
#include "messages.h"
#include "testapp.h"

#include <QtTest>

using namespace tarlivo::ui;

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

    void practiceRoadHidesUpkeepButtonsAndCardRoadShowsThem()
    {
        TestApp app;
        app.forms->start();
        app.forms->frmWelcome().cmdUeben->click();
        QCOMPARE(app.forms->pubs().Modus, QString("Ueb"));
        FrmGebiete *gebiete = static_cast<FrmGebiete *>(app.forms->loaded("frmGebiete"));
        QVERIFY(gebiete && gebiete->isVisible());
        QVERIFY(!gebiete->cmdGebietNeu->isVisible());
        QVERIFY(!gebiete->cmdGebietEdit->isVisible());
        QVERIFY(!app.forms->frmWelcome().isVisible());
        QVERIFY(QFile::exists(app.dbPath()));
    }
};

QTEST_MAIN(TestNavigation)
#include "test_navigation.moc"
