#pragma once

#include "library/mmc/MmcTypes.h"

#include <cstdint>
#include <span>

// One function per MMC command: build the CDB, run it through the transport,
// parse the reply. A failed result carries the transport's answer in `scsi`
// and a readable reason in `text` (see describeFailure()).
namespace blankora::mmc {

using transport::ScsiTransport;

// Timeouts in milliseconds.
constexpr unsigned QueryTimeoutMs = 30000;
constexpr unsigned ImmedTimeoutMs = 200000;
constexpr unsigned WriteTimeoutMs = 200000;
constexpr unsigned EjectTimeoutMs = 60000;
constexpr unsigned LoadTimeoutMs = 300000;
// A BLANK, FORMAT, cache flush or session close without Immed holds the
// command for the whole job: 5 hours, as libburn allows.
constexpr unsigned LongRunTimeoutMs = 18000000;

constexpr uint32_t BlockSize = 2048;

// ok when the unit is ready; on CHECK CONDITION `value` holds the decoded
// sense (no medium, operation in progress with progress, ...).
MmcResult<SenseInfo> testUnitReady(ScsiTransport &transport);
// The current sense record (fixed format), e.g. the progress of a running BLANK.
MmcResult<SenseInfo> requestSense(ScsiTransport &transport);
MmcResult<InquiryData> inquiry(ScsiTransport &transport);

enum class FeatureRequest : uint8_t
{
    All = 0,
    Current = 1,
    One = 2
};
MmcResult<Configuration> getConfiguration(ScsiTransport &transport,
                                          FeatureRequest request = FeatureRequest::All,
                                          uint16_t startingFeature = 0);
// Current profile only (0 when the drive reports none).
MmcResult<uint16_t> currentProfile(ScsiTransport &transport);

// GET CONFIGURATION above, READ DISC INFORMATION, READ FORMAT CAPACITIES, MODE
// SENSE, READ TOC and GET PERFORMANCE read the reply's header first, then
// exactly the length it announces (clamped to 64 KiB): USB bridges refuse an
// allocation longer than the reply.

MmcResult<DiscInfo> readDiscInformation(ScsiTransport &transport);
MmcResult<TrackInfo> readTrackInformation(ScsiTransport &transport, TrackAddress type,
                                          uint32_t number);
MmcResult<Toc> readToc(ScsiTransport &transport, bool msf = false, uint8_t startTrack = 0);
MmcResult<FullToc> readFullToc(ScsiTransport &transport, uint8_t startSession = 1);
MmcResult<Atip> readAtip(ScsiTransport &transport);
MmcResult<Capacity> readCapacity(ScsiTransport &transport);
MmcResult<FormatCapacities> readFormatCapacities(ScsiTransport &transport);
MmcResult<CapabilitiesPage> modeSenseCapabilities(ScsiTransport &transport);
// GET PERFORMANCE type 03h: the write speeds of the loaded medium.
MmcResult<std::vector<WriteSpeedEntry>> getWriteSpeeds(ScsiTransport &transport);
// GET PERFORMANCE type 00h, data type 04h, one descriptor: the write speed in effect.
MmcResult<PerformanceEntry> getCurrentWritePerformance(ScsiTransport &transport);

constexpr uint16_t SpeedMax = 0xFFFF;
// Speeds in kB/s (k = 1000); SpeedMax asks for the maximum.
MmcStatus setCdSpeed(ScsiTransport &transport, uint16_t readKBps, uint16_t writeKBps,
                     uint8_t rotation = 0);

struct StreamingRequest
{
    uint32_t endLba = 0;
    uint32_t readKBps = 0;
    uint32_t writeKBps = 0;
    uint8_t rotation = 0;
    bool exact = false;
    bool restoreDefaults = false;
};
MmcStatus setStreaming(ScsiTransport &transport, const StreamingRequest &request);

MmcStatus preventAllowMediumRemoval(ScsiTransport &transport, bool prevent);

enum class StartStop : uint8_t
{
    Stop = 0x00,
    Start = 0x01,
    Eject = 0x02,
    Load = 0x03
};
MmcStatus startStopUnit(ScsiTransport &transport, StartStop action, bool immed = false);

enum class BlankType : uint8_t
{
    Full = 0,
    Minimal = 1
};
MmcStatus blank(ScsiTransport &transport, BlankType type, bool immed = true);

// FORMAT UNIT with a 12-byte parameter list built from `descriptor`.
struct FormatRequest
{
    FormatDescriptor descriptor;
    uint8_t subType = 0; // byte 8 b1..b0 of the descriptor
    bool immed = true;
    bool formatOptionsValid = false; // FOV
    bool skipCertification = false;  // DCRT (with CmpList in the CDB)
};
MmcStatus formatUnit(ScsiTransport &transport, const FormatRequest &request);

// `data` must hold blocks * BlockSize bytes.
MmcStatus read10(ScsiTransport &transport, uint32_t lba, uint16_t blocks, std::span<uint8_t> data);
MmcStatus write10(ScsiTransport &transport, uint32_t lba, uint16_t blocks,
                  std::span<const uint8_t> data);
MmcStatus synchronizeCache(ScsiTransport &transport, bool immed = true);

// CLOSE TRACK/SESSION close functions used on DVD+RW (dvd+rw-format).
enum class CloseFunction : uint8_t
{
    StopBackgroundFormat = 0x00,
    CloseSession = 0x02
};
MmcStatus closeTrackSession(ScsiTransport &transport, CloseFunction function, bool immed = true);

// REPORT KEY format 08h: the drive's region playback control state.
MmcResult<RpcState> reportRpcState(ScsiTransport &transport);

} // namespace blankora::mmc
