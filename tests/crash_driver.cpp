// Works the real windows at random against the database in a directory, as a
// user clicking very fast would, and reports every change on stdout.
//
//   tarlivo_crash_driver DIR SEED TAG [--ops N] [--day N] [--cards-only] [--log]
//
// Before a change it prints "> what" and, once the window has shown its result
// (the change committed), "< what" (see the harnesses in test_crash.cpp and
// test_two_copies.cpp). Texts travel as "h" and their UTF-8 in hex. Each line is
// one write(2), so a kill never leaves half a line behind a whole one.
//
//   > S name            < S id           new subject
//   > R old new         < R              rename
//   > C subject f a     < C id           new card
//   > V kind card compartment  < V              verdict R(ichtig), F(ast), X (Falsch); compartment: list text
//   > E card f a        < E              edit
//   > D card...         < D              card list: delete the cards
//   > M subject card... < M              card list: move the cards to the subject
//   > K compartment card...    < K              card list: the cards to the end of that compartment
//   > G subject         < G              card list: delete the subject with its cards
//   > U                 < U              undo through the backdrop's menu (nothing when none is left)
//   > Y                 < Y              redo likewise
//   > B card name       < B              card list: the edit dialog puts the picture of
//                                        that name on the card's question ("-": removes it)
//   > W kind card compartment  < V              a verdict on the reverse place (practice asks the answer)
//   > H subject setting < H              plan window: the subject's direction (0, 1, 2)
//   > V kind card h     < V              also a verdict through "Karten → Abfrage …" (typed or
//                                        chosen, W on a reverse place), stored by "Weiter" or closing
//   > O subject c,a,p,t < O              the Abfrage window's tolerances of the subject (1 to 3 each)
//   > I subject f a ... < I              import of a text file through the menu's window
//                                        (its cards wait for the search index, which the
//                                        program catches up on between later changes)
//   > T day             < T              a new day (N days after 2020-01-01): the windows open
//                                        the file afresh, which takes the day's copy in the
//                                        background; "<" once the copy is taken (the first
//                                        change claims it)
//   > Z                 < Z              sync: the file through the folder Abgleich-A, the folders
//                                        copied to Abgleich-B and back, a second data file
//                                        (Zweit.mdb) through Abgleich-B, the file again; files
//                                        and snapshots in parts of 250 entities, large
//                                        writes in stretches of 20
//   P card compartment queuePlace                   (--log) a position written by the change before "<"
//   ~ hexmessage                         (--log) the change was refused with this message
//   ! hexmessage                         a message nobody expected; the driver stops
//
// --ops N stops after N changes (0: never). --day N makes the date N days after
// 2020-01-01, so that each day's first change makes a backup. --cards-only leaves
// subjects alone (for two copies at once). --log reports the positions each change
// wrote, read from a log the change's own transaction fills.

#include "cards/cardlistmodel.h"
#include "cards/cardlistwindow.h"
#include "plan/planwindow.h"
#include "quizwindow/quizwindow.h"
#include "scripteddialogs.h"
#include "storedb.h"
#include "sync/sync.h"
#include "synctool.h"
#include "transferwindows/importdialog.h"
#include "ui/messages.h"
#include "windows.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::transferwindows;
using namespace tarlivo::app;

namespace {

struct Options {
    QString dir;
    quint32 seed = 1;
    QString tag;
    long ops = 0;
    int day = -1;
    std::shared_ptr<int> today = std::make_shared<int>(-1); // the day now, moved on by "> T"
    bool cardsOnly = false;
    bool log = false;
};

QString hex(const QString &text) { return QStringLiteral("h") + QString::fromLatin1(text.toUtf8().toHex()); }

void emitLine(const QString &line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, size_t(left));
        if (n <= 0)
            std::_Exit(4);
        p += n;
        left -= n;
    }
}

class Driver {
public:
    Driver(Forms &forms, ScriptedDialogs &dialogs, const Options &options)
        : m_forms(forms), m_dialogs(dialogs), m_options(options), m_rng(options.seed), m_syncRng(options.seed)
    {
    }

    long changes() const { return m_changes; }

