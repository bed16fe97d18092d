// The drive as an object: the simulated clock, loading the declared disc into
// its node file, handles, inspection and fault scripting.

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace blankora::virtualbay {

namespace fs = std::filesystem;

transport::ScsiResult osError(int error)
{
    transport::ScsiResult result;
    result.category = transport::ResultCategory::OsError;
    result.osError = error;
    result.text = std::strerror(error);
    return result;
}

bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

namespace {

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

} // namespace

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

VirtualDrive::VirtualDrive(DriveSpec declared, std::shared_ptr<SimClock> clock, std::string node)
    : FSpec(std::move(declared)), FClock(std::move(clock)), FNode(std::move(node)),
      FStash(FNode + ".disc"), FDisc(FSpec.disc), FTrayOpen(FSpec.trayOpen)
{
    if (FDisc && isOverwritable(FDisc->profile))
        FBgStatus = FDisc->partlyFormatted ? 1 : FDisc->formatted ? 3 : 0;
    if (FBgStatus == 1) {
        const auto speeds = FSpec.speeds.find(FDisc->profile);
        const unsigned speed = speeds == FSpec.speeds.end() || speeds->second.write.empty()
                                   ? 1385u
                                   : speeds->second.write.back();
        FBgTotal = FSpec.timing.formatFullSeconds >= 0
                       ? FSpec.timing.formatFullSeconds
                       : double(FDisc->capacityBlocks) * KBlock / (speed * 1000.0) + 30;
        FBgRemaining = FBgTotal / 2;
    }
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
    FReadyAt = FClock->now() + FSpec.faults.becomingReadySeconds;
    if (!FTrayOpen)
        FBusyOpens = FSpec.faults.busyAfterDiscChange;
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

int VirtualDrive::attachHandle(bool exclusive, unsigned &handle)
{
    std::lock_guard lock(FMutex);
    // The kernel refuses O_EXCL while a mounted file system or another
    // exclusive opener holds the block device.
    // After a disc change udev and UDisks2 probe the drive and hold it for a
    // moment (libburn sg-linux.c retries EBUSY for that).
    const bool mounted = !FSpec.mountPoint.empty() && discPresent();
    if (exclusive && FBusyOpens > 0) {
        --FBusyOpens;
        return EBUSY;
    }
    if (exclusive && (mounted || FExclusiveHolder != 0))
        return EBUSY;
    handle = FNextHandle++;
    FHandles.insert(handle);
    if (exclusive)
        FExclusiveHolder = handle;
    return 0;
}

void VirtualDrive::detachHandle(unsigned handle)
{
    std::lock_guard lock(FMutex);
    FHandles.erase(handle);
    FLockHolders.erase(handle);
    if (FExclusiveHolder == handle)
        FExclusiveHolder = 0;
}

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
    entry.vendor = FSpec.vendor;
    entry.product = FSpec.product;
    return entry;
}

bool VirtualDrive::vanished() const
{
    std::lock_guard lock(FMutex);
    const_cast<VirtualDrive *>(this)->settle();
    return gone();
}

bool VirtualDrive::gone() const
{
    return FGone ||
           (FSpec.faults.vanishAfter >= 0 && FCommandCount >= unsigned(FSpec.faults.vanishAfter));
}

int VirtualDrive::openError() const
{
    std::lock_guard lock(FMutex);
    const_cast<VirtualDrive *>(this)->settle();
    // The node of a drive that went away is gone: ENXIO or ENODEV.
    if (gone())
        return FSpec.faults.vanishAs.osError == ENXIO ? ENXIO : ENODEV;
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
        if (FDisc->profile == 0x13 && FIntermediate)
            return 1;
        return FDisc->profile == 0x12 || FDisc->profile == 0x43 ? 3 : 2;
    }
    return FDisc->state == DiscState::Blank ? 0 : FDisc->state == DiscState::Appendable ? 1 : 2;
}

int VirtualDrive::backgroundFormat() const
{
    std::lock_guard lock(FMutex);
    const_cast<VirtualDrive *>(this)->settle();
    return FDisc ? FBgStatus : -1;
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
} // namespace blankora::virtualbay
