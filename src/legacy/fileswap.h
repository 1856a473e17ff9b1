#pragma once

// The atomic swap: the old file kept under a name of its own, the new store renamed into its place.

#include <QString>

#include <sys/stat.h>

namespace tarlivo::legacy {

// The name under which the old file is kept: "Tarlivo-Access-Original.mdb", then
// "Tarlivo-Access-Original-2.mdb" and so on, beside path.
QString legacyOriginalName(const QString &path, int number);

// Holds an exclusive lock on the old file while it is taken over, so that a second
// running copy does not take it over at the same time.
class FileLock {
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Whether path still names the file that was locked.
    bool stillAt(const QString &path) const;

private:
    int m_fd = -1;
    struct stat m_stat {};
};

// The new store's file beside the old one at path; removed with SQLite's companions
// unless released.
class TempStore {
public:
    explicit TempStore(const QString &path);
    ~TempStore();
    TempStore(const TempStore &) = delete;
    TempStore &operator=(const TempStore &) = delete;
    const QString &path() const { return m_path; }
    void release() { m_released = true; }

private:
    QString m_path;
    bool m_released = false;
};

// Puts the new store, written and checked, in place of the old file at path, which
// is kept under a name of its own; returns that name. At every moment path holds
// either the whole old file or the whole new store. Throws LegacyImportError.
QString swapIntoPlace(const QString &path, TempStore &temp, const FileLock &lock);

} // namespace tarlivo::legacy
