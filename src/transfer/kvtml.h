#pragma once

#include "transfer/foreign.h"

namespace tarlivo::transfer {

// The cards of a KWordQuiz or Parley file (kvtml 2, and the older kvtml 1): the
// first language the question, the second the answer, the answer side's grade the
// compartment. Lessons become subjects, nested ones "Eltern::Kind". The reader
// stands on the root element <kvtml>. Throws TransferError.
ForeignCards readKvtml(QXmlStreamReader &xml, const QString &path);

} // namespace tarlivo::transfer