    void step()
    {
        if (FrmEdit *e = drive::edit(m_forms))
            return drive::click(button(e, "cmdUebernahme")); // never left open by the driver
        if (!m_options.cardsOnly && chance(0.08))
            return undoRedo(chance(0.6));
        if (!m_options.cardsOnly && chance(0.03))
            return quiz();
        if (FrmUeb *u = drive::ueb(m_forms))
            return practice(u);
        if (FrmNeu *n = drive::neu(m_forms))
            return entry(n);
        if (FrmGebiete *g = drive::gebiete(m_forms))
            return subjects(g);
        if (!m_options.cardsOnly && chance(0.06))
            return listDeleteCards();
        if (!m_options.cardsOnly && chance(0.06))
            return listMoveCards();
        if (!m_options.cardsOnly && chance(0.06))
            return listSetCompartment();
        if (!m_options.cardsOnly && chance(0.02))
            return listDeleteSubject();
        if (!m_options.cardsOnly && chance(0.03))
            return importCards();
        if (!m_options.cardsOnly && chance(0.03))
            return planInterval();
        if (!m_options.cardsOnly && chance(0.06))
            return listPicture();
        if (!m_options.cardsOnly && *m_options.today >= 0 && chance(0.03))
            return newDay();
        if (!m_options.cardsOnly && chance(0.06))
            return planDirection();
        // Drawn apart, so that every other choice stays as it was for a seed.
        if (!m_options.cardsOnly && std::uniform_real_distribution<double>(0, 1)(m_syncRng) < 0.03)
            return syncFolders();
        if (chance(0.5))
            drive::toSubjectsForEntry(m_forms);
        else
            drive::toSubjectsForPractice(m_forms);
        unexpectedMessages();
    }

private:
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    QString pick(std::initializer_list<const char *> pieces)
    {
        const int i = below(int(pieces.size()));
        return QString::fromUtf8(*(pieces.begin() + i));
    }

    // Never empty: the windows refuse a card without its question or answer.
    QString text()
    {
        QString t;
        const int parts = 1 + below(5);
        for (int i = 0; i < parts; ++i)
            t += pick({"Hauptstadt", " von ", "Frankreich", "?", "\n", "Ärger über Öl ", "ß", "😀", "\"Zitat\" ",
                       "שלום ", "<b>fett</b>", "1; DROP TABLE tblPosition", "  ", "x"});
        return t;
    }

    QString name()
    {
        return pick({"Gebiet", "Äpfel", "Ölgemälde", "Latein \"Vokabeln\"", "日本語", "عربى", "Chemie 😀"})
               + QStringLiteral(" %1-%2").arg(m_options.tag).arg(++m_names);
    }

    void subjects(FrmGebiete *g)
    {
        const int count = combo(g, "cmbGebiet")->count();
        if (!m_options.cardsOnly && button(g, "cmdGebietNeu")->isVisible() && (count == 0 || chance(0.15))) {
            const QString n = name();
            emitLine(QStringLiteral("> S %1").arg(hex(n)));
            drive::newSubject(g, m_dialogs, n);
            if (!refused())
                emitLine(QStringLiteral("< S %1").arg(lastInsert()));
            ++m_changes;
            return;
        }
        if (!m_options.cardsOnly && count > 0 && button(g, "cmdGebietEdit")->isVisible() && chance(0.1)) {
            const QString from = combo(g, "cmbGebiet")->itemText(below(count));
            const QString to = name();
            emitLine(QStringLiteral("> R %1 %2").arg(hex(from), hex(to)));
            drive::renameSubject(g, m_dialogs, from, to);
            if (!refused())
                emitLine(QStringLiteral("< R"));
            ++m_changes;
            return;
        }
        if (count == 0) {
            // Nothing to take on this road: back through the title bar.
            g->close();
            drive::settle();
            return;
        }
        drive::choose(combo(g, "cmbGebiet"), combo(g, "cmbGebiet")->itemText(below(count)));
        drive::click(button(g, "cmdUebernahmeGebiet"));
        unexpectedMessages();
    }

