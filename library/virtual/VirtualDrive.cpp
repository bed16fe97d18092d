#include "library/virtual/VirtualDrive.h"

#include "library/transport/SenseText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace blankora::virtualbay {

using transport::DataDirection;
using transport::ResultCategory;
using transport::ScsiCommand;
using transport::ScsiResult;

namespace fs = std::filesystem;

namespace {

constexpr size_t KBlock = 2048;

constexpr Sense KNoMediumClosed{0x02, 0x3A, 0x01};
constexpr Sense KNoMediumOpen{0x02, 0x3A, 0x02};
constexpr Sense KInvalidOpcode{0x05, 0x20, 0x00};
constexpr Sense KInvalidField{0x05, 0x24, 0x00};
constexpr Sense KInvalidParameter{0x05, 0x26, 0x00};
constexpr Sense KParameterLength{0x05, 0x1A, 0x00};
constexpr Sense KOutOfRange{0x05, 0x21, 0x00};
constexpr Sense KInvalidAddress{0x05, 0x21, 0x02};
constexpr Sense KRemovalPrevented{0x05, 0x53, 0x02};
constexpr Sense KWriteProtected{0x07, 0x27, 0x00};
constexpr Sense KMediumChanged{0x06, 0x28, 0x00};
constexpr Sense KNotReady{0x02, 0x04, 0x00};

uint16_t be16(std::span<const uint8_t> bytes, size_t at)
{
    return uint16_t(bytes[at] << 8 | bytes[at + 1]);
}

uint32_t be32(std::span<const uint8_t> bytes, size_t at)
{
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
           uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

void put16(std::vector<uint8_t> &out, size_t at, unsigned value)
{
    out[at] = uint8_t(value >> 8);
    out[at + 1] = uint8_t(value);
}

void put24(std::vector<uint8_t> &out, size_t at, uint32_t value)
{
    out[at] = uint8_t(value >> 16);
    out[at + 1] = uint8_t(value >> 8);
    out[at + 2] = uint8_t(value);
}

void put32(std::vector<uint8_t> &out, size_t at, uint32_t value)
{
    put16(out, at, value >> 16);
    put16(out, at + 2, value & 0xFFFF);
}

// CD addresses as minutes/seconds/frames, with the 2-second pre-gap.
void putMsf(std::vector<uint8_t> &out, size_t at, uint32_t lba)
{
    const uint32_t frames = lba + 150;
    out[at] = uint8_t(frames / 4500);
    out[at + 1] = uint8_t(frames / 75 % 60);
    out[at + 2] = uint8_t(frames % 75);
}

bool isCd(uint16_t profile)
{
    return (profile >= 0x08 && profile <= 0x0A) || (profile >= 0x20 && profile <= 0x22);
}

bool isDvd(uint16_t profile)
{
    return profile >= 0x10 && profile <= 0x2B && !isCd(profile);
}

bool isBd(uint16_t profile)
{
    return profile >= 0x40 && profile <= 0x43;
}

bool isOverwritable(uint16_t profile)
{
    return profile == 0x12 || profile == 0x13 || profile == 0x1A || profile == 0x2A ||
           profile == 0x43;
}

bool isBlankable(uint16_t profile)
{
    return profile == 0x0A || profile == 0x22 || profile == 0x13 || profile == 0x14;
}

bool isWriteClass(uint8_t opcode)
{
    switch (opcode) {
    case 0x04:
    case 0x1E:
    case 0x2A:
    case 0x35:
    case 0x55:
    case 0x5B:
    case 0xA1:
    case 0xB6:
    case 0xBB:
        return true;
    default:
        return false;
    }
}

size_t cdbLength(uint8_t opcode)
{
    if (opcode < 0x20)
        return 6;
    if (opcode < 0x60)
        return 10;
    if (opcode >= 0xA0 && opcode < 0xC0)
        return 12;
    return 6;
}

// What data phase an opcode has and how long it is, from its CDB.
struct DataPhase
{
    DataDirection direction = DataDirection::None;
    size_t length = 0;
};

std::optional<DataPhase> dataPhase(std::span<const uint8_t> cdb)
{
    switch (cdb[0]) {
    case 0x00:
    case 0x1B:
    case 0x1E:
    case 0x35:
    case 0x5B:
    case 0xA1:
    case 0xBB:
        return DataPhase{};
    case 0x03:
        return DataPhase{DataDirection::FromDevice, cdb[4]};
    case 0x12:
        return DataPhase{DataDirection::FromDevice, be16(cdb, 3)};
    case 0x25:
        return DataPhase{DataDirection::FromDevice, 8};
    case 0x28:
        return DataPhase{DataDirection::FromDevice, size_t(be16(cdb, 7)) * KBlock};
    case 0x23:
    case 0x43:
    case 0x46:
    case 0x4A:
    case 0x51:
    case 0x52:
    case 0x5A:
        return DataPhase{DataDirection::FromDevice, be16(cdb, 7)};
    case 0xA4:
        return DataPhase{DataDirection::FromDevice, be16(cdb, 8)};
    case 0xAC:
        return DataPhase{DataDirection::FromDevice, 8 + size_t(be16(cdb, 8)) * 16};
    case 0x04:
        return DataPhase{DataDirection::ToDevice, (cdb[1] & 0x10) ? 12u : 0u};
    case 0x2A:
        return DataPhase{DataDirection::ToDevice, size_t(be16(cdb, 7)) * KBlock};
    case 0x55:
        return DataPhase{DataDirection::ToDevice, be16(cdb, 7)};
    case 0xB6:
        return DataPhase{DataDirection::ToDevice, be16(cdb, 9)};
    default:
        return std::nullopt;
    }
}

ScsiResult osError(int error)
{
    ScsiResult result;
    result.category = ResultCategory::OsError;
    result.osError = error;
    result.text = std::strerror(error);
    return result;
}

std::vector<uint8_t> isoImage(const std::string &label, uint32_t blocks)
{
    std::vector<uint8_t> image(18 * KBlock, 0);
    uint8_t *pvd = image.data() + 16 * KBlock;
    const auto both16 = [](uint8_t *at, uint16_t value) {
        at[0] = uint8_t(value);
        at[1] = uint8_t(value >> 8);
        at[2] = uint8_t(value >> 8);
        at[3] = uint8_t(value);
    };
    const auto both32 = [](uint8_t *at, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            at[i] = uint8_t(value >> (8 * i));
            at[7 - i] = uint8_t(value >> (8 * i));
        }
    };
    pvd[0] = 1;
    std::memcpy(pvd + 1, "CD001", 5);
    pvd[6] = 1;
    std::memset(pvd + 8, ' ', 32);
    std::memset(pvd + 40, ' ', 32);
    std::memcpy(pvd + 40, label.data(), std::min<size_t>(label.size(), 32));
    both32(pvd + 80, std::max<uint32_t>(blocks, 18));
    both16(pvd + 120, 1);
    both16(pvd + 124, 1);
    both16(pvd + 128, uint16_t(KBlock));
    // Root directory record: one block at 18, holding nothing.
    uint8_t *root = pvd + 156;
    root[0] = 34;
    both32(root + 2, 18);
    both32(root + 10, uint32_t(KBlock));
    root[25] = 0x02;
    both16(root + 28, 1);
    root[32] = 1;
    std::memset(pvd + 190, ' ', 623);
    for (size_t date : {813u, 830u, 847u, 864u}) {
        std::memset(pvd + date, '0', 16);
        pvd[date + 16] = 0;
    }
    pvd[881] = 1;
    uint8_t *terminator = image.data() + 17 * KBlock;
    terminator[0] = 255;
    std::memcpy(terminator + 1, "CD001", 5);
    terminator[6] = 1;
    return image;
}

bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

} // namespace

// ---------------------------------------------------------------------------

SimClock::SimClock(double factor) : FOrigin(std::chrono::steady_clock::now()), FFactor(factor) {}

