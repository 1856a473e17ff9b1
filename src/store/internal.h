#pragma once

// What the store's own parts (src/store only) need of its core. Nothing outside the
// store includes this: the rest of the program asks the store's public operations.
#include "store/store.h"

namespace tarlivo {

struct StoreAccess {
    static sql::Database &database(Store &store) { return store.m_db; }
    // Before every change: still the file opened, writable, the day's copy taken.
    static void prepareWrite(Store &store) { store.prepareWrite(); }
    // Seconds since 1970 UTC by the store's clock.
    static qint64 now(const Store &store) { return store.now(); }
};

} // namespace tarlivo