    void entry(FrmNeu *n)
    {
        if (chance(0.8)) {
            drive::type(textBox(n, "txtFrage"), text());
            drive::type(textBox(n, "txtAntwort"), text());
            emitLine(QStringLiteral("> C %1 %2 %3")
                         .arg(hex(n->windowTitle()), hex(textBox(n, "txtFrage")->text()),
                              hex(textBox(n, "txtAntwort")->text())));
            drive::click(button(n, "cmdUebernahme"));
            if (!refused())
                emitLine(QStringLiteral("< C %1").arg(lastInsert()));
            ++m_changes;
        } else {
            drive::click(chance(0.5) ? button(n, "cmdZurueck") : button(n, "cmdZumStart"));
            unexpectedMessages();
        }
    }

    void practice(FrmUeb *u)
    {
        const double r = std::uniform_real_distribution<double>(0, 1)(m_rng);
        const qint32 card = u->shownCard().value_or(0);
        if (r < 0.6) {
            const int kind = below(3);
            QAbstractButton *verdict = kind == 0   ? button(u, "cmdRichtig")
                                       : kind == 1 ? button(u, "cmdFastRichtig")
                                                   : button(u, "cmdFalsch");
            // Now and then the list names another compartment, or none, without
            // "&Übernehmen": the verdict still counts from the card's own.
            if (chance(0.15))
                drive::choose(combo(u, "cmbFach"),
                              chance(0.5) ? QString::number(1 + below(12)) : QStringLiteral("abc"));
            // W: a verdict on the reverse place, when practice asks the answer.
            emitLine(
                QStringLiteral("> %1 %2 %3 %4")
                    .arg(u->direction() == tarlivo::store::Direction::Reverse ? QLatin1Char('W') : QLatin1Char('V'))
                    .arg(QLatin1Char("RFX"[kind]))
                    .arg(card)
                    .arg(hex(combo(u, "cmbFach")->text())));
            drive::click(verdict);
            if (!refused(true))
                emitLine(QStringLiteral("< V"));
            ++m_changes;
        } else if (r < 0.7) {
            drive::click(button(u, "cmdEdit"));
            FrmEdit *e = drive::edit(m_forms);
            if (!e) {
                unexpectedMessages();
                return;
            }
            // The edit window refuses empty boxes; a text of its own is never empty.
            const QString question =
                chance(0.3) ? textBox(e, "txtEditFrage")->text() + QStringLiteral(" ✓") : text() + QStringLiteral("F");
            const QString answer = chance(0.3) ? textBox(e, "txtEditAntwort")->text() : text() + QStringLiteral("A");
            textBox(e, "txtEditFrage")->setText(question);
            textBox(e, "txtEditAntwort")->setText(answer.isEmpty() ? QStringLiteral("-") : answer);
            emitLine(QStringLiteral("> E %1 %2 %3")
                         .arg(card)
                         .arg(hex(textBox(e, "txtEditFrage")->text()), hex(textBox(e, "txtEditAntwort")->text())));
            drive::click(button(e, "cmdUebernahme"));
            if (!refused())
                emitLine(QStringLiteral("< E"));
            ++m_changes;
        } else if (r < 0.8) {
            if (combo(u, "cmbFach")->count() > 0)
                combo(u, "cmbFach")->setCurrentIndex(below(combo(u, "cmbFach")->count()));
            drive::click(button(u, "cmdFachOk"));
            unexpectedMessages();
        } else if (r < 0.86) {
            drive::click(chance(0.5) ? button(u, "cmdAntwort") : button(u, "cmdFrage"));
        } else if (r < 0.93) {
            drive::click(button(u, "cmdNeuGebiet"));
            unexpectedMessages();
        } else {
            drive::click(button(u, "cmdZumStart"));
        }
    }

