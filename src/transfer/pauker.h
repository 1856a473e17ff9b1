#pragma once

#include "transfer/foreign.h"

#include <memory>

namespace tarlivo::transfer {

// The cards of a Pauker lesson (XML, gzipped or not): front side the question,
// reverse side the answer; the not-learned batch and the short-term batches go to
// compartment 1, long-term batch i (from 3) to compartment i - 1 with its learned
// time; Pauker 1.4's lessons likewise. Made when the root element <Lesson> is read,
// with its attributes.
std::unique_ptr<foreign::ForeignReader> paukerReader(const foreign::XmlAttributes &root, const QString &path);

} // namespace tarlivo::transfer
