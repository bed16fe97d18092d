#pragma once

#include "library/transport/ScsiTransport.h"

#include <cstdint>
#include <vector>

namespace blankora::mmc {

struct BlockRange
{
    uint32_t first = 0;
    uint32_t count = 0;
};

// Blocks a fast erase of an overwritable disc (DVD+RW, DVD-RAM, BD-RE,
// restricted-overwrite DVD-RW) must zero so that no reader finds a file
// system: 0-99 (ISO 9660 and UDF volume recognition, and the blocks the
// kernel's isofs searches for a primary volume descriptor), the UDF anchor points
// 256 and 512, and N-256 and N-1 for N = the recorded volume's size (from the
// ISO 9660 primary volume descriptor or the UDF descriptors, when present)
// and for N = formattedBlocks. Sorted, merged, each inside the disc.
std::vector<BlockRange> fastEraseRanges(transport::ScsiTransport &transport,
                                        uint32_t formattedBlocks);

} // namespace blankora::mmc
