#pragma once

#include "transfer/foreign.h"

class QIODevice;

namespace tarlivo::transfer {

enum class ForeignKind { Kvtml, Pauker };

// Reads a kvtml file or a Pauker lesson, gzipped or not, from the device as it
// comes, so that only the cards stay in memory; the first element says which. The
// cards come in queue order. Throws TransferError.
ForeignCards readForeign(QIODevice &device, const QString &path, ForeignKind *kind);

} // namespace tarlivo::transfer
