#pragma once

#include "transfer/foreign.h"

namespace tarlivo::transfer {

// The cards of a Pauker lesson (XML, gzipped or not): front side the question,
// reverse side the answer; the not-learned batch and the short-term batches go to
// compartment 1, long-term batch i (from 3) to compartment i - 1 with its learned
// time. The reader stands on the root element <Lesson>. Throws TransferError.
ForeignCards readPauker(QXmlStreamReader &xml, const QString &path);

} // namespace tarlivo::transfer
