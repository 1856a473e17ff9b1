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

#include <map>
#include <thread>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

struct Machine {
    QString path;
    QString folder;
    std::unique_ptr<Store> store;
    std::optional<Change> last; // the newest step, for undo
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

    sync::Outcome syncOf(const QString &name) { return sync::syncNow(*at(name).store, at(name).folder); }

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
        if (what == QLatin1String("c"))
            s.addCard(*s.subjectId(w[1]), w[2], w[3], &c);
        else if (what == QLatin1String("v"))
            c = s.judgeCard(card(s, w[1]), w[2] == QLatin1String("R")   ? Verdict::Right
                                           : w[2] == QLatin1String("F") ? Verdict::AlmostRight
                                                                        : Verdict::Wrong);
        else if (what == QLatin1String("e"))
            c = s.editCard(card(s, w[1]), w[2], w[3]);
        else if (what == QLatin1String("d"))
            c = s.deleteCards({card(s, w[1])});
        else if (what == QLatin1String("k"))
            c = s.setCompartment({card(s, w[1])}, w[2].toInt());
        else if (what == QLatin1String("g"))
            c = s.deleteSubject(*s.subjectId(w[1]));
        else if (what == QLatin1String("p"))
            c = s.editCard(
                card(s, w[1]), w[1], s.cardText(card(s, w[1]))->answer,
                {MediaEdit{CardSide::Question, MediaKind::Picture, false, w[2], w[2].toUtf8().repeated(50)}});
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
        QTest::newRow("an undo whose rows a sync changed is refused")
            << "A+ Bio; Ac Bio q a; As; AB; Bs; Be q qb ab; Ae q qa aa; As; AB; Bs; Bu!"
            << "Bio | Bio/qa/aa/1 | log=0 | ";
    }

    void merge()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        Pair pair;
        // Both end up current: each writes, the other reads.
        const QString settle = QStringLiteral("; As; AB; Bs; BA; As; AB; Bs");
        for (const QString &step : (script + settle).split(QLatin1Char(';'))) {
            pair.run(step.trimmed());
            if (QTest::currentTestFailed())
                return;
            // The clocks of changes in a row differ, as a user's would.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        QCOMPARE(pair.state(QStringLiteral("A")), expected);
        QCOMPARE(pair.content(QStringLiteral("B")), pair.content(QStringLiteral("A")));
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

    // An import journals its subjects and cards at once, as the triggers journal the
    // same rows written one step at a time (which fields carry a time, and whose), and
    // leaves the triggers working.
    void importJournal_data()
    {
        QTest::addColumn<bool>("subjectBefore");
        QTest::addColumn<bool>("reverse");
        QTest::newRow("into a new subject") << false << false;
        QTest::newRow("into a subject there before") << true << false;
        QTest::newRow("with a reverse place, into a new subject") << false << true;
    }

    void importJournal()
    {
        QFETCH(bool, subjectBefore);
        QFETCH(bool, reverse);
        QTemporaryDir dir;
        const QString imported = dir.filePath(QStringLiteral("i.mdb")), stepped = dir.filePath(QStringLiteral("s.mdb"));
        {
            auto i = Store::open(imported, noBackups());
            auto s = Store::open(stepped, noBackups());
            if (subjectBefore)
                i->addSubject(QStringLiteral("W"));
            s->addSubject(QStringLiteral("W"));
            bool given = false;
            i->importCards([&](BulkCard &b) {
                b = BulkCard{QStringLiteral("W"), QStringLiteral("x"), QStringLiteral("y")};
                if (reverse)
                    b.reverseCompartment = 2;
                return !std::exchange(given, true);
            });
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
        QTest::addColumn<QString>("collection"); // of the folder the file is put in; empty: the file's own
        QTest::addColumn<QString>("name");       // the file's name there; empty: its own
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("note");
        const QString one = QStringLiteral("00000001");
        QTest::newRow("cut short") << ""
                                   << ""
                                   << "cut"
                                   << "1 unvollständige Datei übersprungen";
        QTest::newRow("a byte changed") << ""
                                        << ""
                                        << "flip"
                                        << "1 beschädigte Datei übersprungen";
        QTest::newRow("another collection's") << "7d1d3c2e-0000-4000-8000-000000000001"
                                              << ""
                                              << ""
                                              << "1 Datei einer anderen Sammlung übersprungen";
        const QString copy = QStringLiteral("1 Konfliktkopie des Abgleichprogramms übersprungen");
        QTest::newRow("Syncthing's conflict copy") << "" << one + ".sync-conflict-20261208-101010-ABCDEFG.tarlivo"
                                                   << "" << copy;
        QTest::newRow("Syncthing's temporary file") << ""
                                                    << ".syncthing." + one + ".tarlivo.tmp"
                                                    << "" << copy;
        QTest::newRow("Nextcloud's conflicted copy") << "" << one + " (conflicted copy 2026-12-08 101010).tarlivo"
                                                     << "" << copy;
    }

    void skipped()
    {
        QFETCH(QString, collection);
        QFETCH(QString, name);
        QFETCH(QString, damage);
        QFETCH(QString, note);
        Pair pair;
        for (const char *step : {"A+ Bio", "Ac Bio q a", "As"})
            pair.run(QString::fromLatin1(step));
        QDirIterator it(pair.folderOf("A"), {"*.tarlivo"}, QDir::Files, QDirIterator::Subdirectories);
        const QFileInfo file(it.next());
        QByteArray bytes = rawdb::readBytes(file.filePath());
        if (damage == QLatin1String("cut"))
            bytes.chop(7);
        if (damage == QLatin1String("flip"))
            bytes[bytes.size() - 3] = char(bytes[bytes.size() - 3] ^ 0x20);
        const QString machine = file.dir().dirName();
        const QString target =
            QStringLiteral("%1/%2/%3/%4")
                .arg(pair.folderOf("B"),
                     collection.isEmpty() ? file.dir().absolutePath().section('/', -2, -2) : collection, machine,
                     name.isEmpty() ? file.fileName() : name);
        QVERIFY(QDir().mkpath(QFileInfo(target).path()));
        QVERIFY(rawdb::writeBytes(target, bytes));
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
