#include "library/mmc/MmcFastErase.h"

#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcParsers.h"

#include <algorithm>
#include <array>
#include <optional>

namespace blankora::mmc {

namespace {

using Block = std::array<uint8_t, BlockSize>;

constexpr uint32_t VolumeDescriptorBlock = 16;
// The kernel's isofs looks for a primary volume descriptor in blocks 16-99
// and skips what it does not recognise (fs/isofs/inode.c, isofs_fill_super):
// libisoburn's first session on an overwritable disc starts at block 32, its
// descriptors at 48.
constexpr uint32_t DescriptorScanEnd = 100;
constexpr uint32_t FirstAnchor = 256;
// A volume descriptor sequence is at least 16 blocks long; more than this is garbage.
constexpr uint32_t MaxSequenceBlocks = 64;

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::optional<Block> readBlock(transport::ScsiTransport &transport, uint32_t lba)
{
    Block block{};
    if (!read10(transport, lba, 1, block))
        return std::nullopt;
    return block;
}

// A UDF descriptor tag (ECMA-167): identifier, checksum over the 16 tag bytes
// but byte 4, and the block it says it was recorded at.
bool isTag(const Block &b, uint16_t identifier, uint32_t lba)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < 16; ++i)
        if (i != 4)
            sum = static_cast<uint8_t>(sum + b[i]);
    return (uint32_t(b[0]) | uint32_t(b[1]) << 8) == identifier && sum == b[4] &&
           le32(&b[12]) == lba;
}

uint16_t tagOf(const Block &b)
{
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint64_t extentEnd(const uint8_t *extentAd)
{
    const uint32_t length = le32(extentAd);
    return uint64_t(le32(extentAd + 4)) + (uint64_t(length) + BlockSize - 1) / BlockSize;
}

// End of the UDF volume: the furthest of the partitions (partition
// descriptors, tag 5), the descriptor sequences the anchor at 256 points to,
// and the integrity sequence the logical volume descriptor (tag 6) names.
std::optional<uint64_t> udfVolumeBlocks(transport::ScsiTransport &transport)
{
    const std::optional<Block> anchor = readBlock(transport, FirstAnchor);
    if (!anchor || !isTag(*anchor, 2, FirstAnchor))
        return std::nullopt;
    uint64_t end = std::max(extentEnd(&(*anchor)[16]), extentEnd(&(*anchor)[24]));
    bool partitionFound = false;
    for (const size_t at : {size_t(16), size_t(24)}) {
        const uint32_t first = le32(&(*anchor)[at + 4]);
        const uint32_t blocks =
            std::min<uint32_t>(le32(&(*anchor)[at]) / BlockSize, MaxSequenceBlocks);
        for (uint32_t i = 0; i < blocks && !partitionFound; ++i) {
            const std::optional<Block> d = readBlock(transport, first + i);
            if (!d || !isTag(*d, tagOf(*d), first + i) || tagOf(*d) == 8)
                break;
            if (tagOf(*d) == 5) {
                end = std::max(end, uint64_t(le32(&(*d)[188])) + le32(&(*d)[192]));
                partitionFound = true;
            } else if (tagOf(*d) == 6) {
                end = std::max(end, extentEnd(&(*d)[432]));
            }
        }
        if (partitionFound)
            break;
    }
    return end;
}

void addRange(std::vector<BlockRange> &ranges, uint64_t first, uint64_t count, uint32_t disc)
{
    if (first >= disc)
        return;
    count = std::min<uint64_t>(count, disc - first);
    ranges.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(count)});
}

void addVolumeEnd(std::vector<BlockRange> &ranges, uint64_t volumeBlocks, uint32_t disc)
{
    if (volumeBlocks >= 256)
        addRange(ranges, volumeBlocks - 256, 1, disc);
    if (volumeBlocks >= 1)
        addRange(ranges, volumeBlocks - 1, 1, disc);
}

} // namespace

std::vector<BlockRange> fastEraseRanges(transport::ScsiTransport &transport,
                                        uint32_t formattedBlocks)
{
    std::vector<BlockRange> ranges;
    addRange(ranges, 0, DescriptorScanEnd, formattedBlocks);
    addRange(ranges, FirstAnchor, 1, formattedBlocks);
    addRange(ranges, 512, 1, formattedBlocks);
    addVolumeEnd(ranges, formattedBlocks, formattedBlocks);
    if (formattedBlocks > VolumeDescriptorBlock) {
        if (const std::optional<Block> pvd = readBlock(transport, VolumeDescriptorBlock))
            if (const auto blocks = parseIsoVolumeBlocks(*pvd))
                addVolumeEnd(ranges, blocks.value, formattedBlocks);
    }
    if (formattedBlocks > FirstAnchor)
        if (const std::optional<uint64_t> blocks = udfVolumeBlocks(transport))
            addVolumeEnd(ranges, *blocks, formattedBlocks);

    std::sort(ranges.begin(), ranges.end(),
              [](const BlockRange &a, const BlockRange &b) { return a.first < b.first; });
    std::vector<BlockRange> merged;
    for (const BlockRange &r : ranges) {
        if (!merged.empty() && r.first <= uint64_t(merged.back().first) + merged.back().count) {
            const uint64_t end = std::max<uint64_t>(
                uint64_t(merged.back().first) + merged.back().count, uint64_t(r.first) + r.count);
            merged.back().count = static_cast<uint32_t>(end - merged.back().first);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

} // namespace blankora::mmc
