#pragma once

// The store's own connection, for the tests and benches that read query plans and
// size limits on it, or leave rows there that no operation of the program writes.
#include "store/internal.h"

namespace storedb {

inline tarlivo::store::sql::Database &of(tarlivo::store::Store &store)
{
    return tarlivo::store::StoreAccess::database(store);
}

} // namespace storedb
