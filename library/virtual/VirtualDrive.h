#pragma once

#include "library/transport/ScsiTransport.h"
#include "library/virtual/VirtualScenario.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <sys/types.h>
#include <string>
#include <vector>

namespace blankora::virtualbay {

// Simulated time shared by the drives of a bay: the steady clock scaled by a
// factor, plus whatever a test adds with advance(). Thread safe.
class SimClock
{
public:
    explicit SimClock(double factor);
    double now() const; // simulated seconds since the bay was made
    double factor() const;
    void setFactor(double factor);
    void advance(double seconds);

private:
    mutable std::mutex FMutex;
    std::chrono::steady_clock::time_point FOrigin;
    double FBase = 0;
    double FFactor;
};

enum class TrayState
{
    Closed,
    Open
};

struct LoggedCommand
{
    std::vector<uint8_t> cdb;
    std::vector<uint8_t>
        dataOut; // first 4 KiB at most; of WRITE(10) 64 bytes (the node has it all)
    double simSeconds = 0;
};

// One emulated MMC drive: the tray, the disc and its backing image file, the
// selected speeds and a running BLANK/FORMAT job. Every handle opened on it
// shares this state; all members lock the drive's mutex.
class VirtualDrive
{
public:
    VirtualDrive(DriveSpec declared, std::shared_ptr<SimClock> clock, std::string node);
    ~VirtualDrive();
    VirtualDrive(const VirtualDrive &) = delete;
    VirtualDrive &operator=(const VirtualDrive &) = delete;

    // Loads the declared disc into the backing file; false with error when the
    // scenario's image cannot be read.
    bool prepare(std::string &error);

    // Executes one command on behalf of handle `handle`.
    transport::ScsiResult execute(unsigned handle, bool readOnly,
                                  const transport::ScsiCommand &command);
    // A new handle, or EBUSY as the kernel answers O_EXCL on a mounted disc or a
    // drive another handle holds exclusively.
    int attachHandle(bool exclusive, unsigned &handle);
    void detachHandle(unsigned handle); // releases the tray lock and the exclusive claim

    // Inspection
    const DriveSpec &declared() const { return FSpec; } // identity as declared
    transport::DeviceEntry entry() const;
    std::string node() const { return FNode; } // backing image file
    bool vanished() const;
    int openError() const;
    TrayState trayState() const;
    bool locked() const;
    uint16_t currentProfile() const; // 0 while empty or open
    uint16_t discProfile() const;    // 0 without a disc
    int discStatus() const;          // READ DISC INFORMATION status, -1 without a disc
    int backgroundFormat() const;    // READ DISC INFORMATION byte 7 bits 1-0, -1 without a disc
    bool discBlank() const;
    bool busy() const;
    unsigned currentReadSpeed() const;  // kB/s selected for the loaded medium
    unsigned currentWriteSpeed() const; // kB/s
    int openHandles() const;
    std::vector<LoggedCommand> commandLog() const;
    void clearCommandLog();

    // Fault injection
    void injectSense(int opcode, Sense sense, InjectMode mode, unsigned after = 0);
    void injectTimeout(int opcode, InjectMode mode, unsigned after = 0);
    void setVanishAfter(int commands);
    void setOpenError(int osError);
    void setNotReady(bool notReady);
    void setBlankFailure(double atFraction, Sense sense);

private:
    struct Job;
    struct Reply;
    struct Track;

    Reply dispatch(unsigned handle, const transport::ScsiCommand &command);
    Reply busyReply() const;
    bool gone() const;
    uint32_t formattedPart() const;
    std::vector<uint8_t> senseData(const Reply &reply) const;
    bool earlyReady() const;
    void settle();
    void syncBackingFile();
    double jobProgress() const;
    const SpeedSet *speedsForDisc() const;
    unsigned resolveSpeed(unsigned requested, const std::vector<unsigned> &list) const;
    uint32_t readableBlocks() const;
    bool discPresent() const;
    // The disc went in less than the fault's seconds ago: the drive spins it up.
    bool becomingReady() const;

