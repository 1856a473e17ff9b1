#pragma once

#include "transfer/foreign.h"

#include <memory>

namespace tarlivo::transfer {

// The cards of a KWordQuiz or Parley file (kvtml 2, and the older kvtml 1): the
// first language the question, the second the answer, the answer side's grade the
// compartment. Lessons become subjects, nested ones "Eltern::Kind". Made when the
// root element <kvtml> is read, with its attributes.
std::unique_ptr<foreign::ForeignReader> kvtmlReader(const foreign::XmlAttributes &root, const QString &path);

} // namespace tarlivo::transfer
