#include "legacy/importerror.h"

#include <cerrno>

using namespace tarlivo::store;

namespace tarlivo::legacy {

using Error = LegacyImportError;

Error tableError(Error::Kind kind, const QString &path, const QString &table, const QString &column,
                 const QString &detail)
{
    Error error(kind, path, detail);
    error.table = table;
    error.column = column;
    return error;
}

Error writeFailed(const QString &path, const QString &detail, int error)
{
    Error e(Error::WriteFailed, path, detail);
    e.diskFull = error == ENOSPC || error == EDQUOT;
    e.readOnly = error == EROFS || error == EACCES || error == EPERM;
    return e;
}

Error writeFailed(const QString &path, const StoreError &error)
{
    Error e(Error::WriteFailed, path, error.detail());
    e.diskFull = error.kind() == StoreErrorKind::Full;
    e.readOnly = error.kind() == StoreErrorKind::ReadOnly || error.kind() == StoreErrorKind::CannotOpen
                 || error.kind() == StoreErrorKind::CannotCreate;
    return e;
}

} // namespace tarlivo::legacy
