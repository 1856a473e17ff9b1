// What sync reads from and writes into the data file (see store/syncstore.h): each
// entity's state with the clocks of its fields, and the merge of another machine's.

#include "store/syncstore.h"
#include "store/internal.h"
#include "store/rules.h"
#include "store/schema.h"
#include "store/syncschema.h"

#include <QCryptographicHash>
#include <QHash>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <iterator>
#include <limits>
#include <thread>
#include <utility>

namespace tarlivo::store {
namespace {

enum Art { ArtSubject = 0, ArtCard = 1, ArtVerdict = 2 };

constexpr int kFields = 6;

// The clocks of one entity as the file holds them; '' names this machine.
struct Clocks {
    bool known = false;
    bool pending = false;
    std::array<SyncClock, kFields> at;
};

// The identity of an entity made here: this machine's and its key, the same however
// often it is made (a file written in a transaction that was then cut off names it so too).
QString ownPrefix(const QString &machine, int art) { return QStringLiteral("%1.%2.").arg(machine).arg(art); }

class Merger {
public:
    Merger(sql::Database &db, QString self, const std::function<QByteArray(const QByteArray &)> &media)
        : m_db(db), m_self(std::move(self)), m_media(media)
    {
    }

    sql::Database &m_db;
    QString m_self;
    const std::function<QByteArray(const QByteArray &)> &m_media;
    qint64 m_latest = 0; // the latest clock merged
    qint64 m_changed = 0;
    bool m_candidatesRead = false;
    QHash<QString, std::vector<qint64>> m_candidates; // cards made here, not yet seen elsewhere

    // Where a card stands in a queue: a queue holds its cards in this order (by the
    // time it was placed there and the machine, then the order the step that placed
    // them gave them, as that machine's queue place; see placeAll).
    struct QueueKey {
        qint64 time = 0;
        qint32 machine = 0; // into m_machines
        qint64 rank = 0;
    };
    std::vector<QString> m_machines;
    QHash<QString, qint32> m_machineIndex;

    qint32 machineIndex(const QString &machine)
    {
        const auto it = m_machineIndex.constFind(machine);
        if (it != m_machineIndex.constEnd())
            return *it;
        m_machines.push_back(machine);
        return m_machineIndex.insert(machine, qint32(m_machines.size() - 1)).value();
    }
    QueueKey keyOf(const SyncClock &clock, qint64 rank) { return {clock.time, machineIndex(clock.machine), rank}; }
    bool before(const QueueKey &a, const QueueKey &b) const
    {
        if (a.time != b.time)
            return a.time < b.time;
        if (a.machine != b.machine)
            return m_machines[size_t(a.machine)] < m_machines[size_t(b.machine)];
        return a.rank < b.rank;
    }

    // One queue (subject, compartment) of one direction that this merge placed cards in:
    // the key of its last card, and the earliest key of a card placed behind a later one.
    struct Queue {
        QueueKey last;
        std::optional<QueueKey> firstOutOfOrder;
    };
    std::map<std::pair<qint64, qint32>, Queue> m_queues[2]; // forward, reverse
    // The rank of every card this merge placed, by card (the last one counts).
    std::vector<std::pair<qint32, qint32>> m_ranks[2];
    std::optional<qint64> m_nextStelle[2];
    rules::LocalOffsets m_offsets;
    std::optional<qint64> m_searchUpTo; // the search index's mark, while its trigger is dropped

    std::optional<qint64> localId(int art, const QString &uuid)
    {
        {
            sql::Statement q(m_db, "SELECT idLokal FROM tblAbgleichId WHERE Art = ?1 AND Uuid = ?2");
            q.bind(1, art).bind(2, uuid);
            if (q.step())
                return q.int64(0);
        }
        // One of this machine's own, from a file whose write was cut off before the
        // data file recorded it.
        const QString prefix = ownPrefix(m_self, art);
        if (!uuid.startsWith(prefix))
            return std::nullopt;
        bool ok = false;
        const qint64 local = QStringView(uuid).mid(prefix.size()).toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        map(art, uuid, local);
        return local;
    }

    void map(int art, const QString &uuid, qint64 local)
    {
        sql::Statement(m_db, "INSERT OR IGNORE INTO tblAbgleichId (Art, Uuid, idLokal) VALUES (?1, ?2, ?3)")
            .bind(1, art)
            .bind(2, uuid)
            .bind(3, local)
            .run();
    }

    // A key of the table that no row holds and none will be given: for an entity known
    // here only as gone.
    qint64 reserveKey(const char *table)
    {
        const QString name = QString::fromLatin1(table);
        sql::Statement up(m_db, "UPDATE sqlite_sequence SET seq = seq + 1 WHERE name = ?1");
        up.bind(1, name).run();
        if (sqlite3_changes(m_db.handle()) == 0)
            sql::Statement(m_db, "INSERT INTO sqlite_sequence (name, seq) VALUES (?1, 1)").bind(1, name).run();
        sql::Statement q(m_db, "SELECT seq FROM sqlite_sequence WHERE name = ?1");
        q.bind(1, name).step();
        return q.int64(0);
    }

    // The clocks from column first on: Neu, Z0, M0, ... Z5, M5 (all null: none kept).
    Clocks clocksAt(const sql::Statement &q, int first)
    {
        Clocks c;
        if (q.isNull(first))
            return c;
        c.known = true;
        c.pending = q.int64(first) != 0;
        for (int f = 0; f < kFields; ++f) {
            if (q.isNull(first + 1 + 2 * f))
                continue;
            c.at[f].time = q.int64(first + 1 + 2 * f);
            const QString m = q.text(first + 2 + 2 * f);
            c.at[f].machine = m.isEmpty() ? m_self : m;
        }
        return c;
    }

    Clocks clocks(int art, qint64 local)
    {
        sql::Statement q(m_db, "SELECT Neu, Z0, M0, Z1, M1, Z2, M2, Z3, M3, Z4, M4, Z5, M5 FROM tblAbgleichUhr "
                               "WHERE Art = ?1 AND idLokal = ?2");
        q.bind(1, art).bind(2, local);
        return q.step() ? clocksAt(q, 0) : Clocks();
    }

    // A card known here by that identity, read at once: its key, its clocks and its
    // subject (0: gone here).
    struct KnownCard {
        qint64 local = 0;
        Clocks clocks;
        qint64 subject = 0;
    };
    std::optional<KnownCard> knownCard(const QString &uuid)
    {
        sql::Statement q(m_db, "SELECT i.idLokal, u.Neu, u.Z0, u.M0, u.Z1, u.M1, u.Z2, u.M2, u.Z3, u.M3, u.Z4, u.M4, "
                               "u.Z5, u.M5, f.idGebiet FROM tblAbgleichId AS i "
                               "LEFT JOIN tblAbgleichUhr AS u ON u.Art = 1 AND u.idLokal = i.idLokal "
                               "LEFT JOIN tblFrageAntwort AS f ON f.idFrageAntwort = i.idLokal "
                               "WHERE i.Art = 1 AND i.Uuid = ?1");
        if (!q.bind(1, uuid).step())
            return std::nullopt;
        return KnownCard{q.int64(0), clocksAt(q, 1), q.isNull(14) ? 0 : q.int64(14)};
    }

    qint64 subjectHere(qint64 card)
    {
        sql::Statement q(m_db, "SELECT idGebiet FROM tblFrageAntwort WHERE idFrageAntwort = ?1");
        return q.bind(1, card).step() ? q.int64(0) : 0;
    }

    void writeClocks(int art, qint64 local, const Clocks &c)
    {
        // Updated where it stands rather than deleted and written anew.
        sql::Statement q(m_db, "INSERT INTO tblAbgleichUhr (Art, idLokal, Neu, Z0, M0, Z1, M1, Z2, M2, Z3, M3, Z4, "
                               "M4, Z5, M5) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15) "
                               "ON CONFLICT (Art, idLokal) DO UPDATE SET Neu = excluded.Neu, Z0 = excluded.Z0, "
                               "M0 = excluded.M0, Z1 = excluded.Z1, M1 = excluded.M1, Z2 = excluded.Z2, M2 = "
                               "excluded.M2, Z3 = excluded.Z3, M3 = excluded.M3, Z4 = excluded.Z4, M4 = excluded.M4, "
                               "Z5 = excluded.Z5, M5 = excluded.M5");
        q.bind(1, art).bind(2, local).bind(3, c.pending ? 1 : 0);
        for (int f = 0; f < kFields; ++f) {
            if (!c.at[f].isSet()) {
                q.bindNull(4 + 2 * f).bindNull(5 + 2 * f);
                continue;
            }
            q.bind(4 + 2 * f, c.at[f].time);
            q.bind(5 + 2 * f, c.at[f].machine == m_self ? QString(QLatin1String("")) : c.at[f].machine);
            m_latest = std::max(m_latest, c.at[f].time);
        }
        q.run();
    }

