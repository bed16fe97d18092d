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
    const double own = std::clamp((FClock->now() - FJob->start) / FJob->duration, 0.0, 1.0);
    return FJob->progressFrom + (1 - FJob->progressFrom) * own;
}

// The last seconds of an Immed erase job in which a drive of this kind
// already answers TEST UNIT READY with GOOD.
bool VirtualDrive::earlyReady() const
{
    return FJob && FJob->immediate && FJob->erases() && FSpec.quirks.earlyReadySeconds > 0 &&
           FClock->now() >= FJob->end() - FSpec.quirks.earlyReadySeconds;
}

void VirtualDrive::settle()
{
    if (FBgStatus == 2 && FClock->now() >= FBgEnd)
        FBgStatus = 3;
    if (!FJob)
        return;
    const double progress = jobProgress();
    const double vanishAt = FJob->erases() ? FSpec.faults.vanishDuringJob : -1;
    if (vanishAt >= 0 && progress >= vanishAt && (FJob->failAt < 0 || vanishAt <= FJob->failAt)) {
        // Gone mid-job: the disc keeps whatever the drive had done to it.
        FGone = true;
        FJob.reset();
        return;
    }
    if (FJob->failAt >= 0 && progress >= FJob->failAt) {
        // With several initiators the deferred sense of an Immed job goes to
        // whichever asks first (dvd-rw.html: it is reported upon the next
        // command); a blocking command still gets its own failure.
        if (!FJob->immediate || !FSpec.quirks.deferredTakenElsewhere)
            FDeferred = FJob->failSense;
        if (FSpec.quirks.bridge)
            FBridgeNotReadyEnd = FClock->now() + FSpec.timing.bridgeNotReadySeconds;
        FJob.reset();
        return;
    }
    if (progress >= 1)
        finishJob();
}

void VirtualDrive::finishJob()
{
    const std::unique_ptr<Job> job = std::move(FJob);
    switch (job->kind) {
    case Job::Blank:
        applyBlank(job->full);
        break;
    case Job::Format:
        applyFormat(job->formatType, job->blocks);
        break;
    case Job::BackgroundStart:
        applyFormat(job->formatType, job->blocks);
        FBgTotal = FSpec.timing.formatFullSeconds >= 0 ? FSpec.timing.formatFullSeconds
                                                       : wholeDiscSeconds(false);
        FBgEnd = job->start + FBgTotal;
        FBgStatus = FBgEnd > FClock->now() ? 2 : 3;
        break;
    case Job::CloseSession: // the lead-out leaves the disc partly formatted
        break;
    case Job::FinishFormat:
        FBgStatus = 3;
        break;
    }
    if (job->erases() && FSpec.quirks.attentionAfterErase)
        FUnitAttention = FSpec.quirks.attentionAfterErase;
    if (job->erases() && FSpec.quirks.bridge)
        FBridgeNotReadyEnd = job->end() + FSpec.timing.bridgeNotReadySeconds;
}

void VirtualDrive::startBackground(double seconds)
{
    FBgStatus = 2;
    FBgEnd = FClock->now() + seconds;
    FBgTotal = std::max(FBgTotal, seconds);
}

void VirtualDrive::stopBackground()
{
    if (FBgStatus != 2)
        return;
    FBgRemaining = std::max(0.0, FBgEnd - FClock->now());
    FBgStatus = FBgRemaining > 0 ? 1 : 3;
}

double VirtualDrive::backgroundProgress() const
{
    if (FBgTotal <= 0)
        return FBgStatus == 3 ? 1 : 0;
    const double left = FBgStatus == 2 ? FBgEnd - FClock->now() : FBgRemaining;
    return std::clamp(1 - left / FBgTotal, 0.0, 1.0);
}

VirtualDrive::Reply VirtualDrive::startJob(std::unique_ptr<Job> job)
{
    job->start = FClock->now();
    job->failAt = job->kind == Job::Blank ? FSpec.faults.blankFailsAt : -1;
    job->failSense = FSpec.faults.blankFailSense;
    const bool immediate = job->immediate;
    FJob = std::move(job);
    settle();
    Reply reply;
    reply.waitForJob = !immediate;
    return reply;
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
    FIntermediate = false;
    FRecorded.clear();
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
    FRecorded.clear();
    // Quick formats leave a DVD-RW session open until CLOSE SESSION.
    FIntermediate = disc.profile == 0x13 && (type == 0x15 || type == 0x13);
    FBgStatus = 3;
    ::truncate(FNode.c_str(), 0);
}

// Blocks until the job ends, or until `deadline` (simulated seconds) passes
// first; false then.
bool VirtualDrive::waitForJob(std::unique_lock<std::mutex> &lock, double deadline)
{
    while (FJob) {
        const double now = FClock->now();
        if (now >= deadline)
            return false;
        const double remaining = std::min(FJob->end(), deadline) - now;
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
    return true;
}

// Time to go over the whole disc: at the selected write speed plus lead-in and
// lead-out, or, for certification and full blanks on a disc with a declared
// erase speed, at that speed where it is lower. CD speeds count 2352-byte
// sectors, as MMC does.
double VirtualDrive::wholeDiscSeconds(bool atEraseSpeed) const
{
    const SpeedSet *speeds = speedsForDisc();
    const unsigned write =
        std::max(1u, speeds ? resolveSpeed(FRequestedWrite, speeds->write) : 1385u);
    if (!atEraseSpeed || FDisc->eraseSpeedKBps == 0)
        return double(FDisc->capacityBlocks) * KBlock / (write * 1000.0) + 30;
    const unsigned speed = std::min(FDisc->eraseSpeedKBps, write);
    const double blockBytes = isCd(FDisc->profile) ? 2352 : double(KBlock);
    return double(FDisc->capacityBlocks) * blockBytes / (speed * 1000.0);
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
    auto job = std::make_unique<Job>();
    job->kind = Job::Blank;
    job->immediate = command.cdb[1] & 0x10;
    job->full = type == 0;
    if (job->full)
        job->duration = FSpec.timing.blankFullSeconds >= 0 ? FSpec.timing.blankFullSeconds
                                                           : wholeDiscSeconds(true);
    else
        job->duration = FSpec.timing.blankFastSeconds;
    return startJob(std::move(job));
}

} // namespace blankora::virtualbay