    // "Karten → Abfrage …" on its first subject: a typed or chosen answer, judged,
    // now and then overruled, stored by "Weiter"; or the subject's tolerances set.
    void quiz()
    {
        m_forms.window<FrmBackground>().findChild<QAction *>(QStringLiteral("actAbfrage"))->trigger();
        QuizWindow *w = m_forms.tools().find<QuizWindow>();
        unexpectedMessages();
        if (!w || !w->isVisible())
            return;
        auto *subjectBox = ctl<QComboBox>(*w, "cmbGebiet");
        if (subjectBox->count() > 1) {
            subjectBox->setCurrentIndex(below(subjectBox->count()));
            emit subjectBox->activated(subjectBox->currentIndex());
            unexpectedMessages();
        }
        const std::optional<qint32> card = w->shownCard();
        auto *art = ctl<QComboBox>(*w, "cmbArt");
        const qint32 subject = w->subjectId().value_or(0);
        if (subject && chance(0.15)) {
            QStringList values;
            for (int i = 0; i < 4; ++i)
                values << QString::number(1 + below(3));
            m_dialogs.dialogAnswers << [values](QDialog &d) {
                const char *names[] = {"cmbSchreibung", "cmbAkzente", "cmbSatzzeichen", "cmbTippfehler"};
                for (int i = 0; i < 4; ++i)
                    d.findChild<QComboBox *>(QLatin1String(names[i]))->setCurrentIndex(3 - values[i].toInt());
                d.accept();
            };
            emitLine(QStringLiteral("> O %1 %2").arg(subject).arg(values.join(QLatin1Char(','))));
            drive::click(ctl<QPushButton>(*w, "cmdToleranz"));
            if (!refused())
                emitLine(QStringLiteral("< O"));
            ++m_changes;
            w->close();
            return;
        }
        if (!card) {
            w->close();
            return;
        }
        art->setCurrentIndex(below(2));
        emit art->activated(art->currentIndex());
        std::vector<QPushButton *> offered;
        for (int i = 1; i <= 4; ++i)
            if (auto *b = ctl<QPushButton>(*w, qPrintable(QStringLiteral("cmdWahl%1").arg(i))); b->isVisible())
                offered.push_back(b);
        if (!offered.empty()) {
            drive::click(offered[std::size_t(below(int(offered.size())))]);
        } else {
            ctl<QLineEdit>(*w, "txtAntwort")->setText(chance(0.5) ? text() : w->shownAnswer());
            drive::click(ctl<QPushButton>(*w, "cmdPruefen"));
        }
        // No result, nothing to store (the window had nothing to judge).
        if (!ctl<QPushButton>(*w, "cmdWeiter")->isEnabled()) {
            unexpectedMessages();
            w->close();
            return;
        }
        if (chance(0.2))
            drive::click(ctl<QPushButton>(*w, chance(0.5) ? "cmdRecht" : "cmdFalsch"));
        const QString result = ctl<QLabel>(*w, "lblErgebnis")->text();
        const QChar kind = result.startsWith(QStringLiteral("Richtig"))        ? QLatin1Char('R')
                           : result.startsWith(QStringLiteral("Fast richtig")) ? QLatin1Char('F')
                                                                               : QLatin1Char('X');
        emitLine(
            QStringLiteral("> %1 %2 %3 h")
                .arg(w->shownDirection() == tarlivo::store::Direction::Reverse ? QLatin1Char('W') : QLatin1Char('V'))
                .arg(kind)
                .arg(*card));
        // Going on, or now and then closing the window with the result shown.
        if (chance(0.7))
            drive::click(ctl<QPushButton>(*w, "cmdWeiter"));
        else
            w->close();
        if (!refused(true))
            emitLine(QStringLiteral("< V"));
        ++m_changes;
        w->close();
    }

    // Strg+Z or Strg+Y in whichever window is open: the backdrop's actions.
    void undoRedo(bool undo)
    {
        auto *action = m_forms.window<FrmBackground>().findChild<QAction *>(
            undo ? QStringLiteral("actRueckgaengig") : QStringLiteral("actWiederherstellen"));
        emitLine(undo ? QStringLiteral("> U") : QStringLiteral("> Y"));
        action->trigger();
        drive::settle();
        // Taking a verdict back or again may empty the compartment on display, as the verdict did.
        if (!refused(true))
            emitLine(undo ? QStringLiteral("< U") : QStringLiteral("< Y"));
        ++m_changes;
    }

