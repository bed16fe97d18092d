// Arbitrary drive replies for every MMC response parser; the reply ends
// exactly where the fuzzer's buffer does, so any read past it is caught.
#include "fuzz/FuzzEntryPoints.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (!blankora::fuzz::parseReply(data[0], blankora::mmc::Bytes(data + 1, size - 1)).consistent)
        std::abort();
    return 0;
}
