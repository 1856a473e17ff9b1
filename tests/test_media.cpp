// Pictures and sounds on cards: stored once, gone with their last card and back by
// undo, brought in from Anki packages, written out to them, and shown in practice.

#include "ankifiles.h"
#include "cards/cardlistmodel.h"
#include "cards/cardlistwindow.h"
#include "practice.h"
#include "store/store.h"
#include "storedb.h"
#include "testapp.h"
#include "transfer/exporter.h"
#include "transfer/importer.h"
#include "ui/picture.h"
#include "windows.h"

#include <QBuffer>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

// Sets or removes files of a card as the edit window does, its texts kept.
Change putMedia(Store &store, qint32 card, const std::vector<MediaEdit> &edits)
{
    const std::optional<CardText> text = store.cardText(card);
    return store.editCard(card, text->question, text->answer, edits);
}

// A picture of one colour, as PNG bytes.
QByteArray png(QColor colour, QSize size = QSize(40, 30))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A short mono 8-bit WAV: its header and a few samples.
QByteArray wav(char sample)
{
    const QByteArray data(64, sample);
    QByteArray out("RIFF");
    auto le = [&](quint32 v, int n) {
        for (int i = 0; i < n; ++i)
            out += char(v >> (8 * i));
    };
    le(36 + quint32(data.size()), 4);
    out += "WAVEfmt ";
    for (quint32 v : {16u, 1u, 1u, 8000u, 8000u, 1u, 8u})
        le(v, v == 16u || v == 8000u ? 4 : 2);
    out += "data";
    le(quint32(data.size()), 4);
    return out + data;
}

// PNG bytes whose header claims another size; its checksum made to fit.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray bytes = png(Qt::blue);
    auto put = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char(v >> (24 - 8 * i));
    };
    put(16, width);
    put(20, height);
    quint32 crc = 0xffffffff; // over the chunk's type and data, as PNG checks it
    for (int i = 12; i < 29; ++i) {
        crc ^= quint8(bytes[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320 & (0u - (crc & 1)));
    }
    put(29, ~crc);
    return bytes;
}

// A card's media as "side kind name" and what the bytes say: their hash, or with
// expected bytes by name, a " ?" where they differ.
QStringList mediaOf(Store &store, qint32 card, const QHash<QString, QByteArray> *expected = nullptr)
{
    QStringList out;
    for (CardSide side : {CardSide::Question, CardSide::Answer})
        for (const MediaFile &f : store.cardMedia(card, side)) {
            const QByteArray bytes = store.mediaBytes(f.id);
            out << QStringLiteral("%1 %2 %3")
                           .arg(side == CardSide::Question ? "F" : "A", f.kind == MediaKind::Picture ? "Bild" : "Ton",
                                f.name)
                       + (!expected                          ? QStringLiteral(" %1").arg(qHash(bytes))
                          : expected->value(f.name) != bytes ? QStringLiteral(" ?")
                                                             : QString());
        }
    return out;
}

QStringList mediaAgainst(Store &store, qint32 card, const QHash<QString, QByteArray> &expected)
{
    return mediaOf(store, card, &expected);
}

qint64 files(Store &store)
{
    sql::Statement q(storedb::of(store), "SELECT COUNT(*) FROM tblMedium");
    return q.step() ? q.int64(0) : -1;
}

} // namespace

class TestMedia : public QObject {
    Q_OBJECT

private slots:
    void lastUserAndUndo_data();
    void lastUserAndUndo();
    void ankiImport_data();
    void ankiImport();
    void kvtmlImport_data();
    void kvtmlImport();
    void apkgRoundTrip();
    void pictureInPractice_data();
    void pictureInPractice();
    void editDialog_data();
    void editDialog();
};

