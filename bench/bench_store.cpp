// Every store statement behind a user action, at each generated size, and a bare
// SQLite commit on the same file system for the writes to be read against.
// Usage: tarlivo_bench_store --data=DIR [Google Benchmark options]
#include "store/store.h"
#include "support.h"

#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

QString g_dataDir;

// A fixed pseudo-random walk over the cards, the same in every run: the card a
// practice step reads is the longest-waiting one, anywhere in the file.
struct CardWalk {
    quint64 state = 88172645463325252ull;
    qint32 next(int cards)
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return qint32(1 + state % quint64(cards));
    }
};

// One working copy per size, opened as the program opens it, without daily backups.
struct Fixture {
    std::unique_ptr<Store> store;
    qint32 bigSubject = 0;
    std::vector<qint32> compartments;
    QStringList names;
    int cards = 0;
    CardWalk walk;   // the cards the changes go to
    int renamed = 0; // which of two names the renamed subject has
    Change verdict;  // the verdict the next undo takes back
};

std::map<int, Fixture> g_stores;

Fixture &storeFor(int cards)
{
    Fixture &s = g_stores[cards];
    if (!s.store) {
        const QString work = g_dataDir + QStringLiteral("/work-%1.mdb").arg(cards);
        copyFile(generatedPath(g_dataDir, cards), work);
        StoreOptions options;
        options.backups = false;
        options.now = [] { return kLogNow; };
        s.store = Store::open(work, options);
        s.bigSubject = *s.store->subjectId(kBigSubject);
        s.compartments = s.store->compartments(s.bigSubject);
        s.names = s.store->allSubjects();
        s.cards = cards;
    }
    return s;
}

using ReadOp = void (*)(benchmark::State &, Fixture &);

void allSubjects(benchmark::State &state, Fixture &s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->allSubjects());
}

void subjectsWithCards(benchmark::State &state, Fixture &s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->subjectsWithCards());
}

void subjectId(benchmark::State &state, Fixture &s)
{
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->subjectId(s.names[i++ % s.names.size()]));
}

void compartments(benchmark::State &state, Fixture &s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->compartments(s.bigSubject));
}

void headCard(benchmark::State &state, Fixture &s)
{
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->headCard(s.bigSubject, s.compartments[i++ % s.compartments.size()]));
}

void cardText(benchmark::State &state, Fixture &s)
{
    CardWalk walk;
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->cardText(walk.next(s.cards)));
}

// What the statistics window shows: compartments, the last 30 days, today, the run of days.
void statisticsSubject(benchmark::State &state, Fixture &s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->statistics(s.bigSubject, 30));
}

// What the status line and tarlivo --faellig need: the due counts of every subject.
void dueAll(benchmark::State &state, Fixture &s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->dueBySubject());
}

void statisticsAll(benchmark::State &state, Fixture &s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s.store->statistics(std::nullopt, 30));
}

// One change of each kind; i counts the calls, so that each writes something new.
void setCompartment(Fixture &s, int i) { s.store->setCompartment({s.walk.next(s.cards)}, 1 + i % 8); }

void addCard(Fixture &s, int)
{
    s.store->addCard(s.bigSubject, QStringLiteral("Neue Frage"), QStringLiteral("Neue Antwort"));
}

void renameSubject(Fixture &s, int)
{
    // Back and forth, so that the subjects stay as generated.
    const QString names[2] = {QStringLiteral("Statistik"), QStringLiteral("Statistik und Wahrscheinlichkeit")};
    s.store->renameSubject(names[s.renamed], names[1 - s.renamed]);
    s.renamed = 1 - s.renamed;
}

void saveCardText(Fixture &s, int i)
{
    // A text that differs each time: SQLite skips rewriting a row with the same
    // bytes, and that commit would not reach the disk.
    s.store->saveCardText(s.walk.next(s.cards), QStringLiteral("Geänderte Frage %1").arg(i),
                          QStringLiteral("Geänderte Antwort %1").arg(i));
}

void judgeCard(Fixture &s, int i)
{
    const Verdict verdicts[3] = {Verdict::Right, Verdict::AlmostRight, Verdict::Wrong};
    s.verdict = s.store->judgeCard(s.walk.next(s.cards), verdicts[i % 3]);
}

