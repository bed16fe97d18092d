#pragma once

#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcTypes.h"

#include <cstdint>
#include <optional>
#include <vector>

// Questions about the loaded medium and the drive's speeds that need more
// than one command: disc space, the write speed list, setting a speed.
namespace blankora::mmc {

using transport::ScsiTransport;

struct DiscSpace
{
    uint64_t usedBytes = 0;
    uint64_t freeBytes = 0;
};
// Used/free bytes of the loaded medium for its current profile: sequential
// media from the incomplete track, finalized media from READ CAPACITY,
// overwritable media as all free (they record no "used" size).
MmcResult<DiscSpace> readDiscSpace(ScsiTransport &transport, uint16_t profile);

struct SpeedInfo
{
    uint32_t currentReadKBps = 0;
    uint32_t maxReadKBps = 0;
    uint32_t currentWriteKBps = 0;
    uint32_t maxWriteKBps = 0;
    std::vector<uint32_t> writeSpeedsKBps; // fastest first, no duplicates
};
// What a drive said about speeds for the loaded disc that does not change
// while the disc stays: kept by the caller across a run of speed settings
// and queries so that each of these questions goes to the drive once.
struct SpeedFacts
{
    std::optional<std::vector<WriteSpeedEntry>> writeSpeeds; // GET PERFORMANCE 03h
    std::optional<uint32_t> lastLba;                         // READ CAPACITY, 0 = none
    bool streamingUnknown = false;                           // SET STREAMING answered 05/20/00
};

// Page 2Ah, refined by GET PERFORMANCE type 03h (32-bit fields, needed for BD)
// when the drive offers it. Fails only when page 2Ah cannot be read.
MmcResult<SpeedInfo> readSpeeds(ScsiTransport &transport, uint16_t profile,
                                SpeedFacts *facts = nullptr);

// Sets the speeds (kB/s, SpeedMax = maximum): SET CD SPEED for CD media;
// SET STREAMING first for DVD/BD with SET CD SPEED as the fallback. The
// drive picks a speed it supports; readSpeeds() tells which.
MmcStatus setSpeeds(ScsiTransport &transport, uint16_t profile, uint32_t readKBps,
                    uint32_t writeKBps, SpeedFacts *facts = nullptr);

// Cert (bit 0) and QCert (bit 1) of feature 0023h while it is current; 0 when
// the feature is absent or not current or GET CONFIGURATION fails.
uint8_t offeredCertification(ScsiTransport &transport);

// FORMAT UNIT as requested. When the drive refuses (05/24/xx or 05/26/xx) a
// certifying format 30h (sub-type 2 full, 3 quick) that feature 0023h listed,
// the format goes again with quick certification (after a refused full one,
// when QCert is offered), then without certification: type 00h as `formats`
// lists it (dvd+rw-format's default), else 30h with sub-type 0 (libburn
// mmc.c, which notes a drive refusing quick certification). On success the
// value is the request the drive accepted; otherwise the last refusal.
MmcResult<FormatRequest> formatWithCertificationFallback(ScsiTransport &transport,
                                                         const FormatRequest &request,
                                                         uint8_t certification,
                                                         const FormatCapacities *formats);

} // namespace blankora::mmc
