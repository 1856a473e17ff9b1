// Writes a large store for the benchmarks: N cards in 20 subjects, one subject
// holding half of them, compartments 1 to 8, every queue place used once, and a
// practice log of N verdicts over the last 60 days, most of them in the big subject.
// Version 2: each card came into its compartment at some time in the last year, so
// that the day buckets hold what a year of practice leaves.
// Version 3: the other subjects, half the cards, are practised both ways ("Biologie"
// the reverse way only), each card with a reverse place of its own; the big subject
// forward only, so that turning its reverse side on can be timed.
// Usage: tarlivo_gendb CARDS OUTPUT
#include "store/sqlite.h"
#include "store/store.h"
#include "support.h"

#include <QFile>
#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

using namespace tarlivo;
using namespace tarlivo::store;

namespace {

// The first is the big subject; the umlauts make the name collation do real work.
const char *const kSubjects[] = {
    "Englisch", "Biologie", "Chemie",     "Erdkunde", "Französisch", "Geschichte",  "Informatik",
    "Kunst",    "Latein",   "Mathematik", "Musik",    "Ökologie",    "Philosophie", "Physik",
    "Politik",  "Religion", "Spanisch",   "Sport",    "Statistik",   "Wirtschaft",
};
constexpr int kSubjectCount = int(sizeof kSubjects / sizeof kSubjects[0]);
constexpr int kCompartments = 8;

void generate(int cards, const QString &path)
{
    sql::Database db;
    db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    Store::createSchema(db);
    // Nothing here needs to survive a crash: the file is renamed into place at the end.
    db.exec("PRAGMA journal_mode = OFF");
    db.exec("PRAGMA synchronous = OFF");
    db.exec("PRAGMA cache_size = -262144");

    std::mt19937 random(20240501);
    std::vector<qint32> subjectOf(static_cast<std::size_t>(cards) + 1);
    std::vector<qint32> bigSubjectCards;
    std::vector<qint32> queuePlace(static_cast<std::size_t>(cards));
    std::iota(queuePlace.begin(), queuePlace.end(), 1);
    std::shuffle(queuePlace.begin(), queuePlace.end(), random);

    db.exec("BEGIN");
    for (int i = 0; i < kSubjectCount; ++i) {
        sql::Statement subject(db, "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)");
        subject.bind(1, i + 1).bind(2, QString::fromUtf8(kSubjects[i])).run();
    }
    for (int i = 0; i < cards; ++i) {
        const qint32 id = i + 1;
        // Half to the big subject, the rest evenly over the others, interleaved as
        // cards are entered over the years.
        const qint32 subject = (random() % 2 == 0) ? 1 : qint32(2 + random() % (kSubjectCount - 1));
        const qint32 compartment = qint32(1 + random() % kCompartments);
        subjectOf[std::size_t(id)] = subject;
        if (subject == 1)
            bigSubjectCards.push_back(id);
        {
            sql::Statement card(db, "INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) "
                                    "VALUES (?1, ?2, ?3, ?4)");
            card.bind(1, id)
                .bind(2, subject)
                .bind(3, QStringLiteral("Frage %1: Was bedeutet das Wort „Beispiel %1“?").arg(id))
                .bind(4, QStringLiteral("Antwort %1: Es bedeutet ein Muster, an dem man etwas zeigt, "
                                        "Nummer %1 der Sammlung.")
                             .arg(id))
                .run();
        }
        sql::Statement position(db, "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) "
                                    "VALUES (?1, ?2, ?3, ?4)");
        position.bind(1, id).bind(2, compartment).bind(3, queuePlace[std::size_t(i)]).bind(4, subject).run();
        const qint64 enteredAt = bench::kLogNow - qint64(random() % (365 * 86400));
        sql::Statement time(db, "INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) VALUES (?1, ?2, ?3)");
        time.bind(1, id).bind(2, enteredAt).bind(3, Store::learningDay(enteredAt)).run();
        if (subject != 1) {
            const qint64 reverseEnteredAt = bench::kLogNow - qint64(random() % (365 * 86400));
            sql::Statement reverse(db, "INSERT INTO tblPositionUmgekehrt (idFrageAntwort, idGebiet, Fach, Stelle, "
                                       "Seit, Tag) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
            reverse.bind(1, id).bind(2, subject).bind(3, qint32(1 + random() % kCompartments));
            reverse.bind(4, queuePlace[std::size_t(i)])
                .bind(5, reverseEnteredAt)
                .bind(6, Store::learningDay(reverseEnteredAt))
                .run();
        }
    }
    for (int i = 1; i < kSubjectCount; ++i) {
        sql::Statement direction(db, "INSERT INTO tblRichtung (idGebiet, Richtung) VALUES (?1, ?2)");
        direction.bind(1, i + 1).bind(2, std::strcmp(kSubjects[i], "Biologie") == 0 ? 1 : 2).run();
    }
    // The log in time order, as it grows: four verdicts in five on the big subject,
    // the rest on any card; every day has some.
    const long long first = bench::kLogNow - bench::kLogDays * 86400LL;
    for (int i = 0; i < cards; ++i) {
        const long long at = first + (qint64(i) * bench::kLogDays * 86400LL) / cards;
        const qint32 card =
            (random() % 5 != 0) ? bigSubjectCards[random() % bigSubjectCards.size()] : qint32(1 + random() % cards);
        const int verdict = 1 + int(random() % 3);
        const qint32 before = qint32(1 + random() % kCompartments);
        const qint32 after = verdict == 3 ? before + 1 : (verdict == 2 ? before : 1);
        sql::Statement log(db, "INSERT INTO tblUebung (Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, "
                               "FachNachher, Urteil) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        log.bind(1, at).bind(2, card).bind(3, subjectOf[std::size_t(card)]).bind(4, before).bind(5, after);
        log.bind(6, verdict).run();
    }
    db.exec("COMMIT");
    db.close();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3 || std::atoi(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: %s CARDS OUTPUT\n", argv[0]);
        return 2;
    }
    const int cards = std::atoi(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const QString temp = output + QStringLiteral(".part");
    QFile::remove(temp);
    try {
        generate(cards, temp);
    } catch (const StoreError &e) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(output), e.what());
        QFile::remove(temp);
        return 1;
    }
    QFile::remove(output);
    if (!QFile::rename(temp, output)) {
        std::fprintf(stderr, "cannot rename %s\n", qPrintable(temp));
        return 1;
    }
    // The benchmarks copy it before they change anything.
    QFile(output).setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    return 0;
}
