// libFuzzer entry for the anki parser (built with -DTARLIVO_FUZZ=ON under clang).
#include "fuzztargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::anki(data, size);
    return 0;
}
