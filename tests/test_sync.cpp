// Two data files on one machine, each syncing through a folder of its own; the sync
// tool between the folders is a copy, in any order, with delays, duplicates, files
// cut short and conflict copies.

#include "rawdb.h"
#include "store/store.h"
#include "store/syncstore.h"
#include "sync/sync.h"
#include "testapp.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

struct Machine {
    QString path;
    QString folder;
    std::unique_ptr<Store> store;
    std::optional<Change> last; // the newest step, for undo
    sync::Limits limits;
};

class Pair {
public:
    Pair()
    {
        for (const char *name : {"A", "B"}) {
            Machine &m = m_machines[QString::fromLatin1(name)];
            m.path = m_dir.filePath(QStringLiteral("%1.mdb").arg(QLatin1String(name)));
            m.folder = m_dir.filePath(QStringLiteral("Ordner%1").arg(QLatin1String(name)));
            QDir().mkpath(m.folder);
            m.store = Store::open(m.path, noBackups());
        }
    }

    Machine &at(const QString &name) { return m_machines[name]; }
    QString folderOf(const QString &name) { return at(name).folder; }

    qint32 card(Store &s, const QString &question)
    {
        for (qint32 id : s.cardIds(std::nullopt, QString(), CardOrder::Practice))
            if (s.cardText(id)->question == question)
                return id;
        return 0;
    }

    sync::Outcome syncOf(const QString &name)
    {
        return sync::syncNow(*at(name).store, at(name).folder, at(name).limits);
    }

    // The files of changes and the snapshots a machine keeps of its own in its folder.
    QString ownFiles(const QString &name)
    {
        const SyncIdentity id = SyncStore(*at(name).store).identity();
        const QDir own(QStringLiteral("%1/%2/%3").arg(at(name).folder, id.collection, id.machine));
        return QStringLiteral("%1 %2")
            .arg(own.entryList({"0*.tarlivo"}, QDir::Files).size())
            .arg(own.entryList({"stand-????????.tarlivo"}, QDir::Files).size());
    }

    // The sync tool: every file of one folder the other lacks (or holds cut short).
    // delay: the newest change file of each machine stays behind; cut: it arrives cut
    // short; conflicts: each file arrives twice more as a tool's conflict copy and temporary.
    void copy(const QString &from, const QString &to, const QString &how)
    {
        const QDir source(at(from).folder);
        const QDir target(at(to).folder);
        std::map<QString, QString> newest; // folder -> newest change file
        QDirIterator it(source.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext()) {
            const QString file = source.relativeFilePath(it.next());
            files << file;
            if (file.endsWith(QLatin1String(".tarlivo"))) {
                QString &n = newest[QFileInfo(file).path()];
                n = std::max(n, file);
            }
        }
        for (const QString &file : files) {
            const bool isNewest = newest[QFileInfo(file).path()] == file;
            if (how == QLatin1String("-") && isNewest)
                continue;
            QByteArray bytes = rawdb::readBytes(source.filePath(file));
            if (how == QLatin1String("/") && isNewest)
                bytes.truncate(bytes.size() / 2);
            const QString dest = target.filePath(file);
            if (rawdb::readBytes(dest) == bytes)
                continue;
            QDir().mkpath(QFileInfo(dest).path());
            QVERIFY(rawdb::writeBytes(dest, bytes));
            if (how == QLatin1String("x")) {
                const QFileInfo d(dest);
                QVERIFY(rawdb::writeBytes(
                    d.path() + "/" + d.completeBaseName() + ".sync-conflict-20261208-101010-ABCDEFG.tarlivo", bytes));
                QVERIFY(rawdb::writeBytes(d.path() + "/.syncthing." + d.fileName() + ".tmp", bytes.left(10)));
            }
        }
    }