    bool exists(const char *sqlText, qint64 key)
    {
        sql::Statement q(m_db, sqlText);
        return q.bind(1, key).step();
    }

    // A queue place after every other of the direction's, counted on from the largest.
    qint64 takePlace(int reverse)
    {
        std::optional<qint64> &next = m_nextStelle[reverse];
        if (!next) {
            sql::Statement q(m_db, reverse ? "SELECT MAX(Stelle) FROM tblPositionUmgekehrt"
                                           : "SELECT MAX(Stelle) FROM tblPosition");
            next = q.step() && !q.isNull(0) ? q.int64(0) + 1 : 1;
        }
        if (*next > 2147483647)
            throw StoreError(StoreErrorKind::Limit, m_db.path(), QStringLiteral("queue place"));
        return (*next)++;
    }

    qint64 learningDay(qint64 enteredAt)
    {
        // The zone's offset asked once a day rather than for every card.
        constexpr qint64 kNear = qint64(1) << 40;
        if (enteredAt > -kNear && enteredAt < kNear)
            return rules::learningDayAt(enteredAt, m_offsets.at(enteredAt));
        return Store::learningDay(enteredAt);
    }

    // ---- Subjects -----------------------------------------------------------------

    std::optional<qint64> subjectNamed(const QString &name)
    {
        sql::Statement q(m_db, "SELECT idGebiet FROM tblGebiet WHERE NameGebiet = ?1 COLLATE TARLIVO_DE "
                               "ORDER BY idGebiet LIMIT 1");
        q.bind(1, name);
        if (!q.step())
            return std::nullopt;
        return q.int64(0);
    }

    // The name, or with a number when another subject holds it already.
    QString freeName(const QString &name, qint64 self)
    {
        QString candidate = name;
        for (int n = 2;; ++n) {
            const std::optional<qint64> holder = subjectNamed(candidate);
            if (!holder || *holder == self)
                return candidate;
            candidate = QStringLiteral("%1 (%2)").arg(name).arg(n);
        }
    }

    void writeSubjectFields(qint64 id, const SyncSubject &s, const bool take[kFields])
    {
        if (take[SyncSubjectName]) {
            sql::Statement(m_db, "UPDATE tblGebiet SET NameGebiet = ?1 WHERE idGebiet = ?2")
                .bind(1, freeName(s.name, id))
                .bind(2, id)
                .run();
        }
        if (take[SyncSubjectIntervals]) {
            sql::Statement(m_db, "DELETE FROM tblIntervall WHERE idGebiet = ?1").bind(1, id).run();
            for (const auto &[compartment, days] : s.intervals)
                sql::Statement(m_db, "INSERT OR REPLACE INTO tblIntervall (idGebiet, Fach, Tage) VALUES (?1, ?2, ?3)")
                    .bind(1, id)
                    .bind(2, compartment)
                    .bind(3, days)
                    .run();
        }
        if (take[SyncSubjectDirection]) {
            if (s.direction == 1 || s.direction == 2)
                sql::Statement(m_db, "INSERT OR REPLACE INTO tblRichtung (idGebiet, Richtung) VALUES (?1, ?2)")
                    .bind(1, id)
                    .bind(2, s.direction)
                    .run();
            else
                sql::Statement(m_db, "DELETE FROM tblRichtung WHERE idGebiet = ?1").bind(1, id).run();
        }
        if (take[SyncSubjectTolerances]) {
            if (s.tolerances && s.tolerances->size() == 4)
                sql::Statement(m_db, "INSERT OR REPLACE INTO tblGebietToleranz (idGebiet, Schreibung, Akzente, "
                                     "Satzzeichen, Tippfehler) VALUES (?1, ?2, ?3, ?4, ?5)")
                    .bind(1, id)
                    .bind(2, (*s.tolerances)[0])
                    .bind(3, (*s.tolerances)[1])
                    .bind(4, (*s.tolerances)[2])
                    .bind(5, (*s.tolerances)[3])
                    .run();
            else
                sql::Statement(m_db, "DELETE FROM tblGebietToleranz WHERE idGebiet = ?1").bind(1, id).run();
        }
        if (take[SyncSubjectLanguages]) {
            if (s.languages)
                sql::Statement(m_db, "INSERT OR REPLACE INTO tblGebietSprache (idGebiet, SpracheFrage, "
                                     "SpracheAntwort) VALUES (?1, ?2, ?3)")
                    .bind(1, id)
                    .bind(2, s.languages->first)
                    .bind(3, s.languages->second)
                    .run();
            else
                sql::Statement(m_db, "DELETE FROM tblGebietSprache WHERE idGebiet = ?1").bind(1, id).run();
        }
    }

    // Subjects made or changed elsewhere; returns those whose deletion waits until their
    // cards are merged (a card edited here later keeps its subject).
    std::vector<qint64> mergeSubjects(const std::vector<SyncSubject> &subjects)
    {
        std::vector<qint64> deletions;
        for (const SyncSubject &s : subjects) {
            std::optional<qint64> local = localId(ArtSubject, s.id);
            if (!local && s.alive) {
                // Two subjects made with one name become one.
                local = subjectNamed(s.name);
                if (local)
                    map(ArtSubject, s.id, *local);
            }
            if (!local) {
                Clocks c;
                for (int f = 0; f < kSubjectFields; ++f)
                    c.at[f] = s.clocks[f];
                if (s.alive) {
                    sql::Statement(m_db, "INSERT INTO tblGebiet (NameGebiet) VALUES (?1)").bind(1, s.name).run();
                    local = sqlite3_last_insert_rowid(m_db.handle());
                    bool all[kFields] = {false, false, true, true, true, true};
                    writeSubjectFields(*local, s, all);
                    ++m_changed;
                } else {
                    local = reserveKey("tblGebiet");
                }
                map(ArtSubject, s.id, *local);
                writeClocks(ArtSubject, *local, c);
                continue;
            }
            Clocks c = clocks(ArtSubject, *local);
            const bool here = exists("SELECT 1 FROM tblGebiet WHERE idGebiet = ?1", *local);
            bool take[kFields] = {};
            bool any = false;
            for (int f = 1; f < kSubjectFields; ++f) {
                take[f] = c.at[f] < s.clocks[f];
                any = any || take[f];
            }
            const bool remoteExistNewer = c.at[SyncSubjectExists] < s.clocks[SyncSubjectExists];
            if (remoteExistNewer && s.alive && !here) {
                // Made again elsewhere (or its deletion taken back): back with the other side's fields.
                sql::Statement(m_db, "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)")
                    .bind(1, *local)
                    .bind(2, freeName(s.name, *local))
                    .run();
                for (int f = 1; f < kSubjectFields; ++f)
                    take[f] = true;
                writeSubjectFields(*local, s, take);
                ++m_changed;
            } else if (here && any && s.alive) {
                writeSubjectFields(*local, s, take);
                ++m_changed;
            }
            if (remoteExistNewer && !s.alive && here)
                deletions.push_back(*local);
            for (int f = 0; f < kSubjectFields; ++f)
                if (c.at[f] < s.clocks[f])
                    c.at[f] = s.clocks[f];
            writeClocks(ArtSubject, *local, c);
        }
        return deletions;
    }

    void deleteSubjects(const std::vector<qint64> &ids)
    {
        for (qint64 id : ids) {
            if (exists("SELECT 1 FROM tblFrageAntwort WHERE idGebiet = ?1 LIMIT 1", id))
                continue; // a card edited here after the deletion keeps it
            sql::Statement(m_db, "DELETE FROM tblIntervall WHERE idGebiet = ?1").bind(1, id).run();
            sql::Statement(m_db, "DELETE FROM tblGebiet WHERE idGebiet = ?1").bind(1, id).run();
            ++m_changed;
        }
    }

    // The local key of a card's subject, which the batch carries with it; a subject gone
    // here comes back for a card that lives on.
    qint64 subjectOf(const QString &uuid, const std::vector<SyncSubject> &subjects)
    {
        std::optional<qint64> local = localId(ArtSubject, uuid);
        if (local && exists("SELECT 1 FROM tblGebiet WHERE idGebiet = ?1", *local))
            return *local;
        const auto it =
            std::find_if(subjects.begin(), subjects.end(), [&](const SyncSubject &s) { return s.id == uuid; });
        const QString name = it != subjects.end() && it->alive ? it->name : QStringLiteral("Ohne Gebiet");
        if (!local) {
            local = subjectNamed(name);
            if (local) {
                map(ArtSubject, uuid, *local);
                return *local;
            }
            local = reserveKey("tblGebiet");
            map(ArtSubject, uuid, *local);
        }
        sql::Statement(m_db, "INSERT INTO tblGebiet (idGebiet, NameGebiet) VALUES (?1, ?2)")
            .bind(1, *local)
            .bind(2, freeName(name, *local))
            .run();
        return *local;
    }

