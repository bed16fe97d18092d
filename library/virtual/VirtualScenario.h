#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace blankora::virtualbay {

// A sense triple K/ASC/ASCQ.
struct Sense
{
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    bool operator==(const Sense &) const = default;
};

enum class InjectMode
{
    Once,
    Always
};

// A command that fails below the SCSI level: an errno from the ioctl
// (osError), else a host and driver status from SG_IO.
struct LinkFault
{
    int osError = 0;
    int hostStatus = 0;
    int driverStatus = 0;
};

// "Answer opcode X with this sense (or a time-out, a link fault)": skips the
// first `after` matching commands, then hits `times` times (Once) or on every
// later match (Always).
struct Injection
{
    int opcode = -1; // -1: any command
    Sense sense;
    bool timeout = false;          // transport error host status 3 instead of sense
    std::optional<LinkFault> link; // instead of sense
    bool duringJob = false;        // matches only while a BLANK/FORMAT or background format runs
    InjectMode mode = InjectMode::Once;
    unsigned times = 1;
    unsigned after = 0;
    unsigned seen = 0;
    unsigned hits = 0;
    bool spent = false;
};

enum class DiscState
{
    Blank,
    Appendable,
    Complete
};

// Where a busy drive reports the progress of a BLANK or FORMAT.
enum class ProgressReport
{
    TestUnitReady, // in the TUR sense and in REQUEST SENSE
    RequestSense,  // only in REQUEST SENSE
    None
};

// The medium in a drive as the scenario declares it; the drive mutates it.
struct DiscSpec
{
    uint16_t profile = 0;
    DiscState state = DiscState::Complete;
    bool formatted = true;        // overwritable media only
    bool partlyFormatted = false; // DVD+RW: its background format stopped half-way
    uint32_t capacityBlocks = 0;
    uint32_t usedBlocks = 0;
    unsigned tracks = 1;
    unsigned sessions = 1;
    bool writeProtected = false;
    std::string label;           // synthesized ISO 9660 volume identifier
    std::string image;           // file whose content the disc holds
    unsigned eraseSpeedKBps = 0; // certification and full blanks; 0: the write speed
};

struct SpeedSet
{
    std::vector<unsigned> read;  // kB/s, any order in the scenario, kept ascending
    std::vector<unsigned> write; // kB/s, ascending
};

struct RegionState
{
    uint8_t typeCode = 0;
    uint8_t vendorResets = 4;
    uint8_t userChanges = 5;
    uint8_t mask = 0xFF;
    uint8_t scheme = 1;
};

struct Timing
{
    double commandLatencyMs = 0;
    double blankFastSeconds = 60;
    double blankFullSeconds = -1; // < 0: capacity / write speed
    double formatFastSeconds = 90;
    double formatFullSeconds = -1;
    double formatForegroundSeconds = 3; // background formatting: until the drive is ready again
    double bridgeNotReadySeconds = 40;  // with quirks.bridge: 02/04/00 to TUR after a job
    bool writeAtSpeed = false;          // WRITE(10) takes blocks * 2048 / write speed
};

// How a real drive departs from the tidy emulator; every quirk is off unless a
// scenario turns it on.
struct Quirks
{
    bool backgroundFormat = false;   // DVD+RW FORMAT 26h goes on in the background
    double earlyReadySeconds = 0;    // TUR GOOD over the last seconds of an Immed erase job
    std::optional<Sense> readySense; // TUR on a ready unit: CHECK CONDITION with key 0 or 1
    bool descriptorSense = false;    // sense data as 72h (73h deferred)
    bool deferredErrors = false;     // a failing Immed erase job reports 71h/73h
    std::optional<Sense> attentionAfterErase;
    bool certifyFull = true;             // feature 0023h Cert: FORMAT 30h sub-type 10b
    bool certifyQuick = true;            // feature 0023h QCert: FORMAT 30h sub-type 11b
    bool kernelTimeouts = false;         // a blocking BLANK/FORMAT outlasting its time-out fails
    bool deferredTakenElsewhere = false; // a failed job's deferred sense goes to another initiator
    bool partlyRefusesWrite = false;     // partly formatted DVD+RW: WRITE beyond the format fails
    bool stopUnitStopsFormat = false;    // START STOP UNIT Start=0 stops a background format
    bool bridge = false;      // USB bridge: strict allocation lengths, not ready after jobs
    bool refuseFull = false;  // Cert listed, FORMAT 30h sub-type 10b refused
    bool refuseQuick = false; // QCert listed, FORMAT 30h sub-type 11b refused
};

struct Faults
{
    int openError = 0; // errno returned by opening the drive
    bool readOnly = false;
    bool notReady = false;
    double becomingReadySeconds = 0; // 02/04/01 for so long after a disc goes in
    std::vector<Injection> injections;
    double blankFailsAt = -1; // fraction 0..1 where an erase job fails
    Sense blankFailSense{0x03, 0x51, 0x00};
    std::optional<Sense> ejectFails;
    std::optional<Sense> lockFails;
    Sense blankRefused{0x05, 0x30, 0x05}; // BLANK on a medium without BLANK
    int vanishAfter = -1;                 // ENODEV after this many commands
    double vanishDuringJob = -1;          // fraction of an erase job (or zero-fill) to vanish at
    LinkFault vanishAs{ENODEV};           // what every command answers once the drive is gone
    unsigned busyAfterDiscChange = 0;     // exclusive opens refused (EBUSY) after a disc goes in
    bool garbageAll = false;
    std::set<int> garbageOpcodes;
    ProgressReport progress = ProgressReport::TestUnitReady;
};

enum class SpeedRule
{
    NextLower,
    Nearest
};

struct DriveSpec
{
    std::string vendor = "BLANKORA";
    std::string product = "Virtual Drive";
    std::string revision = "1.00";
    uint8_t host = 0, channel = 0, target = 0, lun = 0;
    int systemNumber = 0;
    unsigned bufferKiB = 2048;
    std::vector<uint16_t> profiles;             // ascending
    std::optional<std::set<uint16_t>> features; // restricts the generated list
    std::map<uint16_t, SpeedSet> speeds;        // per profile
    SpeedRule speedRule = SpeedRule::NextLower;
    std::optional<RegionState> region; // absent: no REPORT KEY (CD drive)
    std::optional<DiscSpec> disc;
    bool trayOpen = false;
    std::string mountPoint;
    Timing timing;
    Faults faults;
    Quirks quirks;
};

struct BaySpec
{
    double timeFactor = 1.0;
    std::vector<DriveSpec> drives;
};

// Parses a scenario; on failure returns nothing and sets error to
// "<source>: <place>: <what is wrong>".
std::optional<BaySpec> parseScenario(const std::string &json, const std::string &source,
                                     std::string &error);

// Profile names used in scenarios ("CD-RW", "DVD+RW", ...) and back.
std::optional<uint16_t> profileFromName(const std::string &name);
std::string profileName(uint16_t profile);

// Defaults of a medium: capacity in blocks and the speeds drives offer for it.
uint32_t defaultCapacityBlocks(uint16_t profile);
SpeedSet defaultSpeeds(uint16_t profile);
// kB/s at which such a disc typically erases itself ("typical" in scenarios;
// CD speeds in MMC units: 176.4 kB/s = 1x); 0 where the medium has none.
unsigned defaultEraseSpeed(uint16_t profile);

} // namespace blankora::virtualbay
