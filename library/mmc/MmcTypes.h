#pragma once

#include "library/transport/ScsiTransport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace blankora::mmc {

// Outcome of one MMC command or of one parser: the decoded value when ok, and
// otherwise a readable reason. `scsi` is the transport's answer (default-Good
// for a bare parser call).
template <class T> struct MmcResult
{
    bool ok = false;
    T value{};
    transport::ScsiResult scsi;
    std::string text;

    explicit operator bool() const { return ok; }
};

struct NoData
{
};
using MmcStatus = MmcResult<NoData>;

// Decoded sense record (fixed 70h/71h or descriptor 72h/73h format).
struct SenseInfo
{
    uint8_t responseCode = 0;
    bool deferred = false; // 71h/73h: belongs to an earlier Immed command
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool progressValid = false; // SKSV set with sense key NO SENSE or NOT READY
    uint16_t progress = 0;      // 0..65535 as a fraction of 65536
};

struct InquiryData
{
    uint8_t peripheralQualifier = 0;
    uint8_t deviceType = 0; // 05h = CD/DVD/BD
    bool removable = false;
    uint8_t version = 0;
    std::string vendor;   // trimmed, non-printable bytes replaced by '?'
    std::string product;  // trimmed
    std::string revision; // trimmed
};

struct ProfileEntry
{
    uint16_t profile = 0;
    bool current = false;
};

struct Feature
{
    uint16_t code = 0;
    uint8_t version = 0;
    bool persistent = false;
    bool current = false;
    std::vector<uint8_t> data; // payload after the 4-byte feature header
};

// Feature codes this layer reads.
namespace feature {
constexpr uint16_t ProfileList = 0x0000;
constexpr uint16_t Core = 0x0001;
constexpr uint16_t RemovableMedium = 0x0003;
constexpr uint16_t RandomWritable = 0x0020;
constexpr uint16_t IncrementalStreamingWritable = 0x0021;
constexpr uint16_t Formattable = 0x0023;
constexpr uint16_t RestrictedOverwrite = 0x0026;
constexpr uint16_t DvdPlusRw = 0x002A;
constexpr uint16_t DvdPlusR = 0x002B;
constexpr uint16_t RigidRestrictedOverwrite = 0x002C;
constexpr uint16_t CdTrackAtOnce = 0x002D;
constexpr uint16_t CdMastering = 0x002E;
constexpr uint16_t DvdMinusRWrite = 0x002F;
constexpr uint16_t BdWrite = 0x0041;
constexpr uint16_t DvdCss = 0x0106;
constexpr uint16_t RealTimeStreaming = 0x0107;
} // namespace feature

// GET CONFIGURATION reply.
struct Configuration
{
    uint16_t currentProfile = 0; // 0 = no medium or unknown
    std::vector<ProfileEntry> profiles;
    std::vector<Feature> features; // every descriptor except the profile list

    const Feature *find(uint16_t code) const;
    bool has(uint16_t code) const { return find(code) != nullptr; }
    bool isCurrent(uint16_t code) const;
    bool supportsProfile(uint16_t profile) const;
    // A recordable profile or a write feature in the list: the drive writes.
    bool canWrite() const;
    uint32_t physicalInterface() const;       // Core feature bytes 4-7, 0 when absent
    bool setCdSpeedSupported() const;         // Real Time Streaming SCS bit
    bool writeSpeedDescriptorsInPage() const; // Real Time Streaming MP2A bit
    bool getPerformanceSupported() const;     // Real Time Streaming WSPD bit
    // Cert (bit 0, full) and QCert (bit 1, quick) of feature 0023h, only while
    // the feature is current (libburn mmc.c keeps its byte 4 only then).
    uint8_t certification() const;
};

// READ DISC INFORMATION, standard part.
struct DiscInfo
{
    bool erasable = false;
    uint8_t lastSessionState = 0; // 0 empty, 1 incomplete, 2 damaged, 3 complete
    uint8_t discStatus = 0;       // 0 blank, 1 appendable, 2 complete, 3 random access
    uint8_t firstTrack = 0;
    uint16_t sessions = 0;
    uint16_t firstTrackInLastSession = 0;
    uint16_t lastTrackInLastSession = 0;
    bool unrestrictedUse = false;
    uint8_t bgFormatStatus = 0; // DVD+RW/MRW: 0 none, 1 stopped, 2 running, 3 complete
    uint8_t discType = 0;
    uint32_t lastSessionLeadIn = 0;   // raw field (CD: 0,M,S,F)
    uint32_t lastPossibleLeadOut = 0; // raw field (CD: 0,M,S,F)
};

