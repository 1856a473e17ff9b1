// Kills the crash driver with SIGKILL at random moments, again and again, and
// after each kill checks the file: sound, every card with one position, no queue
// place twice, no two subject names equal, and every change the windows had
// shown as done is there (the one in flight may or may not be).
//
// TARLIVO_CRASH_KILLS sets the number of kills (default 300); a long run:
//   TARLIVO_CRASH_KILLS=3000 build/tests/test_crash
// TARLIVO_CRASH_DIR puts the file elsewhere than the temporary directory (for
// instance on /dev/shm, where no kill lands in a disk sync).

#include "crashmodel.h"
#include "store/store.h"
#include "sync/sync.h"
#include "synctool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
#include <random>
#include <thread>

using namespace crashmodel;

namespace {

struct Figures {
    int kills = 0;
    int opsChecked = 0;
    int inFlightCommitted = 0;
    int inFlightNotCommitted = 0;
    int stepsTaken = 0;      // undo and redo that took a step back or again
    int imports = 0;         // imports checked
    int intervals = 0;       // intervals set through the plan window, checked
    int killsIndexing = 0;   // kills that found cards still waiting for the search index
    int newDays = 0;         // new days begun, their copies taken
    int killsNewDay = 0;     // kills while a new day's windows opened and its copy was taken
    int copiesAgain = 0;     // copies a start made after a kill had stopped the one before
    int directions = 0;      // directions chosen through the plan window, checked
    int reverseVerdicts = 0; // verdicts on reverse places, checked
    int syncs = 0;           // syncs through the folders, checked
    int killsInSync = 0;     // kills while one was under way
    int syncsCompleted = 0;  // syncs after a kill that completed, the second file then alike
    int violations = 0;
    QStringList firstViolations;

    void violation(const QString &what)
    {
        ++violations;
        if (firstViolations.size() < 10)
            firstViolations << what;
    }
};

} // namespace

