#pragma once

// The one failure type of the take-over, with the helpers that build it.

#include "store/storeerror.h"

#include <QByteArray>
#include <QString>

#include <exception>

namespace tarlivo::legacy {

class LegacyImportError : public std::exception {
public:
    enum Kind {
        ReaderMissing, // detail: the reader's path
        ReaderCrashed, // the reader died
        ReaderFailed,  // the reader stopped with an error of its own, or its stream broke
        Stalled,       // the reader went silent
        CannotOpen,    // not an Access file the reader can open
        Truncated,     // the file has lost its end
        MissingTable,  // table: the table
        MissingColumn, // table, column
        Damaged,       // table, column: a row or text that cannot be read
        CountMismatch, // table, declared, read
        BadValue,      // table, column, detail: the value
        DuplicateKey,  // table, detail: the key
        Busy,          // another running copy is taking the file over
        Changed,       // the file was replaced meanwhile
        WriteFailed,   // the new store could not be written; detail: why
        Unsound,       // the new store failed its check (a program fault); detail: what
        Cancelled,     // the user cancelled
    };

    LegacyImportError(Kind kind, QString path, QString detail = {})
        : m_kind(kind), m_path(std::move(path)), m_detail(std::move(detail)), m_what(m_detail.toUtf8())
    {
    }

    Kind kind() const noexcept { return m_kind; }
    const QString &path() const noexcept { return m_path; } // the old file
    const QString &detail() const noexcept { return m_detail; }
    const char *what() const noexcept override { return m_what.constData(); }

    QString table;
    QString column;
    qint64 declared = 0;
    qint64 read = 0;
    bool diskFull = false; // WriteFailed: the disk is full
    bool readOnly = false; // WriteFailed: the directory is not writable

private:
    Kind m_kind;
    QString m_path;
    QString m_detail;
    QByteArray m_what;
};

// An error about a table, and perhaps a column, of the old file.
LegacyImportError tableError(LegacyImportError::Kind kind, const QString &path, const QString &table,
                             const QString &column = {}, const QString &detail = {});

// A WriteFailed error for a system call that failed with error (an errno value).
LegacyImportError writeFailed(const QString &path, const QString &detail, int error);
// A WriteFailed error for a failure of the store.
LegacyImportError writeFailed(const QString &path, const store::StoreError &error);

} // namespace tarlivo::legacy