double SimClock::now() const
{
    std::lock_guard lock(FMutex);
    const std::chrono::duration<double> real = std::chrono::steady_clock::now() - FOrigin;
    return FBase + real.count() * FFactor;
}

double SimClock::factor() const
{
    std::lock_guard lock(FMutex);
    return FFactor;
}

void SimClock::setFactor(double factor)
{
    std::lock_guard lock(FMutex);
    const auto now = std::chrono::steady_clock::now();
    FBase += std::chrono::duration<double>(now - FOrigin).count() * FFactor;
    FOrigin = now;
    FFactor = factor;
}

void SimClock::advance(double seconds)
{
    std::lock_guard lock(FMutex);
    FBase += seconds;
}

// ---------------------------------------------------------------------------

struct VirtualDrive::Job
{
    bool format = false;
    bool full = false;
    uint8_t formatType = 0;
    uint32_t blocks = 0;
    double start = 0;
    double duration = 0;
    double failAt = -1;
    Sense failSense;
};

struct VirtualDrive::Reply
{
    enum Kind
    {
        Good,
        Check,
        Os,
        Timeout
    } kind = Good;
    Sense sense;
    bool sksv = false;
    uint16_t progress = 0;
    int osError = 0;
    std::vector<uint8_t> data;
    bool waitForJob = false;

    static Reply check(Sense sense)
    {
        Reply reply;
        reply.kind = Check;
        reply.sense = sense;
        return reply;
    }
    static Reply timedOut()
    {
        Reply reply;
        reply.kind = Timeout;
        return reply;
    }
    static Reply with(std::vector<uint8_t> bytes)
    {
        Reply reply;
        reply.data = std::move(bytes);
        return reply;
    }
};

VirtualDrive::VirtualDrive(DriveSpec declared, std::shared_ptr<SimClock> clock, std::string node)
    : FSpec(std::move(declared)), FClock(std::move(clock)), FNode(std::move(node)),
      FStash(FNode + ".disc"), FDisc(FSpec.disc), FTrayOpen(FSpec.trayOpen)
{
    if (FDisc && isOverwritable(FDisc->profile))
        FBgStatus = FDisc->formatted ? 3 : 0;
}

VirtualDrive::~VirtualDrive() = default;

bool VirtualDrive::prepare(std::string &error)
{
    std::lock_guard lock(FMutex);
    if (!writeFile(FNode, {})) {
        error = "cannot create " + FNode + ": " + std::strerror(errno);
        return false;
    }
    if (!FDisc)
        return true;
    const std::string content = FTrayOpen ? FStash : FNode;
    if (!FDisc->image.empty()) {
        std::error_code copyError;
        fs::copy_file(FDisc->image, content, fs::copy_options::overwrite_existing, copyError);
        if (copyError) {
            error = "cannot read " + FDisc->image + ": " + copyError.message();
            return false;
        }
        const uint32_t imageBlocks = uint32_t((fs::file_size(content) + KBlock - 1) / KBlock);
        if (imageBlocks > FDisc->capacityBlocks) {
            error = FDisc->image + " is larger than the disc";
            return false;
        }
        FDisc->usedBlocks = std::max(FDisc->usedBlocks, imageBlocks);
    } else if (!FDisc->label.empty()) {
        FDisc->usedBlocks = std::max<uint32_t>(FDisc->usedBlocks, 18);
        writeFile(content, isoImage(FDisc->label, FDisc->usedBlocks));
    } else {
        writeFile(content, {});
    }
    return true;
}

unsigned VirtualDrive::attachHandle()
{
    std::lock_guard lock(FMutex);
    const unsigned handle = FNextHandle++;
    FHandles.insert(handle);
    return handle;
}

void VirtualDrive::detachHandle(unsigned handle)
{
    std::lock_guard lock(FMutex);
    FHandles.erase(handle);
    FLockHolders.erase(handle);
}

// ---------------------------------------------------------------------------
// Inspection and fault injection

transport::DeviceEntry VirtualDrive::entry() const
{
    transport::DeviceEntry entry;
    entry.systemNumber = FSpec.systemNumber;
    entry.host = FSpec.host;
    entry.channel = FSpec.channel;
    entry.target = FSpec.target;
    entry.lun = FSpec.lun;
    entry.node = FNode;
    return entry;
}

bool VirtualDrive::vanished() const
{
    std::lock_guard lock(FMutex);
    return FSpec.faults.vanishAfter >= 0 && FCommandCount >= unsigned(FSpec.faults.vanishAfter);
}

int VirtualDrive::openError() const
{
    std::lock_guard lock(FMutex);
    return FSpec.faults.openError;
}

TrayState VirtualDrive::trayState() const
{
    std::lock_guard lock(FMutex);
    return FTrayOpen ? TrayState::Open : TrayState::Closed;
}

bool VirtualDrive::locked() const
{
    std::lock_guard lock(FMutex);
    return !FLockHolders.empty();
}

uint16_t VirtualDrive::currentProfile() const
{
    std::lock_guard lock(FMutex);
    const_cast<VirtualDrive *>(this)->settle();
    return discPresent() ? FDisc->profile : 0;
}

uint16_t VirtualDrive::discProfile() const
{
    std::lock_guard lock(FMutex);
    const_cast<VirtualDrive *>(this)->settle();
    return FDisc ? FDisc->profile : 0;
}

int VirtualDrive::discStatus() const
{
    std::lock_guard lock(FMutex);
    const_cast<VirtualDrive *>(this)->settle();
    if (!FDisc)
        return -1;
    if (isOverwritable(FDisc->profile)) {
        if (!FDisc->formatted)
            return 0;
        return FDisc->profile == 0x12 || FDisc->profile == 0x43 ? 3 : 2;
    }
    return FDisc->state == DiscState::Blank ? 0 : FDisc->state == DiscState::Appendable ? 1 : 2;
}

bool VirtualDrive::discBlank() const
{
    return discStatus() == 0;
}

bool VirtualDrive::busy() const
{
    std::lock_guard lock(FMutex);
    const_cast<VirtualDrive *>(this)->settle();
    return FJob != nullptr;
}

unsigned VirtualDrive::currentReadSpeed() const
{
    std::lock_guard lock(FMutex);
    const SpeedSet *speeds = speedsForDisc();
    return speeds ? resolveSpeed(FRequestedRead, speeds->read) : 0;
}

unsigned VirtualDrive::currentWriteSpeed() const
{
    std::lock_guard lock(FMutex);
    const SpeedSet *speeds = speedsForDisc();
    return speeds ? resolveSpeed(FRequestedWrite, speeds->write) : 0;
}

int VirtualDrive::openHandles() const
{
    std::lock_guard lock(FMutex);
    return int(FHandles.size());
}

std::vector<LoggedCommand> VirtualDrive::commandLog() const
{
    std::lock_guard lock(FMutex);
    return FLog;
}

void VirtualDrive::clearCommandLog()
{
    std::lock_guard lock(FMutex);
    FLog.clear();
}

void VirtualDrive::injectSense(int opcode, Sense sense, InjectMode mode, unsigned after)
{
    std::lock_guard lock(FMutex);
    Injection injection;
    injection.opcode = opcode;
    injection.sense = sense;
    injection.mode = mode;
    injection.after = after;
    FSpec.faults.injections.push_back(injection);
}

void VirtualDrive::injectTimeout(int opcode, InjectMode mode, unsigned after)
{
    std::lock_guard lock(FMutex);
    Injection injection;
    injection.opcode = opcode;
    injection.timeout = true;
    injection.mode = mode;
    injection.after = after;
    FSpec.faults.injections.push_back(injection);
}

void VirtualDrive::setVanishAfter(int commands)
{
    std::lock_guard lock(FMutex);
    FSpec.faults.vanishAfter = commands < 0 ? -1 : int(FCommandCount) + commands;
}

