#include "sync/sync.h"

#include "store/files.h"
#include "store/syncstore.h"
#include "sync/syncfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <optional>
#include <set>

using namespace tarlivo::store;

namespace tarlivo::sync {
namespace {

constexpr const char *kMediaFolder = "medien";

bool isIdentity(const QString &name) { return !QUuid::fromString(name).isNull(); }

QStringList identityFolders(const QDir &dir)
{
    QStringList names;
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (isIdentity(name))
            names << name;
    return names;
}

QString plural(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n == 1 ? one : many));
}

// Written under a temporary name, flushed, then renamed: the folder never shows half a file.
void writeWhole(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const QString temp = info.absoluteDir().filePath(QStringLiteral(".%1.tmp-%2").arg(info.fileName()).arg(::getpid()));
    QFile file(temp);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()
        || !files::syncFile(temp)) {
        const QString reason = files::fileReason(file);
        file.close();
        QFile::remove(temp);
        throw SyncError{QStringLiteral("Die Datei „%1“ im Abgleichsordner kann nicht geschrieben werden: %2")
                            .arg(QDir::toNativeSeparators(path), reason)};
    }
    file.close();
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
        const QString reason = files::errnoText();
        QFile::remove(temp);
        throw SyncError{QStringLiteral("Die Datei „%1“ im Abgleichsordner kann nicht geschrieben werden: %2")
                            .arg(QDir::toNativeSeparators(path), reason)};
    }
    files::syncDirectory(info.absolutePath());
}

QByteArray readAll(const QString &path, bool *tooLarge)
{
    QFile file(path);
    *tooLarge = false;
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    if (file.size() > kMaxFileSize + 64) {
        *tooLarge = true;
        return QByteArray();
    }
    return file.readAll();
}

struct Skipped {
    int incomplete = 0;
    int damaged = 0;
    int otherCollection = 0;
    int toolCopies = 0;
    int total() const { return incomplete + damaged + otherCollection + toolCopies; }
    QStringList notes() const
    {
        QStringList n;
        if (incomplete)
            n << plural(incomplete, "unvollständige Datei übersprungen", "unvollständige Dateien übersprungen");
        if (damaged)
            n << plural(damaged, "beschädigte Datei übersprungen", "beschädigte Dateien übersprungen");
        if (otherCollection)
            n << plural(otherCollection, "Datei einer anderen Sammlung übersprungen",
                        "Dateien einer anderen Sammlung übersprungen");
        if (toolCopies)
            n << plural(toolCopies, "Konfliktkopie des Abgleichprogramms übersprungen",
                        "Konfliktkopien des Abgleichprogramms übersprungen");
        return n;
    }
};

void requireFolder(const QString &folder)
{
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir())
        throw SyncError{QStringLiteral("Der Abgleichsordner „%1“ ist nicht da.").arg(QDir::toNativeSeparators(folder))};
    if (!info.isWritable())
        throw SyncError{QStringLiteral("In den Abgleichsordner „%1“ kann nicht geschrieben werden.")
                            .arg(QDir::toNativeSeparators(folder))};
}

void makeFolder(const QDir &dir)
{
    if (!dir.exists() && !QDir().mkpath(dir.absolutePath()))
        throw SyncError{QStringLiteral("Der Ordner „%1“ kann nicht angelegt werden.")
                            .arg(QDir::toNativeSeparators(dir.absolutePath()))};
}

// This data file's identities: a file that never synced joins the collection the folder
// holds (or starts one); a copy of a data file taken to another place takes an identity
// of its own, as it writes files of its own.
SyncIdentity identityFor(SyncStore &sync, Store &store, const QString &folder)
{
    SyncIdentity id = sync.identity();
    const QString host = QSysInfo::machineHostName();
    const QString path = QFileInfo(store.path()).absoluteFilePath();
    bool changed = false;
    if (id.collection.isEmpty()) {
        const QStringList collections = identityFolders(QDir(folder));
        id.collection =
            collections.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : collections.first();
        changed = true;
    }
    if (id.machine.isEmpty() || id.host != host || id.path != path) {
        id.machine = QUuid::createUuid().toString(QUuid::WithoutBraces);
        id.host = host;
        id.path = path;
        id.nextFile = 1;
        changed = true;
    }
    if (changed)
        sync.setIdentity(id);
    return id;
}

