// libFuzzer entry for the Pauker reader (built with -DTARLIVO_FUZZ=ON under clang).
#include "fuzztargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::pauker(data, size);
    return 0;
}
