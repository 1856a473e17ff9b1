// libFuzzer entry for the kvtml reader (built with -DTARLIVO_FUZZ=ON under clang).
#include "fuzztargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::kvtml(data, size);
    return 0;
}
