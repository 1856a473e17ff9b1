#include "accesskeys.h"
#include "app/frmbackground.h"
#include "print/command.h"
#include "print/document.h"
#include "print/printsupport.h"
#include "printwindow/printwindow.h"
#include "testapp.h"

#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QProcess>
#include <QPushButton>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

// What a poppler tool prints about file (pdfinfo, pdftotext, pdffonts, pdfimages).
QString poppler(const QString &tool, QStringList arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(tool), process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pageCount(const QString &pdf)
{
    const QString info = poppler(QStringLiteral("pdfinfo"), {pdf});
    const qsizetype at = info.indexOf(QStringLiteral("Pages:"));
    return at < 0 ? -1 : info.mid(at + 6).section(QLatin1Char('\n'), 0, 0).trimmed().toInt();
}

QString pageText(const QString &pdf, int page)
{
    return poppler(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                                 QString::number(page), pdf, QStringLiteral("-")});
}

QByteArray png(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// w1 w2 … w{n}
QString numberedWords(int n)
{
    QStringList words;
    for (int i = 1; i <= n; ++i)
        words << QStringLiteral("w%1").arg(i);
    return words.join(QLatin1Char(' '));
}

} // namespace

class TestPrint : public QObject {
    Q_OBJECT

private slots:
    void cardPlacesMirrorTheColumnsOnTheBack_data()
    {
        QTest::addColumn<print::Paper>("paper");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("frontPage");
        QTest::addColumn<QPointF>("front"); // mm
        QTest::addColumn<int>("backPage");
        QTest::addColumn<QPointF>("back");
        QTest::addColumn<QSizeF>("size");
        const QSizeF a4(105, 74.25);
        const QSizeF letter(107.95, 69.85);
        QTest::newRow("first") << print::Paper::A4 << 0 << 0 << QPointF(0, 0) << 1 << QPointF(105, 0) << a4;
        QTest::newRow("second") << print::Paper::A4 << 1 << 0 << QPointF(105, 0) << 1 << QPointF(0, 0) << a4;
        QTest::newRow("third") << print::Paper::A4 << 2 << 0 << QPointF(0, 74.25) << 1 << QPointF(105, 74.25) << a4;
        QTest::newRow("eighth") << print::Paper::A4 << 7 << 0 << QPointF(105, 222.75) << 1 << QPointF(0, 222.75) << a4;
        QTest::newRow("ninth") << print::Paper::A4 << 8 << 2 << QPointF(0, 0) << 3 << QPointF(105, 0) << a4;
        QTest::newRow("seventeenth") << print::Paper::A4 << 16 << 4 << QPointF(0, 0) << 5 << QPointF(105, 0) << a4;
        QTest::newRow("letter fourth") << print::Paper::Letter << 3 << 0 << QPointF(107.95, 69.85) << 1
                                       << QPointF(0, 69.85) << letter;
    }

    void cardPlacesMirrorTheColumnsOnTheBack()
    {
        QFETCH(print::Paper, paper);
        QFETCH(int, index);
        const print::CardPlace place = print::cardPlace(index, print::pageSize(paper));
        const auto mm = [](QPointF p) {
            return QPointF(std::round(p.x() / print::dots(1) * 100) / 100,
                           std::round(p.y() / print::dots(1) * 100) / 100);
        };
        const auto mmSize = [](QSizeF s) {
            return QSizeF(std::round(s.width() / print::dots(1) * 100) / 100,
                          std::round(s.height() / print::dots(1) * 100) / 100);
        };
        QTEST(place.frontPage, "frontPage");
        QTEST(mm(place.front.topLeft()), "front");
        QTEST(place.backPage, "backPage");
        QTEST(mm(place.back.topLeft()), "back");
        QTEST(mmSize(place.front.size()), "size");
        QTEST(mmSize(place.back.size()), "size");
    }

