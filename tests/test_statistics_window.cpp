#include "statistics/barchart.h"
#include "statistics/statisticswindow.h"
#include "store/store.h"
#include "storedb.h"
#include "testapp.h"
#include "ui/messages.h"
#include "windows.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::legacy;

namespace {

const QDate kToday(2026, 3, 10);
// Markup and a character XML cannot hold, as a subject may be named in an imported file.
const QString kLatein = QStringLiteral("Latein <&\"> \u0001„Übung“");

qint64 noonOf(int days) { return QDateTime(kToday.addDays(days), QTime(12, 0)).toSecsSinceEpoch(); }

// Latein: four cards, practised the day before yesterday, yesterday and today.
// Chemie: two cards, practised yesterday. Leer: no cards.
struct Fixture {
    QTemporaryDir dir;
    qint64 clock = noonOf(0);
    Seeder seed{Store::open(dir.filePath("Tarlivo.mdb"), options())};
    Store &store = *seed.store;
    qint32 latein = seed.subject(kLatein, 4);
    qint32 chemie = seed.subject("Chemie", 2);
    qint32 leer = seed.subject("Leer");

    StoreOptions options()
    {
        StoreOptions o = noBackups();
        o.now = [this] { return clock; };
        return o;
    }
    qint32 card(qint32 subject, int n) { return store.cardIds(subject, QString(), CardOrder::Practice).at(size_t(n)); }
    void judge(int day, qint32 cardId, Verdict verdict)
    {
        clock = noonOf(day);
        store.judgeCard(cardId, verdict);
        clock = noonOf(0);
    }

    Fixture()
    {
        const qint32 l0 = card(latein, 0), l1 = card(latein, 1), l2 = card(latein, 2), c0 = card(chemie, 0);
        judge(-2, l0, Verdict::Right);
        judge(-1, l1, Verdict::Wrong);
        judge(-1, c0, Verdict::AlmostRight);
        judge(0, l0, Verdict::Right);
        judge(0, l2, Verdict::AlmostRight);
    }
};

struct WindowRun {
    Fixture f;
    ScriptedDialogs dialogs;
    ui::Session session{dialogs, sessionOn(f.store.path(), f.options())};
    windows::StatisticsWindow window{connected(session)};
    WindowRun() { window.show(); }
};

// "label:value" of each bar, or "label:r/f/x" for stacked ones.
QString barsOf(const windows::BarChart &chart, int lastN = 1000)
{
    QStringList shown;
    for (size_t i = chart.bars.size() > size_t(lastN) ? chart.bars.size() - size_t(lastN) : 0; i < chart.bars.size();
         ++i) {
        QStringList values;
        for (const qint64 v : chart.bars[i].values)
            values << QString::number(v);
        shown << chart.bars[i].label + QLatin1Char(':') + values.join(QLatin1Char('/'));
    }
    return shown.join(QLatin1Char(' '));
}

QString dayLabel(int days) { return kToday.addDays(days).toString(QStringLiteral("d.M.")); }

} // namespace

class TestStatisticsWindow : public QObject {
    Q_OBJECT

private slots:
    void figuresOfTheChosenSubject_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QStringList>("figures");
        QTest::addColumn<QString>("compartments"); // empty: the empty text is shown
        QTest::addColumn<QString>("lastDays");     // the last three days; empty: the empty text

