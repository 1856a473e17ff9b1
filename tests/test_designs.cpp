#include "app/frmbackground.h"
#include "testapp.h"
#include "ui/form.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <map>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

// The designs as drawn, in twips; a pixel is 15 twips, rounded to the nearest.
int px(int twips) { return qRound(twips / 15.0); }

enum Extra : unsigned { None = 0, Centred = 1, Wrap = 2, BigTitle = 4 };

struct ExpectedControl {
    const char *name;
    const char *cls; // the Qt class the kind maps to
    const char *text;
    int left, top, width, height;
    int tabIndex;
    bool visible;
    const char *accessKey = ""; // e.g. "Alt+Ü"; empty: none
    const char *accessibleName = nullptr;
    unsigned extra = None;
};

struct ExpectedWindow {
    Form &(*make)(Forms &);
    const char *caption;
    int width, height; // client area
    bool maximised;
    QColor background; // invalid: the platform's standard
    std::vector<ExpectedControl> controls;
    const char *firstFocus;
};

const char *const Btn = "QPushButton";
const char *const Lbl = "QLabel";
const char *const Txt = "QPlainTextEdit";
const char *const Cmb = "QComboBox";

std::vector<ExpectedWindow> designs()
{
    return {
        {[](Forms &f) -> Form & { return f.window<FrmWelcome>(); },
         "Velmorin - Solvendo - Tarlivo 2.0",
         6735,
         4695,
         false,
         QColor(),
         {
             {"cmdEnd", Btn, "&Ende", 600, 3240, 5535, 495, 3, true, "Alt+E"},
             {"cmdUeben", Btn, "&Übung starten", 3600, 2160, 2295, 495, 2, true, "Alt+Ü"},
             {"cmdNeu", Btn, "&Neue Fragen + Antworten", 840, 2160, 2295, 495, 1, true, "Alt+N"},
             {"Label1", Lbl, "Tarlivo", 1200, 960, 4335, 495, 0, true, "", nullptr, Centred | BigTitle},
         },
         "cmdNeu"},
        {[](Forms &f) -> Form & { return f.window<FrmBackground>(); },
         "",
         4680,
         3090,
         true,
         QColor(0xFF, 0xFF, 0xC0),
         {},
         nullptr},
        {[](Forms &f) -> Form & { return f.window<FrmGebiete>(); },
         "Gebiete",
         8655,
         3600,
         false,
         QColor(),
         {
             {"cmdGebietEdit", Btn, "Gebietsname &editieren", 480, 2160, 7695, 735, 3, true, "Alt+E"},
             {"cmdUebernahmeGebiet", Btn, "Gebiet &übernehmen", 480, 1080, 3615, 735, 2, true, "Alt+Ü"},
             {"cmdGebietNeu", Btn, "&Neues Gebiet", 4560, 1080, 3615, 735, 1, true, "Alt+N"},
             {"cmbGebiet", Cmb, "", 480, 360, 7695, 315, 0, true, "", "Gebiet"},
         },
         "cmbGebiet"},
        {[](Forms &f) -> Form & { return f.window<FrmNeu>(); },
         "Anlegen neuer Fragen und Antworten",
         8670,
         6030,
         false,
         QColor(),
         {
             {"cmdZumStart", Btn, "Zum &Start", 2400, 5040, 1695, 495, 7, true, "Alt+S"},
             {"cmdZurueck", Btn, "&Zurück", 360, 5040, 1695, 495, 6, true, "Alt+Z"},
             {"cmdUebernahme", Btn, "&Übernehmen", 4560, 5040, 3735, 495, 2, false, "Alt+Ü"},
             {"txtAntwort", Txt, "", 4560, 1680, 3735, 3015, 1, false, "", "Antwort"},
             {"txtFrage", Txt, "", 360, 1680, 3735, 3015, 0, true, "", "Frage"},
             {"lblAntwort", Lbl, "Antwort", 4680, 1200, 1095, 255, 5, false},
             {"lblFrage", Lbl, "Frage", 480, 1200, 1095, 255, 4, true},
         },
         "txtFrage"},
        {[](Forms &f) -> Form & { return f.window<FrmUeb>(); },
         "Übung",
         10110,
         6390,
         false,
         QColor(),
         {
             {"cmdFrage", Btn, "<<<<<", 4560, 2280, 915, 615, 12, true},
             {"cmdZumStart", Btn, "Zum &Start", 7080, 5520, 2775, 375, 11, true, "Alt+S"},
             {"cmdEdit", Btn, "&Edit", 7080, 4560, 2775, 375, 10, true, "Alt+E"},
             {"cmdFachOk", Btn, "&Übernehmen", 240, 5520, 2535, 375, 9, true, "Alt+Ü"},
             {"cmbFach", Cmb, "", 240, 5160, 2535, 315, 7, true, "", "Fach-Auswahl"},
             {"cmdNeuGebiet", Btn, "&Gebietsauswahl", 7080, 5040, 2775, 375, 6, true, "Alt+G"},
             {"cmdFalsch", Btn, "Falsch", 5520, 4440, 1000, 495, 5, true},
             {"cmdFastRichtig", Btn, "Fast Richtig", 3600, 4440, 1000, 495, 4, true},
             {"cmdRichtig", Btn, "Richtig", 4560, 3720, 1000, 495, 3, true},
             {"cmdAntwort", Btn, ">>>>>", 4560, 1080, 915, 615, 2, true},
             {"Label1", Lbl, "Fach-Auswahl", 240, 4920, 2535, 255, 8, true, "", nullptr, Centred},
             {"lblAntwort", Lbl, "", 6000, 480, 3735, 3015, 1, true, "", nullptr, Wrap},
             {"lblFrage", Lbl, "", 360, 480, 3735, 3015, 0, true, "", nullptr, Wrap},
         },
         "cmdAntwort"},
        {[](Forms &f) -> Form & { return f.window<FrmEdit>(); },
         "Edit",
         8550,
         5655,
         false,
         QColor(),
         {
             {"cmdÜbernahme", Btn, "&Übernehmen", 360, 4320, 7815, 615, 4, true, "Alt+Ü"},
             {"txtEditAntwort", Txt, "Text1", 4440, 1080, 3735, 3015, 1, true, "", "Antwort"},
             {"txtEditFrage", Txt, "Text1", 360, 1080, 3735, 3015, 0, true, "", "Frage"},
             {"Label2", Lbl, "Antwort", 4560, 720, 1095, 255, 3, true},
             {"Label1", Lbl, "Frage", 480, 720, 1095, 255, 2, true},
         },
         "txtEditFrage"},
    };
}