    // One step of a script: "Ac Bio q a" is machine A storing a card (see the table).
    void run(const QString &step)
    {
        const QStringList w = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString op = w.value(0);
        if (op.size() >= 2 && op[0].isUpper() && op[1].isUpper())
            return copy(op.left(1), op.mid(1, 1), op.mid(2));
        Machine &m = at(op.left(1));
        Store &s = *m.store;
        const QString what = op.mid(1);
        Change c;
        if (what == QLatin1String("+")) {
            s.addSubject(w[1]);
            return;
        }
        if (what == QLatin1String("=")) {
            s.renameSubject(w[1], w[2]);
            return;
        }
        if (what == QLatin1String("s")) {
            syncOf(op.left(1));
            return;
        }
        if (what == QLatin1String("|")) {
            m.limits.parts.entities = w[1].toInt();
            return;
        }
        if (what == QLatin1String("#")) {
            QCOMPARE(ownFiles(op.left(1)), w.mid(1).join(QLatin1Char(' ')));
            return;
        }
        if (what == QLatin1String("@")) {
            // The pictures and sounds in the folder; "A@ -" deletes them, as a sync tool
            // carrying another machine's deletion would.
            QDir media(QStringLiteral("%1/%2/medien").arg(m.folder, SyncStore(s).identity().collection));
            if (w.value(1) == QLatin1String("-")) {
                for (const QString &name : media.entryList(QDir::Files))
                    QVERIFY(media.remove(name));
                return;
            }
            QCOMPARE(media.entryList(QDir::Files).size(), w.value(1).toInt());
            return;
        }
        if (what == QLatin1String("c"))
            s.addCard(*s.subjectId(w[1]), w[2], w[3], &c);
        else if (what == QLatin1String("v"))
            c = s.judgeCard(card(s, w[1]), w[2] == QLatin1String("R")   ? Verdict::Right
                                           : w[2] == QLatin1String("F") ? Verdict::AlmostRight
                                                                        : Verdict::Wrong);
        else if (what == QLatin1String("w"))
            c = s.judgeCard(card(s, w[1]), w[2] == QLatin1String("R") ? Verdict::Right : Verdict::Wrong,
                            Direction::Reverse);
        else if (what == QLatin1String("r"))
            c = *s.setDirection(*s.subjectId(w[1]), DirectionSetting::Both);
        else if (what == QLatin1String("e"))
            c = s.editCard(card(s, w[1]), w[2], w[3]);
        else if (what == QLatin1String("d"))
            c = s.deleteCards({card(s, w[1])});
        else if (what == QLatin1String("k")) {
            // "Ak q3,q1 2": one step, the cards in that order.
            std::vector<qint32> ids;
            for (const QString &q : w[1].split(QLatin1Char(',')))
                ids.push_back(card(s, q));
            c = s.setCompartment(ids, w[2].toInt());
        } else if (what == QLatin1String("g"))
            c = s.deleteSubject(*s.subjectId(w[1]));
        else if (what == QLatin1String("p"))
            c = s.editCard(
                card(s, w[1]), w[1], s.cardText(card(s, w[1]))->answer,
                {MediaEdit{CardSide::Question, MediaKind::Picture, false, w[2], w[2].toUtf8().repeated(50)}});
        else if (what == QLatin1String("x"))
            c = s.editCard(card(s, w[1]), w[1], s.cardText(card(s, w[1]))->answer,
                           {MediaEdit{CardSide::Question, MediaKind::Picture, true, QString(), QByteArray()}});
        else if (what == QLatin1String("i")) {
            bool given = false;
            s.importCards([&](BulkCard &b) {
                if (given)
                    return false;
                b = BulkCard{w[1], w[2], w[3]};
                return given = true;
            });
            return;
        } else if (what == QLatin1String("u!")) {
            QVERIFY(m.last);
            try {
                s.undo(*m.last);
                QFAIL("an undo across a sync was taken");
            } catch (const StoreError &e) {
                QCOMPARE(e.kind(), StoreErrorKind::Conflict);
            }
            return;
        } else {
            QFAIL(qPrintable("unknown step " + step));
        }
        m.last = c;
    }

