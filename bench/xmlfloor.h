#pragma once

#include <QString>

namespace tarlivo::bench {

// The floor under the kvtml and Pauker imports: libxml2's streaming interface (the
// xmlTextReader that `xmllint --stream` reads with) going through every node of the
// file and nothing more, a gzipped file through zlib's inflate first. Milliseconds;
// the count of elements seen goes to *elements.
double xmlStreamRead(const QString &path, long long *elements);

// The same file through libxml2's SAX push parser, every event going to a handler
// that only counts: the parser alone, below what any reader of the file can reach.
double xmlSaxRead(const QString &path, long long *elements);

} // namespace tarlivo::bench