QString nameOf(const QWidget *w) { return w ? w->objectName() : QStringLiteral("<none>"); }

// The focus path the Tab key takes from the window's current focus, once round.
QStringList tabCycle(Form &form, int steps)
{
    QStringList visited{nameOf(form.focusWidget())};
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(form.focusWidget(), Qt::Key_Tab);
        visited << nameOf(form.focusWidget());
    }
    return visited;
}

} // namespace

Q_DECLARE_METATYPE(ExpectedWindow)

class TestDesigns : public QObject {
    Q_OBJECT

private slots:
    void windowIsBuiltAsDesigned_data()
    {
        QTest::addColumn<ExpectedWindow>("expected");
        const char *names[] = {"frmWelcome", "frmBackground", "frmGebiete", "frmNeu", "frmUeb", "frmEdit"};
        int i = 0;
        for (const ExpectedWindow &expected : designs())
            QTest::newRow(names[i++]) << expected;
    }

    void windowIsBuiltAsDesigned()
    {
        QFETCH(ExpectedWindow, expected);
        const QString windowName = QString::fromUtf8(QTest::currentDataTag());
        TestApp app;
        Form &form = expected.make(*app.forms);

        // As created.
        QCOMPARE(form.objectName(), windowName);
        if (*expected.caption)
            QCOMPARE(form.windowTitle(), QString::fromUtf8(expected.caption));
        else // an empty title would be filled with the program's name
            QVERIFY(!form.windowTitle().isEmpty() && form.windowTitle().trimmed().isEmpty());
        QCOMPARE(form.size(), QSize(px(expected.width), px(expected.height)));
        if (expected.background.isValid()) {
            QVERIFY(form.autoFillBackground());
            QCOMPARE(form.palette().color(QPalette::Window), expected.background);
        } else {
            QCOMPARE(form.palette().color(QPalette::Window), QApplication::palette(&form).color(QPalette::Window));
        }
        QList<QWidget *> children = form.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        // The backdrop carries the menu bar of the functions beyond the designs, and
        // the status line of what is due.
        children.removeIf(
            [](QWidget *w) { return w->inherits("QMenuBar") || w->objectName() == QLatin1String("lblFaellig"); });
        QCOMPARE(children.size(), int(expected.controls.size()));

        std::map<QString, QString> accessKeys; // key -> control, to find two sharing one
        for (const ExpectedControl &c : expected.controls) {
            const QString name = QString::fromUtf8(c.name);
            QWidget *w = drive::find<QWidget>(&form, c.name);
            QVERIFY2(w, qPrintable(name));
            QVERIFY2(w->inherits(c.cls), qPrintable(name + " is a " + w->metaObject()->className()));
            QCOMPARE(w->geometry(), QRect(px(c.left), px(c.top), px(c.width), px(c.height)));
            QVERIFY2(w->isHidden() != c.visible, qPrintable(name));
            QCOMPARE(w->accessibleName(), QString::fromUtf8(c.accessibleName ? c.accessibleName : ""));
            const QString text = QString::fromUtf8(c.text);
            if (auto *button = qobject_cast<QPushButton *>(w)) {
                QCOMPARE(button->text(), text);
                QVERIFY(!button->autoDefault() && !button->isDefault());
                QCOMPARE(QKeySequence::mnemonic(text).toString(), QString::fromUtf8(c.accessKey));
                if (*c.accessKey) {
                    QVERIFY2(!accessKeys.count(c.accessKey), qPrintable(c.accessKey + (" twice: " + name)));
                    accessKeys[c.accessKey] = name;
                }
            } else if (auto *label = qobject_cast<QLabel *>(w)) {
                QCOMPARE(label->text(), text);
                QCOMPARE(label->textFormat(), Qt::PlainText);
                QCOMPARE(label->wordWrap(), bool(c.extra & Wrap));
                QCOMPARE(bool(label->alignment() & Qt::AlignHCenter), bool(c.extra & Centred));
                QCOMPARE(label->focusPolicy(), Qt::NoFocus);
                if (c.extra & BigTitle) {
                    QCOMPARE(label->font().pointSize(), 24);
                    QCOMPARE(label->font().weight(), QFont::Normal);
                    QVERIFY(!label->font().italic() && !label->font().underline() && !label->font().strikeOut());
                }
            } else if (auto *box = qobject_cast<QPlainTextEdit *>(w)) {
                QCOMPARE(box->toPlainText(), text);
                // A text longer than the box scrolls with a bar shown only then.
                QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
                QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
                QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
                QVERIFY(box->tabChangesFocus());
                QVERIFY(!box->isReadOnly());
            } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
                QCOMPARE(combo->currentText(), text);
                QCOMPARE(combo->count(), 0);
                QVERIFY(combo->isEditable());
                QCOMPARE(combo->insertPolicy(), QComboBox::NoInsert);
                QVERIFY(!combo->completer());
            }
        }