// One numbered file of changes: written whole (part 0) or in parts 1, 2, ….
struct Entry {
    std::map<qint32, QString> parts;
    qint64 bytes = 0;
    // The paths to read, in order; empty when a part in between is missing.
    std::vector<QString> paths() const
    {
        if (parts.count(0))
            return {parts.at(0)};
        std::vector<QString> p;
        qint32 expected = 1;
        for (const auto &[part, path] : parts) {
            if (part != expected++)
                return {};
            p.push_back(path);
        }
        return p;
    }
};

struct Snapshot {
    QString index;                   // its list, written after the parts
    std::map<qint32, QString> parts; // as found in the folder
    qint64 bytes = 0;
    std::optional<SnapshotIndex> read; // the list, when it reads
    bool complete() const
    {
        return read && parts.size() == read->parts.size() && parts.rbegin()->first == qint32(parts.size());
    }
};

struct MachineFiles {
    QDir dir;
    std::map<qint64, Entry> entries;
    std::map<qint64, Snapshot> snapshots;
    QString acks;
};

// The files of one machine's folder, and its sync tools' copies counted.
MachineFiles machineFiles(const QDir &dir, Skipped *skipped)
{
    MachineFiles found;
    found.dir = dir;
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Hidden)) {
        qint64 number = 0;
        qint32 part = 0;
        switch (kindOfName(info.fileName(), &number, &part)) {
        case FileKind::Changes: {
            Entry &e = found.entries[number];
            e.parts[part] = info.filePath();
            e.bytes += info.size();
            break;
        }
        case FileKind::Snapshot:
            found.snapshots[number].index = info.filePath();
            break;
        case FileKind::SnapshotPart: {
            Snapshot &sn = found.snapshots[number];
            sn.parts[part] = info.filePath();
            sn.bytes += info.size();
            break;
        }
        case FileKind::Acks:
            found.acks = info.filePath();
            break;
        case FileKind::ToolCopy:
            if (skipped)
                ++skipped->toolCopies;
            break;
        case FileKind::OwnTemp:
        case FileKind::Other:
            break;
        }
    }
    return found;
}

void count(Skipped &skipped, ReadResult result)
{
    switch (result) {
    case ReadResult::Incomplete:
        ++skipped.incomplete;
        break;
    case ReadResult::Damaged:
        ++skipped.damaged;
        break;
    case ReadResult::OtherCollection:
        ++skipped.otherCollection;
        break;
    case ReadResult::Ok:
        break;
    }
}

// Why the parts of a file were given up while merging; the data file stays as before.
struct GiveUp {
    ReadResult result;
    bool vanished = false; // gone since the listing: no fault, it comes again or was folded
};

// A file read whole; a file gone since the listing throws GiveUp.
QByteArray readPart(const QString &path)
{
    bool tooLarge = false;
    QByteArray bytes = readAll(path, &tooLarge);
    if (tooLarge)
        throw GiveUp{ReadResult::Damaged};
    if (bytes.isEmpty() && !QFileInfo::exists(path))
        throw GiveUp{ReadResult::Incomplete, true};
    return bytes;
}

bool covered(const SyncCovers &covers, const QString &machine, qint64 number)
{
    const auto it = covers.find(machine);
    return it != covers.end() && it->second.count(number);
}

qint64 coveredCount(const SyncCovers &covers)
{
    qint64 n = 0;
    for (const auto &[machine, numbers] : covers)
        n += qint64(numbers.size());
    return n;
}

bool includes(const SyncCovers &outer, const SyncCovers &inner)
{
    for (const auto &[machine, numbers] : inner)
        for (qint64 n : numbers)
            if (!covered(outer, machine, n))
                return false;
    return true;
}

// What a sync sees of the collection's folder.
class Collection {
public:
    Collection(const QDir &dir, const QString &collection) : m_dir(dir), m_collection(collection) {}

