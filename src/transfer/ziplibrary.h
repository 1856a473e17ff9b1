#pragma once

#include <zip.h>

namespace tarlivo::transfer {

// libzip, loaded on the first Anki package rather than at every start of the
// program: it brings a crypto library along that nothing else needs.
struct ZipLibrary {
    decltype(&::zip_open) open;
    decltype(&::zip_discard) discard;
    decltype(&::zip_name_locate) nameLocate;
    decltype(&::zip_stat_init) statInit;
    decltype(&::zip_stat_index) statIndex;
    decltype(&::zip_fopen_index) fopenIndex;
    decltype(&::zip_fread) fread;
    decltype(&::zip_fclose) fclose;
    decltype(&::zip_strerror) strerror;
    decltype(&::zip_file_strerror) fileStrerror;
    decltype(&::zip_error_init_with_code) errorInitWithCode;
    decltype(&::zip_error_strerror) errorStrerror;
    decltype(&::zip_error_fini) errorFini;
    // Writing, for the export of Anki packages.
    decltype(&::zip_source_buffer) sourceBuffer;
    decltype(&::zip_source_free) sourceFree;
    decltype(&::zip_file_add) fileAdd;
    decltype(&::zip_set_file_compression) setFileCompression;
    decltype(&::zip_close) close;
};

// The library's functions, or nullptr when it cannot be loaded.
const ZipLibrary *zipLibrary();

} // namespace tarlivo::transfer