void TestMedia::lastUserAndUndo_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<qint64>("filesAfter");
    // Card a: picture p on the question, sound s on the answer; card b: picture p too.
    QTest::newRow("card a deleted: p stays with b") << "delete a" << qint64(1);
    QTest::newRow("both cards deleted") << "delete a b" << qint64(0);
    QTest::newRow("subject deleted") << "delete subject" << qint64(0);
    QTest::newRow("a's picture replaced: p stays with b") << "replace a" << qint64(3);
    QTest::newRow("b's picture removed: p stays with a") << "remove b" << qint64(2);
    QTest::newRow("a's sound removed") << "remove sound" << qint64(1);
    QTest::newRow("same picture on c: stored once") << "picture c" << qint64(2);
}

void TestMedia::lastUserAndUndo()
{
    QFETCH(QString, action);
    QFETCH(qint64, filesAfter);
    QTemporaryDir dir;
    Seeder seed{Store::open(dir.filePath("Tarlivo.mdb"), noBackups())};
    Store &store = *seed.store;
    const qint32 subject = seed.subject("Karten");
    const qint32 a = seed.card(subject, "a", "A");
    const qint32 b = seed.card(subject, "b", "B");
    const qint32 c = seed.card(subject, "c", "C");
    const QByteArray p = png(Qt::red);
    putMedia(store, a,
             {{CardSide::Question, MediaKind::Picture, false, "p.png", p},
              {CardSide::Answer, MediaKind::Sound, false, "s.wav", wav(1)}});
    putMedia(store, b, {{CardSide::Question, MediaKind::Picture, false, "p-kopie.png", p}});
    const QStringList before = mediaOf(store, a) + mediaOf(store, b) + mediaOf(store, c);
    QCOMPARE(files(store), 2);

    Change change;
    if (action == "delete a")
        change = store.deleteCards({a});
    else if (action == "delete a b")
        change = store.deleteCards({a, b});
    else if (action == "delete subject")
        change = store.deleteSubject(subject);
    else if (action == "replace a")
        change =
            store.editCard(a, "a", "A", {{CardSide::Question, MediaKind::Picture, false, "q.png", png(Qt::green)}});
    else if (action == "remove b")
        change = putMedia(store, b, {{CardSide::Question, MediaKind::Picture, true, {}, {}}});
    else if (action == "remove sound")
        change = putMedia(store, a, {{CardSide::Answer, MediaKind::Sound, true, {}, {}}});
    else
        change = putMedia(store, c, {{CardSide::Question, MediaKind::Picture, false, "c.png", p}});
    QCOMPARE(files(store), filesAfter);
    QCOMPARE(store.checkInvariants(), QStringList());

    store.undo(change);
    QCOMPARE(mediaOf(store, a) + mediaOf(store, b) + mediaOf(store, c), before);
    QCOMPARE(store.checkInvariants(), QStringList());
    store.redo(change);
    QCOMPARE(files(store), filesAfter);
    QCOMPARE(store.checkInvariants(), QStringList());
}