    // skipped: counts the copies and the newest snapshots that do not read yet.
    void scan(Skipped *skipped)
    {
        machines.clear();
        for (const QString &machine : identityFolders(m_dir)) {
            MachineFiles files = machineFiles(QDir(m_dir.filePath(machine)), skipped);
            // Every list of this machine's own snapshots is read (they are few and small);
            // of another machine's, the newest.
            for (auto it = files.snapshots.rbegin(); it != files.snapshots.rend(); ++it) {
                Snapshot &sn = it->second;
                if (sn.index.isEmpty())
                    continue;
                bool tooLarge = false;
                SnapshotIndex index;
                const QByteArray bytes = readAll(sn.index, &tooLarge);
                ReadResult result = tooLarge ? ReadResult::Damaged : decodeSnapshot(bytes, m_collection, &index);
                if (result == ReadResult::Ok && (index.header.machine != machine || index.header.number != it->first))
                    result = ReadResult::Damaged;
                if (result == ReadResult::Ok)
                    sn.read = std::move(index);
                const bool newest = it == files.snapshots.rbegin() || !sn.read;
                if (skipped && newest && QFileInfo::exists(sn.index)) {
                    if (!sn.read)
                        count(*skipped, result);
                    else if (!sn.complete())
                        ++skipped->incomplete; // its parts still arriving
                }
                if (sn.read && machine != m_self)
                    break;
            }
            machines.emplace(machine, std::move(files));
        }
    }

    void setSelf(const QString &self) { m_self = self; }

    // The complete snapshots, the most covering first.
    std::vector<std::pair<QString, const Snapshot *>> snapshots() const
    {
        std::vector<std::pair<QString, const Snapshot *>> all;
        for (const auto &[machine, files] : machines)
            for (const auto &[number, sn] : files.snapshots)
                if (sn.complete())
                    all.emplace_back(machine, &sn);
        std::stable_sort(all.begin(), all.end(), [](const auto &a, const auto &b) {
            return coveredCount(a.second->read->covers) > coveredCount(b.second->read->covers);
        });
        return all;
    }

    const Entry *entry(const QString &machine, qint64 number) const
    {
        const auto m = machines.find(machine);
        if (m == machines.end())
            return nullptr;
        const auto e = m->second.entries.find(number);
        return e == m->second.entries.end() || e->second.paths().empty() ? nullptr : &e->second;
    }

    std::map<QString, MachineFiles> machines;

private:
    QDir m_dir;
    QString m_collection;
    QString m_self;
};

// Whether all parts of a file lie there: the last one says so.
bool wholeOnDisk(const Entry &entry)
{
    const std::vector<QString> paths = entry.paths();
    if (paths.empty())
        return false;
    bool tooLarge = false;
    const std::optional<FileHeader> last = decodeHeader(readAll(paths.back(), &tooLarge));
    return last && last->last && last->part == qint32(paths.size());
}

void removeFiles(const std::map<qint32, QString> &parts)
{
    for (const auto &[part, path] : parts)
        QFile::remove(path);
}

// The parts of a file or a snapshot, read one at a time while they merge.
class PartSource {
public:
    PartSource(std::vector<QString> paths, const QString &collection, const QString &machine, qint64 number,
               BodyKind kind, std::vector<QByteArray> checksums = {})
        : m_paths(std::move(paths)), m_collection(collection), m_machine(machine), m_number(number), m_kind(kind),
          m_checksums(std::move(checksums))
    {
    }

    const SyncBatch *next()
    {
        if (m_at >= m_paths.size())
            return nullptr;
        const QByteArray bytes = readPart(m_paths[m_at]);
        FileHeader header;
        m_batch = SyncBatch();
        ReadResult result = decode(bytes, m_collection, &header, &m_batch, m_kind);
        if (result != ReadResult::Ok)
            throw GiveUp{result};
        const bool whole = m_paths.size() == 1 && m_kind == BodyKind::Changes;
        const qint32 part = qint32(m_at) + 1;
        if (header.machine != m_machine || header.number != m_number || header.part != part
            || (!m_checksums.empty() && bodyChecksum(bytes) != m_checksums[m_at]))
            throw GiveUp{ReadResult::Damaged}; // a file copied under another name, or another attempt's part
        if (m_kind == BodyKind::Changes) {
            const bool lastHere = m_at + 1 == m_paths.size();
            if (header.last && !lastHere)
                throw GiveUp{ReadResult::Damaged};
            if (!header.last && lastHere)
                throw GiveUp{ReadResult::Incomplete}; // more parts to come
            if (whole && !header.last)
                throw GiveUp{ReadResult::Damaged};
        }
        ++m_at;
        return &m_batch;
    }

private:
    std::vector<QString> m_paths;
    QString m_collection;
    QString m_machine;
    qint64 m_number;
    BodyKind m_kind;
    std::vector<QByteArray> m_checksums;
    size_t m_at = 0;
    SyncBatch m_batch;
};

} // namespace

