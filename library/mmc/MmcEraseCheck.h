#pragma once

#include "library/mmc/MmcErase.h"
#include "library/mmc/MmcFastErase.h"

#include <vector>

// After an erase the disc is read again: the drive's GOOD alone proves
// nothing, a deferred failure may have gone to another program's command.
namespace blankora::mmc {

// Blocks whose read-back shows a full overwrite: the first and the last
// 1 MiB and 64 blocks spread over the rest.
std::vector<BlockRange> fullEraseSample(uint32_t blocks);

// Checks that the disc shows the erase `plan` describes (`zeroed`: the
// blocks that must read back as zeros) and returns `outcome` with the state
// read, or the check that failed.
EraseResult checkErased(ScsiTransport &transport, const ErasePlan &plan,
                        const std::vector<BlockRange> &zeroed, EraseResult outcome);

} // namespace blankora::mmc
