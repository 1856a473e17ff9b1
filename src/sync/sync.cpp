#include "sync/sync.h"

#include "store/files.h"
#include "store/syncstore.h"
#include "sync/syncfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

#include <unistd.h>

#include <map>

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

// The numbered files of one machine's folder, and its sync tools' copies counted.
std::map<qint64, QString> changeFiles(const QDir &dir, Skipped *skipped)
{
    std::map<qint64, QString> found;
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        qint64 number = 0;
        switch (kindOfName(name, &number)) {
        case FileKind::Changes:
            found[number] = dir.filePath(name);
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

} // namespace

std::optional<QString> folder(Store &store) { return SyncStore(store).folder(); }

void setFolder(Store &store, const QString &folder) { SyncStore(store).setFolder(folder); }

bool hasPendingChanges(Store &store) { return SyncStore(store).hasPendingChanges(); }

QDateTime lastSync(Store &store)
{
    const qint64 secs = SyncStore(store).lastSync();
    return secs ? QDateTime::fromSecsSinceEpoch(secs, Qt::UTC) : QDateTime();
}

Outcome syncNow(Store &store, const QString &folder)
{
    requireFolder(folder);
    SyncStore sync(store);
    const SyncIdentity me = identityFor(sync, store, folder);
    const QDir collection(QDir(folder).filePath(me.collection));
    const QDir own(collection.filePath(me.machine));
    const QDir media(collection.filePath(QString::fromLatin1(kMediaFolder)));
    makeFolder(own);

    Outcome outcome;
    Skipped skipped;
    // Every machine's files not applied yet, this machine's own too (a data file put back
    // from a copy gets back what it wrote since).
    for (const QString &machine : identityFolders(collection)) {
        const std::map<qint64, QString> files = changeFiles(QDir(collection.filePath(machine)), &skipped);
        if (files.empty())
            continue;
        const std::set<qint64> applied = sync.appliedFiles(machine);
        for (const auto &[number, path] : files) {
            if (applied.count(number))
                continue;
            bool tooLarge = false;
            const QByteArray bytes = readAll(path, &tooLarge);
            FileHeader header;
            SyncBatch batch;
            const ReadResult result = tooLarge ? ReadResult::Damaged : decode(bytes, me.collection, &header, &batch);
            if (result == ReadResult::Ok && (header.machine != machine || header.number != number)) {
                ++skipped.damaged; // a file copied under another name
                continue;
            }
            switch (result) {
            case ReadResult::Incomplete:
                ++skipped.incomplete;
                continue;
            case ReadResult::Damaged:
                ++skipped.damaged;
                continue;
            case ReadResult::OtherCollection:
                ++skipped.otherCollection;
                continue;
            case ReadResult::Ok:
                break;
            }
            bool mediaMissing = false;
            const auto content = [&](const QByteArray &checksum) {
                bool large = false;
                const QByteArray data = readAll(media.filePath(QString::fromLatin1(checksum.toHex())), &large);
                // Not there yet, or still arriving.
                if (data.isEmpty() || QCryptographicHash::hash(data, QCryptographicHash::Sha256) != checksum) {
                    mediaMissing = true;
                    return QByteArray();
                }
                return data;
            };
            try {
                outcome.applied += sync.merge(batch, machine, number, content);
            } catch (const StoreError &) {
                // A picture or sound still on its way: the file waits for the next sync.
                if (!mediaMissing)
                    throw;
                ++skipped.incomplete;
            }
        }
    }

    if (sync.hasPendingChanges()) {
        const std::map<qint64, QString> mine = changeFiles(own, nullptr);
        outcome.written = sync.writeChanges([&](const SyncBatch &batch) -> std::optional<qint64> {
            // Contents by their checksum, each once.
            for (const SyncCard &card : batch.cards) {
                for (const SyncMedia &m : card.media) {
                    const QString path = media.filePath(QString::fromLatin1(m.checksum.toHex()));
                    if (QFileInfo::exists(path))
                        continue;
                    makeFolder(media);
                    writeWhole(path, sync.mediaContent(m.checksum));
                }
            }
            // A file left by a sync cut short keeps its number: the next one follows it.
            const qint64 number = std::max(me.nextFile, mine.empty() ? 1 : mine.rbegin()->first + 1);
            FileHeader header{me.collection, me.machine, QSysInfo::machineHostName(), number,
                              QDateTime::currentSecsSinceEpoch()};
            const QByteArray bytes = encode(header, batch);
            if (bytes.size() > kMaxFileSize)
                throw SyncError{QStringLiteral("Die Änderungen sind zu umfangreich für eine Abgleichsdatei.")};
            writeWhole(own.filePath(fileName(number)), bytes);
            return number;
        });
    }
    outcome.skipped = skipped.total();
    outcome.notes = skipped.notes();
    outcome.at = QDateTime::currentDateTimeUtc();
    sync.setLastSync(outcome.at.toSecsSinceEpoch());
    return outcome;
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
        const std::map<qint64, QString> files = changeFiles(QDir(collection.filePath(machine)), nullptr);
        for (auto it = files.rbegin(); it != files.rend(); ++it) {
            bool tooLarge = false;
            if (const std::optional<FileHeader> h = decodeHeader(readAll(it->second, &tooLarge))) {
                m.name = h->host;
                m.lastSeen = QDateTime::fromSecsSinceEpoch(h->written, Qt::UTC);
                break;
            }
        }
        if (m.self && m.name.isEmpty())
            m.name = QSysInfo::machineHostName();
        result.push_back(m);
    }
    return result;
}

} // namespace tarlivo::sync
