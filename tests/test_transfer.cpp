#include "ankifiles.h"
#include "app/forms.h"
#include "app/frmbackground.h"
#include "gzip.h"
#include "rawdb.h"
#include "scripteddialogs.h"
#include "store/store.h"
#include "storedb.h"
#include "testapp.h"
#include "transfer/command.h"
#include "transfer/exporter.h"
#include "transfer/importer.h"
#include "transfer/transfererror.h"
#include "transferwindows/exportdialog.h"
#include "transferwindows/importdialog.h"
#include "ui/searchindexer.h"
#include "ui/session.h"
#include "windows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::transfer;

Q_DECLARE_METATYPE(ankifiles::Card)

namespace {

// Every card as "Gebiet|Fach|Frage|Antwort", in practice order.
QStringList cardsOf(Store &store)
{
    QStringList cards;
    sql::Statement q(storedb::of(store),
                     "SELECT g.NameGebiet, p.Fach, f.Frage, f.Antwort FROM tblPosition AS p "
                     "JOIN tblFrageAntwort AS f USING (idFrageAntwort) JOIN tblGebiet AS g ON g.idGebiet = p.idGebiet "
                     "ORDER BY g.NameGebiet COLLATE TARLIVO_DE, p.Fach, p.Stelle");
    while (q.step())
        cards << QStringLiteral("%1|%2|%3|%4").arg(q.text(0)).arg(q.int64(1)).arg(q.text(2), q.text(3));
    return cards;
}

// Every card as "Gebiet|Fach|Frage|Antwort|Seit", in practice order; Seit in
// seconds, or "jetzt" for a time the import gave (no time from the file).
QStringList cardsWithTimes(Store &store)
{
    QStringList cards;
    sql::Statement q(storedb::of(store),
                     "SELECT g.NameGebiet, p.Fach, f.Frage, f.Antwort, s.Seit FROM tblPosition AS p "
                     "JOIN tblFrageAntwort AS f USING (idFrageAntwort) JOIN tblGebiet AS g ON g.idGebiet = p.idGebiet "
                     "LEFT JOIN tblFachSeit AS s USING (idFrageAntwort) "
                     "ORDER BY g.NameGebiet COLLATE TARLIVO_DE, p.Fach, p.Stelle");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    while (q.step()) {
        const qint64 enteredAt = q.int64(4);
        cards << QStringLiteral("%1|%2|%3|%4|%5")
                     .arg(q.text(0))
                     .arg(q.int64(1))
                     .arg(q.text(2), q.text(3),
                          std::abs(enteredAt - now) < 3600 ? QStringLiteral("jetzt") : QString::number(enteredAt));
    }
    return cards;
}

// Local time as KDE writes it, in seconds.
QString local(const char *iso)
{
    return QString::number(QDateTime::fromString(QLatin1String(iso), Qt::ISODate).toSecsSinceEpoch());
}

QByteArray kvtml2(const QByteArray &entries, const QByteArray &lessons, const QByteArray &title = "Wörter.kvtml")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE kvtml PUBLIC \"kvtml2.dtd\" "
           "\"http://edu.kde.org/kvtml/kvtml2.dtd\">\n<kvtml version=\"2.0\"><information><title>"
           + title + "</title></information><entries>" + entries + "</entries><lessons>" + lessons
           + "</lessons><wordtypes><container><name>Nomen</name><entry id=\"1\"><translation id=\"0\"/></entry>"
             "</container></wordtypes></kvtml>";
}

QByteArray entry(int id, const QByteArray &question, const QByteArray &answer, const QByteArray &grade = {})
{
    return "<entry id=\"" + QByteArray::number(id) + "\"><translation id=\"0\"><text>" + question
           + "</text><grade><currentgrade>5</currentgrade></grade></translation><translation id=\"1\"><text>" + answer
           + "</text>" + grade + "</translation></entry>";
}

QByteArray grade(int g, const char *date = nullptr)
{
    return "<grade><currentgrade>" + QByteArray::number(g) + "</currentgrade>"
           + (date ? "<date>" + QByteArray(date) + "</date>" : QByteArray())
           + "</grade><grade><currentgrade>1</currentgrade></grade>";
}

QByteArray paukerCard(const QByteArray &front, const QByteArray &back, qint64 learned = 0,
                      const char *reverse = "ReverseSide")
{
    return "<Card><FrontSide LearnedTimestamp=\"" + QByteArray::number(learned) + "\"><Text>" + front
           + "</Text></FrontSide><" + reverse + "><Text>" + back + "</Text></" + reverse + "></Card>";
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<Store> store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        rawdb::writeBytes(path, bytes);
        return path;
    }
    // The import's outcome: the stored cards, or the message refusing the file.
    QString import(const QString &path, const QString &subject = QStringLiteral("Ziel"), bool skip = true)
    {
        try {
            auto file = ImportFile::open(path);
            runImport(*file, *store, {subject, skip});
            return QString();
        } catch (const TransferError &e) {
            return e.message();
        }
    }
};

