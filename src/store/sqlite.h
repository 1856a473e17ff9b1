#pragma once

#include "store/storeerror.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace tarlivo::store::sql {

// Maps an SQLite result code to the kind of failure the user is told about.
StoreErrorKind kindOf(int resultCode);

class Statement;

// One SQLite connection with a cache of prepared statements. Statement texts are
// fixed strings: values always travel as bound parameters.
class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // flags are SQLite's open flags; throws StoreError. A name given opens that
    // instead (an SQLite URI, ":memory:"), path naming the file in messages.
    void open(const QString &path, int flags, const QByteArray &name = {});
    void close() noexcept;
    bool isOpen() const noexcept { return m_db != nullptr; }
    sqlite3 *handle() const noexcept { return m_db; }
    const QString &path() const noexcept { return m_path; }

    // Runs statements that take no values (schema, pragmas).
    void exec(const char *sql);
    // A prepared statement for sql, kept for the connection's life.
    sqlite3_stmt *prepared(const char *sql);

    // Throws the StoreError for resultCode, with the connection's message.
    [[noreturn]] void fail(int resultCode) const;

private:
    sqlite3 *m_db = nullptr;
    QString m_path;
    std::unordered_map<std::string, sqlite3_stmt *> m_cache;
};

// A use of a cached prepared statement; resets it and clears its values when done.
// SQLite binds from 1 and reads columns from 0; these methods keep that numbering.
class Statement {
public:
    Statement(Database &db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, qint64 value);
    Statement &bind(int index, const QString &text); // a null QString binds NULL
    Statement &bindNull(int index);
    Statement &bindBlob(int index, const QByteArray &bytes);

    // Advances to the next row; false when there is none. Throws StoreError.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    bool isNull(int column) const;
    qint64 int64(int column) const;
    QString text(int column) const; // NULL reads as a null QString
    QByteArray blob(int column) const;

private:
    Database &m_db;
    sqlite3_stmt *m_stmt;
};

// BEGIN IMMEDIATE on construction, so that the read-then-write of one change is
// atomic against other writers; rolls back unless commit() was called. Never throws
// from its destructor.
class WriteTransaction {
public:
    explicit WriteTransaction(Database &db);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    void commit();

private:
    Database &m_db;
    bool m_done = false;
};

// Several reads that must see the file as one moment; ends when it goes out of scope.
class ReadTransaction {
public:
    // Mapped: through a memory map, which spares a copy of every page of a read of
    // the whole file; plain reads again afterwards. Nobody can shorten the file
    // under the read lock.
    enum Mode { Plain, Mapped };
    explicit ReadTransaction(Database &db, Mode mode = Plain);
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    Database &m_db;
    Mode m_mode;
};

} // namespace tarlivo::store::sql