    Reply testUnitReady();
    Reply requestSense(const transport::ScsiCommand &command);
    Reply inquiry(const transport::ScsiCommand &command);
    Reply getConfiguration(const transport::ScsiCommand &command);
    Reply readDiscInformation();
    Reply readTrackInformation(const transport::ScsiCommand &command);
    Reply readToc(const transport::ScsiCommand &command);
    Reply readCapacity();
    Reply readFormatCapacities();
    Reply modeSense(const transport::ScsiCommand &command);
    Reply getPerformance(const transport::ScsiCommand &command);
    Reply setCdSpeed(const transport::ScsiCommand &command);
    Reply setStreaming(const transport::ScsiCommand &command);
    Reply preventAllow(unsigned handle, const transport::ScsiCommand &command);
    Reply startStop(const transport::ScsiCommand &command);
    Reply blank(const transport::ScsiCommand &command);
    Reply formatUnit(const transport::ScsiCommand &command);
    Reply closeTrackSession(const transport::ScsiCommand &command);
    Reply reportKey(const transport::ScsiCommand &command);
    Reply write10(const transport::ScsiCommand &command);
    Reply read10(const transport::ScsiCommand &command);
    bool storeBlocks(std::span<const uint8_t> bytes, off_t offset);
    Reply getEventStatus(const transport::ScsiCommand &command);
    Reply peerCommand(const transport::ScsiCommand &command); // VirtualDrivePeers.cpp
    Reply readDvdStructure(const transport::ScsiCommand &command);

    // Sequential recording (VirtualDriveSequential.cpp)
    std::vector<Track> tracks() const; // recorded tracks, then the open or invisible one
    std::vector<uint8_t> writeParameters(uint8_t control) const;
    Reply modeSelect(const transport::ScsiCommand &command);
    Reply reserveTrack(const transport::ScsiCommand &command);
    Reply writeSequential(const transport::ScsiCommand &command);
    Reply synchronizeCache();
    void closeSequential(uint8_t function);

    std::vector<uint8_t> formatList(uint8_t &currentType, uint32_t &currentBlocks) const;
    double wholeDiscSeconds(bool atEraseSpeed) const;
    Reply startJob(std::unique_ptr<Job> job);
    void finishJob();
    void startBackground(double seconds);
    void stopBackground();
    double backgroundProgress() const;
    void applyBlank(bool full);
    void applyFormat(uint8_t type, uint32_t blocks);
    bool waitForJob(std::unique_lock<std::mutex> &lock, double deadline);

    mutable std::mutex FMutex;
    DriveSpec FSpec;
    std::shared_ptr<SimClock> FClock;
    std::string FNode;
    std::string FStash; // disc content while the tray is open
    std::optional<DiscSpec> FDisc;
    bool FTrayOpen = false;
    double FReadyAt = 0; // simulated time at which a disc that went in is ready
    bool FDaoOnly = false;
    bool FIntermediate = false; // DVD-RW quick-formatted, session not closed yet
    uint8_t FBgStatus = 0;
    double FBgEnd = 0;       // background format: when it completes while running
    double FBgTotal = 0;     // its whole duration
    double FBgRemaining = 0; // what is left while it is stopped
    std::set<unsigned> FLockHolders;
    std::set<unsigned> FHandles;
    unsigned FExclusiveHolder = 0;
    unsigned FNextHandle = 1;
    unsigned FRequestedRead = 0xFFFF;
    unsigned FRequestedWrite = 0xFFFF;
    double FWriteDrainsAt = 0; // with timing.writeAtSpeed: when the write buffer is empty
    std::optional<Sense> FUnitAttention;
    std::optional<Sense> FDeferred; // an Immed job's failure, not yet reported
    bool FNewMediaEvent = false;
    std::unique_ptr<Job> FJob;
    unsigned FCommandCount = 0;
    bool FGone = false;            // vanished during a job or a zero-fill
    unsigned FBusyOpens = 0;       // exclusive opens still refused after a disc change
    double FBridgeNotReadyEnd = 0; // a bridge answers 02/04/00 to TUR until then
    std::vector<LoggedCommand> FLog;
    // Sequential media: the tracks once the drive has written one (until then
    // the declared disc's tracks), and the host's write parameters page 05h.
    std::vector<Track> FRecorded;
    std::vector<uint8_t> FWritePage;
};

} // namespace blankora::virtualbay