// Two subjects of 24 cards, with texts XML must take care of, compartments 1 to 12,
// and times or none, exported to kvtml.
QString exportedKvtml(Fixture &f)
{
    const QStringList texts = {"a & <b>", "two\r\nlines", "emoji 😀", " blank ", "tab\there"};
    qint64 i = 0;
    f.store->importCards(
        [&](BulkCard &card) {
            if (i == 24)
                return false;
            card = BulkCard{i % 2 ? QStringLiteral("Zahlen::Groß") : QStringLiteral("Wörter & Sätze"),
                            texts[i % 5] + QString::number(i), texts[(i + 1) % 5], qint32(1 + i % 12),
                            i % 3 ? std::optional<qint64>(1'600'000'000 + i * 86400 * 37) : std::nullopt};
            // Some practised the other way too: the question side's grade.
            if (i % 4 == 0) {
                card.reverseCompartment = qint32(1 + i % 6);
                card.reverseEnteredAt = 1'610'000'000 + i * 86400;
            }
            ++i;
            return true;
        },
        {});
    const QString out = f.dir.filePath("out.kvtml");
    if (exportCards(*f.store, out).cards != 24)
        return QString();
    return out;
}

} // namespace

class TestTransfer : public QObject {
    Q_OBJECT

private slots:
    // Times in other trainers' files are local: a zone with summer time tries them.
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void textFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<QStringList>("refused"); // line numbers
        QTest::addColumn<QString>("separator");

        QTest::newRow("tabs, blank lines, CR LF")
            << QByteArray("a\tb\r\n\r\nc\td\te\n") << QStringList{"Ziel|1|a|b", "Ziel|1|c|d"} << QStringList() << "\t";
        QTest::newRow("semicolons, quoted")
            << QByteArray("\"x;y\";\"say \"\"hi\"\"\"\n\"two\nlines\";z\n")
            << QStringList{"Ziel|1|x;y|say \"hi\"", "Ziel|1|two\nlines|z"} << QStringList() << ";";
        QTest::newRow("commas, refused lines")
            << QByteArray("a,b\nonly\n,b\na,\nc,d\n") << QStringList{"Ziel|1|a|b", "Ziel|1|c|d"}
            << QStringList{"2", "3", "4"} << ",";
        QTest::newRow("Anki header, html")
            << QByteArray("#separator:tab\n#html:true\n#notetype:Basic\n"
                          "a<br>b&amp;c\t<div>x</div><div>y [sound:s.mp3]<img src=\"i.png\"></div>\n")
            << QStringList{"Ziel|1|a\nb&c|x\ny"} << QStringList() << "\t";
        // HTML's blanks are plain ones; a reference taken out leaves one blank between words, none at an end.
        QTest::newRow("html blanks, references taken out")
            << QByteArray("#html:true\nder&nbsp;Hund [sound:a.mp3] bellt\t<img src=\"x.png\"> le&#160;chien\xC2\xA0"
                          "&ensp;[sound:b.mp3]\n")
            << QStringList{"Ziel|1|der Hund bellt|le chien"} << QStringList() << "\t";
        QTest::newRow("own columns") << QByteArray(
            "#separator:tab\n#columns:Frage\tAntwort\tFach\tGebiet\n"
            "f\ta\t3\tSpanisch\nf\ta\t0\tSpanisch\nf\ta\t1\t12\ng\tb\t2147483647\tLatein\n")
                                     << QStringList{"Latein|2147483647|g|b", "Spanisch|3|f|a"} << QStringList{"4", "5"}
                                     << "\t";
        // A first line naming every column is the header, in any case; Seit is left out.
        QTest::newRow("spreadsheet header")
            << QByteArray("Frage;Antwort\nx;y\n") << QStringList{"Ziel|1|x|y"} << QStringList() << ";";
        QTest::newRow("English header, empty compartment")
            << QByteArray("front,BACK,Seit,Fach\nq,a,2024-01-01,\nr,b,,3\n") << QStringList{"Ziel|1|q|a", "Ziel|3|r|b"}
            << QStringList() << ",";
        QTest::newRow("one unknown name: no header")
            << QByteArray("Frage\tWort\nx\ty\n") << QStringList{"Ziel|1|Frage|Wort", "Ziel|1|x|y"} << QStringList()
            << "\t";
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF\xC3\xA4\tb\n") << QStringList{"Ziel|1|ä|b"}
                                        << QStringList() << "\t";
        QTest::newRow("UTF-16 LE") << QByteArray("\xFF\xFE\xE4\0\t\0b\0\n\0", 10) << QStringList{"Ziel|1|ä|b"}
                                   << QStringList() << "\t";
        QTest::newRow("Windows-1252") << QByteArray("\x80\t\xE4\n") << QStringList{"Ziel|1|€|ä"} << QStringList()
                                      << "\t";
    }
    void textFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, cards);
        QFETCH(QStringList, refused);
        QFETCH(QString, separator);
        Fixture f;
        const QString path = f.write("cards.txt", bytes);
        auto file = ImportFile::open(path);
        QCOMPARE(QString(file->separator()), separator);
        const ImportPreview preview = previewImport(*file, *f.store, {QStringLiteral("Ziel"), true});
        QStringList lines;
        for (const RefusedLine &r : preview.refused)
            lines << QString::number(r.line);
        QCOMPARE(lines, refused);
        const ImportSummary summary = runImport(*file, *f.store, {QStringLiteral("Ziel"), true});
        QCOMPARE(summary.linesRefused, refused.size());
        QCOMPARE(cardsOf(*f.store), cards);
        QCOMPARE(f.store->checkInvariants(), QStringList());
    }

    // Text files are read a piece at a time: records, encodings and a refusal late in
    // a file come out as when the file was read whole; the preview reads the head.
    void streamedTextFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("stored"); // -1: the file is refused
        QTest::addColumn<QString>("card");  // one card stored, or the refusal's wording
        auto lines = [](int count, const QByteArray &pattern) {
            QByteArray out;
            for (int i = 0; i < count; ++i)
                out += QByteArray(pattern).replace("N", QByteArray::number(i));
            return out;
        };
        QTest::newRow("quoted lines across pieces")
            << lines(40000, "\"frage N\nzweite Zeile\"\tantwort N\r\n") << qint64(40000)
            << "Ziel|1|frage 39999\nzweite Zeile|antwort 39999";
        QTest::newRow("Windows-1252 seen at the end") << lines(60000, "frage N\tantwort N\n") + "\xE4\t\x80\n"
                                                      << qint64(60001) << "Ziel|1|ä|€";
        // A letter of two bytes whose second begins the second piece.
        QTest::newRow("UTF-8 letter across pieces")
            << "f\t" + QByteArray((1 << 20) - 3, 'x') + "\xC3\xA4\n" + lines(20000, "frage N\tantwort N\n")
            << qint64(20001) << "Ziel|1|f|" + QString((1 << 20) - 3, QLatin1Char('x')) + QStringLiteral("ä");
        QByteArray utf16("\xFF\xFE");
        for (const QChar c : QString::fromUtf8(lines(30000, "😀 N\tä N\n")))
            utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        QTest::newRow("UTF-16 across pieces") << utf16 << qint64(30000) << "Ziel|1|😀 29999|ä 29999";
        QTest::newRow("unclosed quote far down") << lines(50000, "frage N\tantwort N\n") + "a\t\"b\n"
                                                 << qint64(-1) << "Zeile 50001";
    }
    void streamedTextFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, stored);
        QFETCH(QString, card);
        Fixture f;
        auto file = ImportFile::open(f.write("big.txt", bytes));
        const ImportPreview preview = previewImport(*file, *f.store, {QStringLiteral("Ziel"), true});
        QVERIFY(!preview.whole);
        QCOMPARE(preview.cardCount, qint64(ImportPreview::kHeadLines));
        try {
            const ImportSummary summary = runImport(*file, *f.store, {QStringLiteral("Ziel"), true});
            QCOMPARE(summary.cardsStored, stored);
            QVERIFY(cardsOf(*f.store).contains(card));
        } catch (const TransferError &e) {
            QVERIFY2(stored < 0 && e.message().contains(card), qPrintable(e.message()));
            QCOMPARE(f.store->cardCount(std::nullopt), 0);
        }
    }

    // A Pauker lesson's batches go out while the rest is read: the import after the
    // preview reads it again from its start, and every card comes once.
    void paukerLessonReadAgainAfterItsPreview()
    {
        QByteArray lesson = "<Lesson><Description>D</Description>";
        for (const char *batch : {"f", "g"}) {
            lesson += "<Batch>";
            for (int i = 0; i < 2000; ++i)
                lesson += paukerCard(batch + QByteArray::number(i), "a");
            lesson += "</Batch>";
        }
        Fixture f;
        auto file = ImportFile::open(f.write("lektion.pau", lesson + "</Lesson>"));
        QCOMPARE(previewImport(*file, *f.store, {}).cardCount, qint64(4000));
        QCOMPARE(runImport(*file, *f.store, {}).cardsStored, qint64(4000));
        const QStringList cards = cardsOf(*f.store);
        QCOMPARE(cards.size(), 4000);
        QCOMPARE(cards.first() + cards.last(), QStringLiteral("D|1|f0|aD|1|g1999|a"));
    }

    // The export's own times are read without QDateTime; they must read as it reads them.
    void enteredAtCells_data()
    {
        QTest::addColumn<QString>("cell");
        for (const char *cell : {"2025-12-08T09:15:00+01:00", "2024-02-29T23:59:59-05:30", "1999-12-31T00:00:00Z",
                                 "2025-12-08T03:59:59+01:00", "2025-12-08T04:00:00+01:00", "1965-06-01T03:59:59+01:00",
                                 "2026-03-29T02:30:00+14:00", "2026-02-30T09:15:00+01:00", "2025-12-08T24:00:00+01:00",
                                 "2025-12-08 09:15:00+01:00"})
            QTest::newRow(cell) << QString::fromLatin1(cell);
    }
    void enteredAtCells()
    {
        QFETCH(QString, cell);
        Fixture f;
        QCOMPARE(f.import(f.write("s.txt", "Frage\tAntwort\tSeit\nf\ta\t" + cell.toLatin1() + "\n")), QString());
        const QDateTime expected = QDateTime::fromString(cell, Qt::ISODate);
        const QString want =
            expected.isValid() ? QString::number(expected.toSecsSinceEpoch()) : QStringLiteral("jetzt");
        QCOMPARE(cardsWithTimes(*f.store), QStringList{QStringLiteral("Ziel|1|f|a|") + want});
        // Its learning day, as the calendar counts it from that time.
        sql::Statement day(storedb::of(*f.store), "SELECT Seit, Tag FROM tblFachSeit");
        QVERIFY(day.step());
        QCOMPARE(day.int64(1), Store::learningDay(day.int64(0)));
    }

    void badFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray sqliteHead("SQLite format 3\0", 16);
        QTest::newRow("empty") << "e.txt" << QByteArray() << "ist leer";
        QTest::newRow("missing") << "m.txt" << QByteArray("missing") << "gibt es nicht";
        QTest::newRow("unreadable") << "u.txt" << QByteArray("directory") << "kann nicht gelesen werden";
        QTest::newRow("NUL bytes") << "n.txt" << QByteArray("a\tb\0c\n", 6) << "weder eine Textdatei";
        QTest::newRow("unclosed quote") << "q.txt" << QByteArray("a\tb\nc\t\"d\n") << "Zeile 2";
        QTest::newRow("50 MB line") << "l.txt" << QByteArray(50 * 1024 * 1024, 'x') + "\tb\n"
                                    << "zu lang";
        QTest::newRow("zip without collection") << "z.apkg" << QByteArray("zip:other") << "keine Sammlung";
        QTest::newRow("collection not SQLite")
            << "s.apkg" << QByteArray("zip:collection.anki2:hello") << "keine SQLite";
        QTest::newRow("damaged collection")
            << "d.apkg" << QByteArray("zip:collection.anki21:") + sqliteHead + QByteArray(5000, '\x07') << "beschädigt";
        QTest::newRow("no notes table") << "t.apkg" << QByteArray("zip:collection.anki2:empty-db") << "notes";
        QTest::newRow("zstd cut short") << "c.apkg" << QByteArray("zip:collection.anki21b:cut") << "unvollständig";
        QTest::newRow("bomb") << "b.apkg" << QByteArray("zip:collection.anki2:bomb") << "200-Fache";
        QTest::newRow("broken zip") << "x.apkg" << QByteArray("PK\x03\x04garbage") << "beschädigt";
        QTest::newRow("kvtml not well-formed")
            << "k.kvtml" << kvtml2(entry(0, "a", "b"), "").replace("</entries>", "</entry>") << "kein gültiges XML";
        QTest::newRow("entities") << "l.kvtml"
                                  << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE kvtml [<!ENTITY a \"lol\">"
                                                "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                                                "<kvtml version=\"2.0\"><entries>&b;</entries></kvtml>")
                                  << "Entitäten";
        QTest::newRow("parameter entities")
            << "p.pau" << QByteArray("<!DOCTYPE Lesson [<!ENTITY % a \"<!ENTITY b 'x'>\">%a;]><Lesson>&b;</Lesson>")
            << "Entitäten";
        // Its first batch is stored while the rest is read: a fault after it undoes it.
        QTest::newRow("Pauker broken after a batch")
            << "s.pau"
            << "<Lesson LessonFormat=\"1.8\"><Description>D</Description><Batch>" + paukerCard("f", "a").repeated(2000)
                   + "</Batch><Batch>" + paukerCard("g", "b").repeated(2000) + "<Card></Lesson>"
            << "kein gültiges XML";
        QTest::newRow("gzip bomb") << "g.pau.gz" << QByteArray("gz-bomb") << "200-Fache";
        QTest::newRow("gzip cut short") << "c.pau.gz" << QByteArray("gz-cut") << "beschädigt";
        QTest::newRow("unknown XML") << "u.xml" << QByteArray("<?xml version=\"1.0\"?><html/>") << "weder";
        QTest::newRow("unknown gzip") << "u.gz" << QByteArray("gz:<Other/>") << "weder";
        // Cut or empty, told in words.
        const QByteArray whole = kvtml2(entry(0, "a", "b") + entry(1, "c", "d"), "");
        QTest::newRow("kvtml cut in an entry")
            << "k.kvtml" << whole.left(whole.indexOf("<text>c") + 8) << "endet mitten in einem Eintrag";
        QTest::newRow("kvtml cut in a tag")
            << "k.kvtml" << whole.left(whole.indexOf("<translation") + 6) << "endet mitten in einem Eintrag";
        QTest::newRow("Pauker cut") << "c.pau"
                                    << "<Lesson><Batch>" + paukerCard("f", "a").chopped(9)
                                    << "endet mitten in einem Eintrag";
        QTest::newRow("empty kvtml") << "e.kvtml" << QByteArray() << "ist leer";
        QTest::newRow("XML declaration alone") << "d.kvtml" << QByteArray("<?xml version=\"1.0\"?>\n") << "ist leer";
        // KDE's word lists in one language: every entry lacks its other side.
        const QByteArray oneSide = "<entry id=\"0\"><translation id=\"0\"><text>Hund</text></translation></entry>";
        QTest::newRow("kvtml of one side")
            << "w.kvtml" << kvtml2(oneSide + QByteArray(oneSide).replace("Hund", "Katze"), "")
            << "allen ihren 2 Einträgen fehlt eine Seite";
        QTest::newRow("Anki notes of one field")
            << "o.apkg" << QByteArray("anki:one field") << "ihrem einzigen Eintrag fehlt eine Seite";
        QTest::newRow("text over the limit")
            << "t.kvtml" << kvtml2(entry(0, "a", QByteArray(17 * 1024 * 1024, 'x')), "") << "zu lang";
    }
    void badFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        Fixture f;
        QString path = f.dir.filePath(name);
        if (bytes.startsWith("anki:")) {
            QVERIFY(ankifiles::package(path, ankifiles::Layout::Anki21, {{"Deck", {"nur eins"}}}));
        } else if (bytes.startsWith("zip:")) {
            const QList<QByteArray> parts = bytes.split(':');
            QByteArray content = bytes.mid(4 + parts[1].size() + 1);
            if (content == "empty-db") {
                QByteArray db = ankifiles::collection(ankifiles::Layout::Anki2, {});
                rawdb::Connection(f.write("x.db", db)).exec("DROP TABLE notes");
                content = rawdb::readBytes(f.dir.filePath("x.db"));
            } else if (content == "cut") {
                content = ankifiles::zstd(ankifiles::collection(ankifiles::Layout::Anki21b, {{"D", {"f", "a"}}}));
                content.chop(content.size() / 2);
            } else if (content == "bomb") {
                content = QByteArray(20 * 1024 * 1024, '\0');
            }
            QVERIFY(ankifiles::zipFile(path, {{QString::fromLatin1(parts[1]), content}}));
        } else if (bytes == "gz-bomb") {
            f.write(name, gzip("<Lesson>" + QByteArray(30 * 1024 * 1024, ' ')));
        } else if (bytes == "gz-cut") {
            f.write(name, gzip("<Lesson><Batch/></Lesson>").chopped(10));
        } else if (bytes.startsWith("gz:")) {
            f.write(name, gzip(bytes.mid(3)));
        } else if (bytes == "directory") {
            QVERIFY(QDir(f.dir.path()).mkdir(name));
        } else if (bytes != "missing") {
            f.write(name, bytes);
        }
        const QString message = f.import(path);
        QVERIFY2(message.contains(reason) && message.contains(name), qPrintable(message));
        QCOMPARE(cardsOf(*f.store), QStringList());
        QCOMPARE(f.store->allSubjects(), QStringList());
    }

    // kvtml and Pauker files: cards, subjects, compartments and times.
    void foreignFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("subject"); // the one chosen for all cards, or none
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<int>("refused");
        const QByteArray entries = entry(0, "eins", "one", grade(0, "2020-03-01T08:00:00"))
                                   + entry(1, "zwei", "two", grade(3, "2021-06-01T12:30:00"))
                                   + entry(2, "drei", "three", grade(3, "2020-06-01T12:30:00"))
                                   + entry(3, "vier", "four", grade(12, "2019-01-02T03:04:05"))
                                   + entry(4, "fünf", "five", "<grade><pregrade>2</pregrade></grade>")
                                   + entry(5, "sechs", "six")
                                   + "<entry id=\"6\"><deactivated>true</deactivated><translation id=\"0\"><text>aus"
                                     "</text></translation><translation id=\"1\"><text>off</text></translation>"
                                     "</entry>"
                                   + entry(7, "leer", " ") + entry(8, "sieben &amp; acht", "seven");
        const QByteArray lessons = "<container><name>Zahlen</name><entry id=\"0\"/><entry id=\"1\"/>"
                                   "<container><name>Groß</name><entry id=\"2\"/><entry id=\"3\"/></container>"
                                   "</container><container><name>Default Lesson</name><entry id=\"4\"/>"
                                   "<entry id=\"0\"/></container>";
        QTest::newRow("kvtml 2") << "w.kvtml" << kvtml2(entries, lessons) << QString()
                                 << QStringList{"Wörter|1|fünf|five|jetzt",
                                                "Wörter|1|sechs|six|jetzt",
                                                "Wörter|1|sieben & acht|seven|jetzt",
                                                "Zahlen|1|eins|one|" + local("2020-03-01T08:00:00"),
                                                "Zahlen|4|zwei|two|" + local("2021-06-01T12:30:00"),
                                                "Zahlen::Groß|4|drei|three|" + local("2020-06-01T12:30:00"),
                                                "Zahlen::Groß|8|vier|four|" + local("2019-01-02T03:04:05")}
                                 << 2;
        QTest::newRow("kvtml 2, one subject chosen, no title")
            << "Liste.v2.kvtml" << kvtml2(entries, lessons, "") << "Ziel"
            << QStringList{"Ziel|1|eins|one|" + local("2020-03-01T08:00:00"),
                           "Ziel|1|fünf|five|jetzt",
                           "Ziel|1|sechs|six|jetzt",
                           "Ziel|1|sieben & acht|seven|jetzt",
                           "Ziel|4|drei|three|" + local("2020-06-01T12:30:00"),
                           "Ziel|4|zwei|two|" + local("2021-06-01T12:30:00"),
                           "Ziel|8|vier|four|" + local("2019-01-02T03:04:05")}
            << 2;
        // Of two alike, the one earlier in the file stays, whatever its place in the queue.
        QTest::newRow("kvtml 2, two alike")
            << "w.kvtml"
            << kvtml2(entry(0, "gleich", "same", grade(3, "2020-06-01T12:30:00")) + entry(1, "gleich", "same")
                          + entry(2, "x", "y"),
                      "")
            << QString() << QStringList{"Wörter|1|x|y|jetzt", "Wörter|4|gleich|same|" + local("2020-06-01T12:30:00")}
            << 0;
        // A lesson's name that could be no subject does not matter once a subject takes all cards.
        QTest::newRow("kvtml 2, one subject chosen, a lesson named by a number")
            << "w.kvtml" << kvtml2(entry(0, "a", "b"), "<container><name>42</name><entry id=\"0\"/></container>")
            << "Ziel" << QStringList{"Ziel|1|a|b|jetzt"} << 0;
        QTest::newRow("kvtml 2, default lesson without title")
            << "Liste.v2.kvtml" << kvtml2(entry(0, "a", "b"), "<container><name>Default Lesson</name></container>", "")
            << QString() << QStringList{"Liste.v2|1|a|b|jetzt"} << 0;
        QTest::newRow("kvtml 1")
            << "alt.kvtml"
            << QByteArray("<?xml version=\"1.0\"?><kvtml title=\"Alt\"><lesson><desc no=\"1\">Tiere</desc>"
                          "</lesson><e m=\"1\"><o>Hund</o><t g=\"2;5\" d=\"1600000000;1\">dog</t></e>"
                          "<e><o>Katze</o><t>cat</t></e><e m=\"1\"><o></o><t>x</t></e></kvtml>")
            << QString() << QStringList{"Alt|1|Katze|cat|jetzt", "Tiere|3|Hund|dog|1600000000"} << 1;
        // Word types, tenses and usages are numbered too: their names are no lessons.
        QTest::newRow("kvtml 1, descriptions of types, tenses, usages")
            << "alt.kvtml"
            << QByteArray("<?xml version=\"1.0\"?><kvtml title=\"Alt\"><lesson><desc no=\"1\">Tiere</desc></lesson>"
                          "<type><desc no=\"1\">#20 3</desc></type><tense><desc no=\"1\">Perfekt</desc></tense>"
                          "<usage><desc no=\"1\">fam.</desc></usage><e m=\"1\"><o>Hund</o><t>dog</t></e></kvtml>")
            << QString() << QStringList{"Tiere|1|Hund|dog|jetzt"} << 0;
        const QByteArray lesson =
            "<Lesson LessonFormat=\"1.7\"><Description>  Englisch\nVokabeln</Description>"
            "<Batch>"
            + paukerCard("neu", "new", 1'500'000'000'000) + "</Batch><Batch>" + paukerCard("kurz", "short")
            + "</Batch><Batch></Batch><Batch>" + paukerCard("spät", "late", 1'600'000'500'000)
            + paukerCard("früh", "early", 1'600'000'000'999) + paukerCard("", "leer") + "</Batch><Batch>"
            + paukerCard("oben", "top", 1'500'000'000'000) + "</Batch></Lesson>";
        const QStringList paukerCards{"Englisch|1|neu|new|jetzt", "Englisch|1|kurz|short|jetzt",
                                      "Englisch|2|früh|early|1600000000", "Englisch|2|spät|late|1600000500",
                                      "Englisch|3|oben|top|1500000000"};
        QTest::newRow("Pauker") << "e.xml" << lesson << QString() << paukerCards << 1;
        QTest::newRow("Pauker gzipped") << "e.pau.gz" << gzip(lesson) << QString() << paukerCards << 1;
        // Placed as they are stored while they come in the queue's order, and all at the
        // end once one comes out of it, after many were placed.
        QByteArray ordered = "<Lesson LessonFormat=\"1.7\"><Batch/><Batch/><Batch/><Batch>";
        QStringList orderedCards{"lang|2|früher|earlier|1500000000"};
        for (int i = 0; i < 300; ++i) {
            ordered += paukerCard("w" + QByteArray::number(i), "a", 1'600'000'000'000 + i * 1000);
            orderedCards << QStringLiteral("lang|2|w%1|a|%2").arg(i).arg(1'600'000'000 + i);
        }
        QTest::newRow("Pauker, one card out of the queue's order after many")
            << "lang.pau" << ordered + paukerCard("früher", "earlier", 1'500'000'000'000) + "</Batch></Lesson>"
            << QString() << orderedCards << 0;
        QTest::newRow("Pauker 1.4") << "Alte Lektion.pau.gz"
                                    << gzip("<Lesson Pauker-Version=\"1.4\"><Batch>"
                                            + paukerCard("vorn", "hinten", 0, "BackSide") + "</Batch></Lesson>")
                                    << QString() << QStringList{"Alte Lektion|1|vorn|hinten|jetzt"} << 0;
        // As Pauker 1.4 writes them: texts in the sides, learned dates local, the
        // summer-time gap and the end of summer time among them.
        auto oldCard = [](const QByteArray &front, const QByteArray &back, const QByteArray &learned = {}) {
            return "<Card RepeatByTyping=\"false\"><FrontSide>" + front + "</FrontSide><BackSide>" + back
                   + "</BackSide>" + (learned.isEmpty() ? "" : "<Learned_Date>" + learned + "</Learned_Date>")
                   + "</Card>";
        };
        QTest::newRow("Pauker 1.4, learned dates")
            << "alt.pau"
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!--This is a Pauker lesson--><Lesson "
               "Pauker-Version=\"1.4\"><Description>Alt</Description><Batch>"
                   + oldCard("neu", "new") + "</Batch><Batch>" + oldCard("kurz", "short", "01.02.2005 10:00:00")
                   + "</Batch><Batch/><Batch>" + oldCard("lang", "long", "28.03.2004 02:30:00")
                   + oldCard("knapp", "brief", "1.3.2004 3:04:05") + oldCard("ohne", "none")
                   + oldCard("kaputt", "broken", "31.02.2004 10:00:00") + "</Batch><Batch>"
                   + oldCard("oben", "top", "31.10.2004 03:30:00") + "</Batch></Lesson>"
            << QString()
            << QStringList{"Alt|1|neu|new|jetzt",
                           "Alt|1|kurz|short|jetzt",
                           "Alt|1|ohne|none|jetzt",
                           "Alt|1|kaputt|broken|jetzt",
                           "Alt|2|knapp|brief|" + local("2004-03-01T03:04:05"),
                           "Alt|2|lang|long|" + local("2004-03-28T03:30:00"),
                           "Alt|3|oben|top|" + local("2004-10-31T03:30:00")}
            << 0;
    }
    void foreignFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, subject);
        QFETCH(QStringList, cards);
        QFETCH(int, refused);
        Fixture f;
        auto file = ImportFile::open(f.write(name, bytes));
        const ImportSummary s = runImport(*file, *f.store, {subject, true});
        QCOMPARE(cardsWithTimes(*f.store), cards);
        QCOMPARE(s.linesRefused, refused);
        qint64 kept = 0;
        for (const QString &card : cards)
            kept += card.section(u'|', 1, 1) != "1" || !card.endsWith("jetzt");
        QCOMPARE(s.progressKept, kept);
        QCOMPARE(f.store->checkInvariants(), QStringList());
        // The import's learning days, converted once per quarter hour, are those of the times.
        sql::Statement days(storedb::of(*f.store),
                            "SELECT COUNT(*) FROM tblFachSeit WHERE Tag <> tarlivo_lerntag(Seit)");
        QVERIFY(days.step());
        QCOMPARE(days.int64(0), 0);
    }

    void ankiPackages_data()
    {
        QTest::addColumn<int>("layout");
        QTest::newRow("anki2") << int(ankifiles::Layout::Anki2);
        QTest::newRow("anki21") << int(ankifiles::Layout::Anki21);
        QTest::newRow("anki21b (zstd)") << int(ankifiles::Layout::Anki21b);
    }
    void ankiPackages()
    {
        QFETCH(int, layout);
        Fixture f;
        f.store->addSubject(QStringLiteral("spanisch"));
        const QString path = f.dir.filePath("deck.apkg");
        QVERIFY(ankifiles::package(path, ankifiles::Layout(layout),
                                   {{"Sprachen::Spanisch", {"<b>hola</b>", "hallo<br>[sound:h.mp3]", "extra"}},
                                    {"Spanisch", {"uno", "eins<img src=\"1.png\">"}},
                                    {"2024", {"f", "a"}},
                                    {"Spanisch", {"nur eins"}},
                                    {"Sprachen::Spanisch", {"hola", "hallo"}}}));
        auto file = ImportFile::open(path);
        const ImportSummary s = runImport(*file, *f.store, {});
        QCOMPARE(s.cardsStored, 3);
        QCOMPARE(s.duplicatesSkipped, 1);
        QCOMPARE(s.linesRefused, 1);
        QCOMPARE(s.mediaDropped, 2);
        QCOMPARE(cardsOf(*f.store),
                 (QStringList{"2024 (2)|1|f|a", "Spanisch (2)|1|uno|eins", "Sprachen::Spanisch|1|hola|hallo"}));
        QCOMPARE(f.store->checkInvariants(), QStringList());
    }

    // A deck's name beside the subjects there: itself when free, else numbered; a name
    // holding "%1" keeps it as typed, a deck without a name is "Stapel".
    void deckNamesTakeTheFirstFreeName_data()
    {
        QTest::addColumn<QString>("deck");
        QTest::addColumn<QString>("subject");
        QTest::newRow("free") << "Chemie"
                              << "Chemie";
        QTest::newRow("taken in other capitals") << "kapitel %1"
                                                 << "kapitel %1 (2)";
        QTest::newRow("no name") << ""
                                 << "Stapel";
        QTest::newRow("a number") << "2024"
                                  << "2024 (2)";
    }
    void deckNamesTakeTheFirstFreeName()
    {
        QFETCH(QString, deck);
        QFETCH(QString, subject);
        Fixture f;
        f.store->addSubject(QStringLiteral("Kapitel %1"));
        QCOMPARE(planDecks(*f.store, {deck}).subjectOf.value(deck), subject);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("bothWays"); // one subject practised both ways: two more columns
        QTest::newRow("tab-separated") << "out.txt" << false;
        QTest::newRow("csv") << "out.csv" << false;
        QTest::newRow("both directions") << "out.txt" << true;
    }
    void roundTrip()
    {
        QFETCH(QString, name);
        QFETCH(bool, bothWays);
        Fixture from;
        const QStringList texts = {"tab\there",     "say \"x\"",  "two\r\nlines", "emoji 😀", "עברית טקסט",
                                   "#not a header", "semi;colon", "lone\rcr",     " blank "};
        // Cards that came into their compartments in summer and in winter time.
        qint64 clock = 1'780'000'000;
        StoreOptions options = noBackups();
        options.now = [&clock] { return clock += 86400 * 17 + 3601; };
        Seeder seed{Store::open(from.dir.filePath("Tarlivo.mdb"), options)};
        const qint32 a = seed.subject(QStringLiteral("Zeichen\t\"Ä\""));
        const qint32 b = seed.subject(QStringLiteral("Arabisch عربي"));
        for (int i = 0; i < texts.size(); ++i) {
            seed.card(a, texts[i], texts[(i + 1) % texts.size()], 1 + i % 3);
            seed.card(b, texts[(i + 2) % texts.size()], QString::number(i), 2147483647 - i % 2);
        }
        if (bothWays) {
            seed.store->setDirection(b, DirectionSetting::Both);
            seed.store->judgeCard(*seed.store->headCard(b, 1, Direction::Reverse), Verdict::Right, Direction::Reverse);
        }
        const QString out = from.dir.filePath(name);
        const ExportResult exported = exportCards(*from.store, out);
        QCOMPARE(exported.cards, 2 * texts.size());
        if (name.endsWith(".csv"))
            QVERIFY(rawdb::readBytes(out).startsWith("\xEF\xBB\xBF#separator:semicolon\n"));

        Fixture to;
        QCOMPARE(rawdb::readBytes(out).contains("Seit\tFach umgekehrt\tSeit umgekehrt\n"), bothWays);
        QCOMPARE(to.import(out), QString());
        QCOMPARE(cardsOf(*to.store), cardsOf(*from.store));
        QCOMPARE(to.store->direction(*to.store->subjectId(QStringLiteral("Arabisch عربي"))),
                 bothWays ? DirectionSetting::Both : DirectionSetting::Forward);
        // The times come back too: the file made again is the same to the byte.
        const QString again = to.dir.filePath(name);
        exportCards(*to.store, again);
        QCOMPARE(rawdb::readBytes(again), rawdb::readBytes(out));
        QCOMPARE(to.store->checkInvariants(), QStringList());
    }

    // Out to kvtml and back: subjects, cards, compartments (up to 8) and times.
    void kvtmlRoundTrip()
    {
        Fixture from;
        const QString out = exportedKvtml(from);
        Fixture to;
        QCOMPARE(to.import(out, QString()), QString());
        QStringList expected;
        for (QString card : cardsWithTimes(*from.store)) {
            QStringList parts = card.split(u'|');
            parts[1] = QString::number(std::min(parts[1].toInt(), 8));
            expected << parts.join(u'|');
        }
        QStringList got = cardsWithTimes(*to.store);
        // Compartments above 8 are one now, ordered by their times.
        expected.sort();
        got.sort();
        QCOMPARE(got, expected);
        const char *reverse = "SELECT f.Frage, r.Fach, r.Seit FROM tblPositionUmgekehrt AS r "
                              "JOIN tblFrageAntwort AS f USING (idFrageAntwort) ORDER BY 1";
        QCOMPARE(rawdb::rows(to.dir.filePath("Tarlivo.mdb"), reverse),
                 rawdb::rows(from.dir.filePath("Tarlivo.mdb"), reverse));
        QCOMPARE(to.store->checkInvariants(), QStringList());
    }

    // What a kvtml or text export carries, written as KDE writes it and read back by
    // the import; what it cannot carry it tells.
    void exportCarriesOrTells_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cards"); // Gebiet|Fach|Frage|Antwort[|picture on the question|sound on the answer]
        QTest::addColumn<QString>("languages"); // of each subject: Gebiet=question,answer;...
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("leftOut");
        QTest::newRow("picture and sound")
            << "out.kvtml"
            << "Tiere|1|Hund|dog|hund.png|dog.mp3"
            << ""
            << QStringList{"<text>Hund</text>\n    <image>out_Medien/hund.png</image>\n   </translation>",
                           "    <sound>out_Medien/dog.mp3</sound>\n   </translation>\n  </entry>"}
            << "";
        QTest::newRow("nested subjects")
            << "out.kvtml"
            << "A::B|1|f|a;A|1|g|b;A::C::D|1|h|c"
            << ""
            << QStringList{"<name>A</name>\n   <inpractice>true</inpractice>\n   <entry id=\"0\"/>\n"
                           "   <container>\n    <name>B</name>",
                           "<name>C</name>\n    <inpractice>true</inpractice>\n    <container>\n     <name>D</name>"}
            << "";
        QTest::newRow("reading-aloud languages") << "out.kvtml"
                                                 << "Französisch|1|f|a;Vokabeln|1|g|b"
                                                 << "Französisch=fr,de_AT"
                                                 << QStringList{"<name>Frage</name>\n   <locale>fr</locale>",
                                                                "<name>Antwort</name>\n   <locale>de_AT</locale>"}
                                                 << "";
        QTest::newRow("languages that differ")
            << "out.kvtml"
            << "Französisch|1|f|a;Spanisch|1|g|b"
            << "Französisch=fr,de;Spanisch=es,de" << QStringList{"<locale>fr</locale>"} << "verschiedenen Sprachen";
        QTest::newRow("compartments above eight")
            << "out.kvtml"
            << "Z|12|f|a;Z|2|g|b"
            << "" << QStringList{"<currentgrade>7</currentgrade>"} << "1 Frage steht in Fach 9 oder höher";
        QTest::newRow("text file, media") << "out.txt"
                                          << "Tiere|1|Hund|dog|hund.png|"
                                          << "" << QStringList{"Hund\tdog"} << "Die Bilder und Töne von 1 Frage";
    }
    void exportCarriesOrTells()
    {
        QFETCH(QString, name);
        QFETCH(QString, cards);
        QFETCH(QString, languages);
        QFETCH(QStringList, written);
        QFETCH(QString, leftOut);
        Fixture from;
        const QStringList list = cards.split(u';');
        qsizetype i = 0;
        from.store->importCards(
            [&](BulkCard &card) {
                if (i == list.size())
                    return false;
                const QStringList c = list[i++].split(u'|');
                card = BulkCard{c[0], c[2], c[3], qint32(c[1].toInt())};
                if (c.size() > 4 && !c[4].isEmpty())
                    card.media.push_back({CardSide::Question, MediaKind::Picture, c[4], "picture " + c[4].toUtf8()});
                if (c.size() > 5 && !c[5].isEmpty())
                    card.media.push_back({CardSide::Answer, MediaKind::Sound, c[5], "sound " + c[5].toUtf8()});
                return true;
            },
            {});
        for (const QString &subject : languages.split(u';', Qt::SkipEmptyParts)) {
            const QStringList sides = subject.section(u'=', 1).split(u',');
            from.store->setSubjectLanguages(*from.store->subjectId(subject.section(u'=', 0, 0)), {sides[0], sides[1]});
        }
        const QString out = from.dir.filePath(name);
        const ExportResult result = exportCards(*from.store, out);
        QCOMPARE(result.cards, list.size());
        QCOMPARE(result.leftOut.join(u' ').contains(leftOut) && result.leftOut.isEmpty() == leftOut.isEmpty(), true);
        const QString file = QString::fromUtf8(rawdb::readBytes(out));
        for (const QString &part : written)
            QVERIFY2(file.contains(part), qPrintable(file));
        if (!name.endsWith(".kvtml"))
            return;
        // Read back: the same cards in the same subjects, their pictures and sounds as they were.
        Fixture to;
        QCOMPARE(to.import(out, QString()), QString());
        QStringList expected = cardsOf(*from.store), got = cardsOf(*to.store);
        for (QString &card : expected)
            card.replace(QStringLiteral("|12|"), QStringLiteral("|8|"));
        QCOMPARE(got, expected);
        const char *media = "SELECT f.Frage, k.Seite, k.Art, m.Name, hex(m.Inhalt) FROM tblKarteMedium AS k "
                            "JOIN tblFrageAntwort AS f USING (idFrageAntwort) JOIN tblMedium AS m USING (idMedium) "
                            "ORDER BY 1, 2, 3";
        QCOMPARE(rawdb::rows(to.dir.filePath("Tarlivo.mdb"), media),
                 rawdb::rows(from.dir.filePath("Tarlivo.mdb"), media));
        // KDE's library finds the pictures and sounds in their translations, relative to the file as it writes them.
        const QString checker = qEnvironmentVariable("TARLIVO_KVTMLCHECK");
        if (checker.isEmpty() || !cards.contains(".png"))
            return;
        QProcess read;
        read.start(checker, {out});
        QVERIFY(read.waitForFinished(60000) && read.exitCode() == 0);
        const QJsonArray found = QJsonDocument::fromJson(read.readAllStandardOutput()).object()["entries"].toArray();
        QCOMPARE(found[0].toObject()["media"].toArray(),
                 QJsonArray({"out_Medien/hund.png", "", "", "out_Medien/dog.mp3"}));
    }

    // KWordQuiz and Parley read the export through KDE's library (run by a checker of
    // its own build, Qt 5): every lesson, text, grade and date as exported.
    void kvtmlExportReadByKdeLibrary()
    {
        const QString checker = qEnvironmentVariable("TARLIVO_KVTMLCHECK");
        if (checker.isEmpty())
            QSKIP("KDE's vocabulary library (libkeduvocdocument-dev) is not installed");
        Fixture from;
        QProcess read;
        read.start(checker, {exportedKvtml(from)});
        QVERIFY(read.waitForFinished(60000));
        QCOMPARE(read.exitCode(), 0);
        const QJsonObject found = QJsonDocument::fromJson(read.readAllStandardOutput()).object();
        QCOMPARE(found["identifiers"].toArray(), QJsonArray({"Frage", "Antwort"}));
        // A subject "A::B" is lesson B in lesson A: the lessons are the subjects and their parents.
        QStringList subjects, lessons;
        for (const QString &subject : from.store->allSubjects())
            for (qsizetype at = subject.indexOf("::"); at >= 0; at = subject.indexOf("::", at + 2))
                subjects << subject.left(at);
        subjects += from.store->allSubjects();
        subjects.removeDuplicates();
        for (const QJsonValue lesson : found["lessons"].toArray())
            lessons << lesson.toString();
        subjects.sort();
        lessons.sort();
        QCOMPARE(lessons, subjects);
        QStringList expected, got;
        for (const QString &card : cardsWithTimes(*from.store)) {
            QStringList parts = card.split(u'|');
            parts[1] = QString::number(std::min(parts[1].toInt() - 1, 7));
            // The library reads texts simplified: white space one blank, none at the ends.
            parts[2] = parts[2].simplified();
            parts[3] = parts[3].simplified();
            expected << parts.join(u'|');
        }
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (const QJsonValue value : found["entries"].toArray()) {
            const QJsonObject e = value.toObject();
            const qint64 date = e["date"].toInteger(-1);
            got << QStringList{e["lesson"].toString(), QString::number(e["grade"].toInt()), e["question"].toString(),
                               e["answer"].toString(),
                               std::abs(date - now) < 3600 ? QStringLiteral("jetzt") : QString::number(date)}
                       .join(u'|');
        }
        expected.sort();
        got.sort();
        QCOMPARE(got, expected);
    }

    // KWordQuiz's own examples (Debian's kwordquiz package) import whole; the counts
    // are those KDE's library reads.
    void kwordquizExamples_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<qint64>("refused"); // entries with an empty side
        QTest::newRow("example") << "example" << qint64(9) << qint64(0);
        QTest::newRow("fill_in_the_blank") << "fill_in_the_blank" << qint64(15) << qint64(0);
        QTest::newRow("french_verbs") << "french_verbs" << qint64(32) << qint64(3);
        QTest::newRow("us_states_and_capitals") << "us_states_and_capitals" << qint64(50) << qint64(0);
    }
    void kwordquizExamples()
    {
        QFETCH(QString, name);
        QFETCH(qint64, stored);
        QFETCH(qint64, refused);
        const QString path = qEnvironmentVariable("TARLIVO_KWORDQUIZ_EXAMPLES") + "/" + name + ".kvtml";
        if (!QFile::exists(path))
            QSKIP("KWordQuiz's examples could not be fetched");
        Fixture f;
        auto file = ImportFile::open(path);
        const ImportSummary s = runImport(*file, *f.store, {QString(), false});
        QCOMPARE(s.cardsStored, stored);
        QCOMPARE(s.linesRefused, refused);
        QCOMPARE(f.store->allSubjects(), QStringList{name});
    }

    // A card Anki has in review keeps its progress; the rest start in compartment 1.
    void ankiProgress_data()
    {
        using C = ankifiles::Card;
        QTest::addColumn<QList<ankifiles::Card>>("cards");
        QTest::addColumn<int>("compartment");
        QTest::addColumn<int>("due"); // days from the collection's creation; -1: at once
        QTest::newRow("review, 1 day") << QList<C>{{0, 2, 1, 10}} << 2 << 10;
        QTest::newRow("review, 3 days") << QList<C>{{0, 2, 3, 340}} << 4 << 340;
        QTest::newRow("review, 4 days") << QList<C>{{0, 2, 4, 341}} << 4 << 341;
        QTest::newRow("review beyond a year") << QList<C>{{0, 2, 400, 900}} << 11 << 900;
        QTest::newRow("new") << QList<C>{{0, 0, 0, 7}} << 1 << -1;
        QTest::newRow("learning") << QList<C>{{0, 1, 0, 1767240000}} << 1 << -1;
        QTest::newRow("relearning") << QList<C>{{0, 3, 2, 1767240000}} << 1 << -1;
        QTest::newRow("first card new, another in review") << QList<C>{{1, 2, 5, 20}, {0, 0, 0, 0}} << 1 << -1;
        QTest::newRow("first card in review, another new") << QList<C>{{1, 0, 0, 0}, {0, 2, 5, 20}} << 5 << 20;
    }
    void ankiProgress()
    {
        QFETCH(QList<ankifiles::Card>, cards);
        QFETCH(int, compartment);
        QFETCH(int, due);
        Fixture f;
        const QDate created(2026, 1, 1);
        const QString path = f.dir.filePath("deck.apkg");
        QVERIFY(ankifiles::package(path, ankifiles::Layout::Anki21b, {{"Deck", {"f", "a"}, cards}},
                                   QDateTime(created, QTime(4, 0)).toSecsSinceEpoch()));
        auto file = ImportFile::open(path);
        QCOMPARE(runImport(*file, *f.store, {}).cardsStored, 1);
        const CardRow card = *f.store->cardRow(1);
        QCOMPARE(card.compartment, compartment);
        if (due < 0)
            QVERIFY(f.store->isDue(1));
        else
            QCOMPARE(Store::learningDay(card.enteredAt) + Store::defaultInterval(compartment),
                     created.toJulianDay() + due);
        QCOMPARE(f.store->checkInvariants(), QStringList());
    }

    void bulkImportKeepsQueueAndDuplicates()
    {
        Fixture f;
        Seeder seed{Store::open(f.dir.filePath("Tarlivo.mdb"), noBackups())};
        const qint32 s = seed.subject(QStringLiteral("Ziel"));
        seed.card(s, "F", "A");
        const QString path = f.write("d.txt", "F\tA\nG\tB\nG\tB\nf\tA\n");
        auto file = ImportFile::open(path);
        ImportSummary summary = runImport(*file, *f.store, {QStringLiteral("ziel"), true});
        QCOMPARE(summary.cardsStored, 2);
        QCOMPARE(summary.duplicatesSkipped, 2);
        QCOMPARE(summary.subjectsCreated, QStringList());
        sql::Statement q(storedb::of(*f.store), "SELECT Stelle FROM tblPosition ORDER BY Stelle");
        QStringList places;
        while (q.step())
            places << QString::number(q.int64(0));
        QCOMPARE(places, (QStringList{"1", "2", "3"}));
        // Enough cards that the duplicate table grows, each line twice.
        QByteArray many;
        for (int i = 0; i < 1500; ++i)
            many += "q" + QByteArray::number(i) + "\ta\n";
        auto twice = ImportFile::open(f.write("many.txt", many + many));
        summary = runImport(*twice, *f.store, {QStringLiteral("Viele"), true});
        QCOMPARE(summary.cardsStored, 1500);
        QCOMPARE(summary.duplicatesSkipped, 1500);
        summary = runImport(*file, *f.store, {QStringLiteral("Neu"), false}, [](qint64) { return false; });
        QVERIFY(summary.cancelled);
        // Cancelled while the reading runs far ahead of the writing: both stop.
        auto lots = ImportFile::open(f.write("lots.txt", many.repeated(40)));
        QVERIFY(runImport(*lots, *f.store, {QStringLiteral("Neu"), false}, [](qint64) { return false; }).cancelled);
        QCOMPARE(f.store->allSubjects(), (QStringList{"Viele", "Ziel"}));
        QCOMPARE(f.store->checkInvariants(), QStringList());
    }

    // A large subject's duplicates are found through the text index the first
    // import into it builds: in that import and in the next preview alike.
    void largeSubjectDuplicatesThroughTheTextIndex()
    {
        Fixture f;
        f.store->importCards([n = 0](BulkCard &c) mutable {
            c = BulkCard{QStringLiteral("Gross"), QStringLiteral("f%1").arg(n), QStringLiteral("a")};
            return ++n <= 20001;
        });
        QCOMPARE(f.import(f.write("eins.txt", "f7\ta\nneu\ta\n"), "Gross"), QString());
        QCOMPARE(f.store->cardCount(f.store->subjectId("Gross")), 20002);
        auto file = ImportFile::open(f.write("zwei.txt", "f9\ta\nneu\ta\nnoch neuer\ta\nf9\tanders\n"));
        const ImportPreview preview = previewImport(*file, *f.store, {QStringLiteral("Gross"), true});
        QCOMPARE(preview.duplicateCount, 2);
        QVERIFY(f.store->hasTextIndex() && f.store->holdsCard(*f.store->subjectId("Gross"), "f9", "a"));
    }

    // An import leaves its cards out of the search index; they are found all the
    // same, change and go like any card, and the index catches up in steps.
    void importedCardsWaitForTheSearchIndex()
    {
        Fixture f;
        const qint32 alt = f.store->addCard((f.store->addSubject("Alt"), *f.store->subjectId("Alt")), "Äpfel", "x");
        QByteArray lines = "Birnen\tÄPFEL und Birnen\nKirschen\tk\nPflaumen\tp\n";
        for (int i = 0; i < 40; ++i)
            lines += "Wort " + QByteArray::number(i) + "\tw\n";
        QCOMPARE(f.import(f.write("neu.txt", lines)), QString());
        QCOMPARE(f.store->searchBacklog(), 43);
        const qint32 ziel = *f.store->subjectId("Ziel");
        auto found = [&](const QString &text) { return f.store->cardIds(std::nullopt, text, CardOrder::Practice); };
        QCOMPARE(found("äpf").size(), size_t(2)); // one indexed, one waiting
        QCOMPARE(found("äpf").front(), alt);
        // A waiting card changed, deleted and brought back, and a card added behind them.
        const std::vector<qint32> waiting = found("Kirsch");
        QCOMPARE(waiting.size(), size_t(1));
        f.store->editCard(waiting[0], "Quitten", "q");
        const Change gone = f.store->deleteCards(found("Pflaum"));
        f.store->undo(gone);
        const qint32 added = f.store->addCard(ziel, "Zwetschgen", "z");
        QCOMPARE(f.store->searchBacklog(), 44);
        QCOMPARE(found("kirsch").size(), size_t(0));
        QCOMPARE(found("QUITT"), waiting);
        QCOMPARE(f.store->checkInvariants(), QStringList());

        QCOMPARE(f.store->catchUpSearchIndex(30), 14);
        QCOMPARE(f.store->checkInvariants(), QStringList());
        QCOMPARE(f.store->catchUpSearchIndex(30), 0);
        QCOMPARE(found("zwetsch"), std::vector<qint32>{added});
        QCOMPARE(found("pflaum").size(), size_t(1));
        QCOMPARE(rawdb::count(f.store->path(), "SELECT COUNT(*) FROM tblSuche WHERE tblSuche MATCH '\"quitten\"'"), 1);
        QCOMPARE(rawdb::violations(f.store->path()), QStringList());
        // No backlog: a new card goes straight into the index.
        f.store->addCard(ziel, "Mirabellen", "m");
        QCOMPARE(f.store->searchBacklog(), 0);
        QCOMPARE(rawdb::violations(f.store->path()), QStringList());
    }

    // The program catches up by itself once the import is told.
    void indexCatchesUpInTheBackground()
    {
        TestApp app;
        ui::Session &session = app.forms->session();
        QVERIFY(session.ConnectDB(nullptr));
        QByteArray lines;
        for (int i = 0; i < 3 * Store::kSearchIndexStep / 2; ++i)
            lines += "Frage " + QByteArray::number(i) + "\tAntwort\n";
        rawdb::writeBytes(app.dir.filePath("viele.txt"), lines);
        auto file = ImportFile::open(app.dir.filePath("viele.txt"));
        runImport(*file, session.db(), {QStringLiteral("Viele"), true});
        QVERIFY(session.db().searchBacklog() > 0);
        session.tell(Change{}, nullptr);
        QVERIFY(session.searchIndexer().busy());
        QTRY_COMPARE(session.db().searchBacklog(), 0);
        QTRY_VERIFY(!session.searchIndexer().busy());
        QCOMPARE(rawdb::violations(app.dbPath()), QStringList());
    }

    void backupComesFirst()
    {
        QTemporaryDir dir;
        StoreOptions options;
        options.today = [] { return QDate(2026, 3, 1); };
        auto store = Store::open(dir.filePath("Tarlivo.mdb"), options);
        rawdb::writeBytes(dir.filePath("c.txt"), "f\ta\n");
        auto file = ImportFile::open(dir.filePath("c.txt"));
        runImport(*file, *store, {QStringLiteral("Ziel"), true});
        auto backup = Store::open(dir.filePath("Tarlivo-Sicherung-2026-03-01.mdb"), noBackups());
        QCOMPARE(backup->allSubjects(), QStringList());
        QCOMPARE(cardsOf(*store), QStringList{"Ziel|1|f|a"});
    }

    void command_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("target"); // of an export; empty: o.txt (an import: c.txt)
        const int import = CommandRequest::Import, exp = CommandRequest::Export;
        QTest::newRow("import without subject") << import << "" << 1 << "--gebiet"
                                                << "";
        QTest::newRow("import, numeric subject") << import << "42" << 1 << "Zahlen"
                                                 << "";
        QTest::newRow("import") << import << "Neu" << 0 << "1 Frage gespeichert"
                                << "";
        QTest::newRow("import kvtml, its lessons") << import << "" << 0 << "1 Frage mit ihrem Lernstand"
                                                   << "c.kvtml";
        QTest::newRow("import kvtml, numeric subject") << import << "42" << 1 << "Zahlen"
                                                       << "c.kvtml";
        QTest::newRow("import Anki package into a subject") << import << "Neu" << 0 << "1 Frage gespeichert"
                                                            << "c.apkg";
        QTest::newRow("import Anki package, numeric subject") << import << "42" << 1 << "Zahlen"
                                                              << "c.apkg";
        QTest::newRow("export one") << exp << "Alt" << 0 << "1 Frage aus 1 Gebiet"
                                    << "";
        QTest::newRow("export unknown") << exp << "Nix" << 1 << "gibt es nicht"
                                        << "";
        // The reasons in the program's own German words, not the system's.
        QTest::newRow("export into a missing folder") << exp << "Alt" << 1 << "(Datei oder Ordner nicht vorhanden)"
                                                      << "fehlt/o.txt";
        QTest::newRow("export onto a folder") << exp << "Alt" << 1 << "(das ist ein Ordner, keine Datei)"
                                              << "ordner";
    }
    void command()
    {
        QFETCH(int, action);
        QFETCH(QString, subject);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(QString, target);
        Fixture f;
        Seeder{Store::open(f.dir.filePath("Tarlivo.mdb"), noBackups())}.subject("Alt", 1);
        QDir(f.dir.path()).mkdir("ordner");
        if (target.endsWith(".apkg"))
            QVERIFY(ankifiles::package(f.dir.filePath(target), ankifiles::Layout::Anki21, {{"Deck", {"f", "a"}}}));
        const QString file =
            action != CommandRequest::Import || target.endsWith(".apkg")
                ? f.dir.filePath(target.isEmpty() ? "o.txt" : target)
            : target.isEmpty()
                ? f.write("c.txt", "f\ta\n")
                : f.write(target, kvtml2(entry(0, "f", "a", grade(2)), "<container><name>L</name><entry id=\"0\"/>"
                                                                       "</container>"));
        QString out, err;
        QTextStream o(&out), e(&err);
        const CommandRequest request{CommandRequest::Action(action), f.dir.filePath("Tarlivo.mdb"), file, subject};
        QCOMPARE(runCommand(request, o, e), exitCode);
        QVERIFY2((exitCode ? err : out).contains(said), qPrintable(out + err));
        // A subject given takes the card imported, beside the one there before.
        if (action == CommandRequest::Import && exitCode == 0 && !subject.isEmpty())
            QCOMPARE(cardsOf(*Store::open(f.dir.filePath("Tarlivo.mdb"), noBackups())),
                     (QStringList{"Alt|1|F0|A0", subject + "|1|f|a"}));
    }

    void dueReport_data()
    {
        QTest::addColumn<int>("daysLater");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("dataFile");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QString head = "Gebiet\tFällig\tKarten\n";
        QTest::newRow("today") << 0 << "" << true << 0 << head + "Eins\t1\t1\nZwei\t1\t2\n";
        QTest::newRow("a day later") << 1 << "" << true << 0 << head + "Eins\t1\t1\nZwei\t2\t2\n";
        QTest::newRow("one subject") << 0 << "zwei" << true << 0 << head + "Zwei\t1\t2\n";
        QTest::newRow("unknown subject") << 0 << "Nix" << true << 1 << "Das Gebiet „Nix“ gibt es nicht.";
        QTest::newRow("no data file") << 0 << "" << false << 1 << "Die Datendatei";
    }
    void dueReport()
    {
        QFETCH(int, daysLater);
        QFETCH(QString, subject);
        QFETCH(bool, dataFile);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        Fixture f;
        qint64 clock = 1'780'000'000;
        StoreOptions options = noBackups();
        options.now = [&clock] { return clock; };
        {
            Seeder seed{Store::open(f.dir.filePath("Tarlivo.mdb"), options)};
            seed.subject("Zwei", 2);
            seed.subject("Eins", 1);
            seed.subject("Leer");
            seed.store->setCompartment({1}, 2);
        }
        const QString data = f.dir.filePath(dataFile ? "Tarlivo.mdb" : "Fehlt.mdb");
        clock += daysLater * 86400;
        QString out, err;
        QTextStream o(&out), e(&err);
        const CommandRequest request{CommandRequest::Due, data, {}, subject, [&clock] { return clock; }};
        QCOMPARE(runCommand(request, o, e), exitCode);
        if (exitCode == 0)
            QCOMPARE(out, said);
        else
            QVERIFY2(err.contains(said), qPrintable(out + err));
        QCOMPARE(QFileInfo::exists(data), dataFile);
    }

    void commandRefusesAccessFile()
    {
        Fixture f;
        const QString mdb =
            f.write("Alt.mdb", QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(200, 0));
        QString out, err;
        QTextStream o(&out), e(&err);
        QCOMPARE(runCommand({CommandRequest::Import, mdb, f.write("c.txt", "f\ta\n"), "X"}, o, e), 1);
        QVERIFY2(err.contains("starten Sie Tarlivo einmal"), qPrintable(err));
    }

    void importDialog()
    {
        Fixture f;
        ScriptedDialogs dialogs;
        dialogs.fileAnswers << f.write("vokabeln.csv", "a;b\nc;d\nnur\n");
        ui::Session session{dialogs, sessionOn(f.store->path())};
        transferwindows::ImportDialog dialog(connected(session));
        QSignalSpy changed(&dialog, &transferwindows::ImportDialog::cardsChanged);
        QVERIFY(dialog.chooseFile());
        auto *separatorBox = ctl<QComboBox>(dialog, "separatorBox");
        auto *previewTable = ctl<QTableWidget>(dialog, "previewTable");
        auto *importButton = ctl<QPushButton>(dialog, "importButton");
        QCOMPARE(separatorBox->currentText(), QStringLiteral("Semikolon"));
        QCOMPARE(ctl<QComboBox>(dialog, "subjectBox")->currentText(), QStringLiteral("vokabeln"));
        QCOMPARE(previewTable->rowCount(), 2);
        QCOMPARE(previewTable->item(1, 3)->text(), QStringLiteral("vokabeln"));
        // Another separator: one field per line, nothing to import.
        separatorBox->setCurrentIndex(separatorBox->findText("Tabulator"));
        emit separatorBox->activated(separatorBox->currentIndex());
        QCOMPARE(previewTable->rowCount(), 0);
        QVERIFY(!importButton->isEnabled());
        separatorBox->setCurrentIndex(separatorBox->findText("Semikolon"));
        emit separatorBox->activated(separatorBox->currentIndex());

        dialogs.cancelProgressAfter = 1;
        importButton->click();
        QCOMPARE(dialogs.take(), QStringList{"Der Import wurde abgebrochen.\nEs wurde nichts gespeichert."});
        QCOMPARE(cardsOf(*f.store), QStringList());
        dialogs.cancelProgressAfter = -1;
        importButton->click();
        const QStringList shown = dialogs.take();
        QVERIFY(shown.size() == 1 && shown[0].contains("2 Fragen gespeichert")
                && shown[0].contains("1 Zeile abgewiesen"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(cardsOf(*f.store), (QStringList{"vokabeln|1|a|b", "vokabeln|1|c|d"}));

        // The same file again: the count says that nothing new would be stored.
        transferwindows::ImportDialog again(session);
        QVERIFY(again.loadFile(f.dir.filePath("vokabeln.csv")));
        const QString notes = ctl<QPlainTextEdit>(again, "notesView")->toPlainText();
        QVERIFY2(notes.startsWith("2 Fragen, davon 2 schon vorhanden: keine wird importiert."), qPrintable(notes));
        QVERIFY(!ctl<QPushButton>(again, "importButton")->isEnabled());
        ctl<QCheckBox>(again, "skipDuplicatesBox")->setChecked(false);
        QVERIFY(ctl<QPlainTextEdit>(again, "notesView")->toPlainText().startsWith("2 Fragen werden importiert."));
    }

    // A kvtml file brings its lessons; a subject typed takes all cards, a number is refused.
    void importDialogForeign()
    {
        Fixture f;
        ScriptedDialogs dialogs;
        ui::Session session{dialogs, sessionOn(f.store->path())};
        transferwindows::ImportDialog dialog(connected(session));
        QVERIFY(dialog.loadFile(f.write("w.kvtml", kvtml2(entry(0, "f", "a", grade(2)),
                                                          "<container><name>L</name><entry id=\"0\"/></container>"))));
        auto *subjectBox = ctl<QComboBox>(dialog, "subjectBox");
        auto *previewTable = ctl<QTableWidget>(dialog, "previewTable");
        QVERIFY(subjectBox->isEnabled());
        QCOMPARE(previewTable->item(0, 2)->text(), QStringLiteral("3"));
        QCOMPARE(previewTable->item(0, 3)->text(), QStringLiteral("L"));
        subjectBox->setEditText(QStringLiteral("2024"));
        ctl<QPushButton>(dialog, "importButton")->click();
        QVERIFY2(dialogs.take().value(0).contains("2024"), "numeric subject refused");
        subjectBox->setEditText(QStringLiteral("Alles"));
        ctl<QPushButton>(dialog, "importButton")->click();
        QVERIFY2(dialogs.take().value(0).contains("1 Frage mit ihrem Lernstand"), "summary");
        QCOMPARE(cardsOf(*f.store), QStringList{"Alles|3|f|a"});
    }

    // A file refused leaves the window open: a path typed and confirmed is read, an
    // entry refused is counted as an entry, the kind of file shown beside "Art:".
    void importWindowTakesAnotherFile()
    {
        TestApp app;
        app.forms->start();
        const QString oneSided = app.dir.filePath("liste.kvtml");
        rawdb::writeBytes(oneSided, kvtml2("<entry id=\"0\"><translation id=\"0\"><text>Hund</text></translation>"
                                           "</entry>",
                                           ""));
        app.dialogs.fileAnswers << oneSided;
        app.forms->window<app::FrmBackground>().findChild<QAction *>("actImportieren")->trigger();
        QVERIFY2(app.dialogs.take().value(0).contains("fehlt eine Seite"), "one side only");
        QPointer<transferwindows::ImportDialog> dialog = app.forms->tools().find<transferwindows::ImportDialog>();
        QVERIFY(dialog && dialog->isVisible());
        auto *fileEdit = ctl<QLineEdit>(*dialog, "fileEdit");
        QVERIFY(!fileEdit->isReadOnly());
        const QString good = app.dir.filePath("w.kvtml");
        rawdb::writeBytes(good, kvtml2(entry(0, "f", "a") + entry(1, "leer", " "), ""));
        fileEdit->setText(good);
        QTest::keyClick(fileEdit, Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        QCOMPARE(ctl<QTableWidget>(*dialog, "previewTable")->rowCount(), 1);
        QVERIFY(ctl<QPlainTextEdit>(*dialog, "notesView")->toPlainText().contains("1 Eintrag wird nicht übernommen:"));
        auto *kind = ctl<QLabel>(*dialog, "encodingLabel");
        QCOMPARE(kind->text(), QStringLiteral("KWordQuiz oder Parley (kvtml)"));
        auto *form = qobject_cast<QFormLayout *>(dialog->layout()->itemAt(0)->layout());
        QCOMPARE(qobject_cast<QLabel *>(form->labelForField(kind))->text(), QStringLiteral("Art:"));
        QCOMPARE(app.dialogs.take(), QStringList());
    }

    void exportDialog()
    {
        Fixture f;
        Seeder seed{Store::open(f.dir.filePath("Tarlivo.mdb"), noBackups())};
        seed.subject("Eins", 20);
        seed.subject("Zwei", 1);
        ScriptedDialogs dialogs;
        ui::Session session{dialogs, sessionOn(f.store->path())};
        transferwindows::ExportDialog dialog(connected(session));
        auto *subjectBox = ctl<QComboBox>(dialog, "subjectBox");
        QCOMPARE(subjectBox->count(), 3); // Zwei: 1 card of 21, looked up one by one
        subjectBox->setCurrentIndex(2);
        dialogs.fileAnswers << f.dir.filePath("z.txt");
        ctl<QPushButton>(dialog, "exportButton")->click();
        QVERIFY2(dialogs.take().value(0).contains("1 Frage aus 1 Gebiet"), "summary");
        const QString written = QString::fromUtf8(rawdb::readBytes(f.dir.filePath("z.txt")));
        QVERIFY2(QRegularExpression("\nF0\tA0\t1\tZwei\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d\n$")
                     .match(written)
                     .hasMatch(),
                 qPrintable(written));
    }
};

QTEST_MAIN(TestTransfer)
#include "test_transfer.moc"