std::optional<QString> folder(Store &store) { return SyncStore(store).folder(); }

void setFolder(Store &store, const QString &folder) { SyncStore(store).setFolder(folder); }

bool hasPendingChanges(Store &store) { return SyncStore(store).hasPendingChanges(); }

QDateTime lastSync(Store &store)
{
    const qint64 secs = SyncStore(store).lastSync();
    return secs ? QDateTime::fromSecsSinceEpoch(secs, Qt::UTC) : QDateTime();
}

namespace {

// One sync: what it reads, merges, writes and folds.
class Run {
public:
    Run(Store &store, const QString &folder, const Limits &limits)
        : m_sync(store), m_store(store), m_folder(folder), m_limits(limits)
    {
    }

    Outcome go()
    {
        m_me = identityFor(m_sync, m_store, m_folder);
        m_sync.fillClocks(m_limits.parts);
        m_collectionDir = QDir(QDir(m_folder).filePath(m_me.collection));
        m_own = QDir(m_collectionDir.filePath(m_me.machine));
        m_media = QDir(m_collectionDir.filePath(QString::fromLatin1(kMediaFolder)));
        makeFolder(m_own);
        Collection folder(m_collectionDir, m_me.collection);
        folder.setSelf(m_me.machine);
        folder.scan(&m_skipped);

        takeSnapshots(folder);
        applyFiles(folder);
        const bool wrote = writeOwn(folder);
        restoreMedia();
        // Its own files need no acknowledgement: others only ask which of theirs it has read.
        if (m_merged > 0 || !QFileInfo::exists(m_own.filePath(acksName())))
            writeAcks();
        if (wrote || m_merged > 0)
            folder.scan(nullptr);
        if (snapshotDue(folder)) {
            writeSnapshot(folder);
            folder.scan(nullptr);
        }
        fold(folder);

        m_outcome.skipped = m_skipped.total();
        m_outcome.notes = m_skipped.notes();
        m_outcome.at = QDateTime::currentDateTimeUtc();
        m_sync.setLastSync(m_outcome.at.toSecsSinceEpoch());
        return m_outcome;
    }

private:
    // The bytes of a picture or sound the folder holds by its checksum.
    std::function<QByteArray(const QByteArray &)> mediaReader(bool *missing)
    {
        return [this, missing](const QByteArray &checksum) {
            bool large = false;
            const QByteArray data = readAll(m_media.filePath(QString::fromLatin1(checksum.toHex())), &large);
            // Not there yet, or still arriving.
            if (data.isEmpty() || QCryptographicHash::hash(data, QCryptographicHash::Sha256) != checksum) {
                *missing = true;
                return QByteArray();
            }
            return data;
        };
    }

    // Merges the parts in one write transaction; false (counted, unless it vanished) when
    // one of them does not read or a picture is still on its way.
    bool mergeParts(PartSource &source, const SyncCovers &files)
    {
        bool mediaMissing = false;
        try {
            m_outcome.applied += m_sync.merge([&source] { return source.next(); }, files, mediaReader(&mediaMissing));
        } catch (const GiveUp &g) {
            if (!g.vanished)
                count(m_skipped, g.result);
            return false;
        } catch (const StoreError &) {
            // A picture or sound still on its way: the file waits for the next sync.
            if (!mediaMissing)
                throw;
            ++m_skipped.incomplete;
            return false;
        }
        ++m_merged;
        return true;
    }

