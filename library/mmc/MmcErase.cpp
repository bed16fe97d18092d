#include "library/mmc/MmcErase.h"

#include "library/mmc/MmcEraseCheck.h"
#include "library/mmc/MmcEraseRunner.h"
#include "library/mmc/MmcFastErase.h"
#include "library/mmc/MmcMedia.h"
#include "library/mmc/MmcProfiles.h"
#include "library/mmc/MmcSense.h"
#include "library/mmc/MmcText.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <optional>

namespace blankora::mmc {

namespace {

constexpr uint64_t FastEstimateMs = 90000;
constexpr uint64_t SyncEstimateMs = 10000;
constexpr uint32_t RestartFormat = 0x000001; // FORMAT 26h descriptor byte 11 bit 0

FormatRequest formatFrom(const FormatCapacities *formats, uint8_t type, uint32_t blocks,
                         uint32_t parameter)
{
    FormatRequest request;
    const FormatDescriptor *listed = formats ? formats->find(type) : nullptr;
    request.descriptor = listed ? *listed : FormatDescriptor{blocks, type, parameter};
    return request;
}

// DVD+RW FORMAT 26h takes only the listed block count: bytes 9-11 of the
// listed descriptor hold the Restart bit (libburn mmc.c skips the copy for
// 26h; growisofs plus_rw_format copies only the block count).
FormatRequest plusRwFormat(const FormatCapacities *formats)
{
    FormatRequest request = formatFrom(formats, 0x26, 0xFFFFFFFF, 0);
    request.descriptor.parameter = 0;
    return request;
}

ErasePlan planFormat(FormatRequest request, EraseMethod method = EraseMethod::Format)
{
    ErasePlan plan;
    plan.method = method;
    plan.format = request;
    return plan;
}

ErasePlan planMethod(EraseMethod method)
{
    ErasePlan plan;
    plan.method = method;
    return plan;
}

ErasePlan planZeroFill(const FormatCapacities *formats)
{
    ErasePlan plan;
    plan.method = EraseMethod::ZeroFill;
    plan.blocks = formats ? formats->currentBlocks : 0; // 0: READ CAPACITY decides
    return plan;
}

// A DVD+RW whose background format stopped half-way (status 1) may take
// writes only inside its formatted part: the format is resumed first as
// growisofs plus_rw_restart_format does it (the listed 26h block count and
// the Restart bit), then the whole disc is overwritten.
ErasePlan planResumedZeroFill(const FormatCapacities *formats)
{
    ErasePlan plan = planZeroFill(formats);
    const FormatDescriptor *whole = formats ? formats->find(0x26) : nullptr;
    if (!whole)
        return plan;
    plan.resumeFormat = true;
    plan.format.descriptor = {whole->blocks, 0x26, RestartFormat};
    plan.blocks = whole->blocks;
    return plan;
}

uint64_t capacityBytes(uint16_t profile, const FormatCapacities *formats)
{
    if (formats && formats->currentBlocks)
        return uint64_t(formats->currentBlocks) * BlockSize;
    switch (familyOf(profile)) {
    case MediaFamily::Cd:
        return 360000ull * 2352;
    case MediaFamily::Bd:
        return 12219392ull * BlockSize;
    default:
        return 2295104ull * BlockSize;
    }
}

uint64_t estimateMs(uint16_t profile, const ErasePlan &plan, const FormatCapacities *formats,
                    uint32_t slowestKBps)
{
    if (plan.method == EraseMethod::BlankMinimal)
        return FastEstimateMs;
    return capacityBytes(profile, formats) / std::max(slowestKBps, 1u) + 30000;
}

bool unformatted(const DiscInfo *disc, const FormatCapacities *formats)
{
    if (formats)
        return formats->currentType == CapacityType::Unformatted;
    return disc && disc->discStatus == 0;
}

// Restricted-overwrite DVD-RW: a quick format keeps it overwritable, where a
// minimal BLANK would make it sequential and DAO-only (K3b, dvd+rw-format).
ErasePlan planRestrictedOverwrite(EraseKind kind, const FormatCapacities *formats)
{
    if (kind == EraseKind::Full)
        return planMethod(EraseMethod::BlankFull);
    // Without a format list the disc is still overwritable: zeros over its
    // start as for DVD+RW, never a BLANK that makes it sequential (dvd-rw.html).
    if (!formats)
        return planMethod(EraseMethod::ZeroStart);
    // dvd+rw-format.cpp: a quick format (15h) with a block count of 0 is
    // really quick; the disc then waits in an intermediate state for CLOSE
    // SESSION (libburn mmc.c).
    if (formats && formats->find(0x15)) {
        FormatRequest request = formatFrom(formats, 0x15, 0, 0x10);
        request.descriptor.blocks = 0;
        return planFormat(request);
    }
    if (formats && formats->find(0x10))
        return planFormat(formatFrom(formats, 0x10, 0, 0x10));
    return planMethod(EraseMethod::BlankMinimal);
}

// BD-RE: formatted discs are overwritten; an unformatted one is formatted,
// with the certification feature 0023h offers (libburn, mmc.c).
ErasePlan planBdRe(EraseKind kind, const FormatCapacities *formats, uint8_t certification)
{
    if (!unformatted(nullptr, formats))
        return kind == EraseKind::Fast ? planMethod(EraseMethod::ZeroStart) : planZeroFill(formats);
    const uint32_t blocks = formats ? formats->currentBlocks : 0;
    const bool certify = kind == EraseKind::Full && formats && formats->find(0x30) &&
                         (certification & (CertifyFull | CertifyQuick));
    FormatRequest request = formatFrom(formats, certify ? 0x30 : 0x00, blocks, BlockSize);
    if (certify)
        request.subType = (certification & CertifyFull) ? 0x02 : 0x03;
    request.formatOptionsValid = true;
    return planFormat(request);
}

} // namespace

ErasePlan planErase(uint16_t profile, EraseKind kind, const DiscInfo *disc,
                    const FormatCapacities *formats, uint8_t certification)
{
    const bool fast = kind == EraseKind::Fast;
    if (profile == profile::DvdRwRestricted)
        return planRestrictedOverwrite(kind, formats);
    if (isBlankable(profile))
        return planMethod(fast ? EraseMethod::BlankMinimal : EraseMethod::BlankFull);

    switch (profile) {
    case profile::DvdPlusRw:
    case profile::DvdPlusRwDl: {
        // A background format that was started counts as formatted.
        const bool virgin = (!disc || disc->bgFormatStatus == 0) && unformatted(disc, formats);
        if (virgin)
            return fast ? planMethod(EraseMethod::AlreadyBlank)
                        : planFormat(plusRwFormat(formats), EraseMethod::FormatBackground);
        if (!fast && disc && disc->bgFormatStatus == 1)
            return planResumedZeroFill(formats);
        return fast ? planMethod(EraseMethod::ZeroStart) : planZeroFill(formats);
    }
    case profile::DvdRam:
        if (formats && unformatted(disc, formats)) {
            FormatRequest request = formatFrom(formats, 0x00, formats->currentBlocks, BlockSize);
            request.formatOptionsValid = true;
            return planFormat(request);
        }
        return fast ? planMethod(EraseMethod::ZeroStart) : planZeroFill(formats);
    case profile::BdRe:
        return planBdRe(kind, formats, certification);
    default:
        break;
    }

    ErasePlan plan;
    if (profile == profile::None) {
        plan.text = trText(QT_TRANSLATE_NOOP("Mmc", "There is no disc in the drive."));
    } else {
        plan.text = QCoreApplication::translate(
                        "Mmc", "This disc (%1) cannot be erased: it is not a rewritable disc. "
                               "Insert a CD-RW, DVD-RW, DVD+RW, DVD-RAM or BD-RE.")
                        .arg(QString::fromLatin1(profileName(profile)))
                        .toStdString();
    }
    return plan;
}

namespace {

EraseResult refused(const transport::ScsiResult &scsi, std::string text)
{
    return eraseFailure(scsi, std::move(text), EraseOutcome::Refused);
}

// The whole disc at 1x: the last guard for a drive that says it is busy.
uint64_t guardMs(uint16_t profile, const FormatCapacities *formats)
{
    // A job's fixed part (lead-in, de-icing, the format's own set-up) does not
    // shrink with the disc: never less than 30 minutes.
    constexpr uint64_t floorMs = 30 * 60 * 1000;
    return std::max(floorMs, 3 * capacityBytes(profile, formats) /
                                 std::max(unitSpeed(familyOf(profile)), 1u));
}

// The slowest write speed the disc allows, for the estimate of a drive that
// shows no progress; 1x when the drive lists none.
uint32_t slowestKBps(ScsiTransport &transport, uint16_t profile)
{
    uint32_t slowest = 0;
    if (const auto speeds = getWriteSpeeds(transport)) {
        for (const WriteSpeedEntry &entry : speeds.value) {
            if (entry.writeSpeed && (!slowest || entry.writeSpeed < slowest))
                slowest = entry.writeSpeed;
        }
    }
    return slowest ? slowest : unitSpeed(familyOf(profile));
}

// How the zeros are finished after the cache flush.
enum class Finish
{
    Flush,            // DVD-RAM, BD-RE, restricted-overwrite DVD-RW
    PlusRw,           // DVD+RW
    PlusRwFormatting, // DVD+RW whose resumed background format runs
};

// Writes zeros, then flushes the drive's cache and waits for it. A DVD+RW is
// then finished as growisofs does it (plus_rw_finalize): a flush without
// Immed, then CLOSE TRACK/SESSION stop de-icing and close session, waiting
// after each. STOP UNIT and stop de-icing would stop a resumed background
// format: then the waits go without the barrier and the session is closed
// alone, which lets the drive finish the format first (plus_rw_finalize
// with -dvd-compat).
EraseResult zeroAndSync(ScsiTransport &transport, EraseRunner &runner,
                        const std::vector<BlockRange> &ranges, Finish finish)
{
    const uint32_t written = ProgressTotal * 95 / 100;
    const bool formatting = finish == Finish::PlusRwFormatting;
    EraseResult outcome = runner.zero(ranges, 0, written);
    if (!outcome.ok)
        return outcome;
    const auto synced = synchronizeCache(transport, true);
    if (!synced)
        return eraseFailure(synced.scsi, synced.text);
    outcome = runner.wait(SyncEstimateMs, written, ProgressTotal - written, !formatting);
    if (!outcome.ok || finish == Finish::Flush)
        return outcome;
    const auto flushed = synchronizeCache(transport, false);
    if (!flushed)
        return eraseFailure(flushed.scsi, flushed.text);
    const std::vector<CloseFunction> functions =
        formatting ? std::vector{CloseFunction::CloseSession}
                   : std::vector{CloseFunction::StopBackgroundFormat, CloseFunction::CloseSession};
    for (CloseFunction function : functions) {
        const auto closed = closeTrackSession(transport, function, true);
        if (!closed)
            return eraseFailure(closed.scsi, closed.text);
        outcome = runner.wait(SyncEstimateMs, written, ProgressTotal - written,
                              function == CloseFunction::CloseSession);
        if (!outcome.ok)
            return outcome;
    }
    return outcome;
}

// FORMAT 26h on a virgin DVD+RW, then as dvd+rw-format: wait for the unit
// (no STOP UNIT: it would stop the background format), let the background
// format finish, stop it and close the session, waiting after each.
EraseResult formatInBackground(ScsiTransport &transport, EraseRunner &runner, uint64_t estimate)
{
    constexpr uint32_t foreground = ProgressTotal / 10, closing = ProgressTotal * 95 / 100;
    EraseResult outcome = runner.wait(estimate, 0, foreground, false);
    if (outcome.ok)
        outcome = runner.waitBackground(estimate, foreground, closing - foreground);
    for (CloseFunction function :
         {CloseFunction::StopBackgroundFormat, CloseFunction::CloseSession}) {
        if (!outcome.ok)
            return outcome;
        const auto closed = closeTrackSession(transport, function, true);
        if (!closed)
            return eraseFailure(closed.scsi, closed.text);
        outcome = runner.wait(SyncEstimateMs, closing, ProgressTotal - closing);
    }
    return outcome;
}

} // namespace

EraseResult eraseDisc(ScsiTransport &transport, EraseKind kind, const EraseHooks &hooks,
                      const std::atomic<bool> &cancel)
{
    const auto current = currentProfile(transport);
    if (!current)
        return isDriveGone(current.scsi) ? driveGoneFailure(transport, current.scsi)
                                         : refused(current.scsi, current.text);
    const uint16_t profile = current.value;

    const auto disc = readDiscInformation(transport);
    MmcResult<FormatCapacities> formats;
    if (isOverwritable(profile) || profile == profile::DvdRwRestricted)
        formats = readFormatCapacities(transport);
    const FormatCapacities *listed = formats ? &formats.value : nullptr;
    const uint8_t certification = profile == profile::BdRe ? offeredCertification(transport) : 0;
    const ErasePlan plan =
        planErase(profile, kind, disc ? &disc.value : nullptr, listed, certification);
    EraseResult outcome;
    std::vector<BlockRange> zeroed, checked;
    if (plan.method == EraseMethod::Refuse) {
        outcome = refused({}, plan.text);
    } else {
        EraseRunner runner(transport, hooks, cancel, guardMs(profile, listed));
        runner.report(0);
        outcome = [&] {
            switch (plan.method) {
            case EraseMethod::AlreadyBlank:
                return eraseDone(EraseOutcome::AlreadyBlank);
            case EraseMethod::ZeroStart:
            case EraseMethod::ZeroFill: {
                uint32_t blocks = plan.method == EraseMethod::ZeroFill ? plan.blocks
                                  : listed                             ? listed->currentBlocks
                                                                       : 0;
                if (blocks == 0) {
                    const auto capacity = readCapacity(transport);
                    if (!capacity)
                        return eraseFailure(capacity.scsi, capacity.text);
                    blocks = capacity.value.lastLba + 1;
                }
                if (plan.method == EraseMethod::ZeroStart) {
                    zeroed = checked = fastEraseRanges(transport, blocks);
                } else {
                    zeroed = {{0, blocks}};
                    checked = fullEraseSample(blocks);
                }
                const bool plusRw =
                    profile == profile::DvdPlusRw || profile == profile::DvdPlusRwDl;
                if (plan.resumeFormat) {
                    const auto resumed = formatUnit(transport, plan.format);
                    if (!resumed)
                        return refused(resumed.scsi, resumed.text);
                    // growisofs waits for the unit; STOP UNIT would stop the format.
                    const EraseResult ready = runner.wait(SyncEstimateMs, 0, 0, false);
                    if (!ready.ok)
                        return ready;
                }
                return zeroAndSync(transport, runner, zeroed,
                                   plan.resumeFormat ? Finish::PlusRwFormatting
                                   : plusRw          ? Finish::PlusRw
                                                     : Finish::Flush);
            }
            default:
                break;
            }
            const uint64_t estimate =
                estimateMs(profile, plan, listed, slowestKBps(transport, profile));
            const bool format =
                plan.method == EraseMethod::Format || plan.method == EraseMethod::FormatBackground;
            if (format) {
                const auto accepted =
                    formatWithCertificationFallback(transport, plan.format, certification, listed);
                if (!accepted)
                    return refused(accepted.scsi, accepted.text);
            } else {
                const MmcStatus started = blank(
                    transport,
                    plan.method == EraseMethod::BlankMinimal ? BlankType::Minimal : BlankType::Full,
                    true);
                if (!started)
                    return refused(started.scsi, started.text);
            }
            if (plan.method == EraseMethod::FormatBackground)
                return formatInBackground(transport, runner, estimate);
            EraseResult waited = runner.wait(estimate, 0, ProgressTotal);
            if (waited.ok && plan.format.descriptor.type == 0x15) {
                const auto closed = closeTrackSession(transport, CloseFunction::CloseSession, true);
                if (!closed)
                    return eraseFailure(closed.scsi, closed.text);
                waited = runner.wait(SyncEstimateMs, ProgressTotal, 0);
            }
            // A cache flush after a format, before anything else is written.
            if (waited.ok && format && synchronizeCache(transport, true))
                waited = runner.wait(SyncEstimateMs, ProgressTotal, 0);
            return waited;
        }();
    }
    if (!outcome.ok && outcome.outcome != EraseOutcome::DriveGone &&
        (isDriveGone(outcome.scsi) || isLinkLost(outcome.scsi)))
        outcome = driveGoneFailure(transport, outcome.scsi);
    outcome.method = plan.method;
    outcome.profileBefore = profile;
    if (outcome.ok && outcome.outcome != EraseOutcome::AlreadyBlank)
        outcome = checkErased(transport, plan, checked, std::move(outcome));
    if (outcome.ok && hooks.progress)
        hooks.progress(ProgressTotal, ProgressTotal);
    return outcome;
}

} // namespace blankora::mmc