    // A few cards from a text file into an existing subject or a new one, through
    // "Datei → Importieren…"; many at a time now and then, so that the search index
    // has a while to catch up. Now and then the same cards come as a Pauker lesson,
    // whose places the import gives at its end.
    void importCards()
    {
        tarlivo::store::Store *store = m_forms.session().store();
        if (!store)
            return;
        const QStringList existing = store->allSubjects();
        const QString subject = existing.isEmpty() || chance(0.3) ? name() : existing[below(int(existing.size()))];
        QString line = QStringLiteral("> I %1").arg(hex(subject));
        const bool lesson = chance(0.3);
        QByteArray file = lesson ? "<Lesson><Batch>" : "";
        const int cards = chance(0.2) ? 600 + below(1200) : 1 + below(5);
        for (int i = 0; i < cards; ++i) {
            // Texts either file carries unchanged: no tabs, quotes, line breaks or markup.
            const QString question = QStringLiteral("Ärger %1 über Öl %2").arg(m_options.tag).arg(below(100000));
            const QString answer = pick({"ß", "Frankreich", "😀", "שלום"}) + QString::number(i);
            file += lesson ? "<Card><FrontSide><Text>" + question.toUtf8() + "</Text></FrontSide><ReverseSide><Text>"
                                 + answer.toUtf8() + "</Text></ReverseSide></Card>"
                           : (question + QLatin1Char('\t') + answer + QLatin1Char('\n')).toUtf8();
            line += QStringLiteral(" %1 %2").arg(hex(question), hex(answer));
        }
        if (lesson)
            file += "</Batch></Lesson>";
        const QString path =
            QDir(m_options.dir).filePath(QStringLiteral("import-%1.%2").arg(m_options.tag).arg(lesson ? "pau" : "txt"));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(file) != file.size())
            std::_Exit(5);
        out.close();
        m_dialogs.fileAnswers = {path};
        m_forms.window<FrmBackground>().findChild<QAction *>(QStringLiteral("actImportieren"))->trigger();
        ImportDialog *window = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<ImportDialog *>(w); d && d->isVisible())
                window = d;
        if (!window)
            return unexpectedMessages();
        ctl<QComboBox>(*window, "subjectBox")->setCurrentText(subject);
        ctl<QCheckBox>(*window, "skipDuplicatesBox")->setChecked(false);
        emitLine(line);
        drive::click(ctl<QPushButton>(*window, "importButton"));
        const QStringList shown = m_dialogs.take();
        if (shown.size() != 1 || !shown[0].contains(QStringLiteral("gespeichert"))) {
            for (const QString &m : shown)
                emitLine(QStringLiteral("! %1").arg(hex(m)));
            std::_Exit(3);
        }
        emitLine(QStringLiteral("< I"));
        window->close();
        drive::settle();
        ++m_changes;
    }

    // The card list, opened while no other window shows a card or subject; closed after one change.
    std::unique_ptr<CardListWindow> cardList()
    {
        if (!m_forms.session().store())
            return nullptr;
        auto window = std::make_unique<CardListWindow>(m_forms.session());
        // As from the menu: each change is a step to take back.
        QObject::connect(window.get(), &CardListWindow::changed, &m_forms.session(),
                         [this, w = window.get()](const QString &label, const tarlivo::store::Change &change) {
                             m_forms.session().record(label, change, w);
                         });
        unexpectedMessages();
        return window;
    }

    // Selects up to `most` random rows of the list; their keys as the report lists them.
    QString selectSome(CardListWindow &w, int most)
    {
        const int rows = w.model().rowCount();
        QStringList ids;
        for (int i = 0, n = 1 + below(most); rows > 0 && i < n; ++i)
            ctl<QTableView>(w, "tblKarten")
                ->selectionModel()
                ->select(w.model().index(below(rows), 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        for (qint32 id : w.selectedCardIds())
            ids << QString::number(id);
        return ids.join(QLatin1Char(' '));
    }

    void listDeleteCards()
    {
        auto w = cardList();
        if (!w || w->model().rowCount() == 0)
            return;
        const QString ids = selectSome(*w, 4);
        emitLine(QStringLiteral("> D %1").arg(ids));
        m_dialogs.confirmations = {true};
        drive::click(ctl<QPushButton>(*w, "cmdLoeschen"));
        if (!refused())
            emitLine(QStringLiteral("< D"));
        ++m_changes;
    }

    void listMoveCards()
    {
        auto w = cardList();
        if (!w || w->model().rowCount() == 0 || ctl<QComboBox>(*w, "cboGebiet")->count() < 2)
            return;
        const QString ids = selectSome(*w, 4);
        const int target = 1 + below(ctl<QComboBox>(*w, "cboGebiet")->count() - 1);
        const qint32 subject = ctl<QComboBox>(*w, "cboGebiet")->itemData(target).toInt();
        emitLine(QStringLiteral("> M %1 %2").arg(subject).arg(ids));
        m_dialogs.dialogAnswers << [subject](QDialog &dialog) {
            auto *box = dialog.findChild<QComboBox *>(QStringLiteral("cboZiel"));
            box->setCurrentIndex(box->findData(subject));
            dialog.accept();
        };
        drive::click(ctl<QPushButton>(*w, "cmdVerschieben"));
        if (!refused())
            emitLine(QStringLiteral("< M"));
        ++m_changes;
    }

    // A compartment's interval typed into "Karten → Lernplan …" and saved.
    // The next day begins; the windows open the file afresh (as at a start), and the
    // day's copy is taken while they do.
    void newDay()
    {
        const int day = ++*m_options.today;
        emitLine(QStringLiteral("> T %1").arg(day));
        drive::toSubjectsForPractice(m_forms);
        if (tarlivo::store::Store *store = m_forms.session().store())
            store->waitForDayCopy();
        unexpectedMessages();
        emitLine(QStringLiteral("< T"));
        ++m_changes;
    }

    // "Karten → Lernplan …" opened on a subject picked at random; null without one.
    PlanWindow *planOnSomeSubject(qint32 *subject)
    {
        tarlivo::store::Store *store = m_forms.session().store();
        if (!store)
            return nullptr;
        const QStringList names = store->allSubjects();
        if (names.isEmpty())
            return nullptr;
        const std::optional<qint32> id = store->subjectId(names[below(int(names.size()))]);
        if (!id)
            return nullptr;
        m_forms.window<FrmBackground>().findChild<QAction *>(QStringLiteral("actLernplan"))->trigger();
        auto *plan = m_forms.tools().find<PlanWindow>();
        if (plan) {
            *subject = *id;
            plan->showSubject(*id);
        }
        return plan;
    }

    void planInterval()
    {
        qint32 subject = 0;
        PlanWindow *plan = planOnSomeSubject(&subject);
        if (!plan)
            return;
        const qint32 compartment = 1 + below(6);
        const qint32 days = pick({"0", "1", "2", "7", "30", "365", "3650"}).toInt();
        plan->showCompartment(compartment);
        emitLine(QStringLiteral("> A %1 %2 %3").arg(subject).arg(compartment).arg(days));
        ctl<QLineEdit>(*plan, "txtAbstand")->setText(QString::number(days));
        drive::click(ctl<QPushButton>(*plan, "cmdAbstand"));
        if (!refused())
            emitLine(QStringLiteral("< A"));
        ++m_changes;
        plan->hide();
    }

    // A subject's direction chosen in "Karten → Lernplan …".
    void planDirection()
    {
        qint32 subject = 0;
        PlanWindow *plan = planOnSomeSubject(&subject);
        if (!plan)
            return;
        const int setting = below(3);
        emitLine(QStringLiteral("> H %1 %2").arg(subject).arg(setting));
        auto *box = ctl<QComboBox>(*plan, "cmbRichtung");
        box->setCurrentIndex(setting);
        emit box->activated(setting);
        drive::settle();
        if (!refused())
            emitLine(QStringLiteral("< H"));
        ++m_changes;
        plan->hide();
    }

    void syncFolders()
    {
        tarlivo::store::Store *store = m_forms.session().store();
        if (!store)
            return;
        const QDir dir(m_options.dir);
        const QString a = dir.filePath(QStringLiteral("Abgleich-A"));
        const QString b = dir.filePath(QStringLiteral("Abgleich-B"));
        QDir().mkpath(a);
        QDir().mkpath(b);
        emitLine(QStringLiteral("> Z"));
        // Small parts and stretches, so that kills fall between the parts of a file and of
        // a snapshot too, and between the short transactions of a large write.
        tarlivo::sync::Limits limits;
        limits.parts.entities = 250;
        limits.parts.stretch = 20;
        try {
            tarlivo::sync::syncNow(*store, a, limits);
            if (!synctool::copyFolder(a, b))
                std::_Exit(6);
            tarlivo::store::StoreOptions options;
            options.backups = false;
            std::unique_ptr<tarlivo::store::Store> second =
                tarlivo::store::Store::open(dir.filePath(QStringLiteral("Zweit.mdb")), options);
            tarlivo::sync::syncNow(*second, b, limits);
            if (!synctool::copyFolder(b, a))
                std::_Exit(6);
            tarlivo::sync::syncNow(*store, a, limits);
        } catch (const tarlivo::sync::SyncError &e) {
            emitLine(QStringLiteral("! %1").arg(hex(e.message)));
            std::_Exit(3);
        } catch (const tarlivo::store::StoreError &e) {
            emitLine(QStringLiteral("! %1").arg(hex(e.detail())));
            std::_Exit(3);
        }
        emitLine(QStringLiteral("< Z"));
        ++m_changes;
    }

    void listSetCompartment()
    {
        auto w = cardList();
        if (!w || w->model().rowCount() == 0)
            return;
        const QString ids = selectSome(*w, 4);
        const int compartment = 1 + below(9); // the top compartment would make a later verdict refuse
        emitLine(QStringLiteral("> K %1 %2").arg(compartment).arg(ids));
        m_dialogs.answers = {QString::number(compartment)};
        drive::click(ctl<QPushButton>(*w, "cmdFach"));
        if (!refused())
            emitLine(QStringLiteral("< K"));
        ++m_changes;
    }

    // One of three pictures of its own colour, written beside the file on first use.
    QString picturePath(int which)
    {
        const QString path = QDir(m_options.dir).filePath(QStringLiteral("bild%1.png").arg(which));
        if (!QFile::exists(path)) {
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(100 * which, 255, 255));
            image.save(path + QStringLiteral(".part"), "PNG");
            QFile::rename(path + QStringLiteral(".part"), path);
        }
        return path;
    }

    void listPicture()
    {
        auto w = cardList();
        if (!w || w->model().rowCount() == 0)
            return;
        const int row = below(w->model().rowCount());
        const qint32 card = w->model().rowAt(row)->card.id;
        ctl<QTableView>(*w, "tblKarten")->setCurrentIndex(w->model().index(row, 0));
        const int which = below(4);
        const bool removing = which == 3;
        emitLine(QStringLiteral("> B %1 %2")
                     .arg(card)
                     .arg(removing ? QStringLiteral("-") : QStringLiteral("bild%1.png").arg(which)));
        if (!removing)
            m_dialogs.fileAnswers = {picturePath(which)};
        m_dialogs.dialogAnswers << [removing](QDialog &dialog) {
            dialog
                .findChild<QPushButton *>(removing ? QStringLiteral("cmdBildEntfernenFrage")
                                                   : QStringLiteral("cmdBildWaehlenFrage"))
                ->click();
            dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        };
        drive::click(ctl<QPushButton>(*w, "cmdBearbeiten"));
        if (!refused())
            emitLine(QStringLiteral("< B"));
        ++m_changes;
    }

    void listDeleteSubject()
    {
        auto w = cardList();
        if (!w || ctl<QComboBox>(*w, "cboGebiet")->count() < 2)
            return;
        const int at = 1 + below(ctl<QComboBox>(*w, "cboGebiet")->count() - 1);
        const qint32 subject = ctl<QComboBox>(*w, "cboGebiet")->itemData(at).toInt();
        w->showSubject(subject);
        emitLine(QStringLiteral("> G %1").arg(subject));
        m_dialogs.confirmations = {true};
        drive::click(ctl<QPushButton>(*w, "cmdGebietLoeschen"));
        if (!refused())
            emitLine(QStringLiteral("< G"));
        ++m_changes;
    }

    qint64 lastInsert() { return sqlite3_last_insert_rowid(storedb::of(m_forms.session().db()).handle()); }

    // After a change: true when a message refused it. Alone on a single writer,
    // only "Fach : n ist leer!" may follow a verdict; with a second copy at work
    // a wait that ran out or a card moved away may be reported too.
    bool refused(bool afterVerdict = false)
    {
        const QStringList shown = m_dialogs.take();
        bool refusal = false;
        for (const QString &m : shown) {
            const bool emptied = m.contains(QStringLiteral(" ist leer!"));
            if (emptied && afterVerdict)
                continue;
            if (m_options.log && (emptied || m.contains(QStringLiteral("anderen laufenden Tarlivo")))) {
                emitLine(QStringLiteral("~ %1").arg(hex(m)));
                refusal = !emptied;
                continue;
            }
            emitLine(QStringLiteral("! %1").arg(hex(m)));
            std::_Exit(3);
        }
        if (m_options.log)
            reportLog();
        return refusal;
    }

    void unexpectedMessages() { refused(); }

    // The positions written by the last change, from the log that its own
    // transaction filled (a change that was rolled back left nothing there).
    void reportLog()
    {
        tarlivo::store::Store *store = m_forms.session().store();
        sqlite3 *db = store ? storedb::of(*store).handle() : nullptr;
        if (!db)
            return;
        installLog(db);
        sqlite3_stmt *q = nullptr;
        sqlite3_prepare_v2(db, "SELECT card, fach, stelle FROM temp.drvlog ORDER BY rowid", -1, &q, nullptr);
        while (sqlite3_step(q) == SQLITE_ROW)
            emitLine(QStringLiteral("P %1 %2 %3")
                         .arg(sqlite3_column_int64(q, 0))
                         .arg(sqlite3_column_int64(q, 1))
                         .arg(sqlite3_column_int64(q, 2)));
        sqlite3_finalize(q);
        sqlite3_exec(db, "DELETE FROM temp.drvlog", nullptr, nullptr, nullptr);
    }

public:
    // Every connection the windows open gets the log (the subject window opens a
    // new one at each load).
    static void installLog(sqlite3 *db)
    {
        sqlite3_exec(db,
                     "CREATE TEMP TABLE IF NOT EXISTS drvlog (card INTEGER, fach INTEGER, stelle INTEGER);"
                     "CREATE TEMP TRIGGER IF NOT EXISTS drvlogMove AFTER UPDATE ON main.tblPosition BEGIN "
                     " INSERT INTO drvlog VALUES (NEW.idFrageAntwort, NEW.Fach, NEW.Stelle); END;"
                     "CREATE TEMP TRIGGER IF NOT EXISTS drvlogAdd AFTER INSERT ON main.tblPosition BEGIN "
                     " INSERT INTO drvlog VALUES (NEW.idFrageAntwort, NEW.Fach, NEW.Stelle); END;",
                     nullptr, nullptr, nullptr);
    }

private:
    Forms &m_forms;
    ScriptedDialogs &m_dialogs;
    const Options &m_options;
    std::mt19937 m_rng;
    std::mt19937 m_syncRng;
    long m_changes = 0;
    int m_names = 0;
};

