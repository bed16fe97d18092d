#pragma once

#include "library/mmc/MmcTypes.h"

#include <cstdint>
#include <span>

// Pure response parsers: each takes the bytes the drive transferred (only
// those, not the whole allocation) and never reads outside them. A short,
// empty or inconsistent reply gives a failed result with a text.
namespace blankora::mmc {

using Bytes = std::span<const uint8_t>;

MmcResult<SenseInfo> parseSense(Bytes data);
MmcResult<InquiryData> parseInquiry(Bytes data);
MmcResult<Configuration> parseConfiguration(Bytes data);
MmcResult<DiscInfo> parseDiscInformation(Bytes data);
MmcResult<TrackInfo> parseTrackInformation(Bytes data);
MmcResult<Toc> parseToc(Bytes data);
MmcResult<FullToc> parseFullToc(Bytes data);
MmcResult<Atip> parseAtip(Bytes data);
MmcResult<Capacity> parseCapacity(Bytes data);
MmcResult<FormatCapacities> parseFormatCapacities(Bytes data);
// The whole MODE SENSE(10) reply: header, block descriptors, then page 2Ah.
MmcResult<CapabilitiesPage> parseCapabilitiesPage(Bytes data);
MmcResult<std::vector<WriteSpeedEntry>> parseWriteSpeeds(Bytes data);
MmcResult<std::vector<PerformanceEntry>> parsePerformance(Bytes data);
MmcResult<RpcState> parseRpcState(Bytes data);
// Block 16 of a data disc: the volume space size of an ISO 9660 primary volume
// descriptor in 2048-byte blocks. Fails unless the block holds one whose
// both-endian size and block size fields agree (growisofs.c reads the size).
MmcResult<uint64_t> parseIsoVolumeBlocks(Bytes block);

// CD address helpers: (m*60+s)*75+f-150, lead-in addresses (m >= 90) negative.
int32_t msfToLba(uint8_t m, uint8_t s, uint8_t f);
// A 4-byte 0,M,S,F field as an LBA.
int32_t msfFieldToLba(uint32_t field);

} // namespace blankora::mmc
