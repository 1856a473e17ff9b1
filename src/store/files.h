#pragma once

// File-system steps that the store and the take-over both need to make a file
// appear whole or not at all.

#include <QDir>
#include <QFileDevice>
#include <QString>

namespace tarlivo::store::files {

// Flushes a folder's entries (a rename or link in it) to disk; failures are ignored.
void syncDirectory(const QString &dir);

// Flushes the file's contents to disk; false with errno set on failure.
bool syncFile(const QString &path);

// Why a file step failed, in German, for an errno value (0: not known).
QString reasonText(int error);
// The same for the current errno.
QString errnoText();
// Why a step of file failed: by errno when it is set (clear it before the step),
// else by the file's error.
QString fileReason(const QFileDevice &file);

// Removes half-made files "<base>*.<marker>-<pid>" whose writer is gone (killed, or
// the machine went down); a file another running Tarlivo is writing right now stays.
void removeStaleTemporaries(const QDir &dir, const QString &base, const QString &marker);

// The name of this process's temporary file beside path, "<path>.<marker>-<pid>",
// cleared of whatever an earlier process with the same id left there.
QString freshTemporary(const QString &path, const QString &marker);

// Removes an SQLite file and the companions SQLite keeps beside it.
void removeDatabaseFiles(const QString &path);

// Gives the file from the second name to, never replacing a file there; false with
// errno set on failure (EEXIST when to is taken).
bool linkNew(const QString &from, const QString &to);

// Copies from to a new file to, which must not exist, and flushes it to disk; false
// with errno set on failure.
bool copyNew(const QString &from, const QString &to);

} // namespace tarlivo::store::files