        // Shown for the first time: placed as designed, the focus on its first control.
        form.showForm();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        if (expected.maximised) {
            QVERIFY(form.isMaximized());
            QVERIFY(form.frameGeometry().contains(screen));
        } else {
            QCOMPARE(form.size(), QSize(px(expected.width), px(expected.height)));
            const QPoint offCentre = form.frameGeometry().center() - screen.center();
            QVERIFY2(offCentre.manhattanLength() <= 1,
                     qPrintable(QStringLiteral("frame %1,%2 off centre").arg(offCentre.x()).arg(offCentre.y())));
        }
        if (expected.controls.empty())
            return;
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(nameOf(QApplication::focusWidget()), QString::fromUtf8(expected.firstFocus));

        // Tab visits the controls that can take the focus in ascending tab index,
        // skipping labels and hidden controls, and comes back round.
        auto cycle = [&](bool onlyVisibleAtCreation) {
            std::vector<const ExpectedControl *> order;
            for (const ExpectedControl &c : expected.controls)
                if (std::strcmp(c.cls, Lbl) != 0 && (c.visible || !onlyVisibleAtCreation))
                    order.push_back(&c);
            std::sort(order.begin(), order.end(),
                      [](const ExpectedControl *a, const ExpectedControl *b) { return a->tabIndex < b->tabIndex; });
            QStringList names;
            for (const ExpectedControl *c : order)
                names << QString::fromUtf8(c->name);
            names << names.first();
            return names;
        };
        const QStringList asCreated = cycle(true);
        QCOMPARE(tabCycle(form, int(asCreated.size()) - 1), asCreated);