    // A snapshot is taken when it holds files not applied here that the folder no longer
    // holds (folded, or not arrived), or that are larger than it.
    void takeSnapshots(const Collection &folder)
    {
        SyncCovers applied = m_sync.appliedAll();
        for (const auto &[machine, sn] : folder.snapshots()) {
            qint64 bytes = 0;
            bool missing = false;
            bool any = false;
            for (const auto &[m, numbers] : sn->read->covers) {
                for (qint64 n : numbers) {
                    if (covered(applied, m, n))
                        continue;
                    any = true;
                    if (const Entry *e = folder.entry(m, n))
                        bytes += e->bytes;
                    else
                        missing = true;
                }
            }
            if (!any || (!missing && bytes <= sn->bytes))
                continue;
            std::vector<QString> paths;
            for (const auto &[part, path] : sn->parts)
                paths.push_back(path);
            PartSource source(paths, m_me.collection, machine, sn->read->header.number, BodyKind::SnapshotPart,
                              sn->read->parts);
            if (mergeParts(source, sn->read->covers))
                applied = m_sync.appliedAll();
        }
    }

    // Every machine's files not applied yet, this machine's own too (a data file put back
    // from a copy gets back what it wrote since).
    void applyFiles(const Collection &folder)
    {
        const SyncCovers applied = m_sync.appliedAll();
        for (const auto &[machine, files] : folder.machines) {
            for (const auto &[number, entry] : files.entries) {
                if (covered(applied, machine, number))
                    continue;
                const std::vector<QString> paths = entry.paths();
                if (paths.empty()) {
                    ++m_skipped.incomplete; // a part in between still on its way
                    continue;
                }
                PartSource source(paths, m_me.collection, machine, number, BodyKind::Changes);
                mergeParts(source, SyncCovers{{machine, {number}}});
            }
        }
    }

    void writeMedia(const SyncBatch &batch)
    {
        // Contents by their checksum, each once.
        for (const SyncCard &card : batch.cards) {
            for (const SyncMedia &m : card.media) {
                const QString path = m_media.filePath(QString::fromLatin1(m.checksum.toHex()));
                if (QFileInfo::exists(path))
                    continue;
                makeFolder(m_media);
                writeWhole(path, m_sync.mediaContent(m.checksum));
            }
        }
    }

    FileHeader header(qint64 number, qint32 part, bool last) const
    {
        return FileHeader{m_me.collection,
                          m_me.machine,
                          QSysInfo::machineHostName(),
                          number,
                          QDateTime::currentSecsSinceEpoch(),
                          part,
                          last};
    }

    static void checkSize(const QByteArray &bytes)
    {
        if (bytes.size() > kMaxFileSize)
            throw SyncError{QStringLiteral("Die Änderungen sind zu umfangreich für eine Abgleichsdatei.")};
    }

    // A snapshot of its parts, then its list: only the list makes it count.
    void writeSnapshotFiles(SyncWrite &out, const SyncCovers &covers)
    {
        const MachineFiles own = machineFiles(m_own, nullptr);
        const qint64 number = own.snapshots.empty() ? 1 : own.snapshots.rbegin()->first + 1;
        SnapshotIndex index;
        index.header = header(number, 1, true);
        index.covers = covers;
        SyncBatch part;
        std::set<QByteArray> media;
        while (out.next(part)) {
            writeMedia(part);
            for (const SyncCard &card : part.cards)
                for (const SyncMedia &m : card.media)
                    media.insert(m.checksum);
            const qint32 n = qint32(index.parts.size()) + 1;
            const QByteArray bytes = encode(header(number, n, true), part, BodyKind::SnapshotPart);
            checkSize(bytes);
            writeWhole(m_own.filePath(snapshotName(number, n)), bytes);
            index.parts.push_back(bodyChecksum(bytes));
        }
        if (index.parts.empty())
            return;
        index.media.emplace(media.begin(), media.end());
        writeWhole(m_own.filePath(snapshotName(number)), encodeSnapshot(index));
    }