    // Subjects | cards (subject/question/answer/compartment) | log count | pictures.
    QString state(const QString &name)
    {
        const QString path = at(name).path;
        const QStringList subjects = rawdb::rows(path, "SELECT NameGebiet FROM tblGebiet ORDER BY 1");
        const QStringList cards = rawdb::rows(
            path,
            "SELECT g.NameGebiet || '/' || f.Frage || '/' || f.Antwort || '/' || p.Fach FROM tblFrageAntwort AS f "
            "JOIN tblGebiet AS g USING (idGebiet) JOIN tblPosition AS p USING (idFrageAntwort) ORDER BY 1");
        const QStringList media = rawdb::rows(
            path, "SELECT f.Frage || ':' || m.Name FROM tblKarteMedium AS k JOIN tblMedium AS m USING (idMedium) "
                  "JOIN tblFrageAntwort AS f USING (idFrageAntwort) ORDER BY 1");
        return QStringLiteral("%1 | %2 | log=%3 | %4")
            .arg(subjects.join(QLatin1Char(',')), cards.join(QLatin1Char(' ')))
            .arg(rawdb::count(path, "SELECT COUNT(*) FROM tblUebung"))
            .arg(media.join(QLatin1Char(' ')));
    }

    // Each compartment's queue: "Bio/2: q3 q1" lists the cards in the order practice asks them.
    QString queues(const QString &name)
    {
        QString out;
        QString current;
        // The reverse queues after the forward ones, "Bio/~2".
        for (const QString &row :
             rawdb::rows(at(name).path, "SELECT g.NameGebiet || '/' || p.Fach || ' ' || f.Frage FROM tblPosition AS p "
                                        "JOIN tblFrageAntwort AS f USING (idFrageAntwort) JOIN tblGebiet AS g ON "
                                        "g.idGebiet = p.idGebiet ORDER BY g.NameGebiet, p.Fach, p.Stelle")
                 + rawdb::rows(at(name).path,
                               "SELECT g.NameGebiet || '/~' || r.Fach || ' ' || f.Frage FROM tblPositionUmgekehrt AS r "
                               "JOIN tblFrageAntwort AS f USING (idFrageAntwort) JOIN tblGebiet AS g ON "
                               "g.idGebiet = r.idGebiet ORDER BY g.NameGebiet, r.Fach, r.Stelle")) {
            const QString queue = row.section(QLatin1Char(' '), 0, 0);
            if (queue != current)
                out += (out.isEmpty() ? QString() : QStringLiteral("; ")) + queue + QLatin1Char(':');
            current = queue;
            out += QLatin1Char(' ') + row.section(QLatin1Char(' '), 1);
        }
        return out;
    }

    // Everything both must hold alike, keys aside.
    QStringList content(const QString &name)
    {
        const QString path = at(name).path;
        return rawdb::rows(path, "SELECT g.NameGebiet, f.Frage, f.Antwort, p.Fach, s.Seit FROM tblFrageAntwort AS f "
                                 "JOIN tblGebiet AS g USING (idGebiet) JOIN tblPosition AS p USING (idFrageAntwort) "
                                 "JOIN tblFachSeit AS s USING (idFrageAntwort) ORDER BY 1, 2, 3")
               + rawdb::rows(path, "SELECT u.Zeitpunkt, f.Frage, u.FachVorher, u.FachNachher, u.Urteil FROM tblUebung "
                                   "AS u LEFT JOIN tblFrageAntwort AS f USING (idFrageAntwort) ORDER BY 1, 2, 3, 4, 5")
               + rawdb::rows(path, "SELECT hex(Pruefsumme), Name FROM tblMedium ORDER BY 1");
    }

private:
    QTemporaryDir m_dir;
    std::map<QString, Machine> m_machines;
};

} // namespace