void VirtualDrive::setOpenError(int osError)
{
    std::lock_guard lock(FMutex);
    FSpec.faults.openError = osError;
}

void VirtualDrive::setNotReady(bool notReady)
{
    std::lock_guard lock(FMutex);
    FSpec.faults.notReady = notReady;
}

void VirtualDrive::setBlankFailure(double atFraction, Sense sense)
{
    std::lock_guard lock(FMutex);
    FSpec.faults.blankFailsAt = atFraction;
    FSpec.faults.blankFailSense = sense;
}

// ---------------------------------------------------------------------------
// State helpers (FMutex held)

bool VirtualDrive::discPresent() const
{
    return FDisc.has_value() && !FTrayOpen;
}

const SpeedSet *VirtualDrive::speedsForDisc() const
{
    if (!discPresent())
        return nullptr;
    const auto found = FSpec.speeds.find(FDisc->profile);
    return found == FSpec.speeds.end() ? nullptr : &found->second;
}

unsigned VirtualDrive::resolveSpeed(unsigned requested, const std::vector<unsigned> &list) const
{
    if (list.empty())
        return 0;
    if (requested >= 0xFFFF)
        return list.back();
    if (FSpec.speedRule == SpeedRule::Nearest) {
        return *std::min_element(list.begin(), list.end(), [&](unsigned a, unsigned b) {
            return std::abs(int(a) - int(requested)) < std::abs(int(b) - int(requested));
        });
    }
    const auto above = std::upper_bound(list.begin(), list.end(), requested);
    return above == list.begin() ? list.front() : *(above - 1);
}

uint32_t VirtualDrive::readableBlocks() const
{
    if (!discPresent())
        return 0;
    if (isOverwritable(FDisc->profile))
        return FDisc->formatted ? FDisc->capacityBlocks : 0;
    return FDisc->usedBlocks;
}

double VirtualDrive::jobProgress() const
{
    if (!FJob)
        return 0;
    if (FJob->duration <= 0)
        return 1;
    return std::clamp((FClock->now() - FJob->start) / FJob->duration, 0.0, 1.0);
}

void VirtualDrive::settle()
{
    if (!FJob)
        return;
    const double progress = jobProgress();
    if (FJob->failAt >= 0 && progress >= FJob->failAt) {
        FDeferred = FJob->failSense;
        FJob.reset();
        return;
    }
    if (progress >= 1)
        finishJob();
}

void VirtualDrive::finishJob()
{
    const std::unique_ptr<Job> job = std::move(FJob);
    if (job->format)
        applyFormat(job->formatType, job->blocks);
    else
        applyBlank(job->full);
}

void VirtualDrive::syncBackingFile()
{
    // The node shows the disc only while it can be read: an open tray or an
    // empty drive reads as an empty file.
    std::error_code error;
    if (!FDisc)
        return;
    if (FTrayOpen && !fs::exists(FStash, error)) {
        fs::rename(FNode, FStash, error);
        writeFile(FNode, {});
    } else if (!FTrayOpen && fs::exists(FStash, error)) {
        fs::rename(FStash, FNode, error);
    }
}

void VirtualDrive::applyBlank(bool full)
{
    DiscSpec &disc = *FDisc;
    if (disc.profile == 0x13)
        disc.profile = 0x14;
    disc.state = DiscState::Blank;
    disc.usedBlocks = 0;
    disc.tracks = 0;
    disc.sessions = 0;
    disc.label.clear();
    FDaoOnly = disc.profile == 0x14 && !full;
    ::truncate(FNode.c_str(), 0);
}

void VirtualDrive::applyFormat(uint8_t type, uint32_t blocks)
{
    DiscSpec &disc = *FDisc;
    if (disc.profile == 0x14)
        disc.profile = 0x13;
    if (disc.profile == 0x43)
        disc.capacityBlocks =
            type == 0x31 ? 12219392u : (blocks > 0 && blocks < 12219392u ? blocks : 11826176u);
    disc.formatted = true;
    disc.state = DiscState::Complete;
    disc.usedBlocks = 0;
    disc.tracks = 1;
    disc.sessions = 1;
    disc.label.clear();
    FDaoOnly = false;
    FBgStatus = 3;
    ::truncate(FNode.c_str(), 0);
}

void VirtualDrive::waitForJob(std::unique_lock<std::mutex> &lock)
{
    while (FJob) {
        const double remaining = FJob->start + FJob->duration - FClock->now();
        const double factor = FClock->factor();
        // Frozen time never ends a blocking command: the drive's work simply
        // takes its simulated duration.
        if (factor <= 0) {
            FClock->advance(std::max(0.0, remaining));
            settle();
            continue;
        }
        const double realSeconds = remaining / factor;
        lock.unlock();
        std::this_thread::sleep_for(
            std::chrono::duration<double>(std::clamp(realSeconds, 0.001, 0.05)));
        lock.lock();
        settle();
    }
}

// ---------------------------------------------------------------------------
// Command execution

ScsiResult VirtualDrive::execute(unsigned handle, bool readOnly, const ScsiCommand &command)
{
    std::unique_lock lock(FMutex);
    LoggedCommand logged;
    logged.cdb.assign(command.cdb.begin(), command.cdb.end());
    logged.dataOut.assign(command.dataOut.begin(),
                          command.dataOut.begin() + std::min<size_t>(command.dataOut.size(), 4096));
    logged.simSeconds = FClock->now();
    // A demo runs for hours; keep the recent half when the log grows large.
    if (FLog.size() >= 65536)
        FLog.erase(FLog.begin(), FLog.begin() + 32768);
    FLog.push_back(std::move(logged));

    if (FSpec.faults.vanishAfter >= 0 && FCommandCount >= unsigned(FSpec.faults.vanishAfter))
        return osError(ENODEV);
    ++FCommandCount;
    if (command.cdb.empty())
        return osError(EINVAL);
    const uint8_t opcode = command.cdb[0];
    if (command.cdb.size() < cdbLength(opcode))
        return osError(EINVAL);

    // The kernel refuses a data phase that does not match the command.
    const std::optional<DataPhase> phase = dataPhase(command.cdb);
    const size_t bufferSize = command.direction == DataDirection::FromDevice ? command.dataIn.size()
                              : command.direction == DataDirection::ToDevice
                                  ? command.dataOut.size()
                                  : 0;
    if (phase) {
        if (phase->length == 0 && bufferSize > 0)
            return osError(EINVAL);
        if (phase->length > 0 && command.direction != phase->direction)
            return osError(EINVAL);
        if (phase->direction == DataDirection::ToDevice && bufferSize < phase->length)
            return osError(EINVAL);
    }
    if (readOnly && isWriteClass(opcode))
        return osError(EPERM);

    Reply reply;
    bool decided = false;
    for (Injection &injection : FSpec.faults.injections) {
        if (injection.spent || (injection.opcode >= 0 && injection.opcode != opcode))
            continue;
        if (++injection.seen <= injection.after)
            continue;
        if (injection.mode == InjectMode::Once)
            injection.spent = true;
        reply = injection.timeout ? Reply::timedOut() : Reply::check(injection.sense);
        decided = true;
        break;
    }

    if (!decided) {
        settle();
        const bool exemptFromAttention =
            opcode == 0x12 || opcode == 0x03 || opcode == 0x46 || opcode == 0x4A;
        const bool allowedWhileBusy =
            opcode == 0x00 || opcode == 0x03 || opcode == 0x12 || opcode == 0x4A || opcode == 0x1E;
        const bool needsReadyUnit =
            !(exemptFromAttention || opcode == 0x1E || opcode == 0x1B || opcode == 0xA4 ||
              opcode == 0x5A || opcode == 0xBB || opcode == 0xB6);
        if (FUnitAttention && !exemptFromAttention) {
            reply = Reply::check(*FUnitAttention);
            FUnitAttention.reset();
        } else if (FJob && !allowedWhileBusy) {
            reply = Reply::check(Sense{0x02, 0x04, uint8_t(FJob->format ? 0x04 : 0x07)});
        } else if (FSpec.faults.notReady && needsReadyUnit && opcode != 0x00) {
            reply = Reply::check(KNotReady);
        } else {
            reply = dispatch(handle, command);
            if (reply.waitForJob) {
                waitForJob(lock);
                if (FDeferred) {
                    reply = Reply::check(*FDeferred);
                    FDeferred.reset();
                }
            }
        }
    }

    const bool garbage = FSpec.faults.garbageAll || FSpec.faults.garbageOpcodes.contains(opcode);
    if (garbage && reply.kind == Reply::Good && !reply.data.empty()) {
        uint32_t state = 0x2545F491u ^ opcode;
        for (uint8_t &byte : reply.data) {
            state = state * 1664525u + 1013904223u;
            byte = uint8_t(state >> 24);
        }
    }

    ScsiResult result;
    switch (reply.kind) {
    case Reply::Good: {
        const size_t allocation = phase ? phase->length : 0;
        const size_t count = std::min({reply.data.size(), allocation, bufferSize});
        if (command.direction == DataDirection::FromDevice) {
            std::copy_n(reply.data.begin(), count, command.dataIn.begin());
            result.residual = bufferSize - count;
        }
        break;
    }
    case Reply::Check:
        result.category = ResultCategory::CheckCondition;
        result.status = 0x02;
        result.sense.assign(18, 0);
        result.sense[0] = 0x70;
        result.sense[2] = reply.sense.key;
        result.sense[7] = 10;
        result.sense[12] = reply.sense.asc;
        result.sense[13] = reply.sense.ascq;
        if (reply.sksv) {
            result.sense[15] = 0x80;
            result.sense[16] = uint8_t(reply.progress >> 8);
            result.sense[17] = uint8_t(reply.progress);
        }
        result.senseKey = reply.sense.key;
        result.asc = reply.sense.asc;
        result.ascq = reply.sense.ascq;
        result.text = transport::describeSense(reply.sense.key, reply.sense.asc, reply.sense.ascq);
        result.residual = bufferSize;
        break;
    case Reply::Os:
        return osError(reply.osError);
    case Reply::Timeout:
        result.category = ResultCategory::TransportError;
        result.hostStatus = 3;
        result.text = "Command timed out";
        result.residual = bufferSize;
        break;
    }

    const double factor = FClock->factor();
    const double latency = factor > 0 ? FSpec.timing.commandLatencyMs / factor : 0;
    lock.unlock();
    if (latency > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(latency));
    return result;
}

