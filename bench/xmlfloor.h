#pragma once

#include <QString>

namespace tarlivo::bench {

// The floor under the kvtml and Pauker imports: libxml2's streaming (SAX) read of
// the file in pieces, every event going to a handler that only counts, a gzipped
// file through zlib's inflate first. Milliseconds; the count of elements seen goes
// to *elements.
double xmlStreamRead(const QString &path, long long *elements);

} // namespace tarlivo::bench