        // Everything revealed: the full cycle, and every access key presses its button.
        for (const ExpectedControl &c : expected.controls)
            drive::find<QWidget>(&form, c.name)->setVisible(true);
        drive::find<QWidget>(&form, expected.firstFocus)->setFocus();
        const QStringList full = cycle(false);
        QCOMPARE(tabCycle(form, int(full.size()) - 1), full);
        for (const auto &[key, name] : accessKeys) {
            auto *button = drive::find<QPushButton>(&form, name.toUtf8().constData());
            // pressed comes at once; clicked (and with it the handler) would follow later.
            QSignalSpy pressed(button, &QAbstractButton::pressed);
            const QKeySequence sequence(key);
            QTest::keyClick(&form, Qt::Key(sequence[0].key()), sequence[0].keyboardModifiers());
            QVERIFY2(pressed.count() == 1, qPrintable(key + " does not press " + name));
        }
    }

    void practiceTabCycleSkipsTheLabels()
    {
        // The cycle as the practice window's design spells it out.
        TestApp app;
        FrmUeb &ueb = app.forms->window<FrmUeb>();
        ueb.showForm();
        QVERIFY(QTest::qWaitForWindowActive(&ueb));
        QCOMPARE(tabCycle(ueb, 10),
                 (QStringList{"cmdAntwort", "cmdRichtig", "cmdFastRichtig", "cmdFalsch", "cmdNeuGebiet", "cmbFach",
                              "cmdFachOk", "cmdEdit", "cmdZumStart", "cmdFrage", "cmdAntwort"}));
    }

    void hiddenButtonsIgnoreTheirAccessKeys()
    {
        TestApp app;
        app.seed({{"Mathe", 1}});
        app.forms->start();
        FrmGebiete *gebiete = drive::toSubjectsForPractice(*app.forms);
        QVERIFY(QTest::qWaitForWindowActive(gebiete));
        QSignalSpy neu(button(gebiete, "cmdGebietNeu"), &QAbstractButton::pressed);
        QSignalSpy edit(button(gebiete, "cmdGebietEdit"), &QAbstractButton::pressed);
        QTest::keyClick(gebiete, Qt::Key_N, Qt::AltModifier);
        QTest::keyClick(gebiete, Qt::Key_E, Qt::AltModifier);
        QCOMPARE(neu.count() + edit.count(), 0);

        // Nothing typed yet: "&Übernehmen" is hidden and stores no empty card.
        gebiete->close();
        FrmNeu &entry = app.startEntry("Mathe");
        QVERIFY(QTest::qWaitForWindowActive(&entry));
        QSignalSpy store(button(entry, "cmdUebernahme"), &QAbstractButton::pressed);
        QTest::keyClick(&entry, Qt::Key_Udiaeresis, Qt::AltModifier);
        QCOMPARE(store.count(), 0);
    }

    // Alt+Ü with "&Übernehmen" hidden used to type "ü" into the question.
    void altWithAKeyNeverTypes_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("typed");
        QTest::newRow("Alt+Ü, its button hidden") << int(Qt::Key_Udiaeresis) << int(Qt::AltModifier) << "ü"
                                                  << "";
        QTest::newRow("Alt+Umschalt+A") << int(Qt::Key_A) << int(Qt::AltModifier | Qt::ShiftModifier) << "A"
                                        << "";
        QTest::newRow("AltGr+Q") << int(Qt::Key_At) << int(Qt::GroupSwitchModifier) << "@"
                                 << "@";
        QTest::newRow("AltGr as Strg+Alt") << int(Qt::Key_At) << int(Qt::ControlModifier | Qt::AltModifier) << "@"
                                           << "@";
        QTest::newRow("plain key") << int(Qt::Key_Udiaeresis) << int(Qt::NoModifier) << "ü"
                                   << "ü";
    }

    void altWithAKeyNeverTypes()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(QString, typed);
        TestApp app;
        app.seed({{"Mathe", 0}});
        app.forms->start();
        FrmNeu &entry = app.startEntry("Mathe");
        QVERIFY(QTest::qWaitForWindowActive(&entry));
        TextBox *question = textBox(entry, "txtFrage");
        question->setFocus();
        QSignalSpy typedSpy(question, &TextBox::characterTyped);
        // As a keyboard sends it, with its text (QTest leaves that out for Alt).
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QApplication::sendEvent(question, &press);
        QCOMPARE(question->text(), typed);
        QCOMPARE(typedSpy.count(), typed.isEmpty() ? 0 : 1);
    }

    void textBoxesTakeLinesAndPassTheFocusOn_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("next");
        QTest::newRow("txtFrage") << "frmNeu"
                                  << "txtFrage"
                                  << "txtAntwort";
        QTest::newRow("txtAntwort") << "frmNeu"
                                    << "txtAntwort"
                                    << "cmdUebernahme";
        QTest::newRow("txtEditFrage") << "frmEdit"
                                      << "txtEditFrage"
                                      << "txtEditAntwort";
        QTest::newRow("txtEditAntwort") << "frmEdit"
                                        << "txtEditAntwort"
                                        << "cmdÜbernahme";
    }

    void textBoxesTakeLinesAndPassTheFocusOn()
    {
        QFETCH(QString, window);
        QFETCH(QString, box);
        QFETCH(QString, next);
        TestApp app;
        Form &form =
            window == "frmNeu" ? static_cast<Form &>(app.forms->window<FrmNeu>()) : app.forms->window<FrmEdit>();
        for (QWidget *w : form.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            w->setVisible(true);
        form.showForm();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto *text = drive::find<TextBox>(&form, box.toUtf8().constData());
        text->setText(QString());
        text->setFocus();
        QTest::keyClicks(text, "erste Zeile");
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClicks(text, "zweite");
        QTest::keyClick(text, Qt::Key_Enter); // the keypad's Enter too
        QTest::keyClicks(text, "dritte");
        QCOMPARE(text->text(), QString("erste Zeile\nzweite\ndritte"));
        QTest::keyClick(text, Qt::Key_Tab);
        QCOMPARE(text->text(), QString("erste Zeile\nzweite\ndritte"));
        QCOMPARE(nameOf(QApplication::focusWidget()), next);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(nameOf(QApplication::focusWidget()), box);
        QVERIFY(!text->text().contains('\t'));
    }

    void listBoxNeverAddsTypedTextNorCompletes()
    {
        TestApp app;
        FrmGebiete &gebiete = app.forms->window<FrmGebiete>();
        combo(gebiete, "cmbGebiet")->addItems({"Zebra", "Apfel"});
        gebiete.showForm();
        QVERIFY(QTest::qWaitForWindowActive(&gebiete));
        combo(gebiete, "cmbGebiet")->setEditText(QString());
        QTest::keyClicks(combo(gebiete, "cmbGebiet"), "Ap");
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), QString("Ap")); // not completed to "Apfel"
        QTest::keyClick(combo(gebiete, "cmbGebiet"), Qt::Key_Return);
        QCOMPARE(combo(gebiete, "cmbGebiet")->count(), 2);
        QCOMPARE(combo(gebiete, "cmbGebiet")->itemText(0), QString("Zebra")); // never sorted
        QCOMPARE(combo(gebiete, "cmbGebiet")->currentText(), QString("Ap"));
    }
};

QTEST_MAIN(TestDesigns)
#include "test_designs.moc"