VirtualDrive::Reply VirtualDrive::dispatch(unsigned handle, const ScsiCommand &command)
{
    switch (command.cdb[0]) {
    case 0x00:
        return testUnitReady();
    case 0x03:
        return requestSense(command);
    case 0x04:
        return formatUnit(command);
    case 0x12:
        return inquiry(command);
    case 0x1B:
        return startStop(command);
    case 0x1E:
        return preventAllow(handle, command);
    case 0x23:
        return readFormatCapacities();
    case 0x25:
        return readCapacity();
    case 0x28:
        return read10(command);
    case 0x2A:
        return write10(command);
    case 0x35:
    case 0x55:
    case 0x5B:
        return discPresent() || command.cdb[0] == 0x55
                   ? Reply{}
                   : Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    case 0x43:
        return readToc(command);
    case 0x46:
        return getConfiguration(command);
    case 0x4A:
        return getEventStatus(command);
    case 0x51:
        return readDiscInformation();
    case 0x52:
        return readTrackInformation(command);
    case 0x5A:
        return modeSense(command);
    case 0xA1:
        return blank(command);
    case 0xA4:
        return reportKey(command);
    case 0xAC:
        return getPerformance(command);
    case 0xB6:
        return setStreaming(command);
    case 0xBB:
        return setCdSpeed(command);
    default:
        return Reply::check(KInvalidOpcode);
    }
}

VirtualDrive::Reply VirtualDrive::testUnitReady()
{
    if (FDeferred) {
        const Reply reply = Reply::check(*FDeferred);
        FDeferred.reset();
        return reply;
    }
    if (FJob) {
        Reply reply = Reply::check(Sense{0x02, 0x04, uint8_t(FJob->format ? 0x04 : 0x07)});
        reply.sksv = FSpec.faults.progress == ProgressReport::TestUnitReady;
        reply.progress = uint16_t(std::min(65535.0, jobProgress() * 65536));
        return reply;
    }
    if (FSpec.faults.notReady)
        return Reply::check(KNotReady);
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    return {};
}

