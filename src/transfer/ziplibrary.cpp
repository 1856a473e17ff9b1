#include "transfer/ziplibrary.h"

#include <dlfcn.h>

#include <initializer_list>

namespace tarlivo::transfer {
namespace {

template <typename F>
bool resolve(void *handle, const char *name, F *function)
{
    *function = reinterpret_cast<F>(dlsym(handle, name));
    return *function != nullptr;
}

ZipLibrary *load()
{
    // The names the library has had; Debian 12 ships the first.
    void *handle = nullptr;
    for (const char *name : {"libzip.so.4", "libzip.so.5", "libzip.so"})
        if ((handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)))
            break;
    if (!handle)
        return nullptr;
    static ZipLibrary z;
    const bool ok =
        resolve(handle, "zip_open", &z.open) && resolve(handle, "zip_discard", &z.discard)
        && resolve(handle, "zip_name_locate", &z.nameLocate) && resolve(handle, "zip_stat_init", &z.statInit)
        && resolve(handle, "zip_stat_index", &z.statIndex) && resolve(handle, "zip_fopen_index", &z.fopenIndex)
        && resolve(handle, "zip_fread", &z.fread) && resolve(handle, "zip_fclose", &z.fclose)
        && resolve(handle, "zip_strerror", &z.strerror) && resolve(handle, "zip_file_strerror", &z.fileStrerror)
        && resolve(handle, "zip_error_init_with_code", &z.errorInitWithCode)
        && resolve(handle, "zip_error_strerror", &z.errorStrerror) && resolve(handle, "zip_error_fini", &z.errorFini)
        && resolve(handle, "zip_source_buffer", &z.sourceBuffer) && resolve(handle, "zip_source_free", &z.sourceFree)
        && resolve(handle, "zip_file_add", &z.fileAdd)
        && resolve(handle, "zip_set_file_compression", &z.setFileCompression) && resolve(handle, "zip_close", &z.close);
    return ok ? &z : nullptr;
}

} // namespace

const ZipLibrary *zipLibrary()
{
    static const ZipLibrary *library = load();
    return library;
}

} // namespace tarlivo::transfer