    // ---- Cards --------------------------------------------------------------------

    static QString candidateKey(qint64 subject, const QString &question, const QString &answer)
    {
        return QString::number(subject) + QLatin1Char('\x1f') + (question.isNull() ? QStringLiteral("\x1e") : question)
               + QLatin1Char('\x1f') + (answer.isNull() ? QStringLiteral("\x1e") : answer);
    }

    // A card made here and never seen elsewhere with the same texts in the same subject.
    std::optional<qint64> sameCard(qint64 subject, const SyncCard &c)
    {
        if (!m_candidatesRead) {
            m_candidatesRead = true;
            sql::Statement q(m_db, "SELECT f.idFrageAntwort, f.idGebiet, f.Frage, f.Antwort FROM tblAbgleichUhr AS u "
                                   "JOIN tblFrageAntwort AS f ON f.idFrageAntwort = u.idLokal "
                                   "WHERE u.Art = 1 AND u.Neu = 1 AND NOT EXISTS (SELECT 1 FROM tblAbgleichId AS i "
                                   "WHERE i.Art = 1 AND i.idLokal = u.idLokal) ORDER BY f.idFrageAntwort");
            while (q.step())
                m_candidates[candidateKey(q.int64(1), q.text(2), q.text(3))].push_back(q.int64(0));
        }
        const auto it = m_candidates.find(candidateKey(subject, c.question, c.answer));
        if (it == m_candidates.end() || it->empty())
            return std::nullopt;
        const qint64 id = it->front();
        it->erase(it->begin());
        return id;
    }

    qint64 mediumOf(const SyncMedia &m, QHash<QByteArray, QByteArray> &bytes)
    {
        sql::Statement q(m_db, "SELECT idMedium FROM tblMedium WHERE Pruefsumme = ?1");
        if (q.bindBlob(1, m.checksum).step())
            return q.int64(0);
        QByteArray content = bytes.value(m.checksum);
        if (content.isNull())
            content = m_media(m.checksum);
        if (content.isNull() || QCryptographicHash::hash(content, QCryptographicHash::Sha256) != m.checksum)
            throw StoreError(StoreErrorKind::NotFound, m_db.path(), QStringLiteral("media content"));
        sql::Statement(m_db, "INSERT INTO tblMedium (Name, Art, Inhalt, Pruefsumme) VALUES (?1, ?2, ?3, ?4)")
            .bind(1, m.name)
            .bind(2, m.kind)
            .bindBlob(3, content)
            .bindBlob(4, m.checksum)
            .run();
        return sqlite3_last_insert_rowid(m_db.handle());
    }

    void writeMedia(qint64 card, const std::vector<SyncMedia> &media)
    {
        // The contents this card shows now, kept while their old links go.
        QHash<QByteArray, QByteArray> bytes;
        {
            sql::Statement q(m_db, "SELECT m.Pruefsumme, m.Inhalt FROM tblKarteMedium AS k JOIN tblMedium AS m "
                                   "ON m.idMedium = k.idMedium WHERE k.idFrageAntwort = ?1");
            q.bind(1, card);
            while (q.step())
                bytes.insert(q.blob(0), q.blob(1));
        }
        sql::Statement(m_db, "DELETE FROM tblKarteMedium WHERE idFrageAntwort = ?1").bind(1, card).run();
        for (const SyncMedia &m : media) {
            const qint64 medium = mediumOf(m, bytes);
            sql::Statement(m_db, "INSERT OR IGNORE INTO tblKarteMedium (idFrageAntwort, Seite, Art, idMedium) "
                                 "VALUES (?1, ?2, ?3, ?4)")
                .bind(1, card)
                .bind(2, m.side)
                .bind(3, m.kind)
                .bind(4, medium)
                .run();
        }
    }

    void writeEnteredAt(qint64 card, qint64 enteredAt)
    {
        sql::Statement(m_db, "INSERT INTO tblFachSeit (idFrageAntwort, Seit, Tag) VALUES (?1, ?2, ?3) "
                             "ON CONFLICT (idFrageAntwort) DO UPDATE SET Seit = excluded.Seit, Tag = excluded.Tag")
            .bind(1, card)
            .bind(2, enteredAt)
            .bind(3, learningDay(enteredAt))
            .run();
    }

    // Puts the card at the end of its queue, as practice does; a card placed before the
    // queue's last one in the queues' order is dealt its place when all are merged (placeAll).
    // made: a forward place for a card this merge has just made, which has none yet.
    void place(int reverse, qint64 card, qint64 subject, qint32 compartment, qint64 enteredAt, const SyncClock &clock,
               qint64 rank, bool made = false)
    {
        const QueueKey key = keyOf(clock, rank);
        m_ranks[reverse].emplace_back(toInt32(card, m_db.path()), toInt32(rank, m_db.path()));
        const std::pair<qint64, qint32> at{subject, compartment};
        auto queue = m_queues[reverse].find(at);
        if (queue == m_queues[reverse].end())
            queue =
                m_queues[reverse].emplace(at, Queue{lastInQueue(reverse, subject, compartment), std::nullopt}).first;
        Queue &q = queue->second;
        // Alike in everything, it ranks by identity, which the queue's end may not follow.
        if (!before(q.last, key)) {
            if (!q.firstOutOfOrder || before(key, *q.firstOutOfOrder))
                q.firstOutOfOrder = key;
        } else {
            q.last = key;
        }
        const qint64 queuePlace = takePlace(reverse);
        if (reverse) {
            // From the card's own row, so that no place is made for a card that is gone.
            sql::Statement(m_db,
                           "INSERT INTO tblPositionUmgekehrt (idFrageAntwort, idGebiet, Fach, Stelle, Seit, Tag) "
                           "SELECT idFrageAntwort, ?2, ?3, ?4, ?5, ?6 FROM tblFrageAntwort WHERE idFrageAntwort = "
                           "?1 ON CONFLICT (idFrageAntwort) DO UPDATE SET Fach = excluded.Fach, Stelle = "
                           "excluded.Stelle, Seit = excluded.Seit, Tag = excluded.Tag")
                .bind(1, card)
                .bind(2, subject)
                .bind(3, compartment)
                .bind(4, queuePlace)
                .bind(5, enteredAt)
                .bind(6, learningDay(enteredAt))
                .run();
            return;
        }
        if (made)
            sql::Statement(m_db,
                           "INSERT INTO tblPosition (idFrageAntwort, Fach, Stelle, idGebiet) VALUES (?1, ?2, ?3, ?4)")
                .bind(1, card)
                .bind(2, compartment)
                .bind(3, queuePlace)
                .bind(4, subject)
                .run();
        else
            sql::Statement(m_db, "UPDATE tblPosition SET Fach = ?2, Stelle = ?3 WHERE idFrageAntwort = ?1")
                .bind(1, card)
                .bind(2, compartment)
                .bind(3, queuePlace)
                .run();
        if (sqlite3_changes(m_db.handle()) == 1)
            writeEnteredAt(card, enteredAt);
    }

    // The key of the card that stands last in a queue before this merge places any there.
    QueueKey lastInQueue(int reverse, qint64 subject, qint32 compartment)
    {
        sql::Statement q(m_db, reverse ? "SELECT r.Stelle, u.Z3, u.M3 FROM tblPositionUmgekehrt AS r LEFT JOIN "
                                         "tblAbgleichUhr AS u ON u.Art = 1 AND u.idLokal = r.idFrageAntwort "
                                         "WHERE r.idGebiet = ?1 AND r.Fach = ?2 ORDER BY r.Stelle DESC LIMIT 1"
                                       : "SELECT p.Stelle, u.Z2, u.M2 FROM tblPosition AS p LEFT JOIN "
                                         "tblAbgleichUhr AS u ON u.Art = 1 AND u.idLokal = p.idFrageAntwort "
                                         "WHERE p.idGebiet = ?1 AND p.Fach = ?2 ORDER BY p.Stelle DESC LIMIT 1");
        q.bind(1, subject).bind(2, compartment);
        if (!q.step())
            return QueueKey{std::numeric_limits<qint64>::min(), machineIndex(QString()), 0};
        return keyOf(clockAt(q, 1), q.int64(0));
    }

    SyncClock clockAt(const sql::Statement &q, int column)
    {
        const QString machine = q.text(column + 1);
        return SyncClock{q.isNull(column) ? 0 : q.int64(column), machine.isEmpty() ? m_self : machine};
    }

    void writePlace(qint64 card, qint64 subject, const SyncCard &c, bool made = false)
    {
        place(0, card, subject, std::max(1, c.compartment), c.enteredAt, c.clocks[SyncCardPlace], c.queuePlace, made);
    }

