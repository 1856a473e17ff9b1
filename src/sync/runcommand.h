#pragma once

#include <QString>
#include <QTextStream>

namespace tarlivo::sync {

// `tarlivo --abgleichen [ORDNER]`: one sync without windows, for cron or a user timer.
struct SyncRequest {
    QString dataFile;
    QString folder; // empty: the one set for the data file
};

// Syncs and tells in German what it did on out; 0, or 1 after telling why not on err.
// A folder given is kept for the data file when none was set yet. A data file that
// does not exist is created only when a folder is given (a second machine joining).
int runSyncCommand(const SyncRequest &request, QTextStream &out, QTextStream &err);

} // namespace tarlivo::sync