    // One store printed both ways through the command line, read back with poppler.
    void pdfHoldsTheCardsInEveryScript_data()
    {
        QTest::addColumn<bool>("cards");
        QTest::addColumn<int>("pages"); // 0: whatever "Seite n von m" says
        QTest::addColumn<QStringList>("firstPage");
        QTest::addColumn<QStringList>("notFirstPage");
        QTest::addColumn<QStringList>("anywhere");
        QTest::addColumn<QStringList>("nowhere");
        QTest::newRow("list") << false << 0 << QStringList{"Sprachen",   "Frage",       "Antwort",    "Fach",
                                                           "Café crème", "Milchkaffee", "Seite 1 von"}
                              << QStringList{"Zweites"}
                              << QStringList{"Привет",     "Καλημέρα", "שלום",    "مرحبا", "Zeile eins",
                                             "Zeile zwei", "w1500",    "Zweites", "Hund"}
                              << QStringList{"…"};
        // Ten cards: two sheets, each a page of questions and one of answers.
        QTest::newRow("cards") << true << 4 << QStringList{"Café crème", "Привет", "Zeile zwei"}
                               << QStringList{"Milchkaffee", "Hallo", "Sprachen", "Seite"}
                               << QStringList{"Hund", "dog", "Καλημέρα", "…", "w20"} << QStringList{"w1500", "Zweites"};
    }

    void pdfHoldsTheCardsInEveryScript()
    {
        QFETCH(bool, cards);
        QFETCH(int, pages);
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("Tarlivo.mdb"));
        {
            Seeder seed{Store::open(data, noBackups())};
            const qint32 sprachen = seed.subject(QStringLiteral("Sprachen"));
            const qint32 cafe = seed.card(sprachen, QStringLiteral("Café crème"), QStringLiteral("Milchkaffee"));
            seed.card(sprachen, QStringLiteral("Привет"), QStringLiteral("Hallo"), 2);
            seed.card(sprachen, QStringLiteral("Καλημέρα"), QStringLiteral("Guten Morgen"));
            seed.card(sprachen, QStringLiteral("שלום"), QStringLiteral("Friede"));
            seed.card(sprachen, QStringLiteral("مرحبا"), QStringLiteral("Willkommen"));
            seed.card(sprachen, QStringLiteral("Zeile eins\nZeile zwei"), QStringLiteral("Æøå"));
            seed.card(sprachen, numberedWords(1500), QStringLiteral("lang"));
            seed.store->editCard(
                cafe, QStringLiteral("Café crème"), QStringLiteral("Milchkaffee"),
                {{CardSide::Question, MediaKind::Picture, false, QStringLiteral("tasse.png"), png({400, 300})}});
            const qint32 zweites = seed.subject(QStringLiteral("Zweites"));
            seed.card(zweites, QStringLiteral("Hund"), QStringLiteral("dog"));
            seed.card(zweites, QStringLiteral("Katze"), QStringLiteral("cat"));
            seed.card(zweites, QStringLiteral("Maus"), QStringLiteral("mouse"));
        }
        const QString pdf = dir.filePath(QStringLiteral("karten.pdf"));
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QCOMPARE(print::runPrintCommand({data, pdf, {}, cards}, outStream, errStream), 0);
        QCOMPARE(err, QString());

        const int count = pageCount(pdf);
        QVERIFY(count >= 2);
        if (pages)
            QCOMPARE(count, pages);
        // NFKC: poppler gives ligatures ("ﬀ") and Arabic's shaped forms as the font has them.
        const QString first = pageText(pdf, 1).normalized(QString::NormalizationForm_KC);
        QString rest;
        for (int page = 2; page <= count; ++page)
            rest += pageText(pdf, page).normalized(QString::NormalizationForm_KC);
        if (!cards)
            QVERIFY2(pageText(pdf, count).contains(QStringLiteral("Seite %1 von %1").arg(count)), qPrintable(rest));
        const auto nfkc = [](const QStringList &texts) {
            QStringList normal;
            for (const QString &text : texts)
                normal << text.normalized(QString::NormalizationForm_KC);
            return normal;
        };
        QFETCH(QStringList, firstPage);
        for (const QString &text : nfkc(firstPage))
            QVERIFY2(first.contains(text), qPrintable(text + QStringLiteral(" not on page 1:\n") + first));
        QFETCH(QStringList, notFirstPage);
        for (const QString &text : nfkc(notFirstPage))
            QVERIFY2(!first.contains(text), qPrintable(text + QStringLiteral(" on page 1")));
        QFETCH(QStringList, anywhere);
        for (const QString &text : nfkc(anywhere))
            QVERIFY2((first + rest).contains(text), qPrintable(text + QStringLiteral(" missing")));
        QFETCH(QStringList, nowhere);
        for (const QString &text : nfkc(nowhere))
            QVERIFY2(!(first + rest).contains(text), qPrintable(text + QStringLiteral(" printed")));

