#pragma once

// The store's side of sync between machines (store/syncstore.cpp, store/syncschema.cpp):
// identities that hold across machines, the journal that triggers keep of what changed
// here, and the merge of what other machines changed. The folder and the file format
// are the sync library's (src/sync); every row of the data file is read and written here.

#include "store/store.h"
#include "store/syncschema.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace tarlivo::store {

// When a field was last set and by which machine, in milliseconds since 1970 UTC;
// later is the larger (time, machine). A field never set has time 0.
struct SyncClock {
    qint64 time = 0;
    QString machine;
    bool operator<(const SyncClock &o) const { return time != o.time ? time < o.time : machine < o.machine; }
    bool operator==(const SyncClock &o) const { return time == o.time && machine == o.machine; }
    bool isSet() const { return time != 0; }
};

struct SyncSubject {
    QString id;
    bool alive = true;
    QString name;
    std::vector<std::pair<qint32, qint32>> intervals; // (compartment, days) changed from the default
    qint32 direction = 0;                             // DirectionSetting
    std::optional<std::vector<qint32>> tolerances;    // four verdicts; none: the defaults
    std::optional<std::pair<QString, QString>> languages;
    SyncClock clocks[kSubjectFields];
};

struct SyncMedia {
    qint32 side = 0;
    qint32 kind = 0;
    QString name;
    QByteArray checksum; // SHA-256 of the content
};

struct SyncCard {
    QString id;
    bool alive = true;
    QString subject;  // its subject's id
    QString question; // null stays null
    QString answer;
    std::vector<SyncMedia> media;
    qint32 compartment = 1;
    qint64 enteredAt = 0;
    std::optional<std::pair<qint32, qint64>> reverse; // compartment and time of its reverse place
    // Its queue places (forward, reverse) on the machine that wrote it: of cards one step
    // placed at the same time, the order the step gave them. 0: not known.
    qint64 queuePlace = 0;
    qint64 reverseQueuePlace = 0;
    SyncClock clocks[kCardFields];
};

struct SyncVerdict {
    QString id;
    bool alive = true;
    QString card;
    QString subject;
    qint64 time = 0;
    qint32 compartmentBefore = 0;
    qint32 compartmentAfter = 0;
    qint32 verdict = 0;
    bool reverse = false;
    SyncClock clock;
};

// The entities one file carries: each whole, with the clocks of its fields.
struct SyncBatch {
    std::vector<SyncSubject> subjects;
    std::vector<SyncCard> cards;
    std::vector<SyncVerdict> log;
    bool empty() const { return subjects.empty() && cards.empty() && log.empty(); }
};

// The files of each machine a data file has applied (or a snapshot holds), by machine.
using SyncCovers = std::map<QString, std::set<qint64>>;

// What a write hands out, in parts of bounded size, so that neither side ever holds
// a large data file whole in memory.
struct SyncWrite {
    bool whole = false; // every entity the data file holds (a snapshot), not only its changes
    SyncCovers covers;  // with whole: the files applied here, which it holds
    // The next part; false after the last.
    std::function<bool(SyncBatch &)> next;
};

// The bounds of one part: it ends after this many entities or about this many bytes of text.
// A large write (a data file's first, or more than a stretch of changes) and a snapshot
// read and mark their entities a stretch at a time, each stretch in short transactions
// of its own, so that a window's write waits at most for one of them.
struct SyncPartLimits {
    qint64 entities = 20000;
    qint64 bytes = qint64(4) << 20;
    qint64 stretch = 5000;
    // Called whenever such a write holds no transaction between two stretches.
    std::function<void()> between;
};

// What the data file keeps about its sync.
struct SyncIdentity {
    QString collection; // empty until the first sync
    QString machine;
    QString host;
    QString path;
    qint64 nextFile = 1;
};

// The store's operations for sync. Every change is one write transaction of the store
// (the day's copy first; a read-only file refuses, as every change).
class SyncStore {
public:
    explicit SyncStore(Store &store) : m_store(store) {}

    SyncIdentity identity();
    // Takes on a collection and a machine identity (a new machine counts its files from 1).
    void setIdentity(const SyncIdentity &identity);
    // Before the first sync, gives every entity the data file holds its clocks, a stretch
    // at a time; nothing once done.
    void fillClocks(const SyncPartLimits &limits = {});
    std::optional<QString> folder();
    void setFolder(const QString &folder);
    qint64 lastSync();
    bool hasPendingChanges();
    // The files of a machine applied here already.
    std::set<qint64> appliedFiles(const QString &machine);
    bool hasMedia(const QByteArray &checksum);
    // The bytes of a stored content; empty when there is none.
    QByteArray mediaContent(const QByteArray &checksum);
    // The checksums of the pictures and sounds the cards here use.
    std::vector<QByteArray> mediaInUse();

    // Every file of every machine applied here.
    SyncCovers appliedAll();

    // Writes this machine's changes: hands everything changed here since the last file
    // (on its first sync, when it has applied nothing yet, the whole file as a snapshot)
    // to write, which returns the number of the file it wrote (or nullopt: nothing
    // needed writing); then marks the file as applied. A few changes are read and marked
    // as written in one write transaction with it; more are read and marked a stretch at
    // a time while the windows go on writing (what they change meanwhile goes into the
    // next file), and a write cut off before its end makes the next one hold everything.
    // Returns the entities written.
    qint64 writeChanges(const std::function<std::optional<qint64>(SyncWrite &)> &write,
                        const SyncPartLimits &limits = {});
    // Hands the whole state this data file knows (every entity with its clocks, the
    // deleted ones as such) and the files it covers to write, a stretch at a time, each
    // in a read transaction of its own.
    // Returns the entities handed out.
    qint64 writeSnapshot(const std::function<void(SyncWrite &)> &write, const SyncPartLimits &limits = {});

    // Merges a batch of another machine (or this one's own, from before a restored copy)
    // and records its file as applied, in one write transaction; media gives the bytes
    // of a content not stored here. Returns the entities that changed anything.
    qint64 merge(const SyncBatch &batch, const QString &machine, qint64 file,
                 const std::function<QByteArray(const QByteArray &)> &media);
    // The same for a file in parts or a snapshot: next gives each part in turn (nullptr
    // after the last; it may throw to give up, which leaves the data file as before), and
    // files are recorded as applied; all in one write transaction.
    qint64 merge(const std::function<const SyncBatch *()> &next, const SyncCovers &files,
                 const std::function<QByteArray(const QByteArray &)> &media);
    // Records a file as applied without merging (a file that holds nothing).
    void markApplied(const QString &machine, qint64 file);
    // Records the end of a sync.
    void setLastSync(qint64 secs);

private:
    Store &m_store;
};

} // namespace tarlivo::store