// Timed alone: the verdict it takes back is given before the clock starts.
void undoVerdict(Fixture &s, int) { s.store->undo(s.verdict); }

void addSubject(Fixture &s, int i) { s.store->addSubject(QStringLiteral("Neues Gebiet %1-%2").arg(s.cards).arg(i)); }

using WriteOp = void (*)(Fixture &, int);

// Each change is followed by a bare commit on the same file system, so that both
// see the same disk at the same moment: the disk's speed varies over minutes on a
// shared machine, and only the pair says what the store adds to the commit.
void timedWrites(benchmark::State &state, Fixture &s, WriteOp op, WriteOp before = nullptr)
{
    static BareCommit bare(g_dataDir + QStringLiteral("/bare-commit.db"));
    static int calls = 0;
    using Clock = std::chrono::steady_clock;
    double bareSeconds = 0;
    for (auto _ : state) {
        if (before) {
            state.PauseTiming();
            before(s, calls + 1);
            state.ResumeTiming();
        }
        const auto t0 = Clock::now();
        op(s, ++calls);
        const auto t1 = Clock::now();
        bare.commitOneRow();
        const auto t2 = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        bareSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["bare_commit_us"] = benchmark::Counter(bareSeconds * 1e6, benchmark::Counter::kAvgIterations);
}

void registerAll()
{
    const std::pair<const char *, ReadOp> reads[] = {
        {"allSubjects", allSubjects}, {"subjectsWithCards", subjectsWithCards},
        {"subjectId", subjectId},     {"compartments", compartments},
        {"headCard", headCard},       {"cardText", cardText},
    };
    const std::pair<const char *, WriteOp> writes[] = {
        {"setCompartment", setCompartment}, {"addCard", addCard},       {"renameSubject", renameSubject},
        {"saveCardText", saveCardText},     {"addSubject", addSubject}, {"judgeCard", judgeCard},
    };
    const std::pair<const char *, ReadOp> statistics[] = {
        {"subject", statisticsSubject},
        {"all", statisticsAll},
        {"due", dueAll},
    };
    std::vector<int> sizes;
    for (int cards : kSizes)
        if (QFile::exists(generatedPath(g_dataDir, cards)))
            sizes.push_back(cards);
    if (sizes.empty())
        throw std::runtime_error("no generated databases in " + g_dataDir.toStdString());

    for (int cards : sizes)
        for (const auto &[name, body] : reads)
            benchmark::RegisterBenchmark(
                ("read/" + std::string(name) + "/" + std::to_string(cards)).c_str(),
                [cards, body = body](benchmark::State &state) { body(state, storeFor(cards)); })
                ->Unit(benchmark::kMicrosecond)
                ->MinTime(0.2);
    // Whole queries over the log and the positions: milliseconds, not microseconds.
    for (int cards : sizes)
        for (const auto &[name, body] : statistics)
            benchmark::RegisterBenchmark(
                ("stats/" + std::string(name) + "/" + std::to_string(cards)).c_str(),
                [cards, body = body](benchmark::State &state) { body(state, storeFor(cards)); })
                ->Unit(benchmark::kMicrosecond)
                ->MinTime(0.5);
    // Writes wait for the disk: wall-clock time is what the user waits.
    for (int cards : sizes)
        for (const auto &[name, op] : writes)
            benchmark::RegisterBenchmark(
                ("write/" + std::string(name) + "/" + std::to_string(cards)).c_str(),
                [cards, op = op](benchmark::State &state) { timedWrites(state, storeFor(cards), op); })
                ->Unit(benchmark::kMicrosecond)
                ->UseManualTime();
    for (int cards : sizes)
        benchmark::RegisterBenchmark(
            ("write/undoVerdict/" + std::to_string(cards)).c_str(),
            [cards](benchmark::State &state) { timedWrites(state, storeFor(cards), undoVerdict, judgeCard); })
            ->Unit(benchmark::kMicrosecond)
            ->UseManualTime();
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            g_dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
        else
            rest.push_back(argv[i]);
    }
    if (g_dataDir.isEmpty()) {
        std::fprintf(stderr, "usage: %s --data=DIR [benchmark options]\n", argv[0]);
        return 2;
    }
    int restCount = int(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    try {
        registerAll();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    g_stores.clear();
    return 0;
}