class TestSync : public QObject {
    Q_OBJECT

private slots:
    void merge_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cards and verdicts travel both ways")
            << "A+ Bio; Ac Bio q1 a1; Ac Bio q2 a2; Av q1 R; As; AB; Bs; Bv q2 R; Bv q2 R"
            << "Bio | Bio/q1/a1/2 Bio/q2/a2/3 | log=3 | ";
        QTest::newRow("edits on both sides: the later wins") << "A+ Bio; Ac Bio q a; As; AB; Bs; Ae q qa aa; Be q qb ab"
                                                             << "Bio | Bio/qb/ab/1 | log=0 | ";
        QTest::newRow("a deletion wins over an older edit") << "A+ Bio; Ac Bio q a; As; AB; Bs; Be q q2 a2; Ad q"
                                                            << "Bio |  | log=0 | ";
        QTest::newRow("a later edit brings a deleted card back") << "A+ Bio; Ac Bio q a; As; AB; Bs; Ad q; Be q q2 a2"
                                                                 << "Bio | Bio/q2/a2/1 | log=0 | ";
        QTest::newRow("renamed on both sides: the later name") << "A+ Bio; As; AB; Bs; A= Bio Biologie; B= Bio Bio2"
                                                               << "Bio2 |  | log=0 | ";
        QTest::newRow("two subjects made with one name become one") << "A+ Bio; Ac Bio q a; B+ bio; Bc bio r b"
                                                                    << "bio | bio/q/a/1 bio/r/b/1 | log=0 | ";
        QTest::newRow("joining: the same card becomes one, its progress the later")
            << "A+ Bio; Ac Bio q a; Av q R; B+ Bio; Bc Bio q a; Bv q R; Bv q R"
            << "Bio | Bio/q/a/3 | log=3 | ";
        QTest::newRow("delays, a cut file, duplicates and conflict copies")
            << "A+ Bio; Ac Bio q a; As; AB/; Bs; Av q R; As; AB-; ABx; Bs; AB; Bs; Bs"
            << "Bio | Bio/q/a/2 | log=1 | ";
        QTest::newRow("a compartment set, then a verdict elsewhere") << "A+ Bio; Ac Bio q a; As; AB; Bs; Ak q 5; Bv q R"
                                                                     << "Bio | Bio/q/a/2 | log=1 | ";
        QTest::newRow("a deleted subject stays for a card edited later")
            << "A+ Bio; Ac Bio q a; Ac Bio r b; As; AB; Bs; Ag Bio; Be r r2 b2"
            << "Bio | Bio/r2/b2/1 | log=0 | ";
        QTest::newRow("a subject renamed, then deleted elsewhere")
            << "A+ Bio; Ac Bio q a; As; AB; Bs; A= Bio Neu; Ag Neu"
            << " |  | log=0 | ";
        QTest::newRow("a picture travels") << "A+ Bio; Ac Bio q a; Ap q hund.png"
                                           << "Bio | Bio/q/a/1 | log=0 | q:hund.png";
        QTest::newRow("an import travels") << "Ai Wörter x y"
                                           << "Wörter | Wörter/x/y/1 | log=0 | ";
        QTest::newRow("files and snapshots in parts of one entity, a part cut short")
            << "A| 1; B| 1; A+ Bio; Ac Bio q a; Ac Bio r b; Av q R; As; AB/; Bs; AB; Bs; Bc Bio s c; Be r r2 b2; Bs; "
               "BA/; As; BA; As"
            << "Bio | Bio/q/a/2 Bio/r2/b2/1 Bio/s/c/1 | log=1 | ";
        QTest::newRow("a new machine joins from the snapshot after the other has folded")
            << "A+ Bio; Ac Bio q a; As; A# 0 1; Ae q q2 a2; As; Ae q2 q3 a3; As; Ae q3 q4 a4; As; A# 1 1; AB; Bs; B# 0 "
               "0"
            << "Bio | Bio/q4/a4/1 | log=0 | ";
        QTest::newRow("a machine late after folding: its files stay until it has read them")
            << "A+ Bio; Ac Bio q a; As; AB; Bs; BA; Ae q q2 a2; As; Ae q2 q3 a3; As; Ae q3 q4 a4; As; A# 3 1; AB; Bs; "
               "BA; As; A# 1 1"
            << "Bio | Bio/q4/a4/1 | log=0 | ";
        QTest::newRow("a picture no card uses any more is folded once every machine has read so")
            << "A+ Bio; Ac Bio q a; Ap q hund.png; As; AB; Bs; BA; As; Ax q; As; Ae q q2 a2; As; Ae q2 q3 a3; As; "
               "A@ 1; AB; Bs; BA; As; A@ 0"
            << "Bio | Bio/q3/a3/1 | log=0 | ";
        QTest::newRow("a picture another machine uses again stays, and comes back where it went")
            << "A+ Bio; Ac Bio q a; Ap q hund.png; As; AB; Bs; BA; As; Ax q; Bc Bio r b; Bp r hund.png; As; Ae q q2 "
               "a2; As; Ae q2 q3 a3; As; AB; Bs; BA; As; AB; Bs; BA; As; A@ 1; B@ -; Bs; B@ 1"
            << "Bio | Bio/q3/a3/1 Bio/r/b/1 | log=0 | r:hund.png";
        QTest::newRow("an undo whose rows a sync changed is refused")
            << "A+ Bio; Ac Bio q a; As; AB; Bs; Be q qb ab; Ae q qa aa; As; AB; Bs; Bu!"
            << "Bio | Bio/qa/aa/1 | log=0 | ";
    }

    static void play(Pair &pair, const QString &script)
    {
        // Both end up current: each writes, the other reads.
        const QString settle = QStringLiteral("; As; AB; Bs; BA; As; AB; Bs");
        for (const QString &step : (script + settle).split(QLatin1Char(';'))) {
            pair.run(step.trimmed());
            if (QTest::currentTestFailed())
                return;
            // The clocks of changes in a row differ, as a user's would.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    void merge()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        Pair pair;
        play(pair, script);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(pair.state(QStringLiteral("A")), expected);
        QCOMPARE(pair.content(QStringLiteral("B")), pair.content(QStringLiteral("A")));
        QCOMPARE(pair.queues(QStringLiteral("B")), pair.queues(QStringLiteral("A")));
        // A lists itself among the machines, with the time of its newest file.
        const std::vector<sync::Machine> seen = sync::machines(*pair.at("A").store, pair.folderOf("A"));
        QCOMPARE(
            std::count_if(seen.begin(), seen.end(),
                          [](const sync::Machine &m) { return m.self && m.lastSeen.isValid() && !m.name.isEmpty(); }),
            1);
        for (const char *m : {"A", "B"}) {
            QCOMPARE(pair.at(QString::fromLatin1(m)).store->checkInvariants(), QStringList());
            QVERIFY(!sync::hasPendingChanges(*pair.at(QString::fromLatin1(m)).store));
        }
    }

    // A window's write between the stretches of a first sync goes through at once (on a
    // connection that never waits), and what it changed reaches the other machine.
    void windowsWriteDuringFirstSync()
    {
        Pair pair;
        for (const char *step : {"A+ Bio", "Ac Bio q1 a", "Ac Bio q2 b", "Ac Bio q3 c"})
            pair.run(QString::fromLatin1(step));
        Machine &a = pair.at("A");
        StoreOptions options = noBackups();
        options.busyTimeoutMs = 0;
        std::unique_ptr<Store> window = Store::open(a.path, options);
        int writes = 0;
        QStringList refused;
        a.limits.parts.stretch = 1;
        a.limits.parts.between = [&] {
            if (writes == 6)
                return; // each verdict is one more entity for this very write
            try {
                window->judgeCard(pair.card(*window, QStringLiteral("q%1").arg(writes % 3 + 1)), Verdict::Wrong);
                ++writes;
            } catch (const StoreError &e) {
                refused << e.detail();
            }
        };
        pair.syncOf("A");
        a.limits.parts.between = nullptr;
        QCOMPARE(refused, QStringList());
        QCOMPARE(writes, 6);
        for (const char *step : {"AB", "Bs", "As", "AB", "Bs"})
            pair.run(QString::fromLatin1(step));
        QCOMPARE(rawdb::count(pair.at("B").path, "SELECT COUNT(*) FROM tblUebung"), qint64(6));
        QCOMPARE(pair.content(QStringLiteral("B")), pair.content(QStringLiteral("A")));
        QVERIFY(!sync::hasPendingChanges(*a.store));
    }

    // The queues both reach: each compartment in the order its cards were placed there,
    // whichever machine placed them and whichever file came first.
    void queues_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString three = QStringLiteral("A+ Bio; Ac Bio q1 a; Ac Bio q2 a; Ac Bio q3 a; As; AB; Bs; ");
        QTest::newRow("verdicts on both, A's file first") << three + "Av q1 R; Bv q2 R; Av q3 R; As; AB; Bs"
                                                          << "Bio/2: q1 q2 q3";
        QTest::newRow("verdicts on both, B's file first") << three + "Av q1 R; Bv q2 R; Av q3 R; Bs; BA; As"
                                                          << "Bio/2: q1 q2 q3";
        QTest::newRow("a card made between verdicts elsewhere") << three + "Av q1 F; Bc Bio n a; Av q2 F; Bs; BA; As"
                                                                << "Bio/1: q3 q1 n q2";
        QTest::newRow("placed again on one, placed on the other") << three + "Bv q3 R; Av q1 R; Bv q3 F; As; AB; Bs"
                                                                  << "Bio/1: q2; Bio/2: q1 q3";
        QTest::newRow("a late file reaches back before the cards placed since")
            << three + "Av q1 R; As; AB-; Bv q2 R; Bs; BA; As; Av q3 R; As; AB; Bs"
            << "Bio/2: q1 q2 q3";
        QTest::newRow("one step places cards at one time: its order on both") << three + "Ak q3,q1 2; As; AB; Bs"
                                                                              << "Bio/1: q2; Bio/2: q3 q1";
        QTest::newRow("one step's cards dealt again behind a later verdict")
            << three + "As; AB; Bs; Ak q3,q2,q1 2; Bv q2 R; Bs; BA; As; AB; Bs"
            << "Bio/2: q3 q1 q2";
        QTest::newRow("one step's cards behind an earlier verdict from a late file")
            << three + "Bv q2 R; Ak q3,q1 2; As; AB; Bs; BA; As"
            << "Bio/2: q2 q3 q1";
        QTest::newRow("reverse places on both") << three + "Ar Bio; As; AB; Bs; Aw q1 R; Bw q2 R; Aw q3 R; Bs; BA; As"
                                                << "Bio/1: q1 q2 q3; Bio/~2: q1 q2 q3";
    }

    void queues()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        Pair pair;
        play(pair, script);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(pair.queues(QStringLiteral("A")), expected);
        QCOMPARE(pair.queues(QStringLiteral("B")), expected);
        for (const char *m : {"A", "B"})
            QCOMPARE(pair.at(QString::fromLatin1(m)).store->checkInvariants(), QStringList());
    }

    // A card placed elsewhere moves alone: the rest of its compartment keeps its places.
    void merge_moves_only_the_tail()
    {
        Pair pair;
        QString script = QStringLiteral("A+ Bio");
        for (int i = 0; i < 40; ++i)
            script += QStringLiteral("; Ac Bio k%1 a").arg(i);
        play(pair, script);
        const char *places = "SELECT f.Frage || '=' || p.Stelle FROM tblPosition AS p JOIN tblFrageAntwort AS f "
                             "USING (idFrageAntwort) ORDER BY f.Frage";
        const QStringList before = rawdb::rows(pair.at("B").path, places);
        play(pair, QStringLiteral("Av k5 F"));
        const QStringList after = rawdb::rows(pair.at("B").path, places);
        QCOMPARE(after.size(), before.size());
        QStringList moved;
        for (int i = 0; i < after.size(); ++i)
            if (after[i] != before[i])
                moved << after[i].section(QLatin1Char('='), 0, 0);
        QCOMPARE(moved, QStringList{QStringLiteral("k5")});
        QVERIFY(pair.queues(QStringLiteral("B")).endsWith(QLatin1String(" k5")));
    }

    // One sync of a data file at a time: a sync elsewhere holding its lock is told, a
    // lock file left behind, whichever live process it names, is not.
    void oneSyncAtATime()
    {
        Pair pair;
        pair.run(QStringLiteral("A+ Bio"));
        const QString lockPath = QFileInfo(pair.at("A").path).dir().filePath(QStringLiteral(".A.mdb.abgleich"));
        QVERIFY(rawdb::writeBytes(lockPath, QByteArray::number(QCoreApplication::applicationPid()) + "\n"
                                                + QCoreApplication::applicationFilePath().toUtf8() + "\n\n"));
        QCOMPARE(pair.syncOf("A").written, qint64(1));
        const int held = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
        try {
            pair.syncOf("A");
            QFAIL("a second sync of the file ran");
        } catch (const sync::SyncError &e) {
            QVERIFY(e.message.contains(QStringLiteral("wird gerade schon abgeglichen")));
        }
        ::close(held);
        pair.syncOf("A");
    }

    // Before the first sync an import journals nothing: the fill gives its cards their
    // clocks, also those of an import stored after the fill has passed the cards.
    void importBeforeFirstSync()
    {
        Pair pair;
        pair.run(QStringLiteral("A+ Bio"));
        pair.run(QStringLiteral("Ai Bio q1 a"));
        Machine &a = pair.at("A");
        QCOMPARE(rawdb::count(a.path, "SELECT COUNT(*) FROM tblAbgleichUhr WHERE Art = 1"), qint64(0));
        QVERIFY(sync::hasPendingChanges(*a.store));
        std::unique_ptr<Store> window = Store::open(a.path, noBackups());
        int stretches = 0;
        a.limits.parts.stretch = 1;
        a.limits.parts.between = [&] {
            bool given = false;
            if (++stretches == 2) // the subjects' and the cards' clocks are filled
                window->importCards([&](BulkCard &b) {
                    b = BulkCard{QStringLiteral("Bio"), QStringLiteral("q2"), QStringLiteral("b")};
                    return !std::exchange(given, true);
                });
        };
        pair.syncOf("A");
        a.limits.parts.between = nullptr;
        QVERIFY(stretches >= 2);
        for (const char *step : {"AB", "Bs"})
            pair.run(QString::fromLatin1(step));
        QCOMPARE(rawdb::count(pair.at("B").path, "SELECT COUNT(*) FROM tblFrageAntwort"), qint64(2));
        QCOMPARE(pair.content(QStringLiteral("B")), pair.content(QStringLiteral("A")));
    }

    // Once synced, an import journals its subjects and cards at once, as the triggers
    // journal the same rows written one step at a time (which fields carry a time, and whose), and
    // leaves the triggers working.
    void importJournal_data()
    {
        QTest::addColumn<bool>("subjectBefore");
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<bool>("byTime"); // its places given at its end
        QTest::newRow("into a new subject") << false << false << false;
        QTest::newRow("into a subject there before") << true << false << false;
        QTest::newRow("with a reverse place, into a new subject") << false << true << false;
        QTest::newRow("with a reverse place given at the end") << false << true << true;
    }

    void importJournal()
    {
        QFETCH(bool, subjectBefore);
        QFETCH(bool, reverse);
        QFETCH(bool, byTime);
        QTemporaryDir dir;
        const QString imported = dir.filePath(QStringLiteral("i.mdb")), stepped = dir.filePath(QStringLiteral("s.mdb"));
        {
            auto i = Store::open(imported, noBackups());
            auto s = Store::open(stepped, noBackups());
            // Synced before: from then on an import journals what it writes.
            for (Store *store : {i.get(), s.get()})
                SyncStore(*store).fillClocks();
            if (subjectBefore)
                i->addSubject(QStringLiteral("W"));
            s->addSubject(QStringLiteral("W"));
            bool given = false;
            BulkImportOptions options;
            options.queueByTime = byTime;
            i->importCards(
                [&](BulkCard &b) {
                    b = BulkCard{QStringLiteral("W"), QStringLiteral("x"), QStringLiteral("y")};
                    if (reverse)
                        b.reverseCompartment = 2;
                    return !std::exchange(given, true);
                },
                options);
            s->addCard(*s->subjectId(QStringLiteral("W")), QStringLiteral("x"), QStringLiteral("y"));
            if (reverse)
                s->setDirection(*s->subjectId(QStringLiteral("W")), DirectionSetting::Both);
            // The triggers are back for the cards after it.
            for (Store *store : {i.get(), s.get()})
                store->addCard(*store->subjectId(QStringLiteral("W")), QStringLiteral("q"), QStringLiteral("a"));
            QVERIFY(i->checkInvariants().isEmpty());
        }
        const char *journal = "SELECT Art, Neu, Z0 > 0, M0, Z1 > 0, M1, Z2 > 0, M2, Z3 > 0, M3, Z4 > 0, M4, Z5 > 0, "
                              "M5 FROM tblAbgleichUhr ORDER BY Art, idLokal";
        QCOMPARE(rawdb::rows(imported, journal), rawdb::rows(stepped, journal));
    }

    void skipped_data()
    {
        QTest::addColumn<QString>("file");       // of the snapshot A's first sync writes: its list or its part
        QTest::addColumn<QString>("collection"); // of the folder the files are put in; empty: their own
        QTest::addColumn<QString>("name");       // the file's name there; empty: its own
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("note");
        const QString list = QStringLiteral("stand-00000001");
        QTest::newRow("cut short") << list << ""
                                   << ""
                                   << "cut"
                                   << "1 unvollständige Datei übersprungen";
        QTest::newRow("a byte changed") << list << ""
                                        << ""
                                        << "flip"
                                        << "1 beschädigte Datei übersprungen";
        QTest::newRow("a snapshot's part cut short") << list + "-0001"
                                                     << ""
                                                     << ""
                                                     << "cut"
                                                     << "1 unvollständige Datei übersprungen";
        QTest::newRow("another collection's") << list << "7d1d3c2e-0000-4000-8000-000000000001"
                                              << ""
                                              << ""
                                              << "1 Datei einer anderen Sammlung übersprungen";
        const QString copy = QStringLiteral("1 Konfliktkopie des Abgleichprogramms übersprungen");
        QTest::newRow("Syncthing's conflict copy")
            << list << "" << list + ".sync-conflict-20261208-101010-ABCDEFG.tarlivo"
            << "" << copy;
        QTest::newRow("Syncthing's temporary file") << list << ""
                                                    << ".syncthing." + list + ".tarlivo.tmp"
                                                    << "" << copy;
        QTest::newRow("Nextcloud's conflicted copy")
            << list << "" << list + " (conflicted copy 2026-12-08 101010).tarlivo"
            << "" << copy;
    }

    void skipped()
    {
        QFETCH(QString, file);
        QFETCH(QString, collection);
        QFETCH(QString, name);
        QFETCH(QString, damage);
        QFETCH(QString, note);
        Pair pair;
        for (const char *step : {"A+ Bio", "Ac Bio q a", "As"})
            pair.run(QString::fromLatin1(step));
        // The snapshot's files into B's folder, the one under test as the row says.
        QDirIterator it(pair.folderOf("A"), {"stand-*.tarlivo"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            QByteArray bytes = rawdb::readBytes(info.filePath());
            const bool tested = info.completeBaseName() == file;
            if (tested && damage == QLatin1String("cut"))
                bytes.chop(7);
            if (tested && damage == QLatin1String("flip"))
                bytes[bytes.size() - 3] = char(bytes[bytes.size() - 3] ^ 0x20);
            const QString target =
                QStringLiteral("%1/%2/%3/%4")
                    .arg(pair.folderOf("B"),
                         collection.isEmpty() ? info.dir().absolutePath().section('/', -2, -2) : collection,
                         info.dir().dirName(), tested && !name.isEmpty() ? name : info.fileName());
            QVERIFY(QDir().mkpath(QFileInfo(target).path()));
            QVERIFY(rawdb::writeBytes(target, bytes));
        }
        const sync::Outcome outcome = pair.syncOf("B");
        QCOMPARE(outcome.notes, QStringList{note});
        QCOMPARE(outcome.skipped, 1);
        QCOMPARE(outcome.applied, 0);
        QCOMPARE(pair.at("B").store->cardCount(std::nullopt), 0);
        if (!collection.isEmpty())
            return;
        // Once the whole file has come, it is applied.
        pair.run("AB");
        QCOMPARE(pair.syncOf("B").applied, 2);
        QCOMPARE(pair.at("B").store->cardCount(std::nullopt), 1);
    }
};

QTEST_GUILESS_MAIN(TestSync)
#include "test_sync.moc"
