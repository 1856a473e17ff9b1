// The Abfrage window's costs: judging a typed answer of 1,000 characters and a pasted
// one of 100,000 (beside the NFC normalisation of the same text, the least any check
// does), picking four choices at 1,000,000 cards (beside one head-card read), and
// the step from "Weiter" to the next card painted at 1,000,000 cards through the real
// window on the offscreen platform (beside a bare SQLite commit timed between the
// steps on the same file system). Medians, one "name value" line each.
// Usage: tarlivo_bench_quiz --data=DIR [--steps=N]
#include "dialogs.h"
#include "quiz/answercheck.h"
#include "quizwindow/quizwindow.h"
#include "store/store.h"
#include "support.h"
#include "ui/dialogs.h"
#include "ui/session.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <cstring>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::bench;

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "quiz benchmark: %s\n", what);
    return 1;
}

template <class F>
double medianUs(int repeats, F &&f)
{
    std::vector<double> us;
    QElapsedTimer timer;
    for (int i = 0; i < repeats; ++i) {
        timer.start();
        f();
        us.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    return quantile(us, 0.5);
}

// Words of several scripts with accents and punctuation, to `length` characters.
QString sentence(int length)
{
    const QStringList words{QStringLiteral("Hauptstadt"), QStringLiteral("von"),    QStringLiteral("Frankreich,"),
                            QStringLiteral("café"),       QStringLiteral("Straße"), QStringLiteral("Привет!"),
                            QStringLiteral("λόγος"),      QStringLiteral("(to)"),   QStringLiteral("go;")};
    QString s;
    for (int i = 0; s.size() < length; ++i)
        s += words[i % words.size()] + QLatin1Char(' ');
    return s.left(length);
}

void judgeFigures()
{
    const QString stored = sentence(1000);
    // A near miss: other letter case and one letter wrong in the middle.
    QString typed = stored.toUpper();
    typed[500] = QLatin1Char('x');
    volatile int sink = 0;
    const double judge1k = medianUs(200, [&] { sink = sink + int(quiz::judge(stored, typed).verdict); });
    const double base1k =
        medianUs(200, [&] { sink = sink + int(typed.normalized(QString::NormalizationForm_C).size()); });
    const QString pasted = sentence(100000);
    const double judge100k = medianUs(20, [&] { sink = sink + int(quiz::judge(stored, pasted).verdict); });
    const double base100k =
        medianUs(20, [&] { sink = sink + int(pasted.normalized(QString::NormalizationForm_C).size()); });
    std::printf("quiz_judge_1k_us %.1f %.1f\n", judge1k, base1k);
    std::printf("quiz_judge_100k_us %.1f %.1f\n", judge100k, base100k);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString dataDir;
    int steps = 100;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dataDir = QDir(QString::fromLocal8Bit(argv[i] + 7)).absolutePath();
        else if (std::strncmp(argv[i], "--steps=", 8) == 0)
            steps = std::atoi(argv[i] + 8);
    }
    if (dataDir.isEmpty() || steps <= 0)
        return fail("usage: tarlivo_bench_quiz --data=DIR [--steps=N]");
    judgeFigures();

    const QString path = dataDir + QStringLiteral("/quiz-1000000.mdb");
    try {
        copyFile(generatedPath(dataDir, 1000000), path);
    } catch (const std::exception &e) {
        return fail(e.what());
    }
    BareCommit bare(dataDir + QStringLiteral("/quiz-bare-commit.db"));
    AnsweringDialogs dialogs(false);
    StoreOptions options;
    options.backups = false;
    ui::Session session(dialogs, {path, options, {}});
    if (!session.ConnectDB(nullptr))
        return fail("the data file cannot be opened");

    Store &store = session.db();
    const qint32 big = *store.subjectId(kBigSubject);
    const qint32 compartment = store.compartments(big).front();
    const qint32 head = *store.headCard(big, compartment);
    quint32 seed = 1;
    std::size_t offered = 0;
    const double choices =
        medianUs(50, [&] { offered = store.otherAnswers(big, head, CardSide::Answer, 3, seed++).size(); });
    const double headRead = medianUs(50, [&] { (void)store.headCard(big, compartment); });
    if (offered != 3)
        return fail("fewer than three other answers were found");
    std::printf("quiz_choices_us %.1f %.1f\n", choices, headRead);

    windows::QuizWindow window(session);
    window.show();
    window.startOn(kBigSubject);
    QCoreApplication::processEvents();
    auto *question = window.findChild<QLabel *>(QStringLiteral("lblFrage"));
    auto *typed = window.findChild<QLineEdit *>(QStringLiteral("txtAntwort"));
    auto *check = window.findChild<QPushButton *>(QStringLiteral("cmdPruefen"));
    auto *next = window.findChild<QPushButton *>(QStringLiteral("cmdWeiter"));
    if (!window.shownCard() || dialogs.shown != 0)
        return fail("no card on display");
    PaintWatch watch;
    question->installEventFilter(&watch);
    std::vector<double> stepMs, commitMs;
    QElapsedTimer timer;
    for (int i = 0; i < steps; ++i) {
        const std::optional<qint32> before = window.shownCard();
        typed->setText(window.shownAnswer());
        check->click();
        QCoreApplication::processEvents();
        watch.painted = false;
        timer.start();
        next->click();
        while (!watch.painted && timer.elapsed() < 5000)
            QCoreApplication::processEvents();
        if (!watch.painted || window.shownCard() == before || dialogs.shown != 0)
            return fail("a step did not show the next card");
        stepMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.start();
        bare.commitOneRow();
        commitMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("quiz_step_ms %.4f %.4f\n", quantile(stepMs, 0.5), quantile(commitMs, 0.5));
    return 0;
}
