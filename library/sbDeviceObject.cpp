#include "library/sbDeviceObject.h"

#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcErase.h"
#include "library/mmc/MmcMedia.h"
#include "library/mmc/MmcParsers.h"
#include "library/mmc/MmcProfiles.h"
#include "library/mmc/MmcSense.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace blankora::library {

namespace {

// Features read here that the command layer has no constant for.
constexpr uint16_t FeatureCdRead = 0x001E;
constexpr uint16_t FeatureDvdRead = 0x001F;
constexpr uint16_t FeatureBdRead = 0x0040;
constexpr uint16_t FeatureDvdPlusRDl = 0x003B;
// Poll interval while a blank runs: real drives are asked at most twice a second.
constexpr unsigned BlankPollMs = mmc::MinimumPollMs;

// The CDB of the last command this thread sent, for the failure block.
thread_local std::array<uint8_t, 16> GLastCdb{};
thread_local size_t GLastCdbLength = 0;

uint8_t featureByte(const mmc::Configuration &config, uint16_t code, size_t index = 0)
{
    const mmc::Feature *feature = config.find(code);
    if (feature == nullptr || feature->data.size() <= index)
        return 0;
    return feature->data[index];
}

void put16(uint8_t *at, uint32_t value)
{
    at[0] = uint8_t(value >> 8);
    at[1] = uint8_t(value);
}

void put32(uint8_t *at, uint32_t value)
{
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

} // namespace

transport::ScsiResult DeviceObject::GuardedTransport::execute(const transport::ScsiCommand &command)
{
    GLastCdbLength = std::min(command.cdb.size(), GLastCdb.size());
    std::copy_n(command.cdb.begin(), GLastCdbLength, GLastCdb.begin());
    std::lock_guard lock(FMutex);
    transport::ScsiResult result = FInner->execute(command);
    if (result.category == transport::ResultCategory::CheckCondition) {
        const mmc::SenseInfo sense = mmc::senseOf(result);
        if (sense.senseKey == 0x06 || mmc::isNoMedium(sense))
            discMayHaveChanged();
    }
    return result;
}

DeviceObject::DeviceObject(std::shared_ptr<ProviderAccess> provider,
                           std::unique_ptr<transport::ScsiTransport> transport, PCALLBACK callback,
                           void *context)
    : FProvider(std::move(provider)), FTransport(std::move(transport)), FCallback(callback),
      FContext(context)
{}

DeviceObject::~DeviceObject()
{
    // The tray lock belongs to the handle, as the kernel does for a closed node.
    if (FLocked.load() && !FDriveGone.load() && !stillErasing())
        mmc::preventAllowMediumRemoval(FTransport, false);
}

bool DeviceObject::stillErasing()
{
    if (!FDriveBusy.load())
        return false;
    // A unit attention is asked past; a drive that answers nothing sensible
    // may still be erasing, so it keeps the guard.
    mmc::MmcResult<mmc::SenseInfo> ready = mmc::testUnitReady(FTransport);
    for (int retry = 0; retry < 3 && !ready && mmc::isPassingOddity(ready.scsi); ++retry)
        ready = mmc::testUnitReady(FTransport);
    if (!ready &&
        (mmc::isOperationInProgress(mmc::senseOf(ready.scsi)) || mmc::isPassingOddity(ready.scsi)))
        return true;
    FDriveBusy.store(false);
    return false;
}

Outcome DeviceObject::busyFailure(const char *what) const
{
    return failure(EN_DEVICE_BUSY, "The drive " + node() +
                                       " still reports an erase in progress, so the disc cannot "
                                       "be " +
                                       what +
                                       " yet. Leave it in the drive and try again when the drive "
                                       "is ready.");
}

template <class T> Outcome DeviceObject::fail(const T &result, const char *command) const
{
    std::string text =
        result.text.empty() ? mmc::describeFailure(result.scsi, command) : result.text;
    return commandFailure(result.scsi, std::move(text),
                          std::span<const uint8_t>(GLastCdb.data(), GLastCdbLength));
}

uint16_t DeviceObject::profileOrZero()
{
    mmc::MmcResult<uint16_t> profile = mmc::currentProfile(FTransport);
    return profile ? profile.value : 0;
}

mmc::SpeedFacts &DeviceObject::speedFacts(uint16_t profile)
{
    const unsigned disc = FTransport.discChanges();
    if (disc != FSpeedDisc || profile != FSpeedProfile) {
        FSpeedFacts = {};
        FSpeedDisc = disc;
        FSpeedProfile = profile;
    }
    return FSpeedFacts;
}

// Linux's sr driver may take a unit attention before SG_IO sees it, so a
// caller's look at the disc also starts its speed facts afresh.
Outcome DeviceObject::testUnitReady()
{
    FTransport.discMayHaveChanged();
    mmc::MmcResult<mmc::SenseInfo> ready = mmc::testUnitReady(FTransport);
    return ready ? success() : fail(ready, "TEST UNIT READY");
}

DISC_TYPE DeviceObject::insertedDiscType()
{
    FTransport.discMayHaveChanged();
    mmc::MmcResult<mmc::SenseInfo> ready = mmc::testUnitReady(FTransport);
    const bool noMedium = !ready && mmc::isNoMedium(mmc::senseOf(ready.scsi));
    if (noMedium)
        return DISC_TYPE_NO_MEDIA;
    mmc::MmcResult<uint16_t> profile = mmc::currentProfile(FTransport);
    if (!profile || profile.value == mmc::profile::None)
        return DISC_TYPE_UNKNOWN;
    return mmc::discTypeForProfile(profile.value);
}

Outcome DeviceObject::getSpeeds(uint32_t &currentRead, uint32_t &maximumRead,
                                uint32_t &currentWrite, uint32_t &maximumWrite)
{
    std::lock_guard lock(FSpeedMutex);
    const uint16_t profile = profileOrZero();
    mmc::MmcResult<mmc::SpeedInfo> speeds =
        mmc::readSpeeds(FTransport, profile, &speedFacts(profile));
    if (!speeds)
        return fail(speeds, "MODE SENSE");
    currentRead = speeds.value.currentReadKBps;
    maximumRead = speeds.value.maxReadKBps;
    currentWrite = speeds.value.currentWriteKBps;
    maximumWrite = speeds.value.maxWriteKBps;
    return success();
}

Outcome DeviceObject::setSpeeds(uint32_t readSpeed, uint32_t writeSpeed)
{
    // 0 asks for the maximum as well: a drive that reports no current read
    // speed must not turn the next setting into a request for nothing.
    const auto requested = [](uint32_t speed) {
        return speed == 0 || speed >= STARBURN_SPEED_MAX ? uint32_t(mmc::SpeedMax) : speed;
    };
    if (FBlanking.load())
        return failure(EN_DEVICE_BUSY, "The drive is erasing a disc; change the speed when the "
                                       "erase has ended.");
    std::lock_guard lock(FSpeedMutex);
    const uint16_t profile = profileOrZero();
    mmc::MmcStatus set = mmc::setSpeeds(FTransport, profile, requested(readSpeed),
                                        requested(writeSpeed), &speedFacts(profile));
    if (set)
        return success();
    Outcome outcome = fail(set, "SET CD SPEED");
    // Many DVD and BD drives take no speed command at all and work at their
    // own speed: not a failure of the drive.
    if (mmc::isUnknownCommand(mmc::senseOf(set.scsi)))
        outcome.code = EN_NOT_SUPPORTED;
    return outcome;
}

Outcome DeviceObject::lock(bool prevent)
{
    if (FDriveGone.load())
        return failure(EN_NO_DEVICE, "The drive " + node() +
                                         " disappeared during the erase; nothing was sent to it.");
    if (!prevent && stillErasing())
        return busyFailure("released");
    mmc::MmcStatus status = mmc::preventAllowMediumRemoval(FTransport, prevent);
    if (!status)
        return fail(status, "PREVENT ALLOW MEDIUM REMOVAL");
    FLocked.store(prevent);
    return success();
}

Outcome DeviceObject::eject()
{
    if (FDriveGone.load())
        return failure(EN_NO_DEVICE, "The drive " + node() +
                                         " disappeared during the erase; nothing was sent to it.");
    if (FBlanking.load())
        return failure(EN_DEVICE_BUSY,
                       "The drive is erasing a disc; eject it when the erase has ended.");
    if (stillErasing())
        return busyFailure("ejected");
    FTransport.discMayHaveChanged();
    mmc::MmcStatus status = mmc::startStopUnit(FTransport, mmc::StartStop::Eject);
    return status ? success() : fail(status, "START STOP UNIT (eject)");
}

Outcome DeviceObject::blank(ERASE_TYPE eraseType)
{
    if (eraseType != ERASE_TYPE_BLANK_DISC_FULL && eraseType != ERASE_TYPE_BLANK_DISC_FAST)
        return failure(EN_INVALID_PARAMETER, "Unknown erase type " + std::to_string(eraseType) +
                                                 ": use 0 (full erase) or 1 (fast erase).");
    if (FBlanking.exchange(true))
        return failure(EN_DEVICE_BUSY, "An erase is already running on this device.");
    // A cancel counts from the moment it is made until this erase ends, so a
    // cancel that lands just before the erase starts is not lost.
    struct EndOfBlank
    {
        DeviceObject &object;
        ~EndOfBlank()
        {
            object.FCancel.store(false);
            object.FBlanking.store(false);
        }
    } endOfBlank{*this};

    if (FCancel.load())
        return failure(EN_CANCELLED, "The erase was cancelled before it started.");
    // The erase runs on a handle of its own opened with O_EXCL, which the
    // kernel refuses while the disc is mounted in any namespace or another
    // program holds the drive (libburn opens so); the shared handle keeps the tray lock.
    const std::string deviceNode = node();
    transport::OpenResult exclusive =
        FProvider->openNode(deviceNode, transport::OpenMode::Exclusive);
    std::string mountPoint = FProvider->mountPoint(deviceNode);
    // udev and UDisks2 probe a drive right after a disc change and hold it
    // for a moment: an EBUSY without a mount is tried again 3 times, 2 s
    // apart (libburn sg-linux.c).
    for (int retry = 0;
         retry < 3 && !exclusive.transport && exclusive.osError == EBUSY && mountPoint.empty();
         ++retry) {
        FProvider->sleep(2000);
        exclusive = FProvider->openNode(deviceNode, transport::OpenMode::Exclusive);
        mountPoint = FProvider->mountPoint(deviceNode);
    }
    if (!exclusive.transport && exclusive.osError != EBUSY)
        return failure(codeForOsError(exclusive.osError), exclusive.text,
                       uint32_t(exclusive.osError));
    if (!exclusive.transport || !mountPoint.empty())
        return failure(EN_DEVICE_BUSY,
                       "The drive " + deviceNode +
                           " is in use: another program or a mount holds it" +
                           (mountPoint.empty() ? std::string()
                                               : " (the disc is mounted at " + mountPoint + ")") +
                           ". Unmount the disc or close the other program, then erase it.",
                       EBUSY);
    GuardedTransport erasing(std::move(exclusive.transport));
    mmc::MmcResult<mmc::SenseInfo> ready = mmc::testUnitReady(erasing);
    if (!ready && mmc::isNoMedium(mmc::senseOf(ready.scsi)))
        return fail(ready, "TEST UNIT READY");

    uint32_t lastDone = UINT32_MAX;
    const auto report = [this, &lastDone](uint32_t done, uint32_t total) {
        if (FCallback == nullptr || total == 0 || done == lastDone)
            return;
        lastDone = done;
        uint64_t total64 = total;
        uint64_t done64 = std::min(done, total);
        FCallback(CN_CDVD_WRITE_PROGRESS, FContext, &total64, &done64);
    };
    mmc::EraseHooks hooks;
    hooks.sleep = [provider = FProvider](unsigned ms) { provider->sleep(ms); };
    // The end is noticed only at a poll, so the interval is the delay the user
    // sees after the drive has finished; TEST UNIT READY is answered from the
    // drive's state and costs it nothing.
    hooks.pollIntervalMs = BlankPollMs;
    hooks.progress = report;
    const mmc::EraseKind kind =
        eraseType == ERASE_TYPE_BLANK_DISC_FAST ? mmc::EraseKind::Fast : mmc::EraseKind::Full;
    mmc::EraseResult result = mmc::eraseDisc(erasing, kind, hooks, FCancel);
    FTransport.discMayHaveChanged();
    // Whatever ended the erase, the drive may still work on it: no eject or
    // release while it reports an operation in progress.
    FDriveGone.store(result.outcome == mmc::EraseOutcome::DriveGone);
    FDriveBusy.store(!result.ok && !FDriveGone.load() &&
                     result.outcome != mmc::EraseOutcome::Refused);
    // The erase returns as soon as an answer decides it, so the last command
    // sent on this thread is the one that got that answer; a refusal the
    // layer decides itself (a pressed disc) has no command.
    const std::span<const uint8_t> failedCdb =
        result.scsi.ok() ? std::span<const uint8_t>()
                         : std::span<const uint8_t>(GLastCdb.data(), GLastCdbLength);
    switch (result.outcome) {
    case mmc::EraseOutcome::Erased:
    case mmc::EraseOutcome::AlreadyBlank:
        report(mmc::ProgressTotal, mmc::ProgressTotal);
        return success();
    case mmc::EraseOutcome::Refused: {
        Outcome outcome = commandFailure(result.scsi, result.text, failedCdb);
        outcome.code = EN_NOT_SUPPORTED;
        return outcome;
    }
    case mmc::EraseOutcome::Cancelled:
        return failure(EN_CANCELLED, "The erase was cancelled; the drive may still be "
                                     "finishing it, so wait before using the disc.");
    case mmc::EraseOutcome::TimedOut:
        return failure(EN_TRANSPORT_FAILURE, result.text.empty()
                                                 ? std::string("The erase did not end in time.")
                                                 : result.text);
    case mmc::EraseOutcome::DriveGone:
        return failure(EN_NO_DEVICE, result.text, uint32_t(result.scsi.osError));
    case mmc::EraseOutcome::Failed:
        break;
    }
    Outcome outcome = commandFailure(result.scsi, result.text, failedCdb);
    if (outcome.code == EN_BAD_RESPONSE)
        outcome.code = EN_SCSI_FAILURE;
    return outcome;
}

Outcome DeviceObject::deviceInformation(Identity &identity)
{
    mmc::MmcResult<mmc::InquiryData> inquiry = mmc::inquiry(FTransport);
    if (!inquiry)
        return fail(inquiry, "INQUIRY");
    identity.vendor = inquiry.value.vendor;
    identity.product = inquiry.value.product;
    identity.revision = inquiry.value.revision;
    mmc::MmcResult<mmc::CapabilitiesPage> page = mmc::modeSenseCapabilities(FTransport);
    identity.bufferBytes = page ? uint32_t(page.value.bufferSizeKiB) * 1024u : 0;
    return success();
}

Outcome DeviceObject::mediaFormats(std::array<uint8_t, 10> &flags)
{
    flags.fill(0);
    mmc::MmcResult<mmc::Configuration> config = mmc::getConfiguration(FTransport);
    mmc::MmcResult<mmc::CapabilitiesPage> page = mmc::modeSenseCapabilities(FTransport);
    if (!config && !page)
        return fail(config, "GET CONFIGURATION");
    const mmc::Configuration &c = config.value;
    const uint8_t readBits = page ? page.value.readBits : 0;
    const uint8_t writeBits = page ? page.value.writeBits : 0;
    const auto profile = [&](uint16_t p) { return config && c.supportsProfile(p); };
    const uint8_t tao = featureByte(c, mmc::feature::CdTrackAtOnce);
    const uint8_t sao = featureByte(c, mmc::feature::CdMastering);
    const uint8_t dvdMinus = featureByte(c, mmc::feature::DvdMinusRWrite);
    flags[0] = profile(mmc::profile::CdR) || (readBits & 0x01);
    flags[1] = profile(mmc::profile::CdRw) || (readBits & 0x02);
    flags[2] = profile(mmc::profile::DvdRom) || (readBits & 0x08);
    flags[3] = profile(mmc::profile::DvdR) || (readBits & 0x10);
    flags[4] = profile(mmc::profile::DvdRam) || (readBits & 0x20);
    flags[5] = (writeBits & 0x04) || (tao & 0x04) || (sao & 0x04) || (dvdMinus & 0x04);
    flags[6] = (config && c.canWrite()) || writeBits != 0;
    flags[7] = (writeBits & 0x01) || c.has(mmc::feature::CdTrackAtOnce) ||
               c.has(mmc::feature::CdMastering);
    flags[8] = (writeBits & 0x02) || (tao & 0x02) || (sao & 0x02);
    flags[9] = (writeBits & 0x10) || c.has(mmc::feature::DvdMinusRWrite);
    return success();
}

Outcome DeviceObject::mediaFormatsExEx(std::array<uint8_t, 6> &flags)
{
    flags.fill(0);
    mmc::MmcResult<mmc::Configuration> config = mmc::getConfiguration(FTransport);
    if (!config)
        return fail(config, "GET CONFIGURATION");
    const mmc::Configuration &c = config.value;
    mmc::MmcResult<mmc::CapabilitiesPage> page = mmc::modeSenseCapabilities(FTransport);
    flags[0] = featureByte(c, mmc::feature::DvdPlusRw) & 0x01;
    flags[1] = featureByte(c, mmc::feature::DvdPlusR) & 0x01;
    flags[2] = featureByte(c, FeatureDvdPlusRDl) & 0x01;
    flags[3] = (page && (page.value.writeBits & 0x20)) ||
               (c.supportsProfile(mmc::profile::DvdRam) && c.has(mmc::feature::RandomWritable));
    flags[4] = c.has(FeatureBdRead);
    flags[5] = c.has(mmc::feature::BdWrite);
    return success();
}

Outcome DeviceObject::writeModes(std::array<uint8_t, 4> &modes)
{
    modes.fill(0);
    mmc::MmcResult<mmc::Configuration> config = mmc::getConfiguration(FTransport);
    if (!config)
        return fail(config, "GET CONFIGURATION");
    const mmc::Configuration &c = config.value;
    const uint8_t mastering = featureByte(c, mmc::feature::CdMastering);
    modes[0] = c.has(mmc::feature::CdTrackAtOnce);
    modes[1] = (mastering & 0x20) != 0;
    modes[2] = (mastering & 0x18) != 0;
    modes[3] = c.has(mmc::feature::IncrementalStreamingWritable);
    return success();
}

Outcome DeviceObject::readModes(std::array<uint8_t, 6> &modes)
{
    modes.fill(0);
    mmc::MmcResult<mmc::Configuration> config = mmc::getConfiguration(FTransport);
    if (!config)
        return fail(config, "GET CONFIGURATION");
    const mmc::Configuration &c = config.value;
    const uint8_t cdRead = featureByte(c, FeatureCdRead);
    modes[0] = c.has(FeatureCdRead);
    modes[1] = (cdRead & 0x80) != 0;
    modes[2] = (cdRead & 0x02) != 0;
    modes[3] = (cdRead & 0x01) != 0;
    modes[4] = c.has(FeatureDvdRead);
    modes[5] = c.has(FeatureBdRead);
    return success();
}

Outcome DeviceObject::discInformation(STARBURN_DISC_INFORMATION &record)
{
    record = STARBURN_DISC_INFORMATION{};
    mmc::MmcResult<mmc::DiscInfo> info = mmc::readDiscInformation(FTransport);
    if (!info)
        return fail(info, "READ DISC INFORMATION");
    const uint16_t profile = profileOrZero();
    const mmc::DiscInfo &d = info.value;
    const bool cd = mmc::isCdProfile(profile);
    const auto address = [cd](uint32_t field) {
        return cd ? uint32_t(mmc::msfFieldToLba(field)) : field;
    };
    uint8_t *b = record.Bytes;
    b[0] = 1;
    b[1] = d.discStatus;
    b[2] = d.lastSessionState;
    b[3] = d.erasable ? 1 : 0;
    b[4] = profile == mmc::profile::None ? DISC_TYPE(DISC_TYPE_UNKNOWN)
                                         : mmc::discTypeForProfile(profile);
    put16(b + 5, profile);
    b[7] = d.firstTrack;
    put16(b + 8, d.sessions);
    put16(b + 10, d.firstTrackInLastSession);
    put16(b + 12, d.lastTrackInLastSession);
    b[14] = d.bgFormatStatus;
    b[15] = d.discType;
    b[16] = d.unrestrictedUse ? 1 : 0;
    put32(b + 20, address(d.lastSessionLeadIn));
    put32(b + 24, address(d.lastPossibleLeadOut));
    return success();
}

Outcome DeviceObject::trackInformation(uint32_t trackNumber, STARBURN_TRACK_INFORMATION &record)
{
    record = STARBURN_TRACK_INFORMATION{};
    mmc::MmcResult<mmc::TrackInfo> info =
        mmc::readTrackInformation(FTransport, mmc::TrackAddress::Track, trackNumber);
    if (!info)
        return fail(info, "READ TRACK INFORMATION");
    const mmc::TrackInfo &t = info.value;
    uint8_t *b = record.Bytes;
    b[0] = 1;
    put16(b + 1, t.track);
    put16(b + 3, t.session);
    b[5] = t.trackMode;
    b[6] = t.dataMode;
    b[7] = uint8_t((t.blank ? 0x01 : 0) | (t.packet ? 0x02 : 0) | (t.fixedPacket ? 0x04 : 0) |
                   (t.damage ? 0x08 : 0) | (t.nwaValid ? 0x10 : 0) | (t.lraValid ? 0x20 : 0) |
                   (t.reserved ? 0x40 : 0) | (t.copy ? 0x80 : 0));
    put32(b + 8, t.start);
    put32(b + 12, t.nextWritable);
    put32(b + 16, t.freeBlocks);
    put32(b + 20, t.size);
    put32(b + 24, t.lastRecorded);
    return success();
}

Outcome DeviceObject::tocInformation(bool fast, STARBURN_TOC_INFORMATION &record)
{
    record = STARBURN_TOC_INFORMATION{};
    mmc::MmcResult<mmc::Toc> toc = mmc::readToc(FTransport);
    if (!toc)
        return fail(toc, "READ TOC");
    // The slow way also learns each track's session from the full TOC.
    std::array<uint8_t, 256> sessions{};
    if (!fast) {
        mmc::MmcResult<mmc::FullToc> full = mmc::readFullToc(FTransport);
        if (full) {
            for (const mmc::FullTocEntry &entry : full.value.entries) {
                if (entry.point >= 1 && entry.point <= 99)
                    sessions[entry.point] = entry.session;
            }
        }
    }
    constexpr size_t header = 4, entrySize = 8;
    const size_t capacity = (sizeof(record.Bytes) - header) / entrySize;
    const size_t count = std::min({toc.value.entries.size(), capacity, size_t(255)});
    uint8_t *b = record.Bytes;
    b[0] = 1;
    b[1] = toc.value.firstTrack;
    b[2] = toc.value.lastTrack;
    b[3] = uint8_t(count);
    for (size_t i = 0; i < count; ++i) {
        const mmc::TocEntry &entry = toc.value.entries[i];
        uint8_t *e = b + header + i * entrySize;
        e[0] = entry.track;
        e[1] = entry.adrControl;
        e[2] = sessions[entry.track];
        put32(e + 4, entry.address);
    }
    return success();
}

Outcome DeviceObject::rpc(std::array<uint8_t, 5> &values)
{
    values.fill(0);
    mmc::MmcResult<mmc::RpcState> state = mmc::reportRpcState(FTransport);
    if (!state)
        return fail(state, "REPORT KEY");
    values = {state.value.typeCode, state.value.vendorResets, state.value.userChanges,
              state.value.regionMask, state.value.rpcScheme};
    return success();
}

Outcome DeviceObject::discSpace(uint64_t &usedBytes, uint64_t &freeBytes)
{
    usedBytes = 0;
    freeBytes = 0;
    mmc::MmcResult<mmc::SenseInfo> ready = mmc::testUnitReady(FTransport);
    if (!ready && mmc::isNoMedium(mmc::senseOf(ready.scsi)))
        return fail(ready, "TEST UNIT READY");
    const uint16_t profile = profileOrZero();
    mmc::MmcResult<mmc::DiscSpace> space = mmc::readDiscSpace(FTransport, profile);
    if (!space)
        return fail(space, "READ DISC SPACE");
    usedBytes = space.value.usedBytes;
    freeBytes = space.value.freeBytes;
    return success();
}

} // namespace blankora::library
