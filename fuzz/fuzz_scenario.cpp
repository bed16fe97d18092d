// Arbitrary scenario texts for the virtual bay loader.
#include "fuzz/FuzzEntryPoints.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string json(reinterpret_cast<const char *>(data), size);
    if (!blankora::fuzz::loadScenario(json).consistent)
        std::abort();
    return 0;
}
