#pragma once

// German wording of a sync, shared by the windows, the scheduler and the command line.

#include "store/storeerror.h"
#include "sync/sync.h"

#include <QDateTime>
#include <QString>

namespace tarlivo::sync {

namespace text {
// "12 Änderungen übernommen, 3 geschrieben", or that nothing was new.
QString outcomeSummary(const Outcome &outcome);
// "Abgeglichen um 14:05" (today) or "Abgeglichen am 07.12.2026 um 14:05"; at is UTC.
QString syncedAt(const QDateTime &at);
// Why the data file cannot take part in a sync.
QString storeProblem(const store::StoreError &error);
// A folder to sync through that is not there.
QString folderMissing(const QString &folder);
} // namespace text

} // namespace tarlivo::sync
