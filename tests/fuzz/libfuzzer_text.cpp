// libFuzzer entry for the text parser (built with -DTARLIVO_FUZZ=ON under clang).
#include "fuzztargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::text(data, size);
    return 0;
}
