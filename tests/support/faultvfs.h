#pragma once

// A pass-through SQLite file layer for tests that makes writes or syncs fail on
// demand, as a full disk or a failing drive would, without privileges or a small
// file system. Installed as the default layer, it serves every connection the
// program opens, the daily backup's copy included.

#include <sqlite3.h>

#include <cstring>
#include <string>

namespace faultvfs {

struct Faults {
    std::string pathContains;    // only files whose name holds this; empty: every file
    std::string pathEndsWith;    // and ends so (".mdb": the database, "-journal": its journal)
    int writeError = SQLITE_OK;  // returned by xWrite once armed (SQLITE_FULL, SQLITE_IOERR_WRITE)
    int syncError = SQLITE_OK;   // returned by xSync
    int writesBeforeFailing = 0; // matching writes that still succeed first
    int failedWrites = 0;        // how many writes were refused
    int syncs = 0;               // syncs of matching files, failed or not
};

inline Faults &faults()
{
    static Faults f;
    return f;
}

// Back to a sound disk.
inline void clear() { faults() = Faults{}; }

namespace detail {

struct File {
    sqlite3_file base;
    sqlite3_file *real; // follows this struct in the same allocation
    std::string *name;
};

inline sqlite3_vfs *&realVfs()
{
    static sqlite3_vfs *vfs = nullptr;
    return vfs;
}

inline sqlite3_file *real(sqlite3_file *f) { return reinterpret_cast<File *>(f)->real; }

inline bool matches(sqlite3_file *f)
{
    const Faults &x = faults();
    const std::string *name = reinterpret_cast<File *>(f)->name;
    if (!name)
        return x.pathContains.empty() && x.pathEndsWith.empty();
    const std::string &end = x.pathEndsWith;
    return (x.pathContains.empty() || name->find(x.pathContains) != std::string::npos)
           && (end.empty()
               || (name->size() >= end.size() && name->compare(name->size() - end.size(), end.size(), end) == 0));
}

inline int xClose(sqlite3_file *f)
{
    File *file = reinterpret_cast<File *>(f);
    const int rc = file->real->pMethods ? file->real->pMethods->xClose(file->real) : SQLITE_OK;
    delete file->name;
    file->name = nullptr;
    return rc;
}
inline int xRead(sqlite3_file *f, void *buf, int amount, sqlite3_int64 offset)
{
    return real(f)->pMethods->xRead(real(f), buf, amount, offset);
}
inline int xWrite(sqlite3_file *f, const void *buf, int amount, sqlite3_int64 offset)
{
    Faults &x = faults();
    if (x.writeError != SQLITE_OK && matches(f)) {
        if (x.writesBeforeFailing > 0) {
            --x.writesBeforeFailing;
        } else {
            ++x.failedWrites;
            return x.writeError;
        }
    }
    return real(f)->pMethods->xWrite(real(f), buf, amount, offset);
}
inline int xTruncate(sqlite3_file *f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); }
inline int xSync(sqlite3_file *f, int flags)
{
    if (matches(f)) {
        ++faults().syncs;
        if (faults().syncError != SQLITE_OK)
            return faults().syncError;
    }
    return real(f)->pMethods->xSync(real(f), flags);
}
inline int xFileSize(sqlite3_file *f, sqlite3_int64 *size) { return real(f)->pMethods->xFileSize(real(f), size); }
inline int xLock(sqlite3_file *f, int level) { return real(f)->pMethods->xLock(real(f), level); }
inline int xUnlock(sqlite3_file *f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
inline int xCheckReservedLock(sqlite3_file *f, int *out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
inline int xFileControl(sqlite3_file *f, int op, void *arg)
{
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
inline int xSectorSize(sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); }
inline int xDeviceCharacteristics(sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
inline int xShmMap(sqlite3_file *f, int region, int size, int extend, void volatile **out)
{
    return real(f)->pMethods->xShmMap(real(f), region, size, extend, out);
}
inline int xShmLock(sqlite3_file *f, int offset, int n, int flags)
{
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
inline void xShmBarrier(sqlite3_file *f) { real(f)->pMethods->xShmBarrier(real(f)); }
inline int xShmUnmap(sqlite3_file *f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); }
inline int xFetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **out)
{
    return real(f)->pMethods->xFetch(real(f), offset, amount, out);
}
inline int xUnfetch(sqlite3_file *f, sqlite3_int64 offset, void *p)
{
    return real(f)->pMethods->xUnfetch(real(f), offset, p);
}

inline const sqlite3_io_methods *ioMethods()
{
    static const sqlite3_io_methods methods = {
        3,
        xClose,
        xRead,
        xWrite,
        xTruncate,
        xSync,
        xFileSize,
        xLock,
        xUnlock,
        xCheckReservedLock,
        xFileControl,
        xSectorSize,
        xDeviceCharacteristics,
        xShmMap,
        xShmLock,
        xShmBarrier,
        xShmUnmap,
        xFetch,
        xUnfetch,
    };
    return &methods;
}

inline int xOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *f, int flags, int *outFlags)
{
    File *file = reinterpret_cast<File *>(f);
    file->base.pMethods = nullptr;
    file->real = reinterpret_cast<sqlite3_file *>(file + 1);
    file->real->pMethods = nullptr;
    file->name = nullptr;
    const int rc = realVfs()->xOpen(realVfs(), name, file->real, flags, outFlags);
    if (file->real->pMethods) {
        file->name = new std::string(name ? name : "");
        file->base.pMethods = ioMethods();
    }
    return rc;
}

} // namespace detail

// Puts the fault layer in front of the standard one, once per process.
inline void install()
{
    static sqlite3_vfs vfs;
    static bool done = false;
    if (done)
        return;
    done = true;
    sqlite3_vfs *base = sqlite3_vfs_find(nullptr);
    detail::realVfs() = base;
    vfs = *base;
    vfs.zName = "faultvfs";
    vfs.szOsFile = int(sizeof(detail::File)) + base->szOsFile;
    vfs.pNext = nullptr;
    vfs.xOpen = detail::xOpen;
    // The remaining calls reach the standard layer unchanged; it does not look at
    // which layer object it is called through.
    sqlite3_vfs_register(&vfs, 1);
}

} // namespace faultvfs