void TestMedia::ankiImport_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("inPackage"); // file names; each file's bytes are a picture of its own
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("stored"); // side kind name
    QTest::addColumn<qint64>("dropped");
    const int anki2 = int(ankifiles::Layout::Anki2);
    const int anki21b = int(ankifiles::Layout::Anki21b);
    QTest::newRow("picture below the question")
        << anki2 << QStringList{"Haus<br><img src=\"haus.png\">", "house"} << QStringList{"haus.png"}
        << QStringList{"Haus", "house"} << QStringList{"F Bild haus.png"} << qint64(0);
    QTest::newRow("sound on the answer") << anki2 << QStringList{"Hund", "dog<br>[sound:hund.wav]"}
                                         << QStringList{"hund.wav"} << QStringList{"Hund", "dog"}
                                         << QStringList{"A Ton hund.wav"} << qint64(0);
    QTest::newRow("picture alone is a question")
        << anki2 << QStringList{"<img src='karte.png'>", "Frankreich"} << QStringList{"karte.png"}
        << QStringList{"", "Frankreich"} << QStringList{"F Bild karte.png"} << qint64(0);
    QTest::newRow("missing file counted, card kept")
        << anki2 << QStringList{"Katze<img src=\"fehlt.png\">", "cat"} << QStringList{} << QStringList{"Katze", "cat"}
        << QStringList{} << qint64(1);
    QTest::newRow("second picture of a side counted")
        << anki2 << QStringList{"<img src=\"a.png\"><img src=\"b.png\">x", "y"} << QStringList{"a.png", "b.png"}
        << QStringList{"x", "y"} << QStringList{"F Bild a.png"} << qint64(1);
    QTest::newRow("entity in the name") << anki2 << QStringList{"<img src=\"a&amp;b.png\">z", "w"}
                                        << QStringList{"a&b.png"} << QStringList{"z", "w"}
                                        << QStringList{"F Bild a&b.png"} << qint64(0);
    QTest::newRow("newest layout: protobuf map, packed files")
        << anki21b << QStringList{"Baum<img src=\"baum.jpg\">", "tree [sound:baum.mp3]"}
        << QStringList{"baum.jpg", "baum.mp3"} << QStringList{"Baum", "tree"}
        << QStringList{"F Bild baum.jpg", "A Ton baum.mp3"} << qint64(0);
}

void TestMedia::ankiImport()
{
    QFETCH(int, layout);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, inPackage);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, stored);
    QFETCH(qint64, dropped);
    QTemporaryDir dir;
    QList<QPair<QString, QByteArray>> packed;
    QHash<QString, QByteArray> bytesOf;
    for (int i = 0; i < inPackage.size(); ++i) {
        packed << qMakePair(inPackage[i], png(QColor::fromHsv(40 * i, 255, 255)));
        bytesOf.insert(inPackage[i], packed.back().second);
    }
    const QString path = dir.filePath("paket.apkg");
    QVERIFY(ankifiles::packageWithMedia(path, ankifiles::Layout(layout), {{"Stapel", fields}}, packed));
    auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
    auto file = transfer::ImportFile::open(path);
    const transfer::ImportSummary summary = transfer::runImport(*file, *store, {});
    QCOMPARE(summary.cardsStored, 1);
    QCOMPARE(summary.mediaDropped, dropped);
    const CardListRow row = store->cardPage(std::nullopt, 0, 1, false).front();
    QCOMPARE(QStringList({row.card.question, row.card.answer}), texts);
    QCOMPARE(mediaAgainst(*store, row.card.id, bytesOf), stored);
}

void TestMedia::kvtmlImport_data()
{
    QTest::addColumn<QString>("question"); // a translation's inner XML
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("stored"); // side kind name
    QTest::addColumn<qint64>("dropped");
    QTest::newRow("picture beside the file") << "<text>Haus</text><image>bilder/haus.png</image>"
                                             << "<text>house</text>" << QStringList{"F Bild haus.png"} << qint64(0);
    QTest::newRow("sound by file URL, answer without text")
        << "<text>Hund</text>"
        << "<sound>file://DIR/bilder/hund.wav</sound>" << QStringList{"A Ton hund.wav"} << qint64(0);
    QTest::newRow("missing file counted, card kept") << "<text>Katze</text><image>fehlt.png</image>"
                                                     << "<text>cat</text>" << QStringList{} << qint64(1);
    QTest::newRow("picture named as a sound counted") << "<text>Baum</text><sound>bilder/haus.png</sound>"
                                                      << "<text>tree</text>" << QStringList{} << qint64(1);
}