VirtualDrive::Reply VirtualDrive::requestSense(const ScsiCommand &)
{
    Sense sense;
    bool sksv = false;
    uint16_t progress = 0;
    if (FUnitAttention) {
        sense = *FUnitAttention;
        FUnitAttention.reset();
    } else if (FDeferred) {
        sense = *FDeferred;
        FDeferred.reset();
    } else if (FJob) {
        sense = Sense{0x02, 0x04, uint8_t(FJob->format ? 0x04 : 0x07)};
        sksv = FSpec.faults.progress != ProgressReport::None;
        progress = uint16_t(std::min(65535.0, jobProgress() * 65536));
    } else if (FSpec.faults.notReady) {
        sense = KNotReady;
    } else if (!discPresent()) {
        sense = FTrayOpen ? KNoMediumOpen : KNoMediumClosed;
    }
    std::vector<uint8_t> data(18, 0);
    data[0] = 0x70;
    data[2] = sense.key;
    data[7] = 10;
    data[12] = sense.asc;
    data[13] = sense.ascq;
    if (sksv) {
        data[15] = 0x80;
        put16(data, 16, progress);
    }
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::inquiry(const ScsiCommand &command)
{
    if ((command.cdb[1] & 0x01) || command.cdb[2] != 0)
        return Reply::check(KInvalidField);
    std::vector<uint8_t> data(36, ' ');
    std::fill_n(data.begin(), 8, 0);
    data[0] = 0x05;
    data[1] = 0x80;
    data[3] = 0x02;
    data[4] = 31;
    std::copy(FSpec.vendor.begin(), FSpec.vendor.end(), data.begin() + 8);
    std::copy(FSpec.product.begin(), FSpec.product.end(), data.begin() + 16);
    std::copy(FSpec.revision.begin(), FSpec.revision.end(), data.begin() + 32);
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::getConfiguration(const ScsiCommand &command)
{
    const uint8_t rt = command.cdb[1] & 0x03;
    const uint16_t start = be16(command.cdb, 2);
    if (rt == 3)
        return Reply::check(KInvalidField);

    const uint16_t current = discPresent() ? FDisc->profile : 0;
    const auto has = [&](std::initializer_list<uint16_t> profiles) {
        return std::any_of(profiles.begin(), profiles.end(), [&](uint16_t p) {
            return std::binary_search(FSpec.profiles.begin(), FSpec.profiles.end(), p);
        });
    };
    const auto hasIf = [&](auto predicate) {
        return std::any_of(FSpec.profiles.begin(), FSpec.profiles.end(), predicate);
    };
    const auto loaded = [&](std::initializer_list<uint16_t> profiles) {
        return current != 0 &&
               std::find(profiles.begin(), profiles.end(), current) != profiles.end();
    };
    const bool writer =
        has({0x09, 0x0A, 0x11, 0x12, 0x13, 0x14, 0x15, 0x1A, 0x1B, 0x2A, 0x2B, 0x41, 0x42, 0x43});
    const bool formatted = discPresent() && FDisc->formatted;

    struct Feature
    {
        uint16_t code;
        uint8_t version;
        bool current;
        std::vector<uint8_t> payload;
    };
    std::vector<Feature> features;
    const auto add = [&](uint16_t code, uint8_t version, bool isCurrent, size_t size) {
        features.push_back(Feature{code, version, isCurrent, std::vector<uint8_t>(size, 0)});
        return &features.back().payload;
    };

    std::vector<uint8_t> *p = add(0x0000, 0, true, FSpec.profiles.size() * 4);
    size_t at = 0;
    for (auto it = FSpec.profiles.rbegin(); it != FSpec.profiles.rend(); ++it, at += 4) {
        put16(*p, at, *it);
        (*p)[at + 2] = *it == current ? 1 : 0;
    }
    p = add(0x0001, 2, true, 8);
    (*p)[3] = 0x02; // ATAPI
    (*p)[4] = 0x01;
    add(0x0002, 1, true, 4)->at(0) = 0x02;
    add(0x0003, 0, true, 4)->at(0) = 0x20 | 0x10 | 0x08 | 0x01;
    p = add(0x0010, 0, current != 0, 8);
    put32(*p, 0, KBlock);
    put16(*p, 4, isCd(current) ? 1 : isBd(current) ? 32 : 16);
    (*p)[6] = 1;
    if (hasIf(isCd)) {
        add(0x001D, 0, isCd(current), 0);
        add(0x001E, 2, isCd(current), 4);
    }
    if (hasIf(isDvd))
        add(0x001F, 1, isDvd(current), 4);
    if (has({0x12, 0x13, 0x1A, 0x2A, 0x43})) {
        p = add(0x0020, 0, loaded({0x12, 0x13, 0x1A, 0x2A, 0x43}) && formatted, 12);
        put32(*p, 0, discPresent() ? FDisc->capacityBlocks - 1 : 0);
        put32(*p, 4, KBlock);
        put16(*p, 8, 16);
        (*p)[10] = 1;
    }
    if (has({0x09, 0x0A, 0x11, 0x14})) {
        p = add(0x0021, 1, loaded({0x09, 0x0A, 0x11}) || (loaded({0x14}) && !FDaoOnly), 8);
        put16(*p, 0, 0x0001);
        (*p)[2] = 0x01;
        (*p)[3] = 1;
        (*p)[4] = isCd(current) ? 7 : 16;
    }
    if (has({0x12}))
        add(0x0022, 0, loaded({0x12}), 0);
    if (has({0x12, 0x13, 0x14, 0x1A, 0x2A, 0x43})) {
        p = add(0x0023, 0, loaded({0x12, 0x13, 0x14, 0x1A, 0x2A, 0x43}), 8);
        (*p)[0] = has({0x43}) ? 0x03 : 0x00;
    }
    if (has({0x12, 0x43}))
        add(0x0024, 0, loaded({0x12, 0x43}), 4)->at(0) = 0x80;
    if (has({0x13}))
        add(0x0026, 0, loaded({0x13}), 0);
    if (has({0x1A}))
        add(0x002A, 1, loaded({0x1A}), 4)->at(0) = 0x01;
    if (has({0x1B}))
        add(0x002B, 0, loaded({0x1B}), 4)->at(0) = 0x01;
    if (has({0x13, 0x14}))
        add(0x002C, 0, loaded({0x13}), 4)->at(0) = 0x07;
    if (has({0x09, 0x0A})) {
        p = add(0x002D, 2, loaded({0x09, 0x0A}), 4);
        (*p)[0] = uint8_t(0x40 | 0x04 | (has({0x0A}) ? 0x02 : 0));
        put16(*p, 2, 0xFFFF);
        p = add(0x002E, 1, loaded({0x09, 0x0A}), 4);
        (*p)[0] = uint8_t(0x40 | 0x20 | 0x04 | (has({0x0A}) ? 0x02 : 0));
        put24(*p, 1, 0x00FFFF);
    }
    if (has({0x11, 0x14}))
        add(0x002F, 1, loaded({0x11, 0x13, 0x14, 0x15}), 4)->at(0) =
            uint8_t(0x40 | 0x04 | (has({0x14}) ? 0x02 : 0) | (has({0x15}) ? 0x08 : 0));
    if (has({0x2A}))
        add(0x003A, 0, loaded({0x2A}), 4)->at(0) = 0x01;
    if (has({0x2B}))
        add(0x003B, 0, loaded({0x2B}), 4)->at(0) = 0x01;
    if (hasIf(isBd))
        add(0x0040, 0, isBd(current), 28);
    if (has({0x41, 0x42, 0x43}))
        add(0x0041, 0, loaded({0x41, 0x42, 0x43}), 20);
    if (hasIf(isDvd) && FSpec.region)
        add(0x0106, 0, isDvd(current), 4)->at(3) = 0x01;
    if (writer)
        add(0x0107, 3, true, 4)->at(0) = 0x1F;

    std::vector<uint8_t> data(8, 0);
    put16(data, 6, current);
    for (const Feature &feature : features) {
        if (FSpec.features && feature.code > 0x0001 && !FSpec.features->contains(feature.code))
            continue;
        if (rt == 2 ? feature.code != start : feature.code < start)
            continue;
        if (rt == 1 && !feature.current)
            continue;
        const size_t offset = data.size();
        data.resize(offset + 4 + feature.payload.size());
        put16(data, offset, feature.code);
        data[offset + 2] = uint8_t(feature.version << 2 | (feature.code <= 0x0003 ? 0x02 : 0) |
                                   (feature.current ? 0x01 : 0));
        data[offset + 3] = uint8_t(feature.payload.size());
        std::copy(feature.payload.begin(), feature.payload.end(), data.begin() + offset + 4);
    }
    put32(data, 0, uint32_t(data.size() - 4));
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::readDiscInformation()
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const DiscSpec &disc = *FDisc;
    const bool cd = isCd(disc.profile);
    const bool erasable = isBlankable(disc.profile) || isOverwritable(disc.profile);
    uint8_t status = 2, lastSession = 3;
    unsigned sessions = disc.sessions, firstInLast = disc.tracks, lastInLast = disc.tracks;
    if (isOverwritable(disc.profile)) {
        status = disc.formatted ? (disc.profile == 0x12 || disc.profile == 0x43 ? 3 : 2) : 0;
        lastSession = disc.formatted ? 3 : 0;
        sessions = firstInLast = lastInLast = 1;
    } else if (disc.state == DiscState::Blank) {
        status = 0;
        lastSession = 0;
        sessions = 0;
        firstInLast = lastInLast = 1;
    } else if (disc.state == DiscState::Appendable) {
        status = 1;
        lastSession = 0;
        sessions = disc.sessions + 1;
        firstInLast = lastInLast = disc.tracks + 1;
    }
    std::vector<uint8_t> data(34, 0);
    put16(data, 0, 32);
    data[2] = uint8_t((erasable ? 0x10 : 0) | lastSession << 2 | status);
    data[3] = 1;
    data[4] = uint8_t(sessions);
    data[5] = uint8_t(firstInLast);
    data[6] = uint8_t(lastInLast);
    data[9] = uint8_t(sessions >> 8);
    data[10] = uint8_t(firstInLast >> 8);
    data[11] = uint8_t(lastInLast >> 8);
    if (disc.profile == 0x1A || disc.profile == 0x2A)
        data[7] = FBgStatus & 0x03;
    if (status == 2 && !isOverwritable(disc.profile)) {
        put32(data, 16, 0xFFFFFFFF);
        put32(data, 20, 0xFFFFFFFF);
    } else if (cd) {
        putMsf(data, 17, disc.usedBlocks);
        putMsf(data, 21, disc.capacityBlocks);
    } else {
        put32(data, 16, disc.usedBlocks);
        put32(data, 20, disc.capacityBlocks);
    }
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::readTrackInformation(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const DiscSpec &disc = *FDisc;
    struct Track
    {
        uint32_t start, size, free;
        unsigned session;
        bool blank, open;
    };
    std::vector<Track> tracks;
    if (isOverwritable(disc.profile)) {
        tracks.push_back({0, disc.capacityBlocks, disc.capacityBlocks, 1, !disc.formatted, true});
    } else {
        for (unsigned i = 0; i < disc.tracks; ++i) {
            const uint32_t start = uint32_t(uint64_t(disc.usedBlocks) * i / disc.tracks);
            const uint32_t end = uint32_t(uint64_t(disc.usedBlocks) * (i + 1) / disc.tracks);
            tracks.push_back({start, end - start, 0,
                              std::min(disc.sessions, 1 + i * disc.sessions / disc.tracks), false,
                              false});
        }
        if (disc.state != DiscState::Complete) {
            const uint32_t free = disc.capacityBlocks - disc.usedBlocks;
            tracks.push_back({disc.usedBlocks, free, free, disc.sessions + 1, true, true});
        }
    }

    const uint32_t number = be32(command.cdb, 2);
    const Track *found = nullptr;
    unsigned trackNumber = 0;
    switch (command.cdb[1] & 0x03) {
    case 0: // LBA
        for (size_t i = 0; i < tracks.size(); ++i)
            if (number >= tracks[i].start &&
                number < tracks[i].start + std::max(1u, tracks[i].size))
                found = &tracks[i], trackNumber = unsigned(i + 1);
        break;
    case 1: // track number
        if (number == 0xFF) {
            if (!tracks.empty() && tracks.back().open)
                found = &tracks.back(), trackNumber = unsigned(tracks.size());
        } else if (number >= 1 && number <= tracks.size()) {
            found = &tracks[number - 1], trackNumber = number;
        }
        break;
    case 2: // session number: its last track
        for (size_t i = 0; i < tracks.size(); ++i)
            if (tracks[i].session == number)
                found = &tracks[i], trackNumber = unsigned(i + 1);
        break;
    default:
        break;
    }
    if (!found)
        return Reply::check(KInvalidField);

    std::vector<uint8_t> data(48, 0);
    put16(data, 0, 46);
    data[2] = uint8_t(trackNumber);
    data[3] = uint8_t(found->session);
    data[5] = found->blank ? 0x07 : 0x04;
    data[6] = uint8_t(found->blank ? 0x40 | 0x0F : 0x01);
    const bool writable = found->open && !(isOverwritable(disc.profile) && !disc.formatted);
    data[7] = uint8_t((writable ? 0x01 : 0) | (!found->blank ? 0x02 : 0));
    put32(data, 8, found->start);
    put32(data, 12, writable && !isOverwritable(disc.profile) ? found->start : 0);
    put32(data, 16, found->free);
    put32(data, 20, isCd(disc.profile) ? 0 : 16);
    put32(data, 24, found->size);
    put32(data, 28, found->size > 0 && !found->blank ? found->start + found->size - 1 : 0);
    data[32] = uint8_t(trackNumber >> 8);
    data[33] = uint8_t(found->session >> 8);
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::readToc(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const DiscSpec &disc = *FDisc;
    const bool msf = command.cdb[1] & 0x02;
    const uint8_t format = command.cdb[2] & 0x0F;
    const bool cd = isCd(disc.profile);

    if (format == 4) {
        if (disc.profile != 0x09 && disc.profile != 0x0A && disc.profile != 0x22)
            return Reply::check(KInvalidField);
        std::vector<uint8_t> data(28, 0);
        put16(data, 0, 26);
        data[4] = 0x51;
        data[6] = uint8_t(0x80 | (disc.profile == 0x09 ? 0 : 0x40));
        data[8] = 97, data[9] = 26, data[10] = 66;
        putMsf(data, 12, disc.capacityBlocks);
        return Reply::with(std::move(data));
    }

    // Recorded tracks; an overwritable disc shows one track spanning it.
    const bool overwritable = isOverwritable(disc.profile);
    const unsigned count = overwritable ? (disc.formatted ? 1 : 0) : disc.tracks;
    const uint32_t leadOut = overwritable ? disc.capacityBlocks : disc.usedBlocks;
    if (count == 0 || (!overwritable && disc.state == DiscState::Blank))
        return Reply::check(KInvalidField);
    const auto trackStart = [&](unsigned i) {
        return overwritable ? 0u : uint32_t(uint64_t(disc.usedBlocks) * i / count);
    };
    const auto putAddress = [&](std::vector<uint8_t> &out, size_t at, uint32_t lba) {
        if (msf)
            putMsf(out, at + 1, lba);
        else
            put32(out, at, lba);
    };

    std::vector<uint8_t> data(4, 0);
    if (format == 0 || format == 1) {
        data[2] = 1;
        data[3] = uint8_t(format == 0 ? count : std::max(1u, disc.sessions));
        const unsigned first = format == 1 ? count - 1 : 0;
        const uint8_t startTrack = command.cdb[6];
        for (unsigned i = first; i <= count; ++i) {
            const uint8_t trackNumber = i == count ? 0xAA : uint8_t(i + 1);
            if (format == 0 && startTrack != 0 && trackNumber < startTrack)
                continue;
            if (format == 1 && i == count)
                break;
            const size_t at = data.size();
            data.resize(at + 8, 0);
            data[at + 1] = 0x14;
            data[at + 2] = trackNumber;
            putAddress(data, at + 4, i == count ? leadOut : trackStart(i));
        }
    } else if (format == 2 && cd) {
        data[2] = 1;
        data[3] = uint8_t(std::max(1u, disc.sessions));
        const auto entry = [&](uint8_t point, uint8_t pmin, uint8_t psec, uint8_t pframe) {
            const size_t at = data.size();
            data.resize(at + 11, 0);
            data[at] = 1;
            data[at + 1] = 0x14;
            data[at + 3] = point;
            data[at + 8] = pmin, data[at + 9] = psec, data[at + 10] = pframe;
        };
        entry(0xA0, 1, 0x00, 0);
        entry(0xA1, uint8_t(count), 0, 0);
        std::vector<uint8_t> msfBytes(3);
        putMsf(msfBytes, 0, leadOut);
        entry(0xA2, msfBytes[0], msfBytes[1], msfBytes[2]);
        for (unsigned i = 0; i < count; ++i) {
            putMsf(msfBytes, 0, trackStart(i));
            entry(uint8_t(i + 1), msfBytes[0], msfBytes[1], msfBytes[2]);
        }
    } else {
        return Reply::check(KInvalidField);
    }
    put16(data, 0, unsigned(data.size() - 2));
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::readCapacity()
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    std::vector<uint8_t> data(8, 0);
    const uint32_t blocks = readableBlocks();
    put32(data, 0, blocks > 0 ? blocks - 1 : 0);
    put32(data, 4, KBlock);
    return Reply::with(std::move(data));
}

std::vector<uint8_t> VirtualDrive::formatList(uint8_t &currentType, uint32_t &currentBlocks) const
{
    const DiscSpec &disc = *FDisc;
    std::vector<uint8_t> list;
    const auto entry = [&](uint32_t blocks, uint8_t type, uint32_t parameter) {
        const size_t at = list.size();
        list.resize(at + 8, 0);
        put32(list, at, blocks);
        list[at + 4] = uint8_t(type << 2);
        put24(list, at + 5, parameter);
    };
    currentBlocks = disc.capacityBlocks;
    currentType = 2;
    switch (disc.profile) {
    case 0x1A:
    case 0x2A:
        currentType = disc.formatted ? 2 : 1;
        entry(disc.capacityBlocks, 0x26, 0);
        break;
    case 0x13:
    case 0x14:
        currentType = disc.profile == 0x13 ? 2 : 1;
        entry(disc.capacityBlocks, 0x00, KBlock);
        entry(disc.capacityBlocks, 0x10, 16);
        entry(disc.capacityBlocks, 0x15, 16);
        break;
    case 0x12:
        entry(disc.capacityBlocks, 0x00, KBlock);
        entry(disc.capacityBlocks, 0x01, KBlock);
        break;
    case 0x43:
        currentType = disc.formatted ? 2 : 1;
        if (!disc.formatted)
            currentBlocks = 12219392;
        entry(11826176, 0x00, 0x3000);
        entry(11826176, 0x30, 0x3000);
        entry(12219392, 0x31, KBlock);
        break;
    default:
        currentBlocks = readableBlocks() > 0 ? readableBlocks() : disc.capacityBlocks;
        break;
    }
    return list;
}

VirtualDrive::Reply VirtualDrive::readFormatCapacities()
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    uint8_t currentType = 0;
    uint32_t currentBlocks = 0;
    const std::vector<uint8_t> list = formatList(currentType, currentBlocks);
    std::vector<uint8_t> data(12, 0);
    data[3] = uint8_t(8 + list.size());
    put32(data, 4, currentBlocks);
    data[8] = currentType;
    put24(data, 9, KBlock);
    data.insert(data.end(), list.begin(), list.end());
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::modeSense(const ScsiCommand &command)
{
    const uint8_t page = command.cdb[2] & 0x3F;
    const uint8_t control = command.cdb[2] >> 6;
    if (page != 0x2A && page != 0x3F)
        return Reply::check(KInvalidField);
    if (control == 3)
        return Reply::check(Sense{0x05, 0x39, 0x00});

    const auto has = [&](uint16_t profile) {
        return std::binary_search(FSpec.profiles.begin(), FSpec.profiles.end(), profile);
    };
    const SpeedSet *loaded = speedsForDisc();
    std::vector<unsigned> writeSpeeds, readSpeeds;
    if (loaded) {
        writeSpeeds = loaded->write;
        readSpeeds = loaded->read;
    } else {
        for (const auto &[profile, set] : FSpec.speeds) {
            if (!set.write.empty() &&
                (writeSpeeds.empty() || set.write.back() > writeSpeeds.back()))
                writeSpeeds = {set.write.back()};
            if (!set.read.empty() && (readSpeeds.empty() || set.read.back() > readSpeeds.back()))
                readSpeeds = {set.read.back()};
        }
    }
    const auto cap16 = [](unsigned value) { return std::min(value, 0xFFFFu); };
    const unsigned maxWrite = writeSpeeds.empty() ? 0 : writeSpeeds.back();
    const unsigned maxRead = readSpeeds.empty() ? 0 : readSpeeds.back();
    const unsigned currentWrite = loaded ? resolveSpeed(FRequestedWrite, writeSpeeds) : maxWrite;
    const unsigned currentRead = loaded ? resolveSpeed(FRequestedRead, readSpeeds) : maxRead;

    const size_t k = writeSpeeds.size();
    std::vector<uint8_t> data(8 + 32 + 4 * k, 0);
    put16(data, 0, unsigned(data.size() - 2));
    uint8_t *pageBytes = data.data() + 8;
    pageBytes[0] = 0x2A;
    pageBytes[1] = uint8_t(30 + 4 * k);
    if (control != 1) {
        pageBytes[2] =
            uint8_t((has(0x08) || has(0x09) ? 0x01 : 0) | (has(0x0A) ? 0x02 : 0) | 0x04 |
                    (has(0x10) ? 0x08 : 0) | (has(0x11) ? 0x10 : 0) | (has(0x12) ? 0x20 : 0));
        pageBytes[3] = uint8_t((has(0x09) ? 0x01 : 0) | (has(0x0A) ? 0x02 : 0) |
                               (has(0x09) || has(0x11) ? 0x04 : 0) | (has(0x11) ? 0x10 : 0) |
                               (has(0x12) ? 0x20 : 0));
        pageBytes[4] = uint8_t((maxWrite > 0 ? 0x80 : 0) | 0x71);
        pageBytes[5] = 0x30;
        pageBytes[6] = uint8_t(0x20 | 0x08 | 0x01 | (FLockHolders.empty() ? 0 : 0x02));
        put16(data, 8 + 8, cap16(maxRead));
        put16(data, 8 + 10, 256);
        put16(data, 8 + 12, FSpec.bufferKiB);
        put16(data, 8 + 14, cap16(currentRead));
        put16(data, 8 + 18, cap16(maxWrite));
        put16(data, 8 + 20, cap16(currentWrite));
        put16(data, 8 + 28, cap16(currentWrite));
        put16(data, 8 + 30, unsigned(k));
        for (size_t i = 0; i < k; ++i)
            put16(data, 8 + 32 + 4 * i + 2, cap16(writeSpeeds[k - 1 - i]));
    }
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::getPerformance(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const uint8_t type = command.cdb[10];
    const SpeedSet *speeds = speedsForDisc();
    const std::vector<unsigned> none;
    const std::vector<unsigned> &write = speeds ? speeds->write : none;
    const std::vector<unsigned> &read = speeds ? speeds->read : none;
    const uint32_t lastLba = FDisc->capacityBlocks - 1;
    std::vector<uint8_t> data(8, 0);
    if (type == 0x03) {
        for (auto it = write.rbegin(); it != write.rend(); ++it) {
            const size_t at = data.size();
            data.resize(at + 16, 0);
            put32(data, at + 4, lastLba);
            put32(data, at + 8, read.empty() ? 0 : read.back());
            put32(data, at + 12, *it);
        }
    } else if (type == 0x00) {
        const bool writeData = command.cdb[1] & 0x04;
        const unsigned speed =
            writeData ? resolveSpeed(FRequestedWrite, write) : resolveSpeed(FRequestedRead, read);
        data[4] = writeData ? 0x02 : 0x00;
        data.resize(24, 0);
        put32(data, 8 + 4, speed);
        put32(data, 8 + 8, lastLba);
        put32(data, 8 + 12, speed);
    } else {
        return Reply::check(KInvalidField);
    }
    put32(data, 0, uint32_t(data.size() - 4));
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::setCdSpeed(const ScsiCommand &command)
{
    FRequestedRead = be16(command.cdb, 2);
    FRequestedWrite = be16(command.cdb, 4);
    return {};
}

VirtualDrive::Reply VirtualDrive::setStreaming(const ScsiCommand &command)
{
    if (command.cdb[8] != 0x00)
        return Reply::check(KInvalidField);
    const auto descriptor = command.dataOut;
    if (be16(command.cdb, 9) < 28)
        return Reply::check(KParameterLength);
    if (descriptor[0] & 0x04) { // RDD: back to the drive's defaults
        FRequestedRead = FRequestedWrite = 0xFFFF;
        return {};
    }
    const uint32_t readSize = be32(descriptor, 12), readTime = be32(descriptor, 16);
    const uint32_t writeSize = be32(descriptor, 20), writeTime = be32(descriptor, 24);
    if (readTime == 0 || writeTime == 0)
        return Reply::check(KInvalidParameter);
    FRequestedRead = unsigned(std::min<uint64_t>(uint64_t(readSize) * 1000 / readTime, 0xFFFF));
    FRequestedWrite = unsigned(std::min<uint64_t>(uint64_t(writeSize) * 1000 / writeTime, 0xFFFF));
    return {};
}

VirtualDrive::Reply VirtualDrive::preventAllow(unsigned handle, const ScsiCommand &command)
{
    const bool prevent = command.cdb[4] & 0x01;
    if (prevent && FSpec.faults.lockFails)
        return Reply::check(*FSpec.faults.lockFails);
    // One drive, one lock state: ALLOW from any handle unlocks; a handle that
    // locked and goes away takes its lock with it.
    if (prevent)
        FLockHolders.insert(handle);
    else
        FLockHolders.clear();
    return {};
}

VirtualDrive::Reply VirtualDrive::startStop(const ScsiCommand &command)
{
    const uint8_t byte4 = command.cdb[4];
    if ((byte4 >> 4) != 0 || !(byte4 & 0x02))
        return {};
    if (byte4 & 0x01) { // load
        if (FTrayOpen) {
            FTrayOpen = false;
            syncBackingFile();
            if (FDisc) {
                FUnitAttention = KMediumChanged;
                FNewMediaEvent = true;
            }
        }
        return {};
    }
    if (!FLockHolders.empty())
        return Reply::check(KRemovalPrevented);
    if (FSpec.faults.ejectFails)
        return Reply::check(*FSpec.faults.ejectFails);
    if (!FTrayOpen) {
        FTrayOpen = true;
        syncBackingFile();
    }
    return {};
}

VirtualDrive::Reply VirtualDrive::blank(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    if (FDisc->writeProtected)
        return Reply::check(KWriteProtected);
    if (!isBlankable(FDisc->profile))
        return Reply::check(FSpec.faults.blankRefused);
    const uint8_t type = command.cdb[1] & 0x07;
    if (type > 1)
        return Reply::check(KInvalidField);
    const bool immediate = command.cdb[1] & 0x10;
    auto job = std::make_unique<Job>();
    job->full = type == 0;
    job->start = FClock->now();
    if (job->full) {
        const unsigned speed = std::max(1u, resolveSpeed(FRequestedWrite, speedsForDisc()->write));
        job->duration = FSpec.timing.blankFullSeconds >= 0
                            ? FSpec.timing.blankFullSeconds
                            : double(FDisc->capacityBlocks) * KBlock / (speed * 1000.0) + 30;
    } else {
        job->duration = FSpec.timing.blankFastSeconds;
    }
    job->failAt = FSpec.faults.blankFailsAt;
    job->failSense = FSpec.faults.blankFailSense;
    FJob = std::move(job);
    settle();
    Reply reply;
    reply.waitForJob = !immediate;
    return reply;
}

VirtualDrive::Reply VirtualDrive::formatUnit(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    if (FDisc->writeProtected)
        return Reply::check(KWriteProtected);
    const bool withData = command.cdb[1] & 0x10;
    if (withData && (command.cdb[1] & 0x07) != 0x01)
        return Reply::check(KInvalidField);
    uint8_t currentType = 0;
    uint32_t currentBlocks = 0;
    const std::vector<uint8_t> list = formatList(currentType, currentBlocks);
    if (list.empty())
        return Reply::check(Sense{0x05, 0x30, 0x06});

    bool immediate = false, skipCertification = false;
    uint8_t type = uint8_t(list[4] >> 2), subtype = 0;
    uint32_t blocks = be32(list, 0);
    if (withData) {
        const auto parameters = command.dataOut;
        if (be16(parameters, 2) != 8)
            return Reply::check(KParameterLength);
        immediate = parameters[1] & 0x02;
        skipCertification = parameters[1] & 0x20;
        blocks = be32(parameters, 4);
        type = uint8_t(parameters[8] >> 2);
        subtype = parameters[8] & 0x03;
        bool listed = false;
        for (size_t at = 0; at < list.size(); at += 8) {
            if (uint8_t(list[at + 4] >> 2) == type &&
                (blocks <= be32(list, at) || blocks == 0xFFFFFFFF))
                listed = true;
        }
        if (!listed)
            return Reply::check(KInvalidParameter);
    }

    const uint16_t profile = FDisc->profile;
    const bool quick = type == 0x15 || type == 0x31 || (profile == 0x43 && type == 0x00) ||
                       (type == 0x30 && subtype != 2) || (profile == 0x12 && skipCertification);
    auto job = std::make_unique<Job>();
    job->format = true;
    job->formatType = type;
    job->blocks = blocks;
    job->start = FClock->now();
    if (quick) {
        job->duration = FSpec.timing.formatFastSeconds;
    } else {
        const SpeedSet *speeds = speedsForDisc();
        const unsigned speed =
            std::max(1u, speeds ? resolveSpeed(FRequestedWrite, speeds->write) : 1385u);
        job->duration = FSpec.timing.formatFullSeconds >= 0
                            ? FSpec.timing.formatFullSeconds
                            : double(FDisc->capacityBlocks) * KBlock / (speed * 1000.0) + 30;
    }
    FJob = std::move(job);
    settle();
    Reply reply;
    reply.waitForJob = !immediate;
    return reply;
}

VirtualDrive::Reply VirtualDrive::reportKey(const ScsiCommand &command)
{
    if (!FSpec.region)
        return Reply::check(KInvalidOpcode);
    if ((command.cdb[10] & 0x3F) != 0x08 || command.cdb[7] != 0)
        return Reply::check(KInvalidField);
    const RegionState &region = *FSpec.region;
    std::vector<uint8_t> data(8, 0);
    put16(data, 0, 6);
    data[4] =
        uint8_t(region.typeCode << 6 | (region.vendorResets & 7) << 3 | (region.userChanges & 7));
    data[5] = region.mask;
    data[6] = region.scheme;
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::write10(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    DiscSpec &disc = *FDisc;
    if (disc.writeProtected)
        return Reply::check(KWriteProtected);
    if (!isOverwritable(disc.profile))
        return Reply::check(disc.profile == 0x08 || disc.profile == 0x10 || disc.profile == 0x40
                                ? Sense{0x05, 0x30, 0x05}
                                : KInvalidAddress);
    const uint32_t lba = be32(command.cdb, 2);
    const uint32_t count = be16(command.cdb, 7);
    if (disc.profile == 0x13 && (lba % 16 != 0 || count % 16 != 0))
        return Reply::check(KInvalidAddress);
    if (uint64_t(lba) + count > disc.capacityBlocks)
        return Reply::check(KOutOfRange);
    if (count == 0)
        return {};
    // A first write to a virgin DVD+RW starts its background formatting.
    if (!disc.formatted) {
        disc.formatted = true;
        disc.state = DiscState::Complete;
        FBgStatus = 1;
    }
    const int fd = ::open(FNode.c_str(), O_WRONLY);
    if (fd < 0)
        return Reply::check(Sense{0x03, 0x0C, 0x00});
    const ssize_t written =
        ::pwrite(fd, command.dataOut.data(), size_t(count) * KBlock, off_t(lba) * off_t(KBlock));
    ::close(fd);
    if (written != ssize_t(size_t(count) * KBlock))
        return Reply::check(Sense{0x03, 0x0C, 0x00});
    disc.label.clear();
    return {};
}

VirtualDrive::Reply VirtualDrive::read10(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const uint32_t lba = be32(command.cdb, 2);
    const uint32_t count = be16(command.cdb, 7);
    if (uint64_t(lba) + count > readableBlocks())
        return Reply::check(KOutOfRange);
    std::vector<uint8_t> data(size_t(count) * KBlock, 0);
    const int fd = ::open(FNode.c_str(), O_RDONLY);
    if (fd >= 0) {
        const ssize_t got = ::pread(fd, data.data(), data.size(), off_t(lba) * off_t(KBlock));
        (void)got; // past the end of the file the disc reads as zeros
        ::close(fd);
    }
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::getEventStatus(const ScsiCommand &command)
{
    if (!(command.cdb[1] & 0x01))
        return Reply::check(KInvalidField);
    std::vector<uint8_t> data(4, 0);
    data[3] = 0x10;
    if (!(command.cdb[4] & 0x10)) {
        put16(data, 0, 2);
        data[2] = 0x80;
        return Reply::with(std::move(data));
    }
    data.resize(8, 0);
    put16(data, 0, 6);
    data[2] = 0x04;
    data[4] = FNewMediaEvent ? 0x02 : 0x00;
    FNewMediaEvent = false;
    data[5] = uint8_t((FTrayOpen ? 0x01 : 0) | (discPresent() ? 0x02 : 0));
    return Reply::with(std::move(data));
}

} // namespace blankora::virtualbay