        // Every font is in the file; the picture is printed once.
        const QStringList fonts = poppler(QStringLiteral("pdffonts"), {pdf}).split('\n', Qt::SkipEmptyParts).mid(2);
        QVERIFY(!fonts.isEmpty());
        for (const QString &font : fonts)
            QVERIFY2(font.split(' ', Qt::SkipEmptyParts).value(font.split(' ', Qt::SkipEmptyParts).size() - 5)
                         == QStringLiteral("yes"),
                     qPrintable(font));
        QCOMPARE(
            poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split('\n', Qt::SkipEmptyParts).size()
                - 2,
            1);
    }

    // A PDF that cannot be made is refused with the reason, and no file is left.
    void commandRefusesAndWritesNothing_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("output"); // relative to the run's folder, unless absolute
        QTest::addColumn<bool>("dataFile");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unknown subject") << "Biologie"
                                         << "a.pdf" << true << "Biologie";
        QTest::newRow("subject without cards") << "Leer"
                                               << "a.pdf" << true << "keine Karten";
        QTest::newRow("no data file") << ""
                                      << "a.pdf" << false << "Tarlivo.mdb";
        QTest::newRow("missing folder") << ""
                                        << "fehlt/a.pdf" << true << "gibt es nicht";
        QTest::newRow("folder not writable") << ""
                                             << "/proc/a.pdf" << true << "nicht beschreibbar";
        QTest::newRow("a folder") << ""
                                  << "." << true << "Ordner";
    }

    void commandRefusesAndWritesNothing()
    {
        QFETCH(QString, subject);
        QFETCH(QString, output);
        QFETCH(bool, dataFile);
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("Tarlivo.mdb"));
        if (dataFile) {
            Seeder seed{Store::open(data, noBackups())};
            seed.subject(QStringLiteral("Leer"));
            seed.subject(QStringLiteral("Voll"), 3);
        }
        const QString pdf = QDir::isAbsolutePath(output) ? output : dir.filePath(output);
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QCOMPARE(print::runPrintCommand({data, pdf, subject, false}, outStream, errStream), 1);
        QFETCH(QString, reason);
        QVERIFY2(err.contains(reason), qPrintable(err));
        QCOMPARE(out, QString());
        QVERIFY(!QFileInfo(pdf).isFile());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 dataFile ? QStringList{"Tarlivo.mdb"} : QStringList{});
    }

    // From the menu to a saved PDF of cards, and the preview through the printer plugin.
    void windowSavesCardsAndShowsThePreview()
    {
        // The program finds the plugin beside itself; the test's program lies elsewhere.
        QString error;
        QVERIFY2(print::printSupport(&error, {QStringLiteral(TARLIVO_PLUGIN_DIR)}), qPrintable(error));
        TestApp app;
        app.seed({{QStringLiteral("Vokabeln"), 9}, {QStringLiteral("Chemie"), 2}});
        app.forms->start();
        app.forms->window<FrmBackground>().findChild<QAction *>("actDrucken")->trigger();
        PrintWindow *window = app.forms->tools().find<PrintWindow>();
        QVERIFY(window && window->isVisible());
        QCOMPARE(sharedAccessKeys(*window), QStringList());
        drive::choose(window->findChild<QComboBox *>("subjectBox"), QStringLiteral("Vokabeln"));
        window->findChild<QComboBox *>("layoutBox")->setCurrentIndex(1);

        const QString pdf = app.dir.filePath(QStringLiteral("vokabeln"));
        app.dialogs.fileAnswers << pdf;
        window->findChild<QPushButton *>("pdfButton")->click();
        QCOMPARE(app.dialogs.take(),
                 QStringList{QStringLiteral("„%1.pdf“ gespeichert, 4 Seiten.").arg(QDir::toNativeSeparators(pdf))});
        QCOMPARE(pageCount(pdf + QStringLiteral(".pdf")), 4);

        app.dialogs.dialogAnswers << [](QDialog &dialog) { dialog.reject(); };
        window->findChild<QPushButton *>("previewButton")->click();
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.dialogs.dialogsRun, QStringList{QStringLiteral("printPreview")});
    }
};

QTEST_MAIN(TestPrint)
#include "test_print.moc"