Options parse(const QStringList &args)
{
    Options o;
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: %s DIR SEED TAG [--ops N] [--day N] [--cards-only] [--log]\n",
                     qPrintable(args.value(0)));
        std::exit(2);
    }
    o.dir = args[1];
    o.seed = args[2].toUInt();
    o.tag = args[3];
    for (int i = 4; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--ops"))
            o.ops = args.value(++i).toLong();
        else if (args[i] == QLatin1String("--day"))
            o.day = args.value(++i).toInt();
        else if (args[i] == QLatin1String("--cards-only"))
            o.cardsOnly = true;
        else if (args[i] == QLatin1String("--log"))
            o.log = true;
    }
    return o;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    // The offscreen platform's remarks (no raise() there) would drown the output.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    QApplication app(argc, argv);
    const Options options = parse(app.arguments());

    tarlivo::store::StoreOptions storeOptions;
    if (options.day >= 0) {
        *options.today = options.day;
        storeOptions.today = [today = options.today] { return QDate(2020, 1, 1).addDays(*today); };
    } else {
        storeOptions.backups = false;
    }
    ScriptedDialogs dialogs;
    Forms forms(dialogs, Forms::Setup{databasePath(options.dir), storeOptions, [] {}});
    forms.start();

    Driver driver(forms, dialogs, options);
    while (options.ops == 0 || driver.changes() < options.ops) {
        if (options.log && forms.session().store())
            Driver::installLog(storedb::of(*forms.session().store()).handle());
        driver.step();
    }
    return 0;
}
