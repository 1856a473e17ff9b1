#pragma once

// The take-over of the older Access-based program's data file: its tables are read by
// tarlivo-mdb-reader in a process of its own (streamreader), repaired into a new store
// beside the file (repair), checked, and only then put in the old file's place, which
// is kept under a name of its own (fileswap).

#include "legacy/fileswap.h"
#include "legacy/importerror.h"
#include "legacy/repair.h"
#include "legacy/streamreader.h"

#include <optional>

namespace tarlivo::legacy {

// The whole take-over of the Access file at path: read, write a store beside it,
// check it, keep the old file under a name of its own (never replacing one) and put
// the store in its place. At every moment path holds either the whole old file or the
// whole new store; on failure the old file is untouched and nothing is left behind.
// Returns nothing when path is no longer an Access file (another copy took it over).
std::optional<LegacyImportReport> importLegacyFile(const QString &path, const LegacyImportOptions &options);

} // namespace tarlivo::legacy
