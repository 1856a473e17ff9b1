#include "accesskeys.h"
#include "app/aboutwindow.h"
#include "app/frmbackground.h"
#include "cards/cardlistmodel.h"
#include "cards/cardlistwindow.h"
#include "entry/frmneu.h"
#include "statistics/statisticswindow.h"
#include "store/store.h"
#include "subjects/frmgebiete.h"
#include "testapp.h"
#include "transferwindows/exportdialog.h"
#include "transferwindows/importdialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <map>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

// A store with two subjects: Erdkunde holds three cards (compartment 1, 2, 3), Biologie one.
struct Fixture {
    QTemporaryDir dir;
    Seeder seed{Store::open(dir.filePath("Tarlivo.mdb"), noBackups())};
    Store &store = *seed.store;
    qint32 erdkunde = seed.subject("Erdkunde");
    qint32 biologie = seed.subject("Biologie");
    qint32 wien = seed.card(erdkunde, "Hauptstadt von Österreich", "Wien", 1);
    qint32 bern = seed.card(erdkunde, "Hauptstadt der\nSchweiz", "Bern", 2);
    qint32 paris = seed.card(erdkunde, "Hauptstadt von Frankreich", "Paris", 3);
    qint32 zelle = seed.card(biologie, "Kleinste Einheit des Lebens", "Die Zelle", 1);

    CardRow row(qint32 id) { return store.cardRow(id).value_or(CardRow{}); }
    qint64 cards() { return store.cardCount(std::nullopt); }
};

std::vector<qint32> hits(Store &store, const QString &text, std::optional<qint32> subject = std::nullopt)
{
    return store.cardIds(subject, text, CardOrder::Practice);
}

// Does what a user does in the window's next dialog, then presses OK.
std::function<void(QDialog &)> thenOk(std::function<void(QDialog &)> fill)
{
    return [fill](QDialog &dialog) {
        fill(dialog);
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    };
}

// The window over the fixture's store, with scripted answers and every change recorded.
struct WindowRun {
    Fixture f;
    ScriptedDialogs dialogs;
    ui::Session session{dialogs, sessionOn(f.store.path())};
    windows::CardListWindow window{connected(session)};
    QStringList labels;
    std::vector<Change> changes;

    WindowRun()
    {
        QObject::connect(&window, &windows::CardListWindow::changed, [this](const QString &label, const Change &c) {
            labels << label;
            changes.push_back(c);
        });
    }
    // Selects the rows showing these cards.
    void select(std::initializer_list<qint32> ids)
    {
        ctl<QTableView>(window, "tblKarten")->clearSelection();
        for (int row = 0; row < window.model().rowCount(); ++row) {
            const qint32 id = window.model().rowAt(row)->card.id;
            if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
                ctl<QTableView>(window, "tblKarten")
                    ->selectionModel()
                    ->select(window.model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
                ctl<QTableView>(window, "tblKarten")
                    ->selectionModel()
                    ->setCurrentIndex(window.model().index(row, 0), QItemSelectionModel::NoUpdate);
            }
        }
    }
};

} // namespace

class TestCardList : public QObject {
    Q_OBJECT

private slots:
    // Each window beyond the designed ones, and the card list's own dialogs.
    void accessKeysAreUniqueInEachWindow_data()
    {
        QTest::addColumn<QString>("window");
        for (const char *w : {"Kartenliste", "Bearbeiten", "Verschieben", "Statistik", "Import", "Export", "Über"})
            QTest::newRow(w) << QString::fromUtf8(w);
    }