void TestMedia::kvtmlImport()
{
    QFETCH(QString, question);
    QFETCH(QString, answer);
    QFETCH(QStringList, stored);
    QFETCH(qint64, dropped);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("bilder"));
    const QHash<QString, QByteArray> bytesOf{{"haus.png", png(Qt::red)}, {"hund.wav", wav(7)}};
    for (auto it = bytesOf.begin(); it != bytesOf.end(); ++it) {
        QFile f(dir.filePath("bilder/" + it.key()));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(it.value()) == it.value().size());
    }
    const QString path = dir.filePath("vokabeln.kvtml");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kvtml version=\"2.0\"><entries>"
                           "<entry id=\"0\"><translation id=\"0\">%1</translation>"
                           "<translation id=\"1\">%2</translation></entry></entries></kvtml>")
                .arg(question, answer)
                .replace(QLatin1String("DIR"), dir.path())
                .toUtf8());
    f.close();
    auto store = Store::open(dir.filePath("Tarlivo.mdb"), noBackups());
    auto file = transfer::ImportFile::open(path);
    const transfer::ImportSummary summary = transfer::runImport(*file, *store, {});
    QCOMPARE(summary.cardsStored, 1);
    QCOMPARE(summary.mediaDropped, dropped);
    const CardListRow row = store->cardPage(std::nullopt, 0, 1, false).front();
    QCOMPARE(mediaAgainst(*store, row.card.id, bytesOf), stored);
}

void TestMedia::apkgRoundTrip()
{
    QTemporaryDir dir;
    Seeder seed{Store::open(dir.filePath("Tarlivo.mdb"), noBackups())};
    Store &store = *seed.store;
    const qint32 erdkunde = seed.subject("Erdkunde");
    const qint32 tiere = seed.subject("Tiere & <Pflanzen>");
    const qint32 karte = seed.card(erdkunde, "", "Frankreich", 3);
    const qint32 hund = seed.card(tiere, "Hund\n[sound:kein Verweis]", "dog");
    const qint32 katze = seed.card(tiere, "Katze", "cat", 2);
    putMedia(store, karte, {{CardSide::Question, MediaKind::Picture, false, "karte.png", png(Qt::red)}});
    putMedia(store, hund,
             {{CardSide::Answer, MediaKind::Sound, false, "hund.wav", wav(5)},
              {CardSide::Question, MediaKind::Picture, false, "hund.png", png(Qt::green)}});
    // Another content under the same name: both go into the package.
    putMedia(store, katze, {{CardSide::Question, MediaKind::Picture, false, "hund.png", png(Qt::blue)}});
    const QString path = dir.filePath("export.apkg");
    QCOMPARE(transfer::exportCards(store, path).cards, 3);

    auto back = Store::open(dir.filePath("Zurück.mdb"), noBackups());
    auto file = transfer::ImportFile::open(path);
    const transfer::ImportSummary summary = transfer::runImport(*file, *back, {});
    QCOMPARE(summary.mediaDropped, 0);
    QCOMPARE(back->allSubjects(), store.allSubjects());
    auto cards = [](Store &s) {
        QStringList out;
        for (const CardListRow &row : s.cardPage(std::nullopt, 0, 100, false)) {
            QStringList media;
            for (CardSide side : {CardSide::Question, CardSide::Answer})
                for (const MediaFile &f : s.cardMedia(row.card.id, side))
                    media << QString::number(int(side)) + QString::number(int(f.kind))
                                 + QString::number(qHash(s.mediaBytes(f.id)));
            out << QStringList{row.subject, row.card.question, row.card.answer, QString::number(row.card.compartment),
                               media.join(' ')}
                       .join('|');
        }
        out.sort();
        return out;
    };
    QCOMPARE(cards(*back), cards(store));
}

void TestMedia::pictureInPractice_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("painted");
    const QByteArray good = png(Qt::red, QSize(600, 400));
    QTest::newRow("picture larger than the label") << good << true;
    QTest::newRow("cut in half") << good.left(good.size() / 2) << false;
    QTest::newRow("claims 100000 x 100000 pixels") << pngClaiming(100000, 100000) << false;
    QTest::newRow("claims 5000 x 5000 pixels") << pngClaiming(5000, 5000) << false;
    QTest::newRow("no picture at all") << QByteArray("GIF89a nothing") << false;
    QTest::newRow("more than 20 MB") << good + QByteArray(21 * 1024 * 1024, '\0') << false;
}