    // This machine's changes since its last file: in parts of bounded size; its very first
    // (when it has applied nothing) as a snapshot, which others take instead of its file.
    bool writeOwn(const Collection &folder)
    {
        if (!m_sync.hasPendingChanges())
            return false;
        const MachineFiles &own = folder.machines.at(m_me.machine);
        const SyncCovers applied = m_sync.appliedAll();
        const qint64 written = m_sync.writeChanges(
            [&](SyncWrite &out) -> std::optional<qint64> {
                // A file left by a sync cut short keeps its number: the next one follows it,
                // and follows every number its own snapshots hold.
                qint64 number = std::max(m_me.nextFile, own.entries.empty() ? 1 : own.entries.rbegin()->first + 1);
                for (const auto &[n, sn] : own.snapshots)
                    if (sn.read && sn.read->covers.count(m_me.machine) && !sn.read->covers.at(m_me.machine).empty())
                        number = std::max(number, *sn.read->covers.at(m_me.machine).rbegin() + 1);
                // The parts of such a file that never got its last part: no one can apply them.
                for (const auto &[n, entry] : own.entries)
                    if (n >= m_me.nextFile && !covered(applied, m_me.machine, n) && !wholeOnDisk(entry))
                        removeFiles(entry.parts);
                if (out.whole) {
                    SyncCovers covers = out.covers;
                    covers[m_me.machine].insert(number);
                    writeSnapshotFiles(out, covers);
                    return number;
                }
                SyncBatch current;
                if (!out.next(current))
                    return std::nullopt;
                SyncBatch following;
                bool more = out.next(following);
                for (qint32 part = 1;; ++part) {
                    writeMedia(current);
                    const QByteArray bytes = encode(header(number, part, !more), current);
                    checkSize(bytes);
                    writeWhole(m_own.filePath(fileName(number, part == 1 && !more ? 0 : part)), bytes);
                    if (!more)
                        break;
                    current = std::move(following);
                    more = out.next(following);
                }
                return number;
            },
            m_limits.parts);
        m_outcome.written = written;
        return written > 0;
    }

    void writeAcks() { writeWhole(m_own.filePath(acksName()), encodeAcks(header(0, 1, true), m_sync.appliedAll())); }

    // A new snapshot once the files it does not cover have grown larger than the newest
    // snapshot (or, while there is none, than the largest file: a first sync's).
    bool snapshotDue(const Collection &folder) const
    {
        const std::vector<std::pair<QString, const Snapshot *>> all = folder.snapshots();
        const Snapshot *best = all.empty() ? nullptr : all.front().second;
        qint64 uncovered = 0;
        qint64 largest = 0;
        for (const auto &[machine, files] : folder.machines) {
            for (const auto &[number, entry] : files.entries) {
                largest = std::max(largest, entry.bytes);
                if (!best || !covered(best->read->covers, machine, number))
                    uncovered += entry.bytes;
            }
        }
        return uncovered > (best ? best->bytes : largest);
    }

    void writeSnapshot(const Collection &)
    {
        m_sync.writeSnapshot([&](SyncWrite &out) { writeSnapshotFiles(out, out.covers); }, m_limits.parts);
    }

    // What every other machine in the folder has applied, by its acknowledgements; none
    // while one of them has none that reads.
    std::optional<std::map<QString, SyncCovers>> othersApplied(const Collection &folder) const
    {
        std::map<QString, SyncCovers> acks;
        for (const auto &[machine, files] : folder.machines) {
            if (machine == m_me.machine)
                continue;
            bool tooLarge = false;
            FileHeader h;
            SyncCovers applied;
            if (files.acks.isEmpty()
                || decodeAcks(readAll(files.acks, &tooLarge), m_me.collection, &h, &applied) != ReadResult::Ok
                || h.machine != machine)
                return std::nullopt;
            acks.emplace(machine, std::move(applied));
        }
        return acks;
    }

    QSet<QString> mediaInFolder() const
    {
        const QStringList names = m_media.entryList(QDir::Files);
        return QSet<QString>(names.begin(), names.end());
    }

    static QString mediaName(const QByteArray &checksum) { return QString::fromLatin1(checksum.toHex()); }

    // Every picture and sound a card here uses lies in the folder: one that another
    // machine folded away while this one used it again comes back, also when the sync
    // tool carried that deletion only after this machine wrote a file that uses it.
    void restoreMedia()
    {
        const std::vector<QByteArray> used = m_sync.mediaInUse();
        if (used.empty())
            return;
        const QSet<QString> there = mediaInFolder();
        for (const QByteArray &checksum : used) {
            if (there.contains(mediaName(checksum)))
                continue;
            makeFolder(m_media);
            writeWhole(m_media.filePath(mediaName(checksum)), m_sync.mediaContent(checksum));
        }
    }