    void accessKeysAreUniqueInEachWindow()
    {
        QFETCH(QString, window);
        WindowRun run;
        QStringList shared{"not looked at"};
        if (window == "Kartenliste") {
            shared = sharedAccessKeys(run.window);
        } else if (window == "Bearbeiten" || window == "Verschieben") {
            run.window.showSubject(run.f.erdkunde);
            run.select({run.f.wien});
            run.dialogs.dialogAnswers << [&shared](QDialog &dialog) { shared = sharedAccessKeys(dialog); };
            window == "Bearbeiten" ? run.window.editSelected() : run.window.moveSelected();
        } else if (window == "Statistik") {
            shared = sharedAccessKeys(windows::StatisticsWindow(run.session));
        } else if (window == "Import") {
            shared = sharedAccessKeys(transferwindows::ImportDialog(run.session));
        } else if (window == "Export") {
            shared = sharedAccessKeys(transferwindows::ExportDialog(run.session));
        } else {
            shared = sharedAccessKeys(app::AboutWindow(run.f.store.path()));
        }
        QCOMPARE(shared, QStringList());
    }

    void deleteCardsRemovesBothRowsAndReportsThem()
    {
        Fixture f;
        const CardRow wien = f.row(f.wien), paris = f.row(f.paris);
        const Change change = f.store.deleteCards({f.paris, f.wien, f.paris});
        QCOMPARE(change.cards.size(), std::size_t(2));
        QVERIFY(change.cards[0].before == paris && !change.cards[0].after);
        QVERIFY(change.cards[1].before == wien && !change.cards[1].after);
        QVERIFY(change.subjects.empty());
        QCOMPARE(f.cards(), 2);
        QVERIFY(!f.store.cardRow(f.wien));
        QVERIFY(f.store.checkInvariants().isEmpty());
        // Gone from the search index too.
        QVERIFY(hits(f.store, "Frankreich").empty());
    }

    void moveKeepsPlaceAndTheSearchFindsTheCardInItsNewSubject()
    {
        Fixture f;
        const CardRow bern = f.row(f.bern);
        const Change change = f.store.moveCardsToSubject({f.bern, f.zelle}, f.biologie);
        // The card already there is no change.
        QCOMPARE(change.cards.size(), std::size_t(1));
        CardRow after = bern;
        after.subjectId = f.biologie;
        QVERIFY(change.cards[0].before == bern && change.cards[0].after == after);
        QVERIFY(f.row(f.bern) == after);
        QVERIFY(f.store.checkInvariants().isEmpty());
        QCOMPARE(hits(f.store, "schweiz", f.biologie), std::vector<qint32>{f.bern});
        QVERIFY(hits(f.store, "schweiz", f.erdkunde).empty());
    }

    void setCompartmentQueuesTheCardsAtTheEndInTheGivenOrder()
    {
        Fixture f;
        const CardRow zelle = f.row(f.zelle), wien = f.row(f.wien);
        const qint32 last = zelle.queuePlace;
        const Change change = f.store.setCompartment({f.zelle, f.wien}, 5);
        QCOMPARE(change.cards.size(), std::size_t(2));
        QVERIFY(change.cards[0].before == zelle && change.cards[1].before == wien);
        QCOMPARE(change.cards[0].after->compartment, 5);
        QCOMPARE(change.cards[0].after->queuePlace, last + 1);
        QCOMPARE(change.cards[1].after->queuePlace, last + 2);
        QVERIFY(f.row(f.wien) == *change.cards[1].after);
        QCOMPARE(f.store.headCard(f.erdkunde, 5), std::optional<qint32>(f.wien));
        QVERIFY(f.store.checkInvariants().isEmpty());
    }

    void deleteSubjectTakesItsCardsAlong()
    {
        Fixture f;
        const Change change = f.store.deleteSubject(f.erdkunde);
        QCOMPARE(change.subjects.size(), std::size_t(1));
        QVERIFY(change.subjects[0].before == (SubjectRow{f.erdkunde, "Erdkunde"}));
        QCOMPARE(change.cards.size(), std::size_t(3));
        QVERIFY(change.cards[0].before->id == f.wien && !change.cards[0].after);
        QCOMPARE(f.store.allSubjects(), QStringList{"Biologie"});
        QCOMPARE(f.cards(), 1);
        QVERIFY(f.store.checkInvariants().isEmpty());
        // A subject without cards too.
        f.store.addSubject("Leer");
        QCOMPARE(f.store.deleteSubject(*f.store.subjectId("Leer")).cards.size(), std::size_t(0));
        QCOMPARE(f.store.allSubjects(), QStringList{"Biologie"});
    }

