#pragma once

// Sync between a learner's machines through a folder that a tool such as Syncthing or
// Nextcloud carries between them. The data file never lies in the folder: each data
// file writes only files of its own there (numbered, never changed once written) and
// merges what the other machines wrote. Qt Core and the store only, no widgets.

#include "store/syncstore.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace tarlivo::store {
class Store;
} // namespace tarlivo::store

namespace tarlivo::sync {
// What one sync did.
struct Outcome {
    qint64 applied = 0; // changes of other machines merged into the data file
    qint64 written = 0; // changes of this machine written into the folder
    int skipped = 0;    // files left alone: incomplete, damaged, another collection's, a sync tool's copy
    QDateTime at;       // when it ended (UTC)
    // German, for the status line and the command line: "2 unvollständige Dateien
    // übersprungen"; empty when nothing was skipped.
    QStringList notes;
};

// A machine whose files lie in the folder, this one included.
struct Machine {
    QString id;         // its identity
    QString name;       // the host name it gave
    QDateTime lastSeen; // its newest file (UTC); invalid when it wrote none yet
    bool self = false;
};

// Why a sync could not be done, in one German sentence that names the folder or file.
struct SyncError {
    QString message;
};

// The folder set for this data file; none while it was never set.
std::optional<QString> folder(store::Store &store);
// Sets or (empty) clears it. Throws StoreError.
void setFolder(store::Store &store, const QString &folder);

// Whether this machine made changes that are not in the folder yet.
bool hasPendingChanges(store::Store &store);
// The end of the last sync that completed; invalid when none did.
QDateTime lastSync(store::Store &store);

// How large the files a sync writes may grow (the tests cut them small).
struct Limits {
    store::SyncPartLimits parts;
};

// Writes this machine's new changes into the folder and merges every other machine's
// files (or a snapshot in their place), each file in a write transaction of the store:
// a kill at any moment leaves the data file as before or after it. Then it folds away
// its own files that a snapshot holds and every machine has applied. Throws SyncError
// (the folder is missing or cannot be written) or StoreError.
Outcome syncNow(store::Store &store, const QString &folder, const Limits &limits = {});

// The machines seen in the folder for this data file's collection. Throws SyncError.
std::vector<Machine> machines(store::Store &store, const QString &folder);

} // namespace tarlivo::sync
