#pragma once

// What the store's own parts (src/store only) need of its core. Nothing else in the
// program includes this: it asks the store's public operations (the tests' way to the
// connection is tests/support/storedb.h).
#include "store/backup.h"
#include "store/numbertest.h"
#include "store/store.h"

#include <sqlite3.h>

#include <optional>

namespace tarlivo::store {

struct StoreAccess {
    static sql::Database &database(Store &store) { return store.m_db; }
    // Before every change: still the file opened, writable, the day's copy taken.
    static void prepareWrite(Store &store) { store.prepareWrite(); }
    // Seconds since 1970 UTC by the store's clock.
    static qint64 now(const Store &store) { return store.now(); }
    // Before a write that is not a change of the user's: still the file opened and
    // writable; no day's copy is taken for it. Returns false while the day's copy is
    // under way, which a write would make start over.
    static bool prepareQuietWrite(Store &store)
    {
        if (!store.m_db.isOpen())
            throw StoreError(StoreErrorKind::NotConnected, store.path());
        store.ensureSameFile();
        return !(store.m_backupJob && !store.m_backupJob->done());
    }
};

// A key or count read from the file, which may hold any 64-bit value: Limit beyond 32 bits.
inline qint32 toInt32(qint64 value, const QString &path)
{
    if (value > kInt32Max || value < -kInt32Max - 1)
        throw StoreError(StoreErrorKind::Limit, path, QStringLiteral("value %1 is beyond 32 bits").arg(value));
    return qint32(value);
}

// A part of the store: one concern's operations and the SQL behind them, on the
// store's connection. Made where needed; it holds nothing of its own.
class StorePart {
protected:
    explicit StorePart(Store &store) : m_store(store), m_db(StoreAccess::database(store)) {}
    const QString &path() const { return m_store.path(); }

    Store &m_store;
    sql::Database &m_db;
};

// Thousands of scattered rows touch more pages than SQLite's default cache holds, and
// every overflow writes pages out (and syncs the journal) once more. A larger cache for
// one such write only, of 1000 rows or more: kib KiB.
class LargeCache {
public:
    LargeCache(sql::Database &db, std::size_t rows, qint64 kib = 131072) : m_db(db)
    {
        if (rows < 1000)
            return;
        sql::Statement q(m_db, "PRAGMA cache_size");
        if (q.step())
            m_old = q.int64(0);
        m_db.exec(("PRAGMA cache_size = -" + QByteArray::number(kib)).constData());
    }
    ~LargeCache()
    {
        if (m_old)
            sqlite3_exec(m_db.handle(), ("PRAGMA cache_size = " + QByteArray::number(*m_old)).constData(), nullptr,
                         nullptr, nullptr);
    }
    LargeCache(const LargeCache &) = delete;
    LargeCache &operator=(const LargeCache &) = delete;

private:
    sql::Database &m_db;
    std::optional<qint64> m_old;
};

} // namespace tarlivo::store
