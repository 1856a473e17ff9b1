// Undo and redo as the windows show them: the backdrop's menu entries, the
// practice window's keys, a second copy at work on the same file.

#include "practice.h"
#include "ui/messages.h"

#include <QAction>
#include <QLineEdit>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

QAction *action(TestApp &app, const char *name)
{
    return app.forms->window<FrmBackground>().findChild<QAction *>(QString::fromLatin1(name));
}

qint64 logRows(const TestApp &app)
{
    rawdb::Connection db(app.dbPath());
    return db.rows("SELECT COUNT(*) FROM tblUebung").front().value(0).toLongLong();
}

// The practice window on the first card of "Mathe", active so that its keys reach it.
FrmUeb &practising(PracticeApp &app)
{
    app.subject(QStringLiteral("Mathe"), 2);
    FrmUeb &ueb = app.startPractice(QStringLiteral("Mathe"));
    ueb.activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(&ueb)); }();
    return ueb;
}

} // namespace

class TestUndoWindows : public QObject {
    Q_OBJECT

private slots:
    void verdictByKeyComesBackOnUndo_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("step");
        QTest::newRow("1 Falsch") << int(Qt::Key_1) << QStringLiteral("Falsch für „F0“");
        QTest::newRow("2 Fast Richtig") << int(Qt::Key_2) << QStringLiteral("Fast Richtig für „F0“");
        QTest::newRow("3 Richtig") << int(Qt::Key_3) << QStringLiteral("Richtig für „F0“");
    }

    void verdictByKeyComesBackOnUndo()
    {
        QFETCH(int, key);
        QFETCH(QString, step);
        PracticeApp app;
        FrmUeb &ueb = practising(app);
        const qint32 card = app.akt();
        QVERIFY(card != 0);
        const PracticeApp::Display shown = app.display();
        const PracticeApp::Snapshot file = app.snapshot();

        QTest::keyClick(&ueb, Qt::Key_Space);
        QVERIFY(app.answerShown());
        QTest::keyClick(&ueb, Qt::Key(key));
        const PracticeApp::Snapshot judged = app.snapshot();
        QVERIFY(judged.positions.value(card).queuePlace != file.positions.value(card).queuePlace);
        QCOMPARE(logRows(app), 1);
        QCOMPARE(action(app, "actRueckgaengig")->text(), text::undoMenu(step));

        action(app, "actRueckgaengig")->trigger();
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.snapshot(), file);
        QCOMPARE(logRows(app), 0);
        QCOMPARE(app.display(), shown); // the card again, in its compartment, answer hidden
        QCOMPARE(action(app, "actWiederherstellen")->text(), text::redoMenu(step));

        action(app, "actWiederherstellen")->trigger();
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.snapshot(), judged);
        QCOMPARE(logRows(app), 1);
    }

    void keysGoIntoTheCompartmentField_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("typed");
        QTest::newRow("1") << int(Qt::Key_1) << QStringLiteral("1");
        QTest::newRow("2") << int(Qt::Key_2) << QStringLiteral("2");
        QTest::newRow("3") << int(Qt::Key_3) << QStringLiteral("3");
        QTest::newRow("Leertaste") << int(Qt::Key_Space) << QStringLiteral(" ");
    }

    void keysGoIntoTheCompartmentField()
    {
        QFETCH(int, key);
        QFETCH(QString, typed);
        PracticeApp app;
        FrmUeb &ueb = practising(app);
        QTest::keyClick(&ueb, Qt::Key_Space); // answer shown: the verdicts could be taken
        const PracticeApp::Snapshot file = app.snapshot();
        QLineEdit *field = combo(ueb, "cmbFach")->lineEdit();
        field->setFocus();
        field->clear();

        QTest::keyClick(field, Qt::Key(key));
        QCOMPARE(field->text(), typed);
        QVERIFY(app.answerShown());
        QCOMPARE(app.snapshot(), file);
        QCOMPARE(logRows(app), 0);
        QVERIFY(!action(app, "actRueckgaengig")->isEnabled());
    }

    void undoRefusedWhenASecondCopyChangedTheCard_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("Fach") << QStringLiteral("UPDATE tblPosition SET Fach = 7 WHERE idFrageAntwort = ?1");
        QTest::newRow("Frage") << QStringLiteral(
            "UPDATE tblFrageAntwort SET Frage = 'anders' WHERE idFrageAntwort = ?1");
    }

    void undoRefusedWhenASecondCopyChangedTheCard()
    {
        QFETCH(QString, sql);
        PracticeApp app;
        FrmUeb &ueb = practising(app);
        const qint32 card = app.akt();
        drive::click(button(ueb, "cmdRichtig"));
        {
            rawdb::Connection other(app.dbPath());
            QCOMPARE(other.run(sql.toUtf8().constData(), {{"?1", card}}), std::make_pair(SQLITE_DONE, 1));
        }
        const PracticeApp::Snapshot file = app.snapshot();

        action(app, "actRueckgaengig")->trigger();
        QCOMPARE(app.dialogs.take(), QStringList{text::undoConflict(false)});
        QCOMPARE(app.snapshot(), file);
        QCOMPARE(logRows(app), 1);
    }

    void undoOfANewCardRemovesIt()
    {
        PracticeApp app;
        app.subject(QStringLiteral("Mathe"), 1);
        const PracticeApp::Snapshot file = app.snapshot();
        FrmNeu &neu = app.startEntry(QStringLiteral("Mathe"));
        keyInCard(neu, QStringLiteral("Hauptstadt von Frankreich und mehr?"), QStringLiteral("Paris"));
        const PracticeApp::Snapshot stored = app.snapshot();
        QCOMPARE(stored.positions.size(), file.positions.size() + 1);
        QCOMPARE(action(app, "actRueckgaengig")->text(),
                 text::undoMenu(text::newCardLabel(QStringLiteral("Hauptstadt von Frankreich und mehr?"))));
        QVERIFY(action(app, "actRueckgaengig")->text().contains(QStringLiteral("„Hauptstadt von …“")));

        action(app, "actRueckgaengig")->trigger();
        QCOMPARE(app.dialogs.take(), QStringList());
        QCOMPARE(app.snapshot(), file); // card and position gone
        action(app, "actWiederherstellen")->trigger();
        QCOMPARE(app.snapshot(), stored); // the same key again
    }

    // The practice road's subject list follows an undo: the subject whose last card it
    // took back leaves the list, the one picked stays picked.
    void subjectListFollowsAnUndo()
    {
        PracticeApp app;
        app.subject(QStringLiteral("Alpha"), 1);
        app.subject(QStringLiteral("Zebra"), 1);
        app.subject(QStringLiteral("Neu"));
        keyInCard(app.startEntry(QStringLiteral("Neu")), QStringLiteral("Frage"), QStringLiteral("Antwort"));
        FrmGebiete *gebiete = app.forms->showGebiete(Road::Practice, Upkeep::None);
        QVERIFY(gebiete);
        auto *list = combo(gebiete, "cmbGebiet");
        QCOMPARE(drive::entries(list), (QStringList{"Alpha", "Neu", "Zebra"}));
        list->setCurrentIndex(2);
        action(app, "actRueckgaengig")->trigger();
        QCOMPARE(drive::entries(list), (QStringList{"Alpha", "Zebra"}));
        QCOMPARE(list->currentText(), QStringLiteral("Zebra"));
    }
};

QTEST_MAIN(TestUndoWindows)
#include "test_undo_windows.moc"
