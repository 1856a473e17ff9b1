#pragma once

#include "store/storeerror.h"

#include <QString>

// Wording shared by the windows and the import and export: file names as the user
// reads them, and why the store failed.
namespace tarlivo::texts {

// A file or subject name in German quotation marks, with the platform's separators.
QString quoted(const QString &s);
// One of two sentences by number, with the number put in for %1.
QString byNumber(qint64 n, const char *one, const char *many);
// The sentence that says why a store operation failed; empty for the kinds whose
// message depends on where it happened (NotConnected, Duplicate, Conflict).
QString storeReason(const store::StoreError &error);

} // namespace tarlivo::texts