    void writeReverse(qint64 card, qint64 subject, const SyncCard &c)
    {
        if (!c.reverse) {
            sql::Statement(m_db, "DELETE FROM tblPositionUmgekehrt WHERE idFrageAntwort = ?1").bind(1, card).run();
            return;
        }
        place(1, card, subject, std::max(1, c.reverse->first), c.reverse->second, c.clocks[SyncCardReversePlace],
              c.reverseQueuePlace);
    }

    void insertCard(std::optional<qint64> key, qint64 subject, const SyncCard &c, qint64 *id)
    {
        sql::Statement insert(
            m_db, "INSERT INTO tblFrageAntwort (idFrageAntwort, idGebiet, Frage, Antwort) VALUES (?1, ?2, ?3, ?4)");
        if (key)
            insert.bind(1, *key);
        else
            insert.bindNull(1);
        insert.bind(2, subject).bind(3, c.question).bind(4, c.answer).run();
        *id = key ? *key : sqlite3_last_insert_rowid(m_db.handle());
        indexTexts(*id, c);
        writePlace(*id, subject, c, true);
        if (c.reverse)
            writeReverse(*id, subject, c);
        writeMedia(*id, c.media);
    }

    // The search index's trigger is dropped for the merge (see SyncStore::merge): a card
    // made under a key the index holds already goes in now, a later one waits with the
    // others for the index to catch up, as after an import.
    void indexTexts(qint64 id, const SyncCard &c)
    {
        if (!m_searchUpTo || id > *m_searchUpTo)
            return;
        sql::Statement(m_db, "INSERT INTO tblSuche (rowid, Frage, Antwort) VALUES (?1, ?2, ?3)")
            .bind(1, id)
            .bind(2, rules::textOf(c.question))
            .bind(3, rules::textOf(c.answer))
            .run();
    }

    void deleteCard(qint64 id)
    {
        sql::Statement(m_db, "DELETE FROM tblPosition WHERE idFrageAntwort = ?1").bind(1, id).run();
        sql::Statement(m_db, "DELETE FROM tblFrageAntwort WHERE idFrageAntwort = ?1").bind(1, id).run();
    }

    void mergeCards(std::vector<const SyncCard *> cards, const std::vector<SyncSubject> &subjects)
    {
        // Places taken in the order they were set, so that the queues end as practice leaves them.
        std::stable_sort(cards.begin(), cards.end(), [](const SyncCard *a, const SyncCard *b) {
            const SyncClock &x = a->clocks[SyncCardPlace];
            const SyncClock &y = b->clocks[SyncCardPlace];
            return x < y || (x == y && a->queuePlace < b->queuePlace);
        });
        for (const SyncCard *cp : cards) {
            const SyncCard &c = *cp;
            const std::optional<KnownCard> known = knownCard(c.id);
            std::optional<qint64> local = known ? std::optional<qint64>(known->local) : localId(ArtCard, c.id);
            if (!local && c.alive) {
                const qint64 subject = subjectOf(c.subject, subjects);
                local = sameCard(subject, c);
                if (local) {
                    map(ArtCard, c.id, *local);
                } else {
                    qint64 id = 0;
                    insertCard(std::nullopt, subject, c, &id);
                    map(ArtCard, c.id, id);
                    Clocks clocksNew;
                    for (int f = 0; f < kCardFields; ++f)
                        clocksNew.at[f] = c.clocks[f];
                    writeClocks(ArtCard, id, clocksNew);
                    ++m_changed;
                    continue;
                }
            }
            if (!local) {
                // Gone before it came here: remembered, so that older edits cannot bring it back.
                local = reserveKey("tblFrageAntwort");
                map(ArtCard, c.id, *local);
                Clocks gone;
                for (int f = 0; f < kCardFields; ++f)
                    gone.at[f] = c.clocks[f];
                writeClocks(ArtCard, *local, gone);
                continue;
            }
            Clocks mine = known ? known->clocks : clocks(ArtCard, *local);
            qint64 subject = known ? known->subject : subjectHere(*local);
            const bool here = subject != 0;
            Clocks merged = mine;
            bool take[kFields] = {};
            for (int f = 0; f < kCardFields; ++f) {
                take[f] = mine.at[f] < c.clocks[f];
                if (take[f])
                    merged.at[f] = c.clocks[f];
            }
            // Gone when its deletion is the latest of its fields; an edit after it brings it back.
            const bool existsThere = take[SyncCardExists] ? c.alive : here;
            SyncClock latestEdit;
            for (int f = 1; f < kCardFields; ++f)
                latestEdit = std::max(latestEdit, merged.at[f]);
            const bool alive = existsThere || merged.at[SyncCardExists] < latestEdit;
            if (alive && !here) {
                if (c.alive) {
                    qint64 id = 0;
                    insertCard(*local, subjectOf(c.subject, subjects), c, &id);
                    for (int f = 1; f < kCardFields; ++f)
                        merged.at[f] = c.clocks[f];
                    ++m_changed;
                }
            } else if (!alive && here) {
                deleteCard(*local);
                ++m_changed;
            } else if (alive && here && c.alive) {
                bool any = false;
                if (take[SyncCardSubject]) {
                    subject = subjectOf(c.subject, subjects);
                    sql::Statement(m_db, "UPDATE tblFrageAntwort SET idGebiet = ?1 WHERE idFrageAntwort = ?2")
                        .bind(1, subject)
                        .bind(2, *local)
                        .run();
                    any = true;
                }
                if (take[SyncCardText]) {
                    sql::Statement(m_db,
                                   "UPDATE tblFrageAntwort SET Frage = ?1, Antwort = ?2 WHERE idFrageAntwort = ?3")
                        .bind(1, c.question)
                        .bind(2, c.answer)
                        .bind(3, *local)
                        .run();
                    writeMedia(*local, c.media);
                    any = true;
                }
                if (take[SyncCardPlace]) {
                    writePlace(*local, subject, c);
                    any = true;
                }
                if (take[SyncCardReversePlace]) {
                    writeReverse(*local, subject, c);
                    any = true;
                }
                m_changed += any ? 1 : 0;
            }
            writeClocks(ArtCard, *local, merged);
        }
    }

    // ---- Queue places ---------------------------------------------------------------

    // The identity both machines know a card by (of two made alike, the smaller).
    QString cardIdentity(qint64 card)
    {
        sql::Statement q(m_db, "SELECT MIN(Uuid) FROM tblAbgleichId WHERE Art = 1 AND idLokal = ?1");
        if (q.bind(1, card).step() && !q.isNull(0))
            return q.text(0);
        return ownPrefix(m_self, ArtCard) + QString::number(card);
    }

