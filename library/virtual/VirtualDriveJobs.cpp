// The medium's state and the long jobs that change it: BLANK, FORMAT UNIT
// and what they leave behind.

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace blankora::virtualbay {

namespace fs = std::filesystem;
using transport::ScsiCommand;

// State helpers and jobs (FMutex held)

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

} // namespace blankora::virtualbay