    // Pictures and sounds that nothing may ask for any more go: no card here uses them,
    // nor the most covering snapshot, which every machine (this one too) has applied,
    // nor any other snapshot or file the folder holds besides (another machine's card
    // still using one keeps it); gone: the snapshots this sync folded. Whatever does not
    // read whole keeps them all. A machine that uses one again meanwhile puts it back
    // (restoreMedia).
    void foldMedia(const Collection &folder, const std::set<const Snapshot *> &gone)
    {
        QSet<QString> unused;
        for (const QString &name : mediaInFolder())
            if (name.size() == 64 && mediaName(QByteArray::fromHex(name.toLatin1())) == name)
                unused.insert(name);
        for (const QByteArray &checksum : m_sync.mediaInUse())
            unused.remove(mediaName(checksum));
        if (unused.isEmpty())
            return;
        const std::vector<std::pair<QString, const Snapshot *>> all = folder.snapshots();
        if (all.empty())
            return;
        const SyncCovers &held = all.front().second->read->covers;
        if (!includes(m_sync.appliedAll(), held))
            return;
        // (A machine's own files count as applied there: it acknowledges only others'.)
        const std::optional<std::map<QString, SyncCovers>> acks = othersApplied(folder);
        if (!acks || !std::all_of(acks->begin(), acks->end(), [&](const auto &a) {
                SyncCovers applied = a.second;
                applied.erase(a.first);
                SyncCovers wanted = held;
                wanted.erase(a.first);
                return includes(applied, wanted);
            }))
            return;
        for (const auto &[machine, files] : folder.machines) {
            for (const auto &[number, sn] : files.snapshots) {
                if (gone.count(&sn))
                    continue; // folded just now
                if (sn.index.isEmpty() ? !sn.parts.empty() : !sn.read || !sn.read->media)
                    return; // one still arriving, or one whose list names no media
                for (const QByteArray &checksum : *sn.read->media)
                    unused.remove(mediaName(checksum));
            }
            for (const auto &[number, entry] : files.entries) {
                if (covered(held, machine, number))
                    continue;
                const std::vector<QString> paths = entry.paths();
                if (paths.empty())
                    return;
                PartSource source(paths, m_me.collection, machine, number, BodyKind::Changes);
                try {
                    while (const SyncBatch *batch = source.next())
                        for (const SyncCard &card : batch->cards)
                            for (const SyncMedia &m : card.media)
                                unused.remove(mediaName(m.checksum));
                } catch (const GiveUp &) {
                    return;
                }
            }
        }
        for (const QString &name : unused)
            QFile::remove(m_media.filePath(name));
    }

    // This machine's files that a complete snapshot holds and every other machine seen
    // has applied go; so do its snapshots that a newer complete one holds whole, and the
    // parts of a snapshot cut short. A sync tool carries the deletions to the others.
    void fold(const Collection &folder)
    {
        const auto selfIt = folder.machines.find(m_me.machine);
        if (selfIt == folder.machines.end())
            return;
        const MachineFiles &own = selfIt->second;
        const std::vector<std::pair<QString, const Snapshot *>> all = folder.snapshots();
        std::vector<const Entry *> foldable;
        std::vector<qint64> numbers;
        for (const auto &[number, entry] : own.entries) {
            const bool held = std::any_of(all.begin(), all.end(), [&, n = number](const auto &sn) {
                return covered(sn.second->read->covers, m_me.machine, n);
            });
            if (held) {
                foldable.push_back(&entry);
                numbers.push_back(number);
            }
        }
        if (!foldable.empty()) {
            const std::optional<std::map<QString, SyncCovers>> acks = othersApplied(folder);
            for (size_t i = 0; acks && i < foldable.size(); ++i) {
                const bool everywhere = std::all_of(acks->begin(), acks->end(), [&](const auto &a) {
                    return covered(a.second, m_me.machine, numbers[i]);
                });
                if (everywhere)
                    removeFiles(foldable[i]->parts);
            }
        }
        const qint64 newest = own.snapshots.empty() ? 0 : own.snapshots.rbegin()->first;
        std::set<const Snapshot *> gone;
        for (const auto &[number, sn] : own.snapshots) {
            if (!sn.index.isEmpty() && sn.read) {
                // Of two that hold the same, one stays: the other machine's with the smaller
                // identity, or this machine's newer.
                const Snapshot *mine = &sn;
                const bool superseded = std::any_of(all.begin(), all.end(), [&, n = number](const auto &other) {
                    const SnapshotIndex &o = *other.second->read;
                    if (other.second == mine || !includes(o.covers, mine->read->covers))
                        return false;
                    return !includes(mine->read->covers, o.covers) || other.first < m_me.machine
                           || (other.first == m_me.machine && o.header.number > n);
                });
                if (!superseded)
                    continue;
                QFile::remove(sn.index); // the list first: no one takes it while its parts go
                removeFiles(sn.parts);
                gone.insert(&sn);
            } else if (sn.index.isEmpty() && number < newest) {
                removeFiles(sn.parts); // a snapshot cut short before its list
                gone.insert(&sn);
            }
        }
        foldMedia(folder, gone);
    }

