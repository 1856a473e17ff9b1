// A seeded mutation loop over every parser, for the test run: TARLIVO_FUZZ_COUNT
// inputs each (default 300), the same ones every run. With --seeds DIR it writes
// the seeds as files for libFuzzer instead.

#include "fuzztargets.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <random>

namespace {

QByteArray mutate(QByteArray input, std::mt19937 &random, const QList<QByteArray> &seeds)
{
    const int steps = 1 + int(random() % 4);
    for (int i = 0; i < steps; ++i) {
        const qsizetype size = input.size();
        const qsizetype at = size ? qsizetype(random() % size) : 0;
        switch (random() % 6) {
        case 0: // flip a bit
            if (size)
                input[at] = char(input[at] ^ (1 << (random() % 8)));
            break;
        case 1: // a byte that matters to some parser
        {
            static const char special[] = {'\0', '"', '\t', '\n', '\r', ';', ',', '<', '>', '&', '#', '\x1f', '\xff'};
            if (size)
                input[at] = special[random() % sizeof special];
            break;
        }
        case 2: // cut a piece out
            input.remove(at, qsizetype(random() % 64));
            break;
        case 3: // repeat a piece
            input.insert(at, input.mid(at, qsizetype(random() % 64)).repeated(1 + int(random() % 8)));
            break;
        case 4: // splice in part of another seed
        {
            const QByteArray &other = seeds[qsizetype(random() % seeds.size())];
            input.insert(at, other.mid(qsizetype(random() % (other.size() + 1)), qsizetype(random() % 256)));
            break;
        }
        default: // cut the end off
            input.truncate(at);
            break;
        }
    }
    return input;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    struct Target {
        const char *name;
        void (*run)(const uint8_t *, size_t);
        QList<QByteArray> seeds;
    };
    const Target targets[] = {{"text", fuzz::text, fuzz::textSeeds()},
                              {"html", fuzz::html, fuzz::htmlSeeds()},
                              {"anki", fuzz::anki, fuzz::ankiSeeds()},
                              {"kvtml", fuzz::kvtml, fuzz::kvtmlSeeds()},
                              {"pauker", fuzz::pauker, fuzz::paukerSeeds()}};
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--seeds")) {
        for (const Target &t : targets) {
            QDir dir(args[2] + QLatin1Char('/') + QLatin1String(t.name));
            dir.mkpath(QStringLiteral("."));
            for (int i = 0; i < t.seeds.size(); ++i) {
                QFile f(dir.filePath(QString::number(i)));
                if (!f.open(QIODevice::WriteOnly) || f.write(t.seeds[i]) != t.seeds[i].size())
                    return 1;
            }
        }
        return 0;
    }
    bool ok = false;
    int count = qEnvironmentVariableIntValue("TARLIVO_FUZZ_COUNT", &ok);
    if (!ok)
        count = 300;
    std::mt19937 random(20261207);
    for (const Target &t : targets) {
        QElapsedTimer slowest;
        qint64 longest = 0;
        for (int i = 0; i < count; ++i) {
            const QByteArray input = mutate(t.seeds[qsizetype(random() % t.seeds.size())], random, t.seeds);
            slowest.start();
            t.run(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
            longest = std::max(longest, slowest.elapsed());
        }
        std::printf("%s: %d inputs, slowest %lld ms\n", t.name, count, static_cast<long long>(longest));
        // A parser that takes seconds over a few kilobytes has a hang in it.
        if (longest > 5000)
            return 1;
    }
    return 0;
}