    // The queue places of the compartments this merge placed cards in, derived again as
    // practice makes them: every placement goes behind the ones before it, so a
    // compartment's cards stand in the order they were placed there, by (time, machine),
    // then the order the step that placed them gave them, then identity. That order is
    // the same on every machine whatever the order the files came in. Each card placed
    // went to its queue's end; only a queue where one went behind a later card is dealt
    // again, from the end back to the last card before the earliest such one, its places
    // shuffled among its cards. Called once, when every part is merged.
    void placeAll(int reverse)
    {
        std::vector<std::pair<qint32, qint32>> &ranks = m_ranks[reverse];
        std::stable_sort(ranks.begin(), ranks.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        struct Member {
            qint64 card;
            qint64 queuePlace;
            QueueKey key;
        };
        for (const auto &[queue, state] : m_queues[reverse]) {
            if (!state.firstOutOfOrder)
                continue;
            const QueueKey first = *state.firstOutOfOrder;
            sql::Statement q(m_db,
                             reverse ? "SELECT r.idFrageAntwort, r.Stelle, u.Z3, u.M3 FROM tblPositionUmgekehrt "
                                       "AS r LEFT JOIN tblAbgleichUhr AS u ON u.Art = 1 AND u.idLokal = "
                                       "r.idFrageAntwort WHERE r.idGebiet = ?1 AND r.Fach = ?2 ORDER BY r.Stelle DESC"
                                     : "SELECT p.idFrageAntwort, p.Stelle, u.Z2, u.M2 FROM tblPosition AS p "
                                       "LEFT JOIN tblAbgleichUhr AS u ON u.Art = 1 AND u.idLokal = "
                                       "p.idFrageAntwort WHERE p.idGebiet = ?1 AND p.Fach = ?2 ORDER BY p.Stelle DESC");
            q.bind(1, queue.first).bind(2, queue.second);
            std::vector<Member> members;
            while (q.step()) {
                const qint64 card = q.int64(0);
                const qint64 queuePlace = q.int64(1);
                // A card this merge placed ranks as the step that placed it ordered it; one
                // there already, as it stands.
                auto it = std::upper_bound(ranks.begin(), ranks.end(), card,
                                           [](qint64 c, const auto &r) { return c < r.first; });
                const qint64 rank =
                    it != ranks.begin() && std::prev(it)->first == card ? std::prev(it)->second : queuePlace;
                const QueueKey key = keyOf(clockAt(q, 2), rank);
                if (before(key, first))
                    break;
                members.push_back({card, queuePlace, key});
            }
            std::vector<qint64> places;
            places.reserve(members.size());
            for (const Member &m : members)
                places.push_back(m.queuePlace);
            std::sort(places.begin(), places.end());
            std::stable_sort(members.begin(), members.end(),
                             [this](const Member &a, const Member &b) { return before(a.key, b.key); });
            // Placed alike in everything: by identity.
            for (auto run = members.begin(); run != members.end();) {
                auto end = std::find_if(run, members.end(), [&](const Member &m) { return before(run->key, m.key); });
                if (end - run > 1) {
                    std::vector<std::pair<QString, Member>> named;
                    for (auto it = run; it != end; ++it)
                        named.emplace_back(cardIdentity(it->card), *it);
                    std::sort(named.begin(), named.end(),
                              [](const auto &a, const auto &b) { return a.first < b.first; });
                    for (auto it = run; it != end; ++it)
                        *it = named[size_t(it - run)].second;
                }
                run = end;
            }
            for (size_t i = 0; i < members.size(); ++i) {
                if (places[i] == members[i].queuePlace)
                    continue;
                sql::Statement(m_db, reverse ? "UPDATE tblPositionUmgekehrt SET Stelle = ?2 WHERE idFrageAntwort = ?1"
                                             : "UPDATE tblPosition SET Stelle = ?2 WHERE idFrageAntwort = ?1")
                    .bind(1, members[i].card)
                    .bind(2, places[i])
                    .run();
            }
        }
        m_queues[reverse].clear();
        ranks.clear();
    }

    // ---- The log ------------------------------------------------------------------

    void insertVerdict(std::optional<qint64> key, const SyncVerdict &v, qint64 *id)
    {
        std::optional<qint64> card = localId(ArtCard, v.card);
        if (!card) {
            card = reserveKey("tblFrageAntwort");
            map(ArtCard, v.card, *card);
        }
        std::optional<qint64> subject = localId(ArtSubject, v.subject);
        if (!subject) {
            subject = reserveKey("tblGebiet");
            map(ArtSubject, v.subject, *subject);
        }
        sql::Statement insert(m_db, "INSERT INTO tblUebung (idUebung, Zeitpunkt, idFrageAntwort, idGebiet, "
                                    "FachVorher, FachNachher, Urteil) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        if (key)
            insert.bind(1, *key);
        else
            insert.bindNull(1);
        insert.bind(2, v.time)
            .bind(3, *card)
            .bind(4, *subject)
            .bind(5, v.compartmentBefore)
            .bind(6, v.compartmentAfter)
            .bind(7, std::clamp(v.verdict, 1, 3))
            .run();
        *id = key ? *key : sqlite3_last_insert_rowid(m_db.handle());
        if (v.reverse)
            sql::Statement(m_db, "INSERT OR IGNORE INTO tblUebungUmgekehrt (idUebung) VALUES (?1)").bind(1, *id).run();
        ++m_changed;
    }

    void mergeLog(const std::vector<SyncVerdict> &log)
    {
        for (const SyncVerdict &v : log) {
            const std::optional<qint64> local = localId(ArtVerdict, v.id);
            Clocks c;
            if (!local) {
                qint64 id = 0;
                if (v.alive)
                    insertVerdict(std::nullopt, v, &id);
                else
                    id = reserveKey("tblUebung");
                map(ArtVerdict, v.id, id);
                c.at[0] = v.clock;
                writeClocks(ArtVerdict, id, c);
                continue;
            }
            c = clocks(ArtVerdict, *local);
            if (!(c.at[0] < v.clock))
                continue;
            const bool here = exists("SELECT 1 FROM tblUebung WHERE idUebung = ?1", *local);
            qint64 id = 0;
            if (v.alive && !here)
                insertVerdict(*local, v, &id);
            if (!v.alive && here) {
                sql::Statement(m_db, "DELETE FROM tblUebung WHERE idUebung = ?1").bind(1, *local).run();
                ++m_changed;
            }
            c.at[0] = v.clock;
            writeClocks(ArtVerdict, *local, c);
        }
    }
};

// Reads this machine's entities for a file.
class Reader {
public:
    // remember: an identity made here is written down (inside a write transaction only).
    Reader(sql::Database &db, QString self, bool remember = true)
        : m_db(db), m_self(std::move(self)), m_remember(remember)
    {
    }

    QString uuid(int art, qint64 local)
    {
        {
            sql::Statement q(m_db, "SELECT MIN(Uuid) FROM tblAbgleichId WHERE Art = ?1 AND idLokal = ?2");
            q.bind(1, art).bind(2, local);
            if (q.step() && !q.isNull(0))
                return q.text(0);
        }
        const QString made = ownPrefix(m_self, art) + QString::number(local);
        if (!m_remember)
            return made;
        sql::Statement(m_db, "INSERT INTO tblAbgleichId (Art, Uuid, idLokal) VALUES (?1, ?2, ?3)")
            .bind(1, art)
            .bind(2, made)
            .bind(3, local)
            .run();
        return made;
    }

    void readClocks(int art, qint64 local, SyncClock *out, int fields)
    {
        sql::Statement q(m_db, "SELECT Z0, M0, Z1, M1, Z2, M2, Z3, M3, Z4, M4, Z5, M5 FROM tblAbgleichUhr "
                               "WHERE Art = ?1 AND idLokal = ?2");
        q.bind(1, art).bind(2, local);
        if (!q.step())
            return;
        for (int f = 0; f < fields; ++f) {
            if (q.isNull(2 * f))
                continue;
            out[f].time = q.int64(2 * f);
            const QString m = q.text(2 * f + 1);
            out[f].machine = m.isEmpty() ? m_self : m;
        }
    }

    SyncSubject subject(qint64 id)
    {
        SyncSubject s;
        s.id = uuid(ArtSubject, id);
        readClocks(ArtSubject, id, s.clocks, kSubjectFields);
        sql::Statement q(m_db, "SELECT NameGebiet FROM tblGebiet WHERE idGebiet = ?1");
        if (!q.bind(1, id).step()) {
            s.alive = false;
            return s;
        }
        s.name = q.text(0);
        {
            sql::Statement i(m_db, "SELECT Fach, Tage FROM tblIntervall WHERE idGebiet = ?1 ORDER BY Fach");
            i.bind(1, id);
            while (i.step())
                s.intervals.emplace_back(qint32(i.int64(0)), qint32(i.int64(1)));
        }
        {
            sql::Statement d(m_db, "SELECT Richtung FROM tblRichtung WHERE idGebiet = ?1");
            if (d.bind(1, id).step())
                s.direction = qint32(d.int64(0));
        }
        {
            sql::Statement t(m_db, "SELECT Schreibung, Akzente, Satzzeichen, Tippfehler FROM tblGebietToleranz "
                                   "WHERE idGebiet = ?1");
            if (t.bind(1, id).step())
                s.tolerances =
                    std::vector<qint32>{qint32(t.int64(0)), qint32(t.int64(1)), qint32(t.int64(2)), qint32(t.int64(3))};
        }
        {
            sql::Statement l(m_db, "SELECT SpracheFrage, SpracheAntwort FROM tblGebietSprache WHERE idGebiet = ?1");
            if (l.bind(1, id).step())
                s.languages = std::make_pair(l.text(0), l.text(1));
        }
        return s;
    }

    // The card, and its subject's key (0 when gone).
    SyncCard card(qint64 id, qint64 *subject)
    {
        SyncCard c;
        c.id = uuid(ArtCard, id);
        readClocks(ArtCard, id, c.clocks, kCardFields);
        *subject = 0;
        sql::Statement q(m_db,
                         "SELECT f.idGebiet, f.Frage, f.Antwort, p.Fach, s.Seit, r.Fach, r.Seit, p.Stelle, r.Stelle "
                         "FROM tblFrageAntwort AS f LEFT JOIN tblPosition AS p USING (idFrageAntwort) "
                         "LEFT JOIN tblFachSeit AS s USING (idFrageAntwort) "
                         "LEFT JOIN tblPositionUmgekehrt AS r USING (idFrageAntwort) WHERE f.idFrageAntwort = ?1");
        if (!q.bind(1, id).step()) {
            c.alive = false;
            return c;
        }
        *subject = q.int64(0);
        c.subject = uuid(ArtSubject, *subject);
        c.question = q.text(1);
        c.answer = q.text(2);
        c.compartment = q.isNull(3) ? 1 : qint32(q.int64(3));
        c.enteredAt = q.isNull(4) ? 0 : q.int64(4);
        if (!q.isNull(5))
            c.reverse = std::make_pair(qint32(q.int64(5)), q.int64(6));
        c.queuePlace = q.isNull(7) ? 0 : q.int64(7);
        c.reverseQueuePlace = q.isNull(8) ? 0 : q.int64(8);
        sql::Statement m(m_db, "SELECT k.Seite, k.Art, m.Name, m.Pruefsumme FROM tblKarteMedium AS k "
                               "JOIN tblMedium AS m ON m.idMedium = k.idMedium WHERE k.idFrageAntwort = ?1 "
                               "ORDER BY k.Seite, k.Art");
        m.bind(1, id);
        while (m.step())
            c.media.push_back({qint32(m.int64(0)), qint32(m.int64(1)), m.text(2), m.blob(3)});
        return c;
    }

    SyncVerdict verdict(qint64 id, qint64 *subject)
    {
        SyncVerdict v;
        v.id = uuid(ArtVerdict, id);
        readClocks(ArtVerdict, id, &v.clock, 1);
        *subject = 0;
        sql::Statement q(m_db, "SELECT Zeitpunkt, idFrageAntwort, idGebiet, FachVorher, FachNachher, Urteil, "
                               "EXISTS (SELECT 1 FROM tblUebungUmgekehrt AS r WHERE r.idUebung = u.idUebung) "
                               "FROM tblUebung AS u WHERE idUebung = ?1");
        if (!q.bind(1, id).step()) {
            v.alive = false;
            return v;
        }
        v.time = q.int64(0);
        v.card = uuid(ArtCard, q.int64(1));
        *subject = q.int64(2);
        v.subject = uuid(ArtSubject, *subject);
        v.compartmentBefore = qint32(q.int64(3));
        v.compartmentAfter = qint32(q.int64(4));
        v.verdict = qint32(q.int64(5));
        v.reverse = q.int64(6) != 0;
        return v;
    }

private:
    sql::Database &m_db;
    QString m_self;
    bool m_remember;
};

// The key of an entity in tblAbgleichUhr.
struct EntityKey {
    qint64 art = -1;
    qint64 id = 0;
};

// Cards placed at one time in the order of their queue places, as the merge deals them.
#define TARLIVO_QUEUE_ORDER                                                                                            \
    "CASE WHEN Art = 1 THEN (SELECT p.Stelle FROM tblPosition AS p WHERE p.idFrageAntwort = idLokal) END"

// Hands out the entities of a write part by part; each part carries the subjects of its
// cards, so that it merges on its own. Pending reads, in the caller's transaction, the
// cards in the order their places were set (the queues come out alike however the parts
// are cut, and the merge rarely deals a queue again); Stretches takes the keys a stretch
// at a time from pick, which runs in a transaction of its own, and reads them in read
// transactions of their own (a later read of an entity is only newer).
class PartReader {
public:
    using Pick = std::function<std::vector<EntityKey>(const EntityKey &after, qint64 count)>;

    // Pending: what changed here since the last file.
    PartReader(sql::Database &db, Reader &reader, const SyncPartLimits &limits)
        : m_db(db), m_reader(reader), m_limits(limits)
    {
        m_query.emplace(db, "SELECT Art, idLokal FROM tblAbgleichUhr WHERE Neu = 1 ORDER BY Art, "
                            "CASE WHEN Art = 1 THEN Z2 END, CASE WHEN Art = 1 THEN M2 END, " TARLIVO_QUEUE_ORDER
                            ", idLokal");
    }
    // Stretches.
    PartReader(sql::Database &db, Reader &reader, const SyncPartLimits &limits, Pick pick)
        : m_db(db), m_reader(reader), m_limits(limits), m_pick(std::move(pick))
    {
    }

    bool next(SyncBatch &part)
    {
        part = SyncBatch();
        Sizes sizes;
        if (m_query) {
            while (!m_done && sizes.room(m_limits)) {
                if (!m_query->step()) {
                    m_done = true;
                    break;
                }
                read(EntityKey{m_query->int64(0), m_query->int64(1)}, part, sizes);
            }
            readSubjects(part, sizes);
        } else {
            while (!m_done && sizes.room(m_limits)) {
                if (m_at == m_keys.size()) {
                    m_keys = m_pick(m_last, std::max<qint64>(1, m_limits.stretch));
                    m_at = 0;
                    if (m_keys.empty()) {
                        m_done = true;
                        break;
                    }
                    m_last = m_keys.back();
                }
                {
                    sql::ReadTransaction tx(m_db);
                    for (; m_at < m_keys.size() && sizes.room(m_limits); ++m_at)
                        read(m_keys[m_at], part, sizes);
                }
                if (m_limits.between)
                    m_limits.between();
            }
            sql::ReadTransaction tx(m_db);
            readSubjects(part, sizes);
        }
        m_written += sizes.entities;
        return sizes.entities > 0;
    }

    qint64 written() const { return m_written; }

private:
    struct Sizes {
        qint64 entities = 0;
        qint64 bytes = 0;
        std::set<qint64> subjectsIn;
        std::set<qint64> subjectsNeeded;
        bool room(const SyncPartLimits &l) const { return entities < l.entities && bytes < l.bytes; }
    };

    void read(const EntityKey &key, SyncBatch &part, Sizes &sizes)
    {
        qint64 subject = 0;
        if (key.art == ArtSubject) {
            part.subjects.push_back(m_reader.subject(key.id));
            sizes.subjectsIn.insert(key.id);
            sizes.bytes += 64 + part.subjects.back().name.size() * 2;
        } else if (key.art == ArtCard) {
            part.cards.push_back(m_reader.card(key.id, &subject));
            const SyncCard &c = part.cards.back();
            sizes.bytes += 160 + (c.question.size() + c.answer.size()) * 2 + qint64(c.media.size()) * 96;
        } else if (key.art == ArtVerdict) {
            part.log.push_back(m_reader.verdict(key.id, &subject));
            sizes.bytes += 160;
        } else {
            return;
        }
        ++sizes.entities;
        if (subject)
            sizes.subjectsNeeded.insert(subject);
    }

    void readSubjects(SyncBatch &part, const Sizes &sizes)
    {
        for (qint64 id : sizes.subjectsNeeded)
            if (!sizes.subjectsIn.count(id))
                part.subjects.push_back(m_reader.subject(id));
    }

    sql::Database &m_db;
    Reader &m_reader;
    SyncPartLimits m_limits;
    Pick m_pick;
    std::optional<sql::Statement> m_query;
    std::vector<EntityKey> m_keys;
    size_t m_at = 0;
    EntityKey m_last{std::numeric_limits<qint64>::min(), 0};
    bool m_done = false;
    qint64 m_written = 0;
};

#undef TARLIVO_QUEUE_ORDER

// The keys after one, in order; every entity, or only what changed here.
std::vector<EntityKey> keysAfter(sql::Database &db, const EntityKey &after, qint64 count, bool changedOnly)
{
    sql::Statement q(db, changedOnly ? "SELECT Art, idLokal FROM tblAbgleichUhr WHERE Neu = 1 AND (Art, idLokal) > "
                                       "(?1, ?2) ORDER BY Art, idLokal LIMIT ?3"
                                     : "SELECT Art, idLokal FROM tblAbgleichUhr WHERE (Art, idLokal) > (?1, ?2) "
                                       "ORDER BY Art, idLokal LIMIT ?3");
    q.bind(1, after.art).bind(2, after.id).bind(3, count);
    std::vector<EntityKey> keys;
    while (q.step())
        keys.push_back({q.int64(0), q.int64(1)});
    return keys;
}

// The fill's stretches are this many of a write's, and the pause after each lets a
// window's write in (see fillClocks).
constexpr qint64 kFillStretches = 10;
constexpr std::chrono::milliseconds kWriterPause(110);

// Before the first sync the file's entities have no clocks: each gets one now, its place
// the time the card came into its compartment (so that of two files joining, the later
// progress wins), everything else the earliest time there is. A stretch of keys
// (?1, ?2] at a time; a row the triggers wrote meanwhile stays as it is.
struct FillStep {
    const char *bound; // the key ?2 keys after ?1 (or the last), and how many there are
    const char *fill;
};
constexpr FillStep kFillClocks[] = {
    {"SELECT MAX(k), COUNT(*) FROM (SELECT idGebiet AS k FROM tblGebiet WHERE idGebiet > ?1 ORDER BY 1 LIMIT ?2)",
     "INSERT OR IGNORE INTO tblAbgleichUhr (Art, idLokal, Neu, Z0, M0, Z1, M1, Z2, M2, Z3, M3, Z4, M4, Z5, M5) "
     "SELECT 0, idGebiet, 1, 1, '', 1, '', 1, '', 1, '', 1, '', 1, '' FROM tblGebiet "
     "WHERE idGebiet > ?1 AND idGebiet <= ?2"},
    {"SELECT MAX(k), COUNT(*) FROM (SELECT idFrageAntwort AS k FROM tblFrageAntwort WHERE idFrageAntwort > ?1 ORDER BY "
     "1 "
     "LIMIT ?2)",
     "INSERT OR IGNORE INTO tblAbgleichUhr (Art, idLokal, Neu, Z0, M0, Z1, M1, Z2, M2, Z3, M3, Z4, M4) "
     "SELECT 1, f.idFrageAntwort, 1, 1, '', 1, '', MAX(1, COALESCE(s.Seit, 0) * 1000), '', "
     "MAX(1, COALESCE(r.Seit, 0) * 1000), '', 1, '' "
     "FROM tblFrageAntwort AS f LEFT JOIN tblFachSeit AS s USING (idFrageAntwort) "
     "LEFT JOIN tblPositionUmgekehrt AS r USING (idFrageAntwort) "
     "WHERE f.idFrageAntwort > ?1 AND f.idFrageAntwort <= ?2"},
    {"SELECT MAX(k), COUNT(*) FROM (SELECT idUebung AS k FROM tblUebung WHERE idUebung > ?1 ORDER BY 1 LIMIT ?2)",
     "INSERT OR IGNORE INTO tblAbgleichUhr (Art, idLokal, Neu, Z0, M0) SELECT 2, idUebung, 1, 1, '' FROM tblUebung "
     "WHERE idUebung > ?1 AND idUebung <= ?2"},
};

void setFillState(sql::Database &db, qint64 state)
{
    sql::Statement(db, "UPDATE tblAbgleichStand SET Gefuellt = ?1 WHERE Nr = 1").bind(1, state).run();
}

} // namespace

SyncIdentity SyncStore::identity()
{
    sql::Database &db = StoreAccess::database(m_store);
    sql::Statement q(db, "SELECT Sammlung, Maschine, Rechner, Pfad, Naechste FROM tblAbgleichStand WHERE Nr = 1");
    SyncIdentity id;
    if (q.step()) {
        id.collection = q.text(0);
        id.machine = q.text(1);
        id.host = q.text(2);
        id.path = q.text(3);
        id.nextFile = q.int64(4);
    }
    return id;
}

void SyncStore::setIdentity(const SyncIdentity &identity)
{
    sql::Database &db = StoreAccess::database(m_store);
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(db);
    const SyncIdentity before = this->identity();
    sql::Statement(db, "UPDATE tblAbgleichStand SET Sammlung = ?1, Maschine = ?2, Rechner = ?3, Pfad = ?4, "
                       "Naechste = ?5 WHERE Nr = 1")
        .bind(1, identity.collection)
        .bind(2, identity.machine)
        .bind(3, identity.host)
        .bind(4, identity.path)
        .bind(5, before.machine == identity.machine ? identity.nextFile : 1)
        .run();
    tx.commit();
}

void SyncStore::fillClocks(const SyncPartLimits &limits)
{
    sql::Database &db = StoreAccess::database(m_store);
    if (fillState(db) != NotFilled)
        return;
    StoreAccess::prepareWrite(m_store);
    // Each stretch is one short write transaction; a fill cut off is taken up again
    // from the start (a row there already stays). Between two, a pause longer than a
    // waiting writer's longest sleep (SQLite's busy handler sleeps up to 100 ms between
    // tries), so that a window's write gets in.
    std::vector<qint64> filledTo; // each step's last key
    for (const FillStep &step : kFillClocks) {
        qint64 &after = filledTo.emplace_back(std::numeric_limits<qint64>::min());
        for (;;) {
            const qint64 count = std::max<qint64>(1, limits.stretch) * kFillStretches;
            sql::WriteTransaction tx(db);
            qint64 last = 0;
            bool more = false;
            {
                sql::Statement bound(db, step.bound);
                if (!bound.bind(1, after).bind(2, count).step() || bound.isNull(0))
                    break;
                last = bound.int64(0);
                more = bound.int64(1) == count;
            }
            sql::Statement(db, step.fill).bind(1, after).bind(2, last).run();
            tx.commit();
            after = last;
            if (limits.between)
                limits.between();
            if (!more)
                break;
            std::this_thread::sleep_for(kWriterPause);
        }
    }
    sql::WriteTransaction tx(db);
    if (fillState(db) == NotFilled) {
        // Until the state says filled, an import journals nothing: what one stored
        // after its step had passed gets its clocks here, in the write that says so.
        for (size_t i = 0; i < std::size(kFillClocks); ++i)
            sql::Statement(db, kFillClocks[i].fill)
                .bind(1, filledTo[i])
                .bind(2, std::numeric_limits<qint64>::max())
                .run();
        setFillState(db, Filled);
    }
    tx.commit();
}

std::optional<QString> SyncStore::folder()
{
    sql::Statement q(StoreAccess::database(m_store), "SELECT Ordner FROM tblAbgleichStand WHERE Nr = 1");
    if (!q.step() || q.isNull(0) || q.text(0).isEmpty())
        return std::nullopt;
    return q.text(0);
}

void SyncStore::setFolder(const QString &folder)
{
    sql::Database &db = StoreAccess::database(m_store);
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(db);
    sql::Statement q(db, "UPDATE tblAbgleichStand SET Ordner = ?1 WHERE Nr = 1");
    if (folder.isEmpty())
        q.bindNull(1);
    else
        q.bind(1, folder);
    q.run();
    tx.commit();
}

qint64 SyncStore::lastSync()
{
    sql::Statement q(StoreAccess::database(m_store), "SELECT Letzter FROM tblAbgleichStand WHERE Nr = 1");
    return q.step() && !q.isNull(0) ? q.int64(0) : 0;
}

void SyncStore::setLastSync(qint64 secs)
{
    sql::Database &db = StoreAccess::database(m_store);
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(db);
    sql::Statement(db, "UPDATE tblAbgleichStand SET Letzter = ?1 WHERE Nr = 1").bind(1, secs).run();
    tx.commit();
}

bool SyncStore::hasPendingChanges()
{
    // Before the first sync, all the file holds is still to go (and an import's cards
    // have no clocks yet to say so).
    sql::Statement q(StoreAccess::database(m_store), "SELECT EXISTS (SELECT 1 FROM tblAbgleichUhr WHERE Neu = 1) "
                                                     "OR (SELECT Gefuellt FROM tblAbgleichStand WHERE Nr = 1) <> ?1");
    return q.bind(1, Filled).step() && q.int64(0) != 0;
}

std::set<qint64> SyncStore::appliedFiles(const QString &machine)
{
    sql::Statement q(StoreAccess::database(m_store), "SELECT Nr FROM tblAbgleichGelesen WHERE Maschine = ?1");
    q.bind(1, machine);
    std::set<qint64> files;
    while (q.step())
        files.insert(q.int64(0));
    return files;
}

bool SyncStore::hasMedia(const QByteArray &checksum)
{
    sql::Statement q(StoreAccess::database(m_store), "SELECT 1 FROM tblMedium WHERE Pruefsumme = ?1");
    return q.bindBlob(1, checksum).step();
}

QByteArray SyncStore::mediaContent(const QByteArray &checksum)
{
    sql::Statement q(StoreAccess::database(m_store), "SELECT Inhalt FROM tblMedium WHERE Pruefsumme = ?1");
    return q.bindBlob(1, checksum).step() ? q.blob(0) : QByteArray();
}

std::vector<QByteArray> SyncStore::mediaInUse()
{
    // A content goes with the last card that uses it (a trigger of the media tables).
    sql::Statement q(StoreAccess::database(m_store), "SELECT Pruefsumme FROM tblMedium");
    std::vector<QByteArray> checksums;
    while (q.step())
        checksums.push_back(q.blob(0));
    return checksums;
}

void SyncStore::markApplied(const QString &machine, qint64 file)
{
    sql::Database &db = StoreAccess::database(m_store);
    StoreAccess::prepareWrite(m_store);
    sql::WriteTransaction tx(db);
    sql::Statement(db, "INSERT OR IGNORE INTO tblAbgleichGelesen (Maschine, Nr) VALUES (?1, ?2)")
        .bind(1, machine)
        .bind(2, file)
        .run();
    tx.commit();
}

SyncCovers SyncStore::appliedAll()
{
    sql::Statement q(StoreAccess::database(m_store), "SELECT Maschine, Nr FROM tblAbgleichGelesen");
    SyncCovers covers;
    while (q.step())
        covers[q.text(0)].insert(q.int64(1));
    return covers;
}

qint64 SyncStore::writeChanges(const std::function<std::optional<qint64>(SyncWrite &)> &write,
                               const SyncPartLimits &limits)
{
    sql::Database &db = StoreAccess::database(m_store);
    StoreAccess::prepareWrite(m_store);
    const SyncIdentity me = identity();
    SyncWrite out;
    // Nothing applied yet, not even a file of its own: what it writes is all it holds.
    out.whole = appliedAll().empty();
    const bool cutOff = fillState(db) == WriteCutOff;
    bool large = out.whole || cutOff;
    if (!large) {
        sql::Statement q(db, "SELECT COUNT(*) FROM (SELECT 1 FROM tblAbgleichUhr WHERE Neu = 1 LIMIT ?1)");
        large = q.bind(1, limits.stretch + 1).step() && q.int64(0) > limits.stretch;
    }
    if (!large) {
        // A few: read, written and marked in one write transaction.
        sql::WriteTransaction tx(db);
        Reader reader(db, me.machine);
        PartReader parts(db, reader, limits);
        out.next = [&parts](SyncBatch &part) { return parts.next(part); };
        const std::optional<qint64> file = write(out);
        if (!file || parts.written() == 0)
            return 0;
        db.exec("UPDATE tblAbgleichUhr SET Neu = 0 WHERE Neu = 1");
        sql::Statement(db, "INSERT OR IGNORE INTO tblAbgleichGelesen (Maschine, Nr) VALUES (?1, ?2)")
            .bind(1, me.machine)
            .bind(2, *file)
            .run();
        sql::Statement(db, "UPDATE tblAbgleichStand SET Naechste = ?1 WHERE Nr = 1").bind(1, *file + 1).run();
        tx.commit();
        return parts.written();
    }
    // Many: a stretch at a time, each marked as written and given its identities in a
    // short write transaction, then read. What a window changes after its stretch was
    // marked is marked again by its trigger and goes into the next file (carried twice
    // when it was read after the change: the merge takes the same state again). Until
    // the file is applied, the state says the write was cut off, so that a next write
    // holds everything, whatever this one had marked.
    {
        sql::WriteTransaction tx(db);
        setFillState(db, WriteCutOff);
        tx.commit();
    }
    const bool everything = out.whole || cutOff;
    Reader reader(db, me.machine, false);
    const QString machine = me.machine;
    PartReader parts(db, reader, limits, [&db, everything, machine](const EntityKey &after, qint64 count) {
        sql::WriteTransaction tx(db);
        const std::vector<EntityKey> keys = keysAfter(db, after, count, !everything);
        if (keys.empty())
            return keys;
        // The identity each gets is the one the reader makes of this machine and the key
        // (ownPrefix), and the merge maps such an identity to the same row: one kept from
        // a write cut off changes nothing a file says or the user sees.
        sql::Statement(db, everything ? "INSERT OR IGNORE INTO tblAbgleichId (Art, Uuid, idLokal) SELECT u.Art, "
                                        "?5 || '.' || u.Art || '.' || u.idLokal, u.idLokal FROM tblAbgleichUhr AS u "
                                        "WHERE (u.Art, u.idLokal) > (?1, ?2) AND (u.Art, u.idLokal) <= (?3, ?4) AND "
                                        "NOT EXISTS (SELECT 1 FROM tblAbgleichId AS i WHERE i.Art = u.Art AND "
                                        "i.idLokal = u.idLokal)"
                                      : "INSERT OR IGNORE INTO tblAbgleichId (Art, Uuid, idLokal) SELECT u.Art, "
                                        "?5 || '.' || u.Art || '.' || u.idLokal, u.idLokal FROM tblAbgleichUhr AS u "
                                        "WHERE u.Neu = 1 AND (u.Art, u.idLokal) > (?1, ?2) AND (u.Art, u.idLokal) <= "
                                        "(?3, ?4) AND NOT EXISTS (SELECT 1 FROM tblAbgleichId AS i WHERE i.Art = "
                                        "u.Art AND i.idLokal = u.idLokal)")
            .bind(1, after.art)
            .bind(2, after.id)
            .bind(3, keys.back().art)
            .bind(4, keys.back().id)
            .bind(5, machine)
            .run();
        sql::Statement(db, "UPDATE tblAbgleichUhr SET Neu = 0 WHERE Neu = 1 AND (Art, idLokal) > (?1, ?2) AND "
                           "(Art, idLokal) <= (?3, ?4)")
            .bind(1, after.art)
            .bind(2, after.id)
            .bind(3, keys.back().art)
            .bind(4, keys.back().id)
            .run();
        tx.commit();
        return keys;
    });
    out.next = [&parts](SyncBatch &part) { return parts.next(part); };
    const std::optional<qint64> file = write(out);
    sql::WriteTransaction tx(db);
    if (file && parts.written() > 0) {
        sql::Statement(db, "INSERT OR IGNORE INTO tblAbgleichGelesen (Maschine, Nr) VALUES (?1, ?2)")
            .bind(1, me.machine)
            .bind(2, *file)
            .run();
        sql::Statement(db, "UPDATE tblAbgleichStand SET Naechste = ?1 WHERE Nr = 1").bind(1, *file + 1).run();
    }
    setFillState(db, Filled);
    tx.commit();
    return parts.written();
}

qint64 SyncStore::writeSnapshot(const std::function<void(SyncWrite &)> &write, const SyncPartLimits &limits)
{
    sql::Database &db = StoreAccess::database(m_store);
    const SyncIdentity me = identity();
    SyncWrite out;
    out.whole = true;
    // What it covers is read first: every entity read afterwards holds at least that.
    out.covers = appliedAll();
    Reader reader(db, me.machine, false);
    PartReader parts(db, reader, limits,
                     [&db](const EntityKey &after, qint64 count) { return keysAfter(db, after, count, false); });
    out.next = [&parts](SyncBatch &part) { return parts.next(part); };
    write(out);
    return parts.written();
}

qint64 SyncStore::merge(const SyncBatch &batch, const QString &machine, qint64 file,
                        const std::function<QByteArray(const QByteArray &)> &media)
{
    bool given = false;
    return merge([&]() -> const SyncBatch * { return std::exchange(given, true) ? nullptr : &batch; },
                 SyncCovers{{machine, {file}}}, media);
}

qint64 SyncStore::merge(const std::function<const SyncBatch *()> &next, const SyncCovers &files,
                        const std::function<QByteArray(const QByteArray &)> &media)
{
    sql::Database &db = StoreAccess::database(m_store);
    StoreAccess::prepareWrite(m_store);
    // A file of many changes touches rows all over the data file: 16 MB hold those of a
    // data file of ten thousand cards, and bound what a larger one takes.
    LargeCache cache(db, std::numeric_limits<std::size_t>::max(), 16384);
    // Each statement with triggers keeps a journal of its own, for a few pages; in memory
    // it costs no system call for every page it holds. Set outside the transaction, as
    // SQLite asks.
    struct StatementJournalInMemory {
        sql::Database &db;
        qint64 old = 0;
        explicit StatementJournalInMemory(sql::Database &d) : db(d)
        {
            sql::Statement q(db, "PRAGMA temp_store");
            old = q.step() ? q.int64(0) : 0;
            db.exec("PRAGMA temp_store = MEMORY");
        }
        ~StatementJournalInMemory()
        {
            sqlite3_exec(db.handle(), ("PRAGMA temp_store = " + QByteArray::number(old)).constData(), nullptr, nullptr,
                         nullptr);
        }
    } journalInMemory(db);
    sql::WriteTransaction tx(db);
    // The triggers stay quiet: what comes from elsewhere is no change of this machine's.
    db.exec("INSERT INTO tblAbgleichStill (Nr) VALUES (1)");
    Merger merger(db, identity().machine, media);
    // Indexing the texts of many cards would take longer than the rest of the merge: the
    // trigger is dropped inside this write (and made again at its end), as an import does.
    {
        sql::Statement q(db, "SELECT BisKarte FROM tblSucheStand");
        merger.m_searchUpTo = q.step() ? q.int64(0) : 0;
    }
    db.exec("DROP TRIGGER trgSucheInsert");
    // Deletions of subjects wait for every part: a card in a later one may keep its subject.
    std::vector<qint64> deletions;
    while (const SyncBatch *batch = next()) {
        const std::vector<qint64> d = merger.mergeSubjects(batch->subjects);
        deletions.insert(deletions.end(), d.begin(), d.end());
        std::vector<const SyncCard *> cards;
        cards.reserve(batch->cards.size());
        for (const SyncCard &c : batch->cards)
            cards.push_back(&c);
        merger.mergeCards(std::move(cards), batch->subjects);
        merger.mergeLog(batch->log);
    }
    // The queues once for the whole file, not once per part.
    merger.placeAll(0);
    merger.placeAll(1);
    db.exec(schema::kSearchInsertTrigger);
    merger.deleteSubjects(deletions);
    sql::Statement(db, "UPDATE tblAbgleichStand SET Uhr = MAX(Uhr, ?1) WHERE Nr = 1").bind(1, merger.m_latest).run();
    for (const auto &[machine, numbers] : files)
        for (qint64 number : numbers)
            sql::Statement(db, "INSERT OR IGNORE INTO tblAbgleichGelesen (Maschine, Nr) VALUES (?1, ?2)")
                .bind(1, machine)
                .bind(2, number)
                .run();
    db.exec("DELETE FROM tblAbgleichStill");
    tx.commit();
    return merger.m_changed;
}

} // namespace tarlivo::store
