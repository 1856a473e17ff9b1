#pragma once

#include <QString>
#include <exception>

namespace tarlivo::store {

// What went wrong, in terms the window layer can turn into a message for the user.
enum class StoreErrorKind {
    NotConnected,   // no store is open
    NotADatabase,   // the file is neither our store nor anything we can read
    LegacyFormat,   // the file is a database of the older Access-based program
    SchemaMismatch, // an SQLite file, but without our tables
    NewerVersion,   // written by a newer Tarlivo
    CannotCreate,   // the missing file could not be created
    CannotOpen,     // the file exists but cannot be opened
    Busy,           // another running copy holds the file
    Full,           // the disk (or the size limit) is full
    ReadOnly,       // the file or its directory is read-only
    FileChanged,    // the file was deleted or replaced while open
    Corrupt,        // the database is damaged
    Io,             // any other input/output failure
    NotFound,       // a row the operation needs is missing
    Duplicate,      // a subject of that name exists already
    Limit,          // a value would leave the 32-bit range
    Conflict,       // undo/redo: the rows were changed elsewhere meanwhile (detail "undo" or "redo")
    Internal,       // a statement failed for a reason that is a program fault
};

class StoreError : public std::exception {
public:
    StoreError(StoreErrorKind kind, QString path, QString detail = {})
        : m_kind(kind), m_path(std::move(path)), m_detail(std::move(detail)), m_what(m_detail.toUtf8())
    {
    }

    StoreErrorKind kind() const noexcept { return m_kind; }
    // The database file concerned; may be empty.
    const QString &path() const noexcept { return m_path; }
    // The engine's own wording, for the curious and for logs; never the whole message.
    const QString &detail() const noexcept { return m_detail; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    StoreErrorKind m_kind;
    QString m_path;
    QString m_detail;
    QByteArray m_what;
};

} // namespace tarlivo::store