    SyncStore m_sync;
    Store &m_store;
    QString m_folder;
    Limits m_limits;
    SyncIdentity m_me;
    QDir m_collectionDir;
    QDir m_own;
    QDir m_media;
    Outcome m_outcome;
    Skipped m_skipped;
    int m_merged = 0;
};

// The lock of one sync of a data file: an flock on a file beside it, which the system
// lets go of however the process ends. A lock judged by the process number written in
// it stays held for good once another process has that number. The file stays; where
// it cannot be made, the sync runs unlocked, as before.
class SyncLock {
public:
    explicit SyncLock(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
    {
        m_heldElsewhere = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    }
    ~SyncLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SyncLock(const SyncLock &) = delete;
    SyncLock &operator=(const SyncLock &) = delete;
    bool heldElsewhere() const { return m_heldElsewhere; }

private:
    int m_fd;
    bool m_heldElsewhere = false;
};

} // namespace

Outcome syncNow(Store &store, const QString &folder, const Limits &limits)
{
    requireFolder(folder);
    // One sync of a data file at a time, across processes too (a timer's beside the
    // program's): a large write marks and reads a stretch at a time, and two at once
    // would share out the changes between two files of one number. A lock left by a
    // process killed is let go by the system.
    const QFileInfo data(store.path());
    const SyncLock lock(data.absoluteDir().filePath(QStringLiteral(".%1.abgleich").arg(data.fileName())));
    if (lock.heldElsewhere())
        throw SyncError{QStringLiteral("Die Datei „%1“ wird gerade schon abgeglichen.")
                            .arg(QDir::toNativeSeparators(data.absoluteFilePath()))};
    return Run(store, folder, limits).go();
}

std::vector<Machine> machines(Store &store, const QString &folder)
{
    requireFolder(folder);
    SyncStore sync(store);
    const SyncIdentity me = sync.identity();
    std::vector<Machine> result;
    if (me.collection.isEmpty())
        return result;
    const QDir collection(QDir(folder).filePath(me.collection));
    for (const QString &machine : identityFolders(collection)) {
        Machine m;
        m.id = machine;
        m.self = machine == me.machine;
        const MachineFiles files = machineFiles(QDir(collection.filePath(machine)), nullptr);
        // Its newest file of each kind: a file of changes, a snapshot's list, its acknowledgements.
        QStringList newest;
        if (!files.entries.empty())
            newest << files.entries.rbegin()->second.parts.begin()->second;
        for (auto it = files.snapshots.rbegin(); it != files.snapshots.rend(); ++it)
            if (!it->second.index.isEmpty()) {
                newest << it->second.index;
                break;
            }
        if (!files.acks.isEmpty())
            newest << files.acks;
        for (const QString &path : newest) {
            bool tooLarge = false;
            if (const std::optional<FileHeader> h = decodeHeader(readAll(path, &tooLarge))) {
                const QDateTime at = QDateTime::fromSecsSinceEpoch(h->written, Qt::UTC);
                if (!m.lastSeen.isValid() || at > m.lastSeen) {
                    m.lastSeen = at;
                    m.name = h->host;
                }
            }
        }
        if (m.self && m.name.isEmpty())
            m.name = QSysInfo::machineHostName();
        result.push_back(m);
    }
    return result;
}

} // namespace tarlivo::sync
