// Odd and hostile input through the real windows: huge texts, NUL and control
// characters, emoji, right-to-left text, markup and endless names (compartment
// texts that are no compartment: test_practice). Nothing may crash, be lost, be
// changed or be taken for markup or for a statement.

#include "rawdb.h"
#include "testapp.h"
#include "ui/messages.h"
#include "windows.h"

#include <QClipboard>
#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

QString repeated(const QString &piece, int bytes)
{
    QString s;
    s.reserve(bytes + piece.size());
    while (s.size() < bytes)
        s += piece;
    return s;
}

// Makes the window lay itself out and paint, as the screen would.
void paint(QWidget *w)
{
    const QPixmap shot = w->grab();
    QVERIFY(!shot.isNull());
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private slots:
    void oddCardTextsAreKeptExactlyAndShownPlain_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("a megabyte of words") << repeated(QStringLiteral("Wort ünd Satz. "), 1 << 20);
        QTest::newRow("a megabyte without a break") << QString(1 << 20, QLatin1Char('x'));
        QTest::newRow("a megabyte of lines") << repeated(QStringLiteral("Zeile\n"), 1 << 20);
        QTest::newRow("NUL characters") << QString::fromUtf8("vor\0mitte\0nach", 15);
        QTest::newRow("emoji") << QString::fromUtf8("😀 👍🏽 👨‍👩‍👧 🇩🇪");
        QTest::newRow("right to left") << QString::fromUtf8("שלום עולם – مرحبا بالعالم 123");
        QTest::newRow("control characters")
            << QString::fromUtf8("a\x01\x02\x1b[31mrot\x7f\tb\u202eumgedreht\u200b\ufeff");
        QTest::newRow("markup") << QStringLiteral(
            "<b>fett</b> <img src=\"x\" onerror=\"alert(1)\"> &amp; <script>x</script>");
        QTest::newRow("statement") << QStringLiteral("'); DROP TABLE tblFrageAntwort; -- \" OR \"1\"=\"1");
        QTest::newRow("only spaces") << QStringLiteral("   ");
    }
    void oddCardTextsAreKeptExactlyAndShownPlain()
    {
        QFETCH(QString, text);
        TestApp app;
        app.seed({{QStringLiteral("Allerlei"), 0}});
        Forms &forms = *app.forms;
        forms.start();
        FrmNeu *neu = drive::openEntry(forms, QStringLiteral("Allerlei"));
        QVERIFY(neu);
        drive::type(textBox(neu, "txtFrage"), text);
        drive::type(textBox(neu, "txtAntwort"), text + QStringLiteral("!"));
        // What the boxes hold is what is stored, character for character.
        const QString question = textBox(neu, "txtFrage")->text();
        const QString answer = textBox(neu, "txtAntwort")->text();
        if (question != text)
            qInfo() << "box holds" << question.left(60) << "for" << text.left(60);
        drive::click(button(neu, "cmdUebernahme"));
        QCOMPARE(app.dialogs.take(), QStringList());
        rawdb::State state = rawdb::read(app.dbPath());
        QCOMPARE(int(state.cards.size()), 1);
        const qint64 card = state.cards.begin()->first;
        QVERIFY(state.cards.at(card).question == question);
        QVERIFY(state.cards.at(card).answer == answer);

        // Practice shows it as typed, never as markup, and can paint it.
        drive::click(button(neu, "cmdZumStart"));
        FrmUeb *ueb = drive::openPractice(forms, QStringLiteral("Allerlei"));
        QVERIFY(ueb);
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(label(ueb, "lblFrage")->textFormat(), Qt::PlainText);
        QCOMPARE(label(ueb, "lblAntwort")->textFormat(), Qt::PlainText);
        QVERIFY(label(ueb, "lblFrage")->text() == question);
        QVERIFY(label(ueb, "lblAntwort")->text() == answer);
        paint(ueb);
        drive::click(button(ueb, "cmdAntwort"));
        paint(label(ueb, "lblAntwort"));

        // The edit window takes the texts from the labels; saving them unchanged
        // changes nothing.
        drive::click(button(ueb, "cmdEdit"));
        FrmEdit *edit = drive::edit(forms);
        QVERIFY(edit);
        QVERIFY(textBox(edit, "txtEditFrage")->text() == question);
        QVERIFY(textBox(edit, "txtEditAntwort")->text() == answer);
        drive::click(button(edit, "cmdUebernahme"));
        QCOMPARE(app.dialogs.take(), QStringList());
        state = rawdb::read(app.dbPath());
        QVERIFY(state.cards.at(card).question == question);
        QVERIFY(state.cards.at(card).answer == answer);
        QVERIFY(drive::ueb(forms));
        QVERIFY(label(ueb, "lblFrage")->text() == question);

        drive::click(button(ueb, "cmdRichtig"));
        QCOMPARE(rawdb::read(app.dbPath()).cards.at(card).compartment, 2);
        const QStringList problems = rawdb::violations(app.dbPath());
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1String("; "))));
    }

    // Qt's wrapping at word boundaries needs minutes for a megabyte without a blank;
    // such a word is broken anywhere, and ordinary text wraps at words again.
    void textBoxBreaksAWordTooLongForALineAnywhere()
    {
        TextBox box;
        box.resize(250, 200);
        box.show();
        const QString word(5000, QLatin1Char('x'));
        box.setText(QStringLiteral("kurze Wörter ") + word);
        QCOMPARE(box.wordWrapMode(), QTextOption::WrapAnywhere);
        QCOMPARE(box.text(), QStringLiteral("kurze Wörter ") + word);
        box.setText(QStringLiteral("wieder kurze Wörter"));
        QCOMPARE(box.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        // Pasted, the same.
        QGuiApplication::clipboard()->setText(word);
        box.paste();
        QCOMPARE(box.wordWrapMode(), QTextOption::WrapAnywhere);
        QVERIFY(box.text().contains(word));
        box.setText(QString(1000, QLatin1Char('y')) + QLatin1Char(' ') + QString(1000, QLatin1Char('z')));
        QCOMPARE(box.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    }

    void oddSubjectNamesWorkOnBothRoads_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("renamed");
        QTest::newRow("thousands of characters") << repeated(QStringLiteral("Geschichte "), 5000).trimmed()
                                                 << repeated(QStringLiteral("Erdkunde "), 20000).trimmed();
        QTest::newRow("emoji") << QString::fromUtf8("Chemie 🧪😀") << QString::fromUtf8("Physik ⚛️👨‍🔬");
        QTest::newRow("right to left") << QString::fromUtf8("עברית") << QString::fromUtf8("العربية");
        QTest::newRow("NUL inside") << QString::fromUtf8("Latein\0Vokabeln", 15)
                                    << QString::fromUtf8("Griechisch\0", 11);
        QTest::newRow("control characters") << QString::fromUtf8("Tab\tund\x1b[0m") << QString::fromUtf8("\u202eLinks");
        QTest::newRow("markup") << QStringLiteral("<b>Mathe</b>") << QStringLiteral("<i>Algebra</i> &amp;");
        QTest::newRow("window title placeholder") << QStringLiteral("Notizen [*]") << QStringLiteral("[*]&Access");
        QTest::newRow("quotes and statement")
            << QStringLiteral("Er sagte \"Hallo\"") << QStringLiteral("x\"; DROP TABLE tblGebiet; --");
    }
    void oddSubjectNamesWorkOnBothRoads()
    {
        QFETCH(QString, name);
        QFETCH(QString, renamed);
        TestApp app;
        Forms &forms = *app.forms;
        forms.start();
        FrmGebiete *g = drive::toSubjectsForEntry(forms);
        QVERIFY(g);
        drive::newSubject(g, app.dialogs, name);
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(combo(g, "cmbGebiet")->count(), 1);
        QVERIFY(combo(g, "cmbGebiet")->itemText(0) == name);

        // Taken on the card-entry road: the caption carries it to the stored card.
        drive::click(button(g, "cmdUebernahmeGebiet"));
        FrmNeu *neu = drive::neu(forms);
        QVERIFY(neu);
        QVERIFY(neu->windowTitle() == name);
        drive::storeCard(neu, QStringLiteral("Frage"), QStringLiteral("Antwort"));
        QCOMPARE(app.dialogs.take(), QStringList());
        rawdb::State state = rawdb::read(app.dbPath());
        QCOMPARE(int(state.cards.size()), 1);
        QVERIFY(state.subjects.at(state.cards.begin()->second.subject) == name);

        // Renamed, and practised under the new name.
        drive::click(button(neu, "cmdZurueck"));
        g = drive::gebiete(forms);
        QVERIFY(g);
        drive::renameSubject(g, app.dialogs, name, renamed);
        QCOMPARE(app.dialogs.take(), QStringList());
        state = rawdb::read(app.dbPath());
        QCOMPARE(int(state.subjects.size()), 1);
        QVERIFY(state.subjects.begin()->second == renamed);
        drive::click(button(g, "cmdUebernahmeGebiet"));
        drive::click(button(drive::neu(forms), "cmdZumStart"));
        FrmUeb *ueb = drive::openPractice(forms, renamed);
        QVERIFY(ueb);
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(label(ueb, "lblFrage")->text(), QStringLiteral("Frage"));
        QVERIFY(ueb->windowTitle() == renamed);
        paint(ueb);
        drive::click(button(ueb, "cmdEdit"));
        QVERIFY(drive::edit(forms)->windowTitle() == renamed);
        QVERIFY(rawdb::violations(app.dbPath()).isEmpty());
    }

    // A name typed into the subject window that names no subject, or one without
    // cards on the practice road: told, nothing written, the typed card kept.
    void typedSubjectNamesThatLeadNowhere()
    {
        TestApp app;
        app.seed({{QStringLiteral("Leer"), 0}});
        Forms &forms = *app.forms;
        forms.start();
        const rawdb::State before = rawdb::read(app.dbPath());

        FrmNeu *neu = drive::openEntry(forms, QStringLiteral("Gibt es nicht"));
        QVERIFY(neu);
        drive::storeCard(neu, QStringLiteral("Frage"), QStringLiteral("Antwort"));
        QCOMPARE(app.dialogs.take(), QStringList{text::unknownSubject(QStringLiteral("Gibt es nicht"))});
        QCOMPARE(textBox(neu, "txtFrage")->text(), QStringLiteral("Frage"));
        QCOMPARE(textBox(neu, "txtAntwort")->text(), QStringLiteral("Antwort"));
        drive::click(button(neu, "cmdZurueck"));
        FrmGebiete *g = drive::gebiete(forms);
        QVERIFY(g);
        drive::renameSubject(g, app.dialogs, QStringLiteral("Gibt es nicht"), QStringLiteral("Neu"));
        QCOMPARE(app.dialogs.take(), QStringList{text::unknownSubject(QStringLiteral("Gibt es nicht"))});
        drive::click(button(g, "cmdUebernahmeGebiet"));
        drive::click(button(drive::neu(forms), "cmdZumStart"));

        for (const QString &typed : {QStringLiteral("Leer"), QStringLiteral("Gibt es nicht"), QString()}) {
            FrmUeb *ueb = drive::openPractice(forms, typed);
            QVERIFY(ueb);
            QCOMPARE(app.dialogs.take().size(), 1);
            QCOMPARE(combo(ueb, "cmbFach")->count(), 0);
            for (QAbstractButton *b : {static_cast<QAbstractButton *>(button(ueb, "cmdRichtig")),
                                       static_cast<QAbstractButton *>(button(ueb, "cmdFalsch")),
                                       static_cast<QAbstractButton *>(button(ueb, "cmdFachOk")),
                                       static_cast<QAbstractButton *>(button(ueb, "cmdEdit"))}) {
                drive::click(b);
                QCOMPARE(app.dialogs.take().size(), 1);
            }
            QVERIFY(!drive::edit(forms));
            drive::click(button(ueb, "cmdZumStart"));
        }
        QVERIFY(rawdb::read(app.dbPath()) == before);
    }
};

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