struct TrackInfo
{
    uint16_t track = 0;
    uint16_t session = 0;
    bool damage = false;
    bool copy = false;
    uint8_t trackMode = 0;
    bool reserved = false; // RT
    bool blank = false;
    bool packet = false;
    bool fixedPacket = false;
    uint8_t dataMode = 0;
    bool lraValid = false;
    bool nwaValid = false;
    uint32_t start = 0;
    uint32_t nextWritable = 0; // clamped to `start` when the drive reports less
    uint32_t freeBlocks = 0;
    uint32_t fixedPacketSize = 0;
    uint32_t size = 0;
    uint32_t lastRecorded = 0;
};

enum class TrackAddress : uint8_t
{
    Lba = 0,
    Track = 1,
    Session = 2
};
constexpr uint32_t InvisibleTrack = 0xFF;

struct TocEntry
{
    uint8_t adrControl = 0;
    uint8_t track = 0; // AAh = lead-out
    uint32_t address = 0;
    bool isData() const { return (adrControl & 0x04) != 0; }
};

struct Toc
{
    uint8_t firstTrack = 0;
    uint8_t lastTrack = 0;
    std::vector<TocEntry> entries;
};

struct FullTocEntry
{
    uint8_t session = 0;
    uint8_t adrControl = 0;
    uint8_t tno = 0;
    uint8_t point = 0;
    uint8_t min = 0, sec = 0, frame = 0;
    uint8_t pmin = 0, psec = 0, pframe = 0;
};

struct FullToc
{
    uint8_t firstSession = 0;
    uint8_t lastSession = 0;
    std::vector<FullTocEntry> entries;
};

struct Atip
{
    bool rewritable = false; // Disc Type bit: CD-RW
    uint8_t subType = 0;
    int32_t leadInStart = 0;         // LBA (negative: lead-in)
    int32_t lastPossibleLeadOut = 0; // LBA; capacity of a blank disc
};

struct Capacity
{
    uint32_t lastLba = 0;
    uint32_t blockLength = 0;
};

struct FormatDescriptor
{
    uint32_t blocks = 0;
    uint8_t type = 0;       // format type (b7..b2 of byte 4)
    uint32_t parameter = 0; // type-dependent 24-bit parameter
};

enum class CapacityType : uint8_t
{
    Unformatted = 1,
    Formatted = 2,
    NoMedium = 3
};

struct FormatCapacities
{
    uint32_t currentBlocks = 0;
    CapacityType currentType = CapacityType::NoMedium;
    uint32_t currentBlockLength = 0;
    std::vector<FormatDescriptor> formats;

    const FormatDescriptor *find(uint8_t type) const;
};

struct WriteSpeedDescriptor
{
    uint8_t rotation = 0; // 0 CLV, 1 CAV
    uint16_t speed = 0;   // kB/s
};

// Mode page 2Ah (CD/DVD capabilities and mechanical status).
struct CapabilitiesPage
{
    uint8_t readBits = 0;  // byte 2
    uint8_t writeBits = 0; // byte 3: b0 CD-R, b1 CD-RW, b2 test write, b4 DVD-R, b5 DVD-RAM
    bool underrunProtection = false;
    bool lockSupported = false;
    bool locked = false;
    bool preventJumper = false;
    bool ejectSupported = false;
    uint8_t loadingMechanism = 0;
    uint16_t maxReadSpeed = 0;
    uint16_t currentReadSpeed = 0;
    uint16_t bufferSizeKiB = 0;
    uint16_t maxWriteSpeed = 0;     // bytes 18-19, or the fastest descriptor when larger
    uint16_t currentWriteSpeed = 0; // bytes 28-29 when present, else 20-21
    std::vector<WriteSpeedDescriptor> writeSpeeds;
};

// GET PERFORMANCE type 03h descriptor.
struct WriteSpeedEntry
{
    uint8_t rotation = 0; // WRC
    bool restoreDefaults = false;
    bool exact = false;
    bool mrw = false;
    uint32_t endLba = 0;
    uint32_t readSpeed = 0;  // kB/s
    uint32_t writeSpeed = 0; // kB/s
};

// GET PERFORMANCE type 00h descriptor.
struct PerformanceEntry
{
    uint32_t startLba = 0;
    uint32_t startPerformance = 0; // kB/s
    uint32_t endLba = 0;
    uint32_t endPerformance = 0; // kB/s
};

// REPORT KEY format 08h.
struct RpcState
{
    uint8_t typeCode = 0; // 0 no region set, 1 set, 2 last change left, 3 permanent
    uint8_t vendorResets = 0;
    uint8_t userChanges = 0;
    uint8_t regionMask = 0; // a 1 bit = region not playable
    uint8_t rpcScheme = 0;  // 0 RPC-I, 1 RPC Phase II
};

} // namespace blankora::mmc