void TestMedia::pictureInPractice()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, painted);
    PracticeApp app;
    const qint32 subject = app.subject("Karten");
    const qint32 card = app.card(subject, "Welches Land?", "Frankreich");
    putMedia(*app.store, card, {{CardSide::Question, MediaKind::Picture, false, "bild.png", bytes}});
    windows::FrmUeb &ueb = app.startPractice("Karten");
    ui::Label *question = drive::label(ueb, "lblFrage");
    // The designed rectangle: 360, 480, 3735 x 3015 twips.
    const QRect designed(24, 32, 249, 201);
    QCOMPARE(question->geometry(), designed);
    QCOMPARE(question->text(), QStringLiteral("Welches Land?"));
    QCOMPARE(ueb.shownCard(), std::optional<qint32>(card));
    const QImage shown = question->grab().toImage();
    int red = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            red += shown.pixelColor(x, y) == QColor(Qt::red);
    QCOMPARE(red > 0, painted);
    QVERIFY(question->picture().width() <= designed.width() && question->picture().height() <= designed.height());
    QCOMPARE(question->geometry(), designed);
    QCOMPARE(app.store->cardText(card)->question, QStringLiteral("Welches Land?"));
}

void TestMedia::editDialog_data()
{
    QTest::addColumn<QString>("file"); // chosen for the question's picture; empty: the chooser cancelled
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("message"); // the start of the one message shown, or none
    QTest::newRow("picture on a side without text") << "karte.png"
                                                    << "" << QStringList{"F Bild karte.png"} << "";
    QTest::newRow("file of no known kind") << "liste.txt"
                                           << "Land?" << QStringList{} << "„liste.txt“ ist weder";
    QTest::newRow("picture that does not decode") << "kaputt.png"
                                                  << "Land?" << QStringList{} << "„kaputt.png“ lässt";
    QTest::newRow("neither text nor picture") << ""
                                              << "" << QStringList{} << "Fehlende Eingabe!";
}

void TestMedia::editDialog()
{
    QFETCH(QString, file);
    QFETCH(QString, question);
    QFETCH(QStringList, stored);
    QFETCH(QString, message);
    QTemporaryDir dir;
    Seeder seed{Store::open(dir.filePath("Tarlivo.mdb"), noBackups())};
    const qint32 card = seed.card(seed.subject("Erdkunde"), "Land?", "Frankreich");
    const QByteArray picture = png(Qt::red);
    rawdb::writeBytes(dir.filePath("karte.png"), picture);
    rawdb::writeBytes(dir.filePath("kaputt.png"), picture.left(20));
    rawdb::writeBytes(dir.filePath("liste.txt"), "Land\tFrankreich\n");
    ScriptedDialogs dialogs;
    ui::Session session{dialogs, sessionOn(seed.store->path())};
    windows::CardListWindow window{connected(session)};
    auto *table = window.findChild<QTableView *>("tblKarten");
    table->setCurrentIndex(window.model().index(0, 0));
    if (!file.isEmpty())
        dialogs.fileAnswers << dir.filePath(file);
    dialogs.dialogAnswers << [&](QDialog &d) {
        d.findChild<QPushButton *>("cmdBildWaehlenFrage")->click();
        d.findChild<QPlainTextEdit *>("txtFrage")->setPlainText(question);
        d.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    };
    window.editSelected();
    QCOMPARE(dialogs.messages.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QVERIFY2(dialogs.messages.front().startsWith(message), qPrintable(dialogs.messages.front()));
    QStringList found;
    for (const MediaFile &f : seed.store->cardMedia(card, CardSide::Question))
        found << "F Bild " + f.name;
    QCOMPARE(found, stored);
    QCOMPARE(window.model().hasMedia(0), !stored.isEmpty());
    QCOMPARE(seed.store->cardText(card)->question, stored.isEmpty() ? QStringLiteral("Land?") : question);
}

QTEST_MAIN(TestMedia)
#include "test_media.moc"
