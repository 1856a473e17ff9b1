// tarlivo_kde_kvtml_read FILE RUNS: opens FILE RUNS times with KEduVocDocument and
// prints the median milliseconds of one opening and the entries it read.

#include <keduvocdocument.h>
#include <keduvoclesson.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarlivo_kde_kvtml_read FILE RUNS\n");
        return 2;
    }
    const QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1]));
    const int runs = std::max(1, std::atoi(argv[2]));
    std::vector<double> times;
    int entries = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        KEduVocDocument document;
        if (document.open(url, KEduVocDocument::FileOpenReadOnly) != KEduVocDocument::NoError) {
            std::fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        entries = document.lesson()->entryCount(KEduVocContainer::Recursive);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f %d\n", times[times.size() / 2], entries);
    return 0;
}