class TestCrash : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir{qEnvironmentVariableIsSet("TARLIVO_CRASH_DIR")
                            ? qEnvironmentVariable("TARLIVO_CRASH_DIR") + QStringLiteral("/tarlivo-crash-XXXXXX")
                            : QDir::tempPath() + QStringLiteral("/tarlivo-crash-XXXXXX")};
    rawdb::State m_model;
    Steps m_steps; // of the run in hand: a new run starts with none
    Figures m_figures;
    std::mt19937 m_rng{20240501};

    QString dbPath() const { return m_dir.filePath(QStringLiteral("Tarlivo.mdb")); }

    QStringList arguments(int run, int day, long ops) const
    {
        QStringList args{m_dir.path(), QString::number(run + 1), QStringLiteral("k%1").arg(run),
                         QStringLiteral("--day"), QString::number(day)};
        if (ops > 0)
            args << QStringLiteral("--ops") << QString::number(ops);
        return args;
    }

    // Applies the complete reports and returns the change left in flight.
    std::optional<Op> account(const QByteArray &output, int run)
    {
        std::optional<Op> pending;
        const QList<QByteArray> lines = output.split('\n');
        // The last piece is empty or a line cut short by the kill: not reported.
        for (int i = 0; i + 1 < lines.size(); ++i) {
            const QString line = QString::fromUtf8(lines[i]);
            if (line.startsWith(QLatin1String("> "))) {
                pending = parseIntent(line);
                if (!pending)
                    m_figures.violation(QStringLiteral("run %1: unreadable report %2").arg(run).arg(line));
            } else if (line.startsWith(QLatin1String("< "))) {
                if (!pending) {
                    m_figures.violation(QStringLiteral("run %1: result without change: %2").arg(run).arg(line));
                    continue;
                }
                pending->result = line.section(QLatin1Char(' '), 2, 2);
                const size_t undoable = m_steps.undo.size();
                const QString error = apply(m_model, m_steps, *pending);
                if (QStringLiteral("UY").contains(pending->kind) && m_steps.undo.size() != undoable)
                    ++m_figures.stepsTaken;
                if (pending->kind == QLatin1Char('I'))
                    ++m_figures.imports;
                if (pending->kind == QLatin1Char('A'))
                    ++m_figures.intervals;
                if (pending->kind == QLatin1Char('T'))
                    ++m_figures.newDays;
                if (pending->kind == QLatin1Char('H'))
                    ++m_figures.directions;
                if (pending->kind == QLatin1Char('W'))
                    ++m_figures.reverseVerdicts;
                if (pending->kind == QLatin1Char('Z'))
                    ++m_figures.syncs;
                if (!error.isEmpty())
                    m_figures.violation(QStringLiteral("run %1: %2").arg(run).arg(error));
                ++m_figures.opsChecked;
                pending.reset();
            } else if (line.startsWith(QLatin1String("! "))) {
                m_figures.violation(QStringLiteral("run %1: unexpected message: %2").arg(run).arg(unhex(line.mid(2))));
            }
        }
        return pending;
    }

    // The file against the model, allowing the change in flight to have committed.
    void check(const std::optional<Op> &pending, int run)
    {
        const QStringList problems = rawdb::violations(dbPath());
        for (const QString &p : problems)
            m_figures.violation(QStringLiteral("run %1: %2").arg(run).arg(p));
        const rawdb::State state = rawdb::read(dbPath());
        if (state == m_model) {
            if (pending)
                ++m_figures.inFlightNotCommitted;
            return;
        }
        if (pending) {
            rawdb::State withPending = m_model;
            Steps stepsWithPending = m_steps;
            if (apply(withPending, stepsWithPending, *pending).isEmpty() && state == withPending) {
                m_model = withPending;
                m_steps = stepsWithPending;
                ++m_figures.inFlightCommitted;
                ++m_figures.opsChecked;
                return;
            }
        }
        m_figures.violation(QStringLiteral("run %1: file differs from the reported changes: %2")
                                .arg(run)
                                .arg(state.differenceTo(m_model)));
        m_model = state; // go on from what is there, to find further faults
    }

    std::optional<int> m_dayAgain; // the day the next run starts on, when a kill stopped its copy

    int dayOf(int run) const { return run / 5; }

    QString copyOf(int day) const
    {
        return m_dir.filePath(
            QStringLiteral("Tarlivo-Sicherung-%1.mdb").arg(QDate(2020, 1, 1).addDays(day).toString(Qt::ISODate)));
    }

    // After a kill: every day's copy under its own name is whole and sound, half-made
    // ones lie only under temporary names. A kill while a new day's copy was taken
    // leaves none of that day; the next start, on that day, makes it by its first
    // change (changed: the run wrote something; an undo with nothing to take back
    // or an import of nothing new writes nothing and claims no copy).
    void checkDayCopies(const std::optional<Op> &pending, bool changed, int run)
    {
        const QDir dir(m_dir.path());
        for (const QString &copy : dir.entryList({QStringLiteral("Tarlivo-Sicherung-*.mdb")}, QDir::Files)) {
            const QStringList problems = rawdb::violations(dir.filePath(copy));
            if (!problems.isEmpty())
                m_figures.violation(
                    QStringLiteral("run %1: copy %2: %3").arg(run).arg(copy, problems.join(QLatin1String("; "))));
        }
        if (m_dayAgain && changed) {
            if (QFile::exists(copyOf(*m_dayAgain)))
                ++m_figures.copiesAgain;
            else
                m_figures.violation(
                    QStringLiteral("run %1: the start made no copy of day %2").arg(run).arg(*m_dayAgain));
        }
        m_dayAgain.reset();
        if (pending && pending->kind == QLatin1Char('T')) {
            ++m_figures.killsNewDay;
            m_dayAgain = pending->fields.value(0).toInt();
        }
    }

    // Everything a sync carries, keys aside.
    static QStringList synced(const QString &path)
    {
        return rawdb::rows(path, "SELECT NameGebiet FROM tblGebiet ORDER BY 1")
               + rawdb::rows(path, "SELECT g.NameGebiet, f.Frage, f.Antwort, p.Fach, s.Seit, r.Fach, r.Seit "
                                   "FROM tblFrageAntwort AS f JOIN tblGebiet AS g USING (idGebiet) "
                                   "JOIN tblPosition AS p USING (idFrageAntwort) JOIN tblFachSeit AS s "
                                   "USING (idFrageAntwort) LEFT JOIN tblPositionUmgekehrt AS r "
                                   "USING (idFrageAntwort) ORDER BY 1, 2, 3, 4, 5")
               + rawdb::rows(path, "SELECT u.Zeitpunkt, f.Frage, u.FachVorher, u.FachNachher, u.Urteil, "
                                   "u.idUebung IN (SELECT idUebung FROM tblUebungUmgekehrt) FROM tblUebung AS u "
                                   "LEFT JOIN tblFrageAntwort AS f USING (idFrageAntwort) ORDER BY 1, 2, 3, 4, 5, 6")
               + rawdb::rows(path, "SELECT f.Frage, k.Seite, hex(m.Pruefsumme) FROM tblKarteMedium AS k "
                                   "JOIN tblMedium AS m USING (idMedium) JOIN tblFrageAntwort AS f "
                                   "USING (idFrageAntwort) ORDER BY 1, 2, 3")
               + rawdb::rows(path, "SELECT g.NameGebiet, i.Fach, i.Tage FROM tblIntervall AS i JOIN tblGebiet AS g "
                                   "USING (idGebiet) ORDER BY 1, 2")
               + rawdb::rows(path, "SELECT g.NameGebiet, d.Richtung FROM tblRichtung AS d JOIN tblGebiet AS g "
                                   "USING (idGebiet) ORDER BY 1");
    }

    // After a kill, once the driver has synced: the next sync completes (the file, the
    // folders copied, the second file, back), and the second file then holds what the
    // file holds.
    void checkSync(const std::optional<Op> &pending, int run)
    {
        const QString a = m_dir.filePath(QStringLiteral("Abgleich-A"));
        const QString b = m_dir.filePath(QStringLiteral("Abgleich-B"));
        const QString second = m_dir.filePath(QStringLiteral("Zweit.mdb"));
        if (!QFileInfo::exists(a))
            return;
        if (pending && pending->kind == QLatin1Char('Z'))
            ++m_figures.killsInSync;
        tarlivo::store::StoreOptions options;
        options.backups = false;
        try {
            std::unique_ptr<tarlivo::store::Store> first = tarlivo::store::Store::open(dbPath(), options);
            tarlivo::sync::syncNow(*first, a);
            if (!synctool::copyFolder(a, b))
                return m_figures.violation(QStringLiteral("run %1: the folders cannot be copied").arg(run));
            std::unique_ptr<tarlivo::store::Store> other = tarlivo::store::Store::open(second, options);
            tarlivo::sync::syncNow(*other, b);
            if (!synctool::copyFolder(b, a))
                return m_figures.violation(QStringLiteral("run %1: the folders cannot be copied").arg(run));
            tarlivo::sync::syncNow(*first, a);
            for (const QString &p : other->checkInvariants())
                m_figures.violation(QStringLiteral("run %1: second file: %2").arg(run).arg(p));
        } catch (const tarlivo::sync::SyncError &e) {
            return m_figures.violation(QStringLiteral("run %1: sync after the kill: %2").arg(run).arg(e.message));
        } catch (const tarlivo::store::StoreError &e) {
            return m_figures.violation(QStringLiteral("run %1: sync after the kill: %2").arg(run).arg(e.detail()));
        }
        if (synced(second) != synced(dbPath()))
            return m_figures.violation(QStringLiteral("run %1: the second file differs after the sync").arg(run));
        ++m_figures.syncsCompleted;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(QStringLiteral(TARLIVO_CRASH_DRIVER)), TARLIVO_CRASH_DRIVER);
    }

    void killedAtRandomMomentsLosesNothing()
    {
        const int kills = qEnvironmentVariableIsSet("TARLIVO_CRASH_KILLS")
                              ? qEnvironmentVariableIntValue("TARLIVO_CRASH_KILLS")
                              : 300;
        QElapsedTimer clock;
        clock.start();
        for (int run = 0; run < kills; ++run) {
            QProcess driver;
            startDriver(driver, arguments(run, m_dayAgain.value_or(dayOf(run)), 0));
            QVERIFY2(driver.waitForStarted(10000), qPrintable(driver.errorString()));

            QByteArray output;
            const int strategy = std::uniform_int_distribution<int>(0, 9)(m_rng);
            if (strategy < 2) {
                // Anywhere from start-up on: opening, creating, the day's backup.
                std::this_thread::sleep_for(
                    std::chrono::microseconds(std::uniform_int_distribution<int>(0, 150000)(m_rng)));
            } else {
                // Among the changes: after some reports, a little later still.
                // Half the time right after a change has begun, so that many kills
                // land inside a write.
                // One run in ten waits for a new day to begin, so that kills land while
                // its copy is taken however rarely the driver turns the day.
                const bool inNewDay = strategy == 9;
                // One run in twenty waits for a sync, whose large writes come in stretches
                // of short transactions, and kills it somewhere inside.
                const bool inSync = strategy == 5 && run % 2 == 1;
                const int lines = inNewDay || inSync ? 400 : std::uniform_int_distribution<int>(1, 40)(m_rng);
                const bool inChange = strategy >= 6;
                auto lastLineBegins = [&output](const char *prefix) {
                    const qsizetype end = output.lastIndexOf('\n');
                    const qsizetype start = output.lastIndexOf('\n', end - 1) + 1;
                    return end > 0 && output.mid(start, qsizetype(qstrlen(prefix))) == prefix;
                };
                while ((inNewDay || inSync ? !lastLineBegins(inSync ? "> Z" : "> T ") && output.count('\n') < lines
                                           : output.count('\n') < lines || (inChange && !lastLineBegins("> ")))
                       && driver.state() == QProcess::Running) {
                    driver.waitForReadyRead(200);
                    output += driver.readAllStandardOutput();
                }
                std::this_thread::sleep_for(
                    std::chrono::microseconds(std::uniform_int_distribution<int>(0, inSync ? 40000 : 4000)(m_rng)));
            }
            const bool wasRunning = driver.state() == QProcess::Running;
            // A driver that ended by itself is told below, with the message it reported.
            if (wasRunning) {
                driver.kill();
                QVERIFY(driver.waitForFinished(10000));
            }
            output += driver.readAllStandardOutput();
            if (!wasRunning || driver.exitStatus() != QProcess::CrashExit)
                m_figures.violation(QStringLiteral("run %1: the driver ended by itself (exit code %2)")
                                        .arg(run)
                                        .arg(driver.exitCode()));
            else
                ++m_figures.kills;
            m_steps = Steps();
            const rawdb::State before = m_model;
            const std::optional<Op> pending = account(output, run);
            if (QFile::exists(dbPath())) {
                if (rawdb::count(dbPath(), "SELECT COUNT(*) FROM tblFrageAntwort "
                                           "WHERE idFrageAntwort > (SELECT BisKarte FROM tblSucheStand)")
                    > 0)
                    ++m_figures.killsIndexing;
                check(pending, run);
                checkDayCopies(pending, !(m_model == before), run);
                // The completing sync costs a second file's reading: after a kill in a sync, and now and then.
                if ((pending && pending->kind == QLatin1Char('Z')) || run % 8 == 0)
                    checkSync(pending, run);
            } else if (!m_model.subjects.empty())
                m_figures.violation(QStringLiteral("run %1: the database file is gone").arg(run));
        }

        // One run to its end: it must finish cleanly, tidy the temporary files of
        // the killed runs, and leave its own changes in place.
        QProcess last;
        startDriver(last, arguments(kills, dayOf(kills) + 1, 30));
        QVERIFY(last.waitForFinished(120000));
        m_steps = Steps();
        QCOMPARE(last.exitStatus(), QProcess::NormalExit);
        QCOMPARE(last.exitCode(), 0);
        QVERIFY(!account(last.readAllStandardOutput(), kills));
        check(std::nullopt, kills);
        checkSync(std::nullopt, kills);

        const QDir dir(m_dir.path());
        const QStringList backups = dir.entryList({QStringLiteral("Tarlivo-Sicherung-*.mdb")}, QDir::Files, QDir::Name);
        QVERIFY2(!backups.isEmpty() && backups.size() <= 7, qPrintable(backups.join(QLatin1Char(' '))));
        for (const QString &backup : backups) {
            const QStringList problems = rawdb::violations(dir.filePath(backup));
            QVERIFY2(problems.isEmpty(), qPrintable(backup + QLatin1String(": ") + problems.join(QLatin1String("; "))));
        }
        const QStringList leftovers = dir.entryList({QStringLiteral("*.tmp-*")}, QDir::Files);
        QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(QLatin1Char(' '))));

        const QString summary =
            QStringLiteral("%1 kills survived, %2 operations checked (%3 in flight found "
                           "committed, %4 not; %9 undone or redone; %10 imports, %12 intervals, %11 kills while "
                           "cards waited for the search index), %5 subjects, %6 cards, %7 violations, %8 s; "
                           "%13 new days, %14 kills while their copy was taken, %15 copies made again")
                .arg(m_figures.kills)
                .arg(m_figures.opsChecked)
                .arg(m_figures.inFlightCommitted)
                .arg(m_figures.inFlightNotCommitted)
                .arg(m_model.subjects.size())
                .arg(m_model.cards.size())
                .arg(m_figures.violations)
                .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                .arg(m_figures.stepsTaken)
                .arg(m_figures.imports)
                .arg(m_figures.killsIndexing)
                .arg(m_figures.intervals)
                .arg(m_figures.newDays)
                .arg(m_figures.killsNewDay)
                .arg(m_figures.copiesAgain);
        qInfo().noquote() << summary
                          << QStringLiteral("; %1 directions chosen, %2 reverse verdicts; %3 syncs, %4 kills "
                                            "in one, %5 completed after a kill")
                                 .arg(m_figures.directions)
                                 .arg(m_figures.reverseVerdicts)
                                 .arg(m_figures.syncs)
                                 .arg(m_figures.killsInSync)
                                 .arg(m_figures.syncsCompleted);
        QVERIFY2(m_figures.violations == 0, qPrintable(m_figures.firstViolations.join(QLatin1Char('\n'))));
        QVERIFY(m_figures.kills == kills);
        // A run that checked nothing proves nothing.
        QVERIFY(m_figures.opsChecked > kills);
        QVERIFY(kills < 100 || (m_figures.imports > 0 && m_figures.intervals > 0));
        QVERIFY(kills < 100 || m_figures.killsNewDay > 0);
        QVERIFY(kills < 100 || (m_figures.directions > 0 && m_figures.reverseVerdicts > 0));
        QVERIFY(kills < 100 || (m_figures.syncs > 0 && m_figures.syncsCompleted > 0));
    }
};

int main(int argc, char *argv[])
{
    // A long run outlasts QtTest's watchdog of five minutes per test function.
    if (qEnvironmentVariableIsSet("TARLIVO_CRASH_KILLS") && !qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "86400000");
    QCoreApplication app(argc, argv);
    TestCrash test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_crash.moc"
