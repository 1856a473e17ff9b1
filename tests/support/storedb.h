#pragma once

// The store's own connection, for the tests and benches that read query plans and
// size limits on it, or leave rows there that no operation of the program writes.
#include "store/internal.h"

namespace storedb {

inline tarlivo::sql::Database &of(tarlivo::Store &store) { return tarlivo::StoreAccess::database(store); }

} // namespace storedb
