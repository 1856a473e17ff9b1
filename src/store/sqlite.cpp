#include "store/sqlite.h"

#include <sqlite3.h>

namespace tarlivo::store::sql {

StoreErrorKind kindOf(int resultCode)
{
    switch (resultCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return StoreErrorKind::Busy;
    case SQLITE_FULL:
        return StoreErrorKind::Full;
    case SQLITE_READONLY:
        return StoreErrorKind::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return StoreErrorKind::Corrupt;
    case SQLITE_IOERR:
        return StoreErrorKind::Io;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return StoreErrorKind::CannotOpen;
    case SQLITE_TOOBIG:
        return StoreErrorKind::Limit;
    default:
        return StoreErrorKind::Internal;
    }
}

Database::~Database() { close(); }

void Database::open(const QString &path, int flags, const QByteArray &name)
{
    close();
    m_path = path;
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(name.isEmpty() ? path.toUtf8().constData() : name.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw StoreError(kindOf(rc), path, detail);
    }
    m_db = db;
    sqlite3_extended_result_codes(m_db, 1);
}

void Database::close() noexcept
{
    for (auto &entry : m_cache)
        sqlite3_finalize(entry.second);
    m_cache.clear();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void Database::exec(const char *sql)
{
    if (!m_db)
        throw StoreError(StoreErrorKind::NotConnected, m_path);
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

sqlite3_stmt *Database::prepared(const char *sql)
{
    if (!m_db)
        throw StoreError(StoreErrorKind::NotConnected, m_path);
    auto found = m_cache.find(sql);
    if (found != m_cache.end())
        return found->second;
    sqlite3_stmt *stmt = nullptr;
    const int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
    m_cache.emplace(sql, stmt);
    return stmt;
}

void Database::fail(int resultCode) const
{
    const QString detail =
        m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(resultCode));
    throw StoreError(kindOf(resultCode), m_path, detail);
}

Statement::Statement(Database &db, const char *sql) : m_db(db), m_stmt(db.prepared(sql)) {}

Statement::~Statement()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

Statement &Statement::bind(int index, qint64 value)
{
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK)
        m_db.fail(rc);
    return *this;
}

Statement &Statement::bind(int index, const QString &text)
{
    if (text.isNull())
        return bindNull(index);
    const QByteArray utf8 = text.toUtf8();
    const int rc = sqlite3_bind_text64(m_stmt, index, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
    if (rc != SQLITE_OK)
        m_db.fail(rc);
    return *this;
}

Statement &Statement::bindNull(int index)
{
    const int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK)
        m_db.fail(rc);
    return *this;
}

Statement &Statement::bindBlob(int index, const QByteArray &bytes)
{
    // A zero-length blob, not NULL, for an empty file.
    const int rc = sqlite3_bind_blob64(m_stmt, index, bytes.isEmpty() ? "" : bytes.constData(),
                                       sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        m_db.fail(rc);
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(m_stmt);
    m_db.fail(rc);
}

void Statement::run()
{
    while (step()) {
    }
}

bool Statement::isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

qint64 Statement::int64(int column) const { return sqlite3_column_int64(m_stmt, column); }

QByteArray Statement::blob(int column) const
{
    const void *data = sqlite3_column_blob(m_stmt, column);
    const int bytes = sqlite3_column_bytes(m_stmt, column);
    return data ? QByteArray(static_cast<const char *>(data), bytes) : QByteArray();
}

QString Statement::text(int column) const
{
    if (isNull(column))
        return QString();
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int bytes = sqlite3_column_bytes(m_stmt, column);
    if (!data)
        return QString(""); // an empty text, told apart from NULL above
    return QString::fromUtf8(data, bytes);
}

WriteTransaction::WriteTransaction(Database &db) : m_db(db) { Statement(m_db, "BEGIN IMMEDIATE").run(); }

WriteTransaction::~WriteTransaction()
{
    if (!m_done && m_db.handle() && !sqlite3_get_autocommit(m_db.handle()))
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void WriteTransaction::commit()
{
    Statement(m_db, "COMMIT").run();
    m_done = true;
}

ReadTransaction::ReadTransaction(Database &db, Mode mode) : m_db(db), m_mode(mode)
{
    if (m_mode == Mapped)
        m_db.exec("PRAGMA mmap_size = 1073741824");
    Statement(m_db, "BEGIN").run();
}

ReadTransaction::~ReadTransaction()
{
    if (!m_db.handle())
        return;
    // Nothing was written: ending it either way lets go of the read lock.
    if (!sqlite3_get_autocommit(m_db.handle()))
        sqlite3_exec(m_db.handle(), "COMMIT", nullptr, nullptr, nullptr);
    if (m_mode == Mapped)
        sqlite3_exec(m_db.handle(), "PRAGMA mmap_size = 0", nullptr, nullptr, nullptr);
}

} // namespace tarlivo::store::sql