        const QString days = QStringLiteral("%1:%4 %2:%5 %3:%6").arg(dayLabel(-2), dayLabel(-1), dayLabel(0));
        QTest::newRow("all") << "Alle Gebiete" << QStringList{"Karten: 6", "Heute: 2 Urteile", "Tage in Folge geübt: 3"}
                             << "1:5 2:0 3:1" << days.arg("1/0/0", "0/1/1", "1/1/0");
        QTest::newRow("one subject") << kLatein
                                     << QStringList{"Karten: 4", "Heute: 2 Urteile", "Tage in Folge geübt: 3"}
                                     << "1:3 2:0 3:1" << days.arg("1/0/0", "0/0/1", "1/1/0");
        // Practised yesterday, not yet today: the run goes on.
        QTest::newRow("not practised today")
            << "Chemie" << QStringList{"Karten: 2", "Heute: 0 Urteile", "Tage in Folge geübt: 1"} << "1:2"
            << days.arg("0/0/0", "0/1/0", "0/0/0");
        QTest::newRow("no cards") << "Leer" << QStringList{"Karten: 0", "Heute: 0 Urteile", "Tage in Folge geübt: 0"}
                                  << ""
                                  << "";
    }

    void figuresOfTheChosenSubject()
    {
        QFETCH(QString, subject);
        QFETCH(QStringList, figures);
        QFETCH(QString, compartments);
        QFETCH(QString, lastDays);

        WindowRun run;
        auto &w = run.window;
        auto *cboGebiet = ctl<QComboBox>(w, "cboGebiet");
        QCOMPARE(cboGebiet->itemText(0), QStringLiteral("Alle Gebiete"));
        // Chosen as a user does, from another subject than the one wanted.
        cboGebiet->setCurrentIndex(cboGebiet->findText(subject) == 1 ? 2 : 1);
        cboGebiet->setCurrentIndex(cboGebiet->findText(subject));
        QCOMPARE(cboGebiet->currentText(), subject);

        QCOMPARE((QStringList{ctl<QLabel>(w, "lblKarten")->text(), ctl<QLabel>(w, "lblHeute")->text(),
                              ctl<QLabel>(w, "lblFolge")->text()}),
                 figures);
        const windows::BarChart &compartmentChart = ctl<windows::ChartView>(w, "chartFaecher")->chart();
        const windows::BarChart &dayChart = ctl<windows::ChartView>(w, "chartTage")->chart();
        QCOMPARE(compartmentChart.isEmpty(), compartments.isEmpty());
        QCOMPARE(dayChart.isEmpty(), lastDays.isEmpty());
        if (!compartments.isEmpty())
            QCOMPARE(barsOf(compartmentChart), compartments);
        else
            QCOMPARE(compartmentChart.emptyText, ui::text::noCardsToChart());
        QCOMPARE(dayChart.bars.size(), size_t(windows::StatisticsWindow::kDays));
        if (!lastDays.isEmpty())
            QCOMPARE(barsOf(dayChart, 3), lastDays);
        else
            QCOMPARE(dayChart.emptyText, ui::text::noVerdictsToChart(windows::StatisticsWindow::kDays));
        QVERIFY(run.dialogs.messages.isEmpty());
    }

    // The lead's window calls these after changes made elsewhere.
    void refreshAndShowSubjectReadTheFileAfresh()
    {
        WindowRun run;
        run.window.showSubject(run.f.chemie);
        QCOMPARE(ctl<QLabel>(run.window, "lblHeute")->text(), QStringLiteral("Heute: 0 Urteile"));
        run.f.judge(0, run.f.card(run.f.chemie, 1), Verdict::Right);
        run.window.refresh();
        QCOMPARE(run.window.currentSubject(), std::optional<qint32>(run.f.chemie));
        QCOMPARE(ctl<QLabel>(run.window, "lblHeute")->text(), QStringLiteral("Heute: 1 Urteil"));
        QCOMPARE(ctl<QLabel>(run.window, "lblFolge")->text(), QStringLiteral("Tage in Folge geübt: 2"));

        const qint32 neu = run.f.seed.subject("Neu", 3);
        run.window.showSubject(neu);
        QCOMPARE(ctl<QComboBox>(run.window, "cboGebiet")->currentText(), QStringLiteral("Neu"));
        QCOMPARE(ctl<QLabel>(run.window, "lblKarten")->text(), QStringLiteral("Karten: 3"));
        run.window.showSubject(std::nullopt);
        QCOMPARE(ctl<QLabel>(run.window, "lblKarten")->text(), QStringLiteral("Karten: 9"));
    }

    void aFileThatCannotBeReadIsTold()
    {
        WindowRun run;
        run.window.showSubject(run.f.latein);
        sql::Statement(storedb::of(run.f.store), "DROP TABLE tblUebung").run();
        run.window.refresh();
        QCOMPARE(run.dialogs.messages.size(), 1);
        QVERIFY2(run.dialogs.messages[0].contains(QDir::toNativeSeparators(run.f.store.path())),
                 qPrintable(run.dialogs.messages[0]));
        QCOMPARE(ctl<QLabel>(run.window, "lblKarten")->text(), QStringLiteral("Karten: –"));
        QCOMPARE(ctl<windows::ChartView>(run.window, "chartTage")->chart().emptyText, ui::text::statisticsUnreadable());
    }

    void manyCompartmentsStayLegible_data()
    {
        QTest::addColumn<QList<int>>("compartments"); // one card in each
        QTest::addColumn<QString>("bars");

        QTest::newRow("gaps shown") << QList<int>{1, 4} << "1:1 2:0 3:0 4:1";
        QTest::newRow("far apart") << QList<int>{2, 1000} << "2:1 1000:1";
        QList<int> many;
        QStringList first;
        for (int compartment = 1; compartment <= 30; ++compartment) {
            many << compartment;
            if (compartment < windows::kMaxCompartmentBars)
                first << QStringLiteral("%1:1").arg(compartment);
        }
        QTest::newRow("thirty") << many << first.join(' ') + " ab 20:11";
    }

    void manyCompartmentsStayLegible()
    {
        QFETCH(QList<int>, compartments);
        QFETCH(QString, bars);
        Statistics s;
        for (const int compartment : compartments)
            s.compartments.push_back({compartment, 1});
        QCOMPARE(barsOf(windows::compartmentChart(s)), bars);
    }

    void savesBothCharts_data()
    {
        QTest::addColumn<QString>("answer"); // empty: cancelled
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("message");

        QTest::newRow("png") << "bild.png"
                             << "bild.png" << false;
        QTest::newRow("svg, ending in capitals") << "bild.SVG"
                                                 << "bild.SVG" << false;
        QTest::newRow("no ending") << "bild"
                                   << "bild.png" << false;
        QTest::newRow("other ending") << "bild.jpg"
                                      << "" << true;
        QTest::newRow("folder missing") << "fehlt/bild.svg"
                                        << "" << true;
        QTest::newRow("cancelled") << ""
                                   << "" << false;
    }

    void savesBothCharts()
    {
        QFETCH(QString, answer);
        QFETCH(QString, written);
        QFETCH(bool, message);

        WindowRun run;
        run.window.showSubject(run.f.latein);
        QTemporaryDir out;
        if (!answer.isEmpty())
            run.dialogs.fileAnswers << out.filePath(answer);
        ctl<QPushButton>(run.window, "cmdSpeichern")->click();

        // Nothing else written, no half file left behind.
        const QStringList files = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files, written.isEmpty() ? QStringList{} : QStringList{written});
        QCOMPARE(run.dialogs.messages.size(), message ? 1 : 0);
        if (message)
            QVERIFY2(run.dialogs.messages[0].contains(QDir::toNativeSeparators(out.filePath(answer))),
                     qPrintable(run.dialogs.messages[0]));
        if (written.isEmpty())
            return;
        const QString path = out.filePath(written);
        if (written.endsWith(".png")) {
            const QImage image(path);
            QVERIFY(!image.isNull());
            QCOMPARE(image.width(), 800);
            return;
        }

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        int bars = 0;
        QStringList texts;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("rect")
                && xml.attributes().value("class") == QLatin1String("bar"))
                ++bars;
            if (xml.isStartElement() && xml.name() == QLatin1String("text"))
                texts << xml.readElementText();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        // Compartments 1 and 3; then 1, 1 and 2 verdict kinds on the three days; then
        // the three cards of compartment 1 due today and the one of compartment 3 in two days.
        QCOMPARE(bars, 2 + 1 + 1 + 2 + 2);
        QVERIFY(texts.contains(ui::text::forecastChartTitle(windows::StatisticsWindow::kDays)));
        QVERIFY(texts.contains(ui::text::statisticsHeading(QString(kLatein).remove(QChar(1)))));
        QVERIFY(texts.contains(ui::text::verdictAlmostRight()));
        QVERIFY(texts.contains(dayLabel(0)));
        const QString xmllint = QStandardPaths::findExecutable("xmllint");
        if (!xmllint.isEmpty())
            QCOMPARE(QProcess::execute(xmllint, {"--noout", path}), 0);
    }

    void emptyFileShowsTexts()
    {
        QTemporaryDir dir;
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
        ScriptedDialogs dialogs;
        ui::Session session{dialogs, sessionOn(store->path())};
        windows::StatisticsWindow window(connected(session));
        window.show();
        QCOMPARE(ctl<QComboBox>(window, "cboGebiet")->count(), 1);
        QCOMPARE(ctl<QLabel>(window, "lblKarten")->text(), QStringLiteral("Karten: 0"));
        QVERIFY(ctl<windows::ChartView>(window, "chartFaecher")->chart().isEmpty());
        QVERIFY(ctl<windows::ChartView>(window, "chartTage")->chart().isEmpty());
        dialogs.fileAnswers << dir.filePath("leer.svg");
        window.saveImage();
        QFile file(dir.filePath("leer.svg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString svg = QString::fromUtf8(file.readAll());
        QVERIFY(svg.contains(ui::text::noCardsToChart()));
        QVERIFY(!svg.contains(QLatin1String("class=\"bar\"")));
        QVERIFY(dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(TestStatisticsWindow)
#include "test_statistics_window.moc"
