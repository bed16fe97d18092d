#include "library/mmc/MmcErase.h"

#include "library/mmc/MmcProfiles.h"
#include "library/mmc/MmcSense.h"
#include "library/mmc/MmcText.h"
#include "library/transport/SenseText.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace blankora::mmc {

namespace {

constexpr uint32_t ZeroBlocks = 32; // 64 KiB: ISO 9660 and UDF recognition areas; one WRITE
constexpr uint64_t FastEstimateMs = 90000;
constexpr uint64_t SyncEstimateMs = 10000;

FormatRequest formatFrom(const FormatCapacities *formats, uint8_t type, uint32_t blocks,
                         uint32_t parameter)
{
    FormatRequest request;
    const FormatDescriptor *listed = formats ? formats->find(type) : nullptr;
    request.descriptor = listed ? *listed : FormatDescriptor{blocks, type, parameter};
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

bool isInProgress(const transport::ScsiResult &scsi)
{
    return scsi.category == transport::ResultCategory::CheckCondition &&
           isOperationInProgress(senseOf(scsi)) && !senseOf(scsi).deferred;
}

EraseResult done(EraseOutcome outcome = EraseOutcome::Erased)
{
    EraseResult r;
    r.outcome = outcome;
    r.ok = true;
    return r;
}

EraseResult failure(transport::ScsiResult scsi, std::string text,
                    EraseOutcome outcome = EraseOutcome::Failed)
{
    EraseResult r;
    r.outcome = outcome;
    r.text = std::move(text);
    r.scsi = std::move(scsi);
    return r;
}

// Runs the steps of an erase after the drive accepted it: polling until the
// drive is ready, the barrier after it, zero writes, the background format.
// Progress maps into [base, base + span] of ProgressTotal.
class Runner
{
public:
    Runner(ScsiTransport &transport, const EraseHooks &hooks, const std::atomic<bool> &cancel)
        : FTransport(transport), FHooks(hooks), FCancel(cancel),
          FStallLimitMs(hooks.stallLimitMs ? hooks.stallLimitMs : StallLimitMs)
    {}

    void report(uint32_t done)
    {
        done = std::min(done, ProgressTotal);
        if (FReportedAny && done <= FReported)
            return;
        FReported = done;
        FReportedAny = true;
        if (FHooks.progress)
            FHooks.progress(done, ProgressTotal);
    }

    // Polls with TEST UNIT READY until the drive is ready, then confirms the
    // end with the barrier (dvd+rw-tools transport.hxx, wait_for_unit and
    // pioneer_stop).
    EraseResult wait(uint64_t estimateMs, uint32_t base, uint32_t span)
    {
        startStep(estimateMs);
        sleep(FHooks.settleMs);
        for (;;) {
            if (FCancel.load())
                return cancelled();
            const auto tur = testUnitReady(FTransport);
            if (tur.ok)
                return barrier(base, span);
            if (!keepWaiting(tur, base, span))
                return FFailure;
            if (const auto stop = pause())
                return *stop;
        }
    }

    // After FORMAT 26h the drive is ready while it formats in the background:
    // READ DISC INFORMATION byte 7 says 2 until it is done.
    EraseResult waitBackground(uint64_t estimateMs, uint32_t base, uint32_t span)
    {
        startStep(estimateMs);
        for (;;) {
            if (FCancel.load())
                return cancelled();
            const auto disc = readDiscInformation(FTransport);
            if (disc && disc.value.bgFormatStatus != 2)
                return done();
            if (!disc && !isInProgress(disc.scsi))
                return failure(disc.scsi, disc.text);
            report(base + uint32_t(uint64_t(timeFraction()) * span / ProgressTotal));
            if (const auto stop = pause())
                return *stop;
        }
    }

    // Zeros over `blocks` blocks from LBA 0, one WRITE(10) of ZeroBlocks at a
    // time; a drive whose buffer is full answers 02/04/08 and gets the same
    // write again (libburn, mmc_write).
    EraseResult zero(uint32_t blocks, uint32_t base, uint32_t span)
    {
        static const std::vector<uint8_t> zeros(ZeroBlocks * BlockSize, 0);
        startStep(0);
        for (uint32_t lba = 0; lba < blocks;) {
            if (FCancel.load())
                return cancelled();
            const auto count = uint16_t(std::min(ZeroBlocks, blocks - lba));
            const auto written =
                write10(FTransport, lba, count, std::span(zeros).first(count * BlockSize));
            if (written) {
                lba += count;
                noteProgress(uint32_t(uint64_t(lba) * ProgressTotal / blocks));
                report(base + uint32_t(uint64_t(lba) * span / blocks));
                continue;
            }
            if (!isInProgress(written.scsi))
                return failure(written.scsi, written.text);
            if (const auto stop = pause())
                return *stop;
        }
        return done();
    }

private:
    void startStep(uint64_t estimateMs)
    {
        FEstimateMs = estimateMs;
        FStepMs = 0;
        FLastChangeMs = 0;
        FProgressKnown = false;
    }

    uint64_t sleep(unsigned ms)
    {
        if (FHooks.sleep)
            FHooks.sleep(ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        FStepMs += ms;
        return ms;
    }

    // The wait between two polls, or the end of the step when the drive has
    // shown no progress for too long or the caller cancelled.
    std::optional<EraseResult> pause()
    {
        const uint64_t limit =
            FProgressKnown ? FStallLimitMs : std::max<uint64_t>(FStallLimitMs, 3 * FEstimateMs);
        if (FStepMs - FLastChangeMs >= limit)
            return timedOut(limit);
        if (FCancel.load())
            return cancelled();
        sleep(std::max(FHooks.pollIntervalMs, MinimumPollMs));
        return std::nullopt;
    }

    void noteProgress(uint32_t value)
    {
        if (!FProgressKnown || value != FLastProgress)
            FLastChangeMs = FStepMs;
        FProgressKnown = true;
        FLastProgress = value;
    }

    // Time-based estimate that never claims completion.
    uint32_t timeFraction() const
    {
        const uint64_t estimate = FEstimateMs ? FStepMs * ProgressTotal / FEstimateMs : 0;
        return static_cast<uint32_t>(std::min<uint64_t>(estimate, ProgressTotal * 95 / 100));
    }

    static EraseResult cancelled()
    {
        EraseResult r;
        r.outcome = EraseOutcome::Cancelled;
        r.text = trText(QT_TRANSLATE_NOOP(
            "Mmc", "Erasing was cancelled. The drive may go on until the current operation "
                   "ends; wait until it is ready before using the disc."));
        return r;
    }

    static EraseResult timedOut(uint64_t limitMs)
    {
        EraseResult r;
        r.outcome = EraseOutcome::TimedOut;
        r.text = QCoreApplication::translate(
                     "Mmc", "The drive showed no progress for %1 minutes; it may still be "
                            "working. Leave the disc in the drive until the drive is ready, then "
                            "check the disc.")
                     .arg((limitMs + 59999) / 60000)
                     .toStdString();
        return r;
    }

    // Some drives answer TEST UNIT READY with GOOD while the job still runs
    // and give 02/04/07 to the next command: STOP UNIT (Immed) is repeated
    // until the drive accepts it. A deferred error it gets is the job's.
    EraseResult barrier(uint32_t base, uint32_t span)
    {
        for (;;) {
            const auto stop = startStopUnit(FTransport, StartStop::Stop, true);
            if (stop || stop.scsi.category != transport::ResultCategory::CheckCondition)
                return done();
            const SenseInfo sense = senseOf(stop.scsi);
            if (sense.deferred)
                return failure(stop.scsi, describeFailure(stop.scsi));
            if (!isOperationInProgress(sense))
                return done();
            if (sense.progressValid) {
                noteProgress(sense.progress);
                report(base + uint32_t(uint64_t(sense.progress) * span / ProgressTotal));
            }
            if (const auto end = pause())
                return *end;
        }
    }

    // One poll answer that is not "ready": decides whether to go on and
    // reports the progress it carries.
    bool keepWaiting(const MmcResult<SenseInfo> &tur, uint32_t base, uint32_t span)
    {
        using transport::ResultCategory;
        if (tur.scsi.category == ResultCategory::Status)
            return true; // BUSY: ask again later
        if (tur.scsi.category != ResultCategory::CheckCondition) {
            FFailure = failure(tur.scsi, tur.text);
            return false;
        }
        const SenseInfo &sense = tur.value;
        if (isMediumChangeOrReset(sense))
            return true; // a drive that keeps announcing its reset is asked again later
        if (isNoMedium(sense)) {
            FFailure = failure(
                tur.scsi,
                trText(QT_TRANSLATE_NOOP("Mmc", "The disc was removed or the tray was opened "
                                                "while it was being erased.")) +
                    ' ' + transport::describeSense(sense.senseKey, sense.asc, sense.ascq));
            return false;
        }
        if (sense.deferred || !isOperationInProgress(sense)) {
            FFailure = failure(tur.scsi, describeFailure(tur.scsi));
            return false;
        }
        uint32_t fraction = 0;
        bool known = false;
        if (sense.progressValid) {
            fraction = sense.progress;
            known = true;
        } else {
            // Some drives leave the progress out of the TUR sense.
            const auto rs = requestSense(FTransport);
            if (rs.ok &&
                (rs.value.deferred || rs.value.senseKey == 0x03 || rs.value.senseKey == 0x04)) {
                transport::ScsiResult scsi = rs.scsi;
                scsi.category = ResultCategory::CheckCondition;
                scsi.sense.clear();
                scsi.senseKey = rs.value.senseKey;
                scsi.asc = rs.value.asc;
                scsi.ascq = rs.value.ascq;
                scsi.text.clear();
                FFailure = failure(scsi, describeFailure(scsi));
                return false;
            }
            if (rs.ok && rs.value.progressValid) {
                fraction = rs.value.progress;
                known = true;
            }
        }
        if (known)
            noteProgress(fraction);
        else
            fraction = timeFraction();
        report(base + static_cast<uint32_t>(uint64_t(fraction) * span / ProgressTotal));
        return true;
    }

    ScsiTransport &FTransport;
    const EraseHooks &FHooks;
    const std::atomic<bool> &FCancel;
    const uint64_t FStallLimitMs;
    uint32_t FReported = 0;
    bool FReportedAny = false;
    uint64_t FEstimateMs = 0;
    uint64_t FStepMs = 0;       // waited in the current step
    uint64_t FLastChangeMs = 0; // FStepMs when the drive's progress last moved
    bool FProgressKnown = false;
    uint32_t FLastProgress = 0;
    EraseResult FFailure;
};

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
                    uint32_t writeKBps)
{
    if (plan.method == EraseMethod::BlankMinimal)
        return FastEstimateMs;
    const uint32_t speed = writeKBps ? writeKBps : unitSpeed(familyOf(profile));
    return capacityBytes(profile, formats) / std::max(speed, 1u) + 30000;
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
    for (uint8_t type : {uint8_t(0x15), uint8_t(0x10)}) {
        if (formats && formats->find(type))
            return planFormat(formatFrom(formats, type, 0, 0x10));
    }
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
                        : planFormat(formatFrom(formats, 0x26, 0xFFFFFFFF, 0),
                                     EraseMethod::FormatBackground);
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
    return failure(scsi, std::move(text), EraseOutcome::Refused);
}

uint8_t certificationOf(ScsiTransport &transport)
{
    const auto config = getConfiguration(transport, FeatureRequest::One, feature::Formattable);
    const Feature *formattable = config ? config.value.find(feature::Formattable) : nullptr;
    return formattable && !formattable->data.empty() ? formattable->data[0] : 0;
}

// Writes zeros, then flushes the drive's cache and waits for it.
EraseResult zeroAndSync(ScsiTransport &transport, Runner &runner, uint32_t blocks)
{
    if (blocks == 0) {
        const auto capacity = readCapacity(transport);
        if (!capacity)
            return failure(capacity.scsi, capacity.text);
        blocks = capacity.value.lastLba + 1;
    }
    const uint32_t written = ProgressTotal * 95 / 100;
    EraseResult outcome = runner.zero(blocks, 0, written);
    if (!outcome.ok)
        return outcome;
    const auto synced = synchronizeCache(transport, true);
    if (!synced)
        return failure(synced.scsi, synced.text);
    return runner.wait(SyncEstimateMs, written, ProgressTotal - written);
}

// FORMAT 26h on a virgin DVD+RW, then as dvd+rw-format: wait, let the
// background format finish, stop it and close the session, waiting after each.
EraseResult formatInBackground(ScsiTransport &transport, Runner &runner, uint64_t estimate)
{
    constexpr uint32_t foreground = ProgressTotal / 10, closing = ProgressTotal * 95 / 100;
    EraseResult outcome = runner.wait(estimate, 0, foreground);
    if (outcome.ok)
        outcome = runner.waitBackground(estimate, foreground, closing - foreground);
    for (CloseFunction function :
         {CloseFunction::StopBackgroundFormat, CloseFunction::CloseSession}) {
        if (!outcome.ok)
            return outcome;
        const auto closed = closeTrackSession(transport, function, true);
        if (!closed)
            return failure(closed.scsi, closed.text);
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
        return refused(current.scsi, current.text);
    const uint16_t profile = current.value;

    const auto disc = readDiscInformation(transport);
    MmcResult<FormatCapacities> formats;
    if (isOverwritable(profile) || profile == profile::DvdRwRestricted)
        formats = readFormatCapacities(transport);
    const ErasePlan plan =
        planErase(profile, kind, disc ? &disc.value : nullptr, formats ? &formats.value : nullptr,
                  profile == profile::BdRe ? certificationOf(transport) : 0);
    EraseResult outcome;
    if (plan.method == EraseMethod::Refuse) {
        outcome = refused({}, plan.text);
    } else {
        Runner runner(transport, hooks, cancel);
        runner.report(0);
        outcome = [&] {
            switch (plan.method) {
            case EraseMethod::AlreadyBlank:
                return done(EraseOutcome::AlreadyBlank);
            case EraseMethod::ZeroStart:
                return zeroAndSync(transport, runner, ZeroBlocks);
            case EraseMethod::ZeroFill:
                return zeroAndSync(transport, runner, plan.blocks);
            default:
                break;
            }
            const auto page = modeSenseCapabilities(transport);
            const uint64_t estimate = estimateMs(profile, plan, formats ? &formats.value : nullptr,
                                                 page ? page.value.currentWriteSpeed : 0);
            const bool format =
                plan.method == EraseMethod::Format || plan.method == EraseMethod::FormatBackground;
            const MmcStatus started =
                format ? formatUnit(transport, plan.format)
                       : blank(transport,
                               plan.method == EraseMethod::BlankMinimal ? BlankType::Minimal
                                                                        : BlankType::Full,
                               true);
            if (!started)
                return refused(started.scsi, started.text);
            if (plan.method == EraseMethod::FormatBackground)
                return formatInBackground(transport, runner, estimate);
            EraseResult waited = runner.wait(estimate, 0, ProgressTotal);
            // A cache flush after a format, before anything else is written.
            if (waited.ok && format && synchronizeCache(transport, true))
                waited = runner.wait(SyncEstimateMs, ProgressTotal, 0);
            return waited;
        }();
        if (outcome.ok)
            runner.report(ProgressTotal);
    }
    outcome.method = plan.method;
    outcome.profileBefore = profile;
    if (!outcome.ok)
        return outcome;
    const auto after = currentProfile(transport);
    const auto discAfter = readDiscInformation(transport);
    if (after && discAfter) {
        outcome.stateRead = true;
        outcome.profileAfter = after.value;
        outcome.discAfter = discAfter.value;
    }
    return outcome;
}

} // namespace blankora::mmc