    void editKeepsTextsUntrimmed()
    {
        Fixture f;
        const Change change = f.store.editCard(f.wien, " Hauptstadt\nÖsterreichs ", "Wien ");
        QCOMPARE(change.cards.size(), std::size_t(1));
        QCOMPARE(f.row(f.wien).question, QString(" Hauptstadt\nÖsterreichs "));
        QCOMPARE(change.cards[0].after->answer, QString("Wien "));
        QVERIFY(f.store.editCard(f.wien, " Hauptstadt\nÖsterreichs ", "Wien ").isEmpty());
    }

    // Another running copy deleted the card or subject meanwhile, or the number is out
    // of range: refused, and nothing of the action is written.
    void badInputWritesNothing_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("kind");
        QTest::newRow("delete a deleted card") << 0 << int(StoreErrorKind::NotFound);
        QTest::newRow("move a deleted card") << 1 << int(StoreErrorKind::NotFound);
        QTest::newRow("move to a deleted subject") << 2 << int(StoreErrorKind::NotFound);
        QTest::newRow("compartment 0") << 3 << int(StoreErrorKind::Limit);
        QTest::newRow("compartment of a deleted card") << 4 << int(StoreErrorKind::NotFound);
        QTest::newRow("delete a deleted subject") << 5 << int(StoreErrorKind::NotFound);
        QTest::newRow("edit a deleted card") << 6 << int(StoreErrorKind::NotFound);
    }
    void badInputWritesNothing()
    {
        QFETCH(int, action);
        QFETCH(int, kind);
        Fixture f;
        auto other = Store::open(f.store.path(), noBackups());
        other->deleteCards({f.paris});
        const qint32 gone = *other->subjectId("Biologie");
        other->deleteSubject(gone);
        const auto before = f.store.cardIds(std::nullopt, {}, CardOrder::Question);
        const CardRow wien = f.row(f.wien);
        try {
            switch (action) {
            case 0:
                f.store.deleteCards({f.wien, f.paris});
                break;
            case 1:
                f.store.moveCardsToSubject({f.wien, f.paris}, f.erdkunde);
                break;
            case 2:
                f.store.moveCardsToSubject({f.wien}, gone);
                break;
            case 3:
                f.store.setCompartment({f.wien}, 0);
                break;
            case 4:
                f.store.setCompartment({f.wien, f.paris}, 2);
                break;
            case 5:
                f.store.deleteSubject(gone);
                break;
            case 6:
                f.store.editCard(f.paris, "x", "y");
                break;
            }
            QFAIL("no error");
        } catch (const StoreError &e) {
            QCOMPARE(int(e.kind()), kind);
        }
        QCOMPARE(f.store.cardIds(std::nullopt, {}, CardOrder::Question), before);
        QVERIFY(f.row(f.wien) == wien);
        QVERIFY(f.store.checkInvariants().isEmpty());
    }

    // Any letter case, umlauts and ß included, in Frage or Antwort; "ss" and "ß"
    // find each other, through the index and in cards still waiting for it alike.
    void searchFindsGermanTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("waiting"); // the Straße cards came by import, not yet indexed
        QTest::addColumn<QStringList>("answers");
        QTest::newRow("ö finds Ö") << "öSTERR" << false << QStringList{"Wien"};
        QTest::newRow("Ä finds ä") << "BÄR" << false << QStringList{"Der Bär"};
        QTest::newRow("in the answer") << "zell" << false << QStringList{"Die Zelle"};
        QTest::newRow("both subjects") << "HAUPT" << false << QStringList{"Wien", "Bern", "Paris"};
        QTest::newRow("across the line break") << "der\nSch" << false << QStringList{"Bern"};
        QTest::newRow("quote") << "\"x\"" << false << QStringList{};
        QTest::newRow("nothing") << "Kängurus" << false << QStringList{};
        for (const bool waiting : {false, true}) {
            const char *where = waiting ? "waiting" : "indexed";
            QTest::addRow("ß finds both, %s", where) << "straß" << waiting << QStringList{"Straße", "Strasse"};
            QTest::addRow("SS finds both, %s", where) << "STRASSE" << waiting << QStringList{"Straße", "Strasse"};
            QTest::addRow("capital ẞ, %s", where) << "STRAẞE" << waiting << QStringList{"Straße", "Strasse"};
            QTest::addRow("sss, %s", where) << "Schlosss" << waiting << QStringList{"Schloßsaal"};
            QTest::addRow("one s is no ß, %s", where) << "Stras" << waiting << QStringList{"Strasse"};
        }
    }
    void searchFindsGermanTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, waiting);
        QFETCH(QStringList, answers);
        Fixture f;
        f.seed.card(f.biologie, "Welches Tier brummt?", "Der Bär");
        const QStringList answer{"Straße", "Strasse", "Schloßsaal"};
        if (waiting) {
            int i = 0;
            f.store.importCards([&](BulkCard &card) {
                card = BulkCard{"Biologie", QStringLiteral("Weg %1").arg(i), answer.value(i)};
                return i++ < answer.size();
            });
            QCOMPARE(f.store.searchBacklog(), 3);
        } else {
            for (const QString &a : answer)
                f.seed.card(f.biologie, "Weg", a);
        }
        QStringList found;
        for (const CardListRow &row : f.store.cardListRows(hits(f.store, text)))
            found << row.card.answer;
        QCOMPARE(found, answers);
        // Reading the cards in practice order finds the same as the index.
        QCOMPARE(f.store.firstHits(std::nullopt, text, 10, 10).ids, hits(f.store, text));
    }

    // A text many cards hold: the first screen at once, the rest counted a slice at a
    // time, among indexed cards and cards an import left for the index alike.
    void commonTextShowsItsFirstScreenThenTheRest()
    {
        WindowRun w;
        int i = 0;
        auto import = [&](int count) {
            const int end = i + count;
            w.f.store.importCards([&](BulkCard &card) {
                card = {QStringLiteral("Viele"), QStringLiteral("Wort %1").arg(i), QStringLiteral("x"), 1 + i % 3};
                return i++ < end;
            });
        };
        import(2000);
        QCOMPARE(w.f.store.catchUpSearchIndex(5000), 0);
        import(1500);
        const std::vector<qint32> all = hits(w.f.store, "WORT");
        QCOMPARE(all.size(), size_t(3500));
        std::vector<HitPlace> sliced;
        for (HitSlice slice; !slice.done;) {
            slice = w.f.store.hitSlice(std::nullopt, "wort", slice.last, 700);
            sliced.insert(sliced.end(), slice.hits.begin(), slice.hits.end());
        }
        std::sort(sliced.begin(), sliced.end());
        QCOMPARE(sliced.size(), all.size());
        QVERIFY(std::equal(all.begin(), all.end(), sliced.begin(),
                           [](qint32 id, const HitPlace &h) { return id == h.id; }));

        w.window.refresh();
        ctl<QLineEdit>(w.window, "txtSuche")->setText("wORT");
        QVERIFY(w.window.model().counting());
        QCOMPARE(w.window.model().rowCount(), windows::CardListModel::kPageSize);
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("Mindestens 128 Treffer, Suche läuft …"));
        w.select({all[5]});
        QTRY_VERIFY(!w.window.model().counting());
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("3.500 Treffer"));
        std::vector<qint32> shown;
        for (int row = 0; row < w.window.model().rowCount(); ++row)
            shown.push_back(w.window.model().rowAt(row)->card.id);
        QCOMPARE(shown, all);
        QCOMPARE(w.window.selectedCardIds(), std::vector<qint32>{all[5]});
    }

    void pagesAndOrders()
    {
        Fixture f;
        // Practice order: compartment, then queue place.
        f.seed.setCompartment(f.zelle, 2);
        const auto page = f.store.cardPage(std::nullopt, 1, 2, false);
        QCOMPARE(page.size(), std::size_t(2));
        QCOMPARE(page[0].card.id, f.bern);
        QCOMPARE(page[1].card.id, f.zelle);
        QCOMPARE(page[1].subject, QString("Biologie"));
        const auto tail = f.store.cardPage(f.erdkunde, 0, 2, true);
        QCOMPARE(tail.size(), std::size_t(2));
        QCOMPARE(tail[0].card.id, f.bern);
        QCOMPARE(tail[1].card.id, f.paris);
        QCOMPARE(f.store.cardCount(f.erdkunde), 3);
        QCOMPARE(f.store.cardIds(std::nullopt, {}, CardOrder::Question),
                 (std::vector<qint32>{f.bern, f.paris, f.wien, f.zelle}));
        QCOMPARE(f.store.cardIds(std::nullopt, {}, CardOrder::Subject),
                 (std::vector<qint32>{f.zelle, f.wien, f.bern, f.paris}));
        QCOMPARE(f.store.cardIds(f.erdkunde, {}, CardOrder::Answer), (std::vector<qint32>{f.bern, f.paris, f.wien}));
    }

    void windowShowsFirstLinesAndCountsHits()
    {
        WindowRun w;
        QCOMPARE(ctl<QComboBox>(w.window, "cboGebiet")->itemText(0), QString("Alle Gebiete"));
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("4 Karten"));
        const QModelIndex bern = w.window.model().index(2, windows::CardListModel::Question);
        QCOMPARE(bern.data().toString(), QString("Hauptstadt der …"));
        QCOMPARE(bern.data(Qt::ToolTipRole).toString(), QString("Hauptstadt der\nSchweiz"));
        ctl<QLineEdit>(w.window, "txtSuche")->setText("ös");
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("Suche ab 3 Zeichen"));
        QCOMPARE(w.window.model().rowCount(), 4);
        QTest::keyClicks(ctl<QLineEdit>(w.window, "txtSuche"), "T");
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("1 Treffer"));
        QCOMPARE(w.window.model().rowAt(0)->card.id, w.f.wien);
        w.window.showSubject(w.f.biologie);
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("0 Treffer"));
        ctl<QLineEdit>(w.window, "txtSuche")->clear();
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("1 Karte"));
        // Sorting by a column and back to the practice order by Fach.
        w.window.showSubject(w.f.erdkunde);
        ctl<QTableView>(w.window, "tblKarten")->sortByColumn(windows::CardListModel::Answer, Qt::DescendingOrder);
        QCOMPARE(w.window.model().rowAt(0)->card.id, w.f.wien);
        ctl<QTableView>(w.window, "tblKarten")->sortByColumn(windows::CardListModel::Compartment, Qt::DescendingOrder);
        QCOMPARE(w.window.model().rowAt(0)->card.id, w.f.paris);
    }

    void deleteAsksWithTheCount()
    {
        WindowRun w;
        w.select({w.f.wien, w.f.zelle});
        ctl<QPushButton>(w.window, "cmdLoeschen")->click(); // no confirmation: "Nein"
        QCOMPARE(w.dialogs.questions, QStringList{"2 Karten löschen?"});
        QCOMPARE(w.f.cards(), 4);
        w.dialogs.confirmations = {true};
        ctl<QPushButton>(w.window, "cmdLoeschen")->click();
        QCOMPARE(w.f.cards(), 2);
        QCOMPARE(w.labels, QStringList{"Löschen von 2 Karten"});
        QCOMPARE(w.changes.at(0).cards.size(), std::size_t(2));
        QCOMPARE(ctl<QLabel>(w.window, "lblTreffer")->text(), QString("2 Karten"));
        w.select({w.f.bern});
        ctl<QPushButton>(w.window, "cmdLoeschen")->click();
        QCOMPARE(w.dialogs.questions.last(), QString("1 Karte löschen?"));
    }

    void compartmentMustBeAWholeNumberInRange_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("compartment");
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("negative") << "-1" << 0;
        QTest::newRow("beyond 32 bits") << "2147483648" << 0;
        QTest::newRow("fraction") << "1,5" << 0;
        QTest::newRow("word") << "drei" << 0;
        QTest::newRow("highest") << "2147483647" << 2147483647;
        QTest::newRow("blanks around") << " 7 " << 7;
    }
    void compartmentMustBeAWholeNumberInRange()
    {
        QFETCH(QString, typed);
        QFETCH(int, compartment);
        WindowRun w;
        const CardRow before = w.f.row(w.f.zelle);
        w.select({w.f.zelle});
        w.dialogs.answers = {typed};
        ctl<QPushButton>(w.window, "cmdFach")->click();
        if (compartment == 0) {
            QCOMPARE(w.dialogs.take().size(), 1);
            QVERIFY(w.f.row(w.f.zelle) == before);
            QVERIFY(w.labels.isEmpty());
        } else {
            QCOMPARE(w.f.row(w.f.zelle).compartment, compartment);
            QCOMPARE(w.labels, QStringList{QString("Fach %1 für 1 Karte").arg(compartment)});
        }
    }

    // What the user was doing in the windows beyond the six stays when the subject
    // window opens the file afresh; a subject added there shows in the list at once; a
    // hidden list reads the file again only when shown.
    void toolWindowsFollowTheSessionAndKeepTheirState()
    {
        TestApp app;
        app.seed({{"Erdkunde", 3}, {"Biologie", 2}});
        app.forms->start();
        const auto action = [&](const char *name) {
            return app.forms->window<app::FrmBackground>().findChild<QAction *>(QLatin1String(name));
        };
        action("actKartenliste")->trigger();
        QPointer<windows::CardListWindow> list = app.forms->tools().find<windows::CardListWindow>();
        QVERIFY(list && list->isVisible());
        auto *subjects = ctl<QComboBox>(*list, "cboGebiet");
        subjects->setCurrentIndex(subjects->findText("Erdkunde"));
        auto *view = ctl<QTableView>(*list, "tblKarten");
        view->selectRow(1);
        const std::vector<qint32> selected = list->selectedCardIds();
        QCOMPARE(selected.size(), std::size_t(1));
        app.dialogs.fileAnswers << app.dir.filePath("karten.csv");
        QFile csv(app.dir.filePath("karten.csv"));
        QVERIFY(csv.open(QIODevice::WriteOnly) && csv.write("a;b\n") > 0);
        csv.close();
        action("actImportieren")->trigger();
        QPointer<transferwindows::ImportDialog> import = app.forms->tools().find<transferwindows::ImportDialog>();
        QVERIFY(import && import->isVisible());

        windows::FrmGebiete *gebiete = app.forms->showGebiete(ui::Road::Entry, ui::Upkeep::NewAndRename);
        QVERIFY(gebiete);
        QVERIFY(list && import && import->isVisible());
        QCOMPARE(subjects->currentText(), QString("Erdkunde"));
        QCOMPARE(list->selectedCardIds(), selected);

        app.dialogs.answers << "Chemie";
        button(*gebiete, "cmdGebietNeu")->click();
        QVERIFY(subjects->findText("Chemie") >= 0);

        list->hide();
        QSignalSpy reads(&list->model(), &QAbstractItemModel::modelReset);
        app.takeSubject("Erdkunde");
        keyInCard(app.forms->window<windows::FrmNeu>(), "Neu", "Karte");
        QCOMPARE(reads.count(), 0);
        list->show();
        QCOMPARE(reads.count(), 1);
        QCOMPARE(list->model().rowCount(), 4);
    }

    void moveEditAndDeleteSubjectThroughTheirDialogs()
    {
        WindowRun w;
        w.select({w.f.wien, w.f.paris});
        w.dialogs.dialogAnswers << thenOk(
            [](QDialog &d) { d.findChild<QComboBox *>("cboZiel")->setCurrentText("Biologie"); });
        ctl<QPushButton>(w.window, "cmdVerschieben")->click();
        QCOMPARE(w.f.row(w.f.paris).subjectId, w.f.biologie);
        QCOMPARE(w.labels.last(), QString("Verschieben nach „Biologie“"));

        w.select({w.f.bern});
        w.dialogs.dialogAnswers << thenOk([](QDialog &d) { d.findChild<QPlainTextEdit *>("txtAntwort")->clear(); });
        ctl<QPushButton>(w.window, "cmdBearbeiten")->click();
        QCOMPARE(w.dialogs.take(), QStringList{"Fehlende Eingabe!"});
        QCOMPARE(w.f.row(w.f.bern).answer, QString("Bern"));
        w.dialogs.dialogAnswers << thenOk(
            [](QDialog &d) { d.findChild<QPlainTextEdit *>("txtAntwort")->setPlainText(" Bern\n"); });
        ctl<QPushButton>(w.window, "cmdBearbeiten")->click();
        QCOMPARE(w.f.row(w.f.bern).answer, QString(" Bern\n"));
        QCOMPARE(w.labels.last(), QString("Bearbeiten von „Hauptstadt der“"));
        // The step names the card as the user last saw it: with the text typed.
        w.select({w.f.bern});
        w.dialogs.dialogAnswers << thenOk(
            [](QDialog &d) { d.findChild<QPlainTextEdit *>("txtFrage")->setPlainText("Bern?"); });
        ctl<QPushButton>(w.window, "cmdBearbeiten")->click();
        QCOMPARE(w.labels.last(), QString("Bearbeiten von „Bern?“"));
        QCOMPARE(w.dialogs.dialogsRun, (QStringList{"dlgGebiet", "dlgBearbeiten", "dlgBearbeiten", "dlgBearbeiten"}));

        w.window.showSubject(w.f.erdkunde);
        w.dialogs.confirmations = {true};
        ctl<QPushButton>(w.window, "cmdGebietLoeschen")->click();
        QCOMPARE(w.dialogs.questions.last(), QString("Gebiet „Erdkunde“ mit 1 Karte löschen?"));
        QCOMPARE(w.f.store.allSubjects(), QStringList{"Biologie"});
        QCOMPARE(w.labels.last(), QString("Gebiet „Erdkunde“ löschen"));
        QCOMPARE(ctl<QComboBox>(w.window, "cboGebiet")->currentText(), QString("Alle Gebiete"));
        QVERIFY(w.f.store.checkInvariants().isEmpty());
    }

    // Another running copy deleted the card: a message, nothing written, the list updated.
    void cardDeletedElsewhere()
    {
        WindowRun w;
        w.select({w.f.wien, w.f.bern});
        Store::open(w.f.store.path(), noBackups())->deleteCards({w.f.bern});
        w.dialogs.answers = {"4"};
        ctl<QPushButton>(w.window, "cmdFach")->click();
        QCOMPARE(w.dialogs.take().size(), 1);
        QCOMPARE(w.f.row(w.f.wien).compartment, 1);
        QVERIFY(w.labels.isEmpty());
        QCOMPARE(w.window.model().rowCount(), 3);
    }
};

QTEST_MAIN(TestCardList)
#include "test_cardlist.moc"
