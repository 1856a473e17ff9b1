#include "quiz/answercheck.h"

#include <QtTest>

using namespace tarlivo;
using namespace tarlivo::store;
using namespace tarlivo::quiz;

namespace {

// Tolerances as four letters for case, accents, punctuation and typo: R right,
// F almost right, X wrong.
AnswerTolerances tolerances(const QString &code)
{
    const auto verdict = [&](int i) {
        return code[i] == 'R' ? Verdict::Right : code[i] == 'F' ? Verdict::AlmostRight : Verdict::Wrong;
    };
    return {verdict(0), verdict(1), verdict(2), verdict(3)};
}

QString marksOf(const Judgement &j)
{
    QStringList marks;
    for (const Mark &m : j.marks)
        marks << QStringLiteral("%1+%2").arg(m.start).arg(m.length);
    return marks.join(',');
}

} // namespace

class TestQuiz : public QObject {
    Q_OBJECT

private slots:
    void typedAnswers_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("tolerances");
        QTest::addColumn<QString>("result"); // the whole result label
        QTest::addColumn<QString>("marks");  // start+length in the shown answer

        const QString d = QStringLiteral("FFRF");
        const QString longTyped(100000, 'x');
        QTest::newRow("exact") << "Hund"
                               << "Hund" << d << "Richtig"
                               << "";
        QTest::newRow("NFC: decomposed accent") << "café"
                                                << "cafe\u0301" << d << "Richtig"
                                                << "";
        QTest::newRow("blanks and line breaks") << " ein  großes\nHaus"
                                                << "ein großes \r\n\tHaus " << d << "Richtig"
                                                << "";
        QTest::newRow("empty answer") << "Hund"
                                      << " \n " << d << "Falsch\nRichtig ist: Hund"
                                      << "0+4";
        QTest::newRow("case") << "Hund"
                              << "hund" << d << "Fast richtig: Groß-/Kleinschreibung\nRichtig ist: Hund"
                              << "0+1";
        QTest::newRow("case set right") << "Hund"
                                        << "HUND"
                                        << "RFRF"
                                        << "Richtig: Groß-/Kleinschreibung\nRichtig ist: Hund"
                                        << "1+3";
        QTest::newRow("case set wrong") << "Hund"
                                        << "hund"
                                        << "XFRF"
                                        << "Falsch: Groß-/Kleinschreibung\nRichtig ist: Hund"
                                        << "0+1";
        QTest::newRow("accent") << "café"
                                << "cafe" << d << "Fast richtig: Akzente\nRichtig ist: café"
                                << "3+1";
        QTest::newRow("sharp s as ss") << "Straße"
                                       << "Strasse" << d << "Fast richtig: Akzente\nRichtig ist: Straße"
                                       << "4+1";
        QTest::newRow("umlaut spelled") << "Mädchen"
                                        << "Maedchen" << d << "Fast richtig: Akzente\nRichtig ist: Mädchen"
                                        << "1+1";
        QTest::newRow("case and accents")
            << "café"
            << "Cafe" << d << "Fast richtig: Groß-/Kleinschreibung, Akzente\nRichtig ist: café"
            << "0+1,3+1";
        QTest::newRow("punctuation") << "Hello, world!"
                                     << "Hello world" << d << "Richtig: Satzzeichen\nRichtig ist: Hello, world!"
                                     << "5+8";
        QTest::newRow("several kinds: the weakest")
            << "Hello, world!"
            << "hello world" << d << "Fast richtig: Groß-/Kleinschreibung, Satzzeichen\nRichtig ist: Hello, world!"
            << "0+13";
        QTest::newRow("punctuation set wrong") << "Hello, world!"
                                               << "Hello world"
                                               << "FFXF"
                                               << "Falsch: Satzzeichen\nRichtig ist: Hello, world!"
                                               << "5+8";
        QTest::newRow("Cyrillic letters are no punctuation") << "кот"
                                                             << "кит" << d << "Falsch\nRichtig ist: кот"
                                                             << "1+1";
        QTest::newRow("Cyrillic case and punctuation")
            << "Привет!"
            << "привет" << d << "Fast richtig: Groß-/Kleinschreibung, Satzzeichen\nRichtig ist: Привет!"
            << "0+7";
        QTest::newRow("Greek question mark parts nothing") << "τι\u037E"
                                                           << "τι" << d << "Richtig: Satzzeichen\nRichtig ist: τι;"
                                                           << "2+1";
        QTest::newRow("Greek accent") << "λόγος"
                                      << "λογος" << d << "Fast richtig: Akzente\nRichtig ist: λόγος"
                                      << "1+1";
        QTest::newRow("Greek letters differ") << "ναι"
                                              << "και" << d << "Falsch\nRichtig ist: ναι"
                                              << "0+1";
        QTest::newRow("typo: a letter left out") << "Katze"
                                                 << "Kaze" << d << "Fast richtig: Tippfehler\nRichtig ist: Katze"
                                                 << "2+1";
        QTest::newRow("typo: neighbours swapped") << "Katze"
                                                  << "Katez" << d << "Fast richtig: Tippfehler\nRichtig ist: Katze"
                                                  << "3+2";
        QTest::newRow("typo after case") << "Katze"
                                         << "ka!Tz" << d
                                         << "Fast richtig: Groß-/Kleinschreibung, Satzzeichen, Tippfehler\n"
                                            "Richtig ist: Katze"
                                         << "0+1,2+3";
        QTest::newRow("two typos") << "Katze"
                                   << "Kzzee" << d << "Falsch\nRichtig ist: Katze"
                                   << "1+3";
        QTest::newRow("short word: no typo") << "Haus"
                                             << "Hau" << d << "Falsch\nRichtig ist: Haus"
                                             << "3+1";
        QTest::newRow("short word: no swap") << "Haus"
                                             << "Huas" << d << "Falsch\nRichtig ist: Haus"
                                             << "1+2";
        QTest::newRow("typo set wrong") << "Katze"
                                        << "Kaze"
                                        << "FFRX"
                                        << "Falsch: Tippfehler\nRichtig ist: Katze"
                                        << "2+1";
        QTest::newRow("alternative: any one") << "rot; rötlich"
                                              << "rötlich" << d << "Richtig"
                                              << "";
        QTest::newRow("alternatives: all in any order") << "rot; rötlich"
                                                        << "rötlich ;rot" << d << "Richtig"
                                                        << "";
        QTest::newRow("alternatives with blanks") << "  rot ;  hell \n rot ;"
                                                  << "hell rot" << d << "Richtig"
                                                  << "";
        QTest::newRow("alternatives: some of them") << "rot; blau; grün"
                                                    << "blau; rot" << d << "Falsch\nRichtig ist: rot; blau; grün"
                                                    << "0+15";
        QTest::newRow("alternative with accent") << "rot; rötlich"
                                                 << "rotlich" << d << "Fast richtig: Akzente\nRichtig ist: rötlich"
                                                 << "1+1";
        QTest::newRow("brackets: left out") << "(to) go"
                                            << "go" << d << "Richtig"
                                            << "";
        QTest::newRow("brackets: kept") << "(to) go"
                                        << "to go" << d << "Richtig"
                                        << "";
        QTest::newRow("brackets: inside a word") << "Tür(en)"
                                                 << "Türen" << d << "Richtig"
                                                 << "";
        QTest::newRow("brackets: only the optional part") << "(to) go"
                                                          << "to" << d << "Falsch\nRichtig ist: (to) go"
                                                          << "0+6";
        QTest::newRow("emoji differ") << "👍"
                                      << "👎" << d << "Falsch\nRichtig ist: 👍"
                                      << "0+2";
        QTest::newRow("emoji: one typo") << "Daumen 👍"
                                         << "Daumen 👎" << d << "Fast richtig: Tippfehler\nRichtig ist: Daumen 👍"
                                         << "7+2";
        QTest::newRow("emoji with case") << "Daumen 👍"
                                         << "daumen 👍" << d
                                         << "Fast richtig: Groß-/Kleinschreibung\nRichtig ist: Daumen 👍"
                                         << "0+1";
        QTest::newRow("right to left: points") << "שָׁלוֹם"
                                               << "שלום" << d << "Fast richtig: Akzente\nRichtig ist: שָׁלוֹם"
                                               << "1+5";
        QTest::newRow("right to left: marks of direction") << "\u200Fשלום"
                                                           << "שלום\u200E" << d << "Richtig"
                                                           << "";
        QTest::newRow("right to left: Arabic question mark")
            << "مرحبا؟"
            << "مرحبا" << d << "Richtig: Satzzeichen\nRichtig ist: مرحبا؟"
            << "5+1";
        QTest::newRow("100,000 pasted characters") << "Hund" << longTyped << d << "Falsch\nRichtig ist: Hund"
                                                   << "0+4";
        QTest::newRow("100,000 characters, mostly blanks")
            << "Hund" << QStringLiteral("Hund") + QString(99996, ' ') << d << "Richtig"
            << "";
        QTest::newRow("100,000 characters against as many")
            << longTyped << longTyped.left(50000) + 'y' + longTyped.mid(50001) << d
            << "Fast richtig: Tippfehler\nRichtig ist: " + longTyped << "50000+1";
    }

    void typedAnswers()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QString, tolerances);
        QFETCH(QString, result);
        QFETCH(QString, marks);
        const Judgement j = judge(stored, typed, ::tolerances(tolerances));
        QCOMPARE(j.text(), result);
        // The verdict is the one the label begins with.
        const Verdict named = result.startsWith("Richtig")        ? Verdict::Right
                              : result.startsWith("Fast richtig") ? Verdict::AlmostRight
                                                                  : Verdict::Wrong;
        QCOMPARE(int(j.verdict), int(named));
        QCOMPARE(marksOf(j), marks);
    }
};

QTEST_GUILESS_MAIN(TestQuiz)
#include "test_quiz.moc"
