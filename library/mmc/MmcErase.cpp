#include "library/mmc/MmcErase.h"

#include "library/mmc/MmcProfiles.h"
#include "library/mmc/MmcSense.h"
#include "library/mmc/MmcText.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <chrono>
#include <thread>

namespace blankora::mmc {

namespace {

constexpr uint32_t ZeroBlocks = 32; // 64 KiB: ISO 9660 and UDF recognition areas
constexpr uint64_t FastEstimateMs = 90000;
constexpr uint64_t SyncEstimateMs = 10000;
constexpr uint64_t MinimumCapMs = 600000;
constexpr unsigned MinimumPollMs = 10; // a zero interval must still end at the cap

FormatRequest formatFrom(const FormatCapacities *formats, uint8_t type, uint32_t blocks,
                         uint32_t parameter)
{
    FormatRequest request;
    const FormatDescriptor *listed = formats ? formats->find(type) : nullptr;
    request.descriptor = listed ? *listed : FormatDescriptor{blocks, type, parameter};
    return request;
}

ErasePlan planFormat(FormatRequest request)
{
    ErasePlan plan;
    plan.method = EraseMethod::Format;
    plan.format = request;
    return plan;
}

ErasePlan planMethod(EraseMethod method)
{
    ErasePlan plan;
    plan.method = method;
    return plan;
}

// Runs `command` again while the drive reports a disc change or reset: the
// first command after an erase often gets 06/28/00.
template <class F> auto retryAttention(F command)
{
    auto result = command();
    for (int i = 0;
         i < 2 && !result.ok && result.scsi.category == transport::ResultCategory::CheckCondition &&
         isMediumChangeOrReset(senseOf(result.scsi));
         ++i)
        result = command();
    return result;
}

// Polls the drive after an Immed command until it is ready, fails, the cap
// is reached or the caller cancels. Progress maps into [base, base + span].
class DriveWaiter
{
public:
    DriveWaiter(ScsiTransport &transport, const EraseHooks &hooks, const std::atomic<bool> &cancel)
        : FTransport(transport), FHooks(hooks), FCancel(cancel)
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

    EraseResult wait(uint64_t estimateMs, uint32_t base, uint32_t span)
    {
        const uint64_t capMs =
            FHooks.maxWaitMs ? FHooks.maxWaitMs : std::max<uint64_t>(MinimumCapMs, 3 * estimateMs);
        uint64_t waitedMs = sleep(FHooks.settleMs);
        for (;;) {
            if (FCancel.load())
                return cancelled();
            const auto tur = testUnitReady(FTransport);
            if (tur.ok)
                return done();
            if (!keepWaiting(tur, estimateMs, waitedMs, base, span, FFailure))
                return FFailure;
            if (waitedMs >= capMs)
                return timedOut(capMs);
            if (FCancel.load())
                return cancelled();
            waitedMs += sleep(std::max(FHooks.pollIntervalMs, MinimumPollMs));
        }
    }

private:
    uint64_t sleep(unsigned ms)
    {
        if (FHooks.sleep)
            FHooks.sleep(ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return ms;
    }

    static EraseResult done()
    {
        EraseResult r;
        r.outcome = EraseOutcome::Erased;
        r.ok = true;
        return r;
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

    static EraseResult timedOut(uint64_t capMs)
    {
        EraseResult r;
        r.outcome = EraseOutcome::TimedOut;
        r.text = QCoreApplication::translate(
                     "Mmc", "The drive did not finish erasing within %1 minutes; it may still be "
                            "working. Wait, then check the disc.")
                     .arg((capMs + 59999) / 60000)
                     .toStdString();
        return r;
    }

    static EraseResult failure(transport::ScsiResult scsi, std::string text)
    {
        EraseResult r;
        r.outcome = EraseOutcome::Failed;
        r.text = std::move(text);
        r.scsi = std::move(scsi);
        return r;
    }

    // One poll answer that is not "ready": decides whether to go on and
    // reports the progress it carries.
    bool keepWaiting(const MmcResult<SenseInfo> &tur, uint64_t estimateMs, uint64_t waitedMs,
                     uint32_t base, uint32_t span, EraseResult &failed)
    {
        using transport::ResultCategory;
        if (tur.scsi.category == ResultCategory::Status)
            return true; // BUSY: ask again later
        if (tur.scsi.category != ResultCategory::CheckCondition) {
            failed = failure(tur.scsi, tur.text);
            return false;
        }
        const SenseInfo &sense = tur.value;
        if (isMediumChangeOrReset(sense))
            return true;
        if (isNoMedium(sense)) {
            failed = failure(
                tur.scsi,
                trText(QT_TRANSLATE_NOOP("Mmc", "The disc was removed or the tray was opened "
                                                "while it was being erased.")) +
                    ' ' + senseTriple(sense.senseKey, sense.asc, sense.ascq));
            return false;
        }
        const bool running =
            !sense.deferred && (isOperationInProgress(sense) || sense.senseKey == 0x00);
        if (!running) {
            failed = failure(tur.scsi, describeFailure(tur.scsi));
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
                failed = failure(scsi, describeFailure(scsi));
                return false;
            }
            if (rs.ok && rs.value.progressValid) {
                fraction = rs.value.progress;
                known = true;
            }
        }
        if (!known) {
            // Time-based estimate that never claims completion.
            const uint64_t estimate = estimateMs ? waitedMs * ProgressTotal / estimateMs : 0;
            fraction =
                static_cast<uint32_t>(std::min<uint64_t>(estimate, ProgressTotal * 95 / 100));
        }
        report(base + static_cast<uint32_t>(uint64_t(fraction) * span / ProgressTotal));
        return true;
    }

    ScsiTransport &FTransport;
    const EraseHooks &FHooks;
    const std::atomic<bool> &FCancel;
    uint32_t FReported = 0;
    bool FReportedAny = false;
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
    if (plan.method == EraseMethod::ZeroStart)
        return SyncEstimateMs;
    const uint32_t speed = writeKBps ? writeKBps : unitSpeed(familyOf(profile));
    return capacityBytes(profile, formats) / std::max(speed, 1u) + 30000;
}

} // namespace

ErasePlan planErase(uint16_t profile, EraseKind kind, const DiscInfo *disc,
                    const FormatCapacities *formats)
{
    const bool fast = kind == EraseKind::Fast;
    if (isBlankable(profile))
        return planMethod(fast ? EraseMethod::BlankMinimal : EraseMethod::BlankFull);

    switch (profile) {
    case profile::DvdPlusRw:
    case profile::DvdPlusRwDl:
        if (fast) {
            const bool virgin = disc && disc->discStatus == 0 && disc->bgFormatStatus == 0;
            return planMethod(virgin ? EraseMethod::AlreadyBlank : EraseMethod::ZeroStart);
        } else {
            FormatRequest request = formatFrom(formats, 0x26, 0xFFFFFFFF, 0);
            if (disc && disc->bgFormatStatus == 1)
                request.descriptor.parameter |= 0x01; // restart the stopped background format
            return planFormat(request);
        }
    case profile::DvdRam:
        if (fast)
            return planMethod(EraseMethod::ZeroStart);
        else {
            FormatRequest request =
                formatFrom(formats, 0x00, formats ? formats->currentBlocks : 0, BlockSize);
            request.formatOptionsValid = true;
            return planFormat(request);
        }
    case profile::BdRe: {
        const bool unformatted = formats && formats->currentType == CapacityType::Unformatted;
        if (fast && !unformatted)
            return planMethod(EraseMethod::ZeroStart);
        const bool certify = !fast && formats && formats->find(0x30);
        FormatRequest request = formatFrom(formats, certify ? 0x30 : 0x00,
                                           formats ? formats->currentBlocks : 0, BlockSize);
        if (certify)
            request.subType = 0x02; // full certification
        request.formatOptionsValid = true;
        return planFormat(request);
    }
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

EraseResult eraseDisc(ScsiTransport &transport, EraseKind kind, const EraseHooks &hooks,
                      const std::atomic<bool> &cancel)
{
    EraseResult result;
    const auto current = retryAttention([&] { return currentProfile(transport); });
    if (!current) {
        result.outcome = EraseOutcome::Refused;
        result.text = current.text;
        result.scsi = current.scsi;
        return result;
    }
    const uint16_t profile = current.value;
    result.profileBefore = profile;

    const auto disc = readDiscInformation(transport);
    MmcResult<FormatCapacities> formats;
    if (isOverwritable(profile))
        formats = readFormatCapacities(transport);
    const ErasePlan plan =
        planErase(profile, kind, disc ? &disc.value : nullptr, formats ? &formats.value : nullptr);
    result.method = plan.method;
    if (plan.method == EraseMethod::Refuse) {
        result.outcome = EraseOutcome::Refused;
        result.text = plan.text;
        return result;
    }

    DriveWaiter waiter(transport, hooks, cancel);
    waiter.report(0);
    EraseResult outcome;
    if (plan.method == EraseMethod::AlreadyBlank) {
        outcome.outcome = EraseOutcome::AlreadyBlank;
        outcome.ok = true;
    } else if (plan.method == EraseMethod::ZeroStart) {
        const std::vector<uint8_t> zeros(ZeroBlocks * BlockSize, 0);
        auto written = write10(transport, 0, ZeroBlocks, zeros);
        if (!written) {
            result.outcome = EraseOutcome::Failed;
            result.text = written.text;
            result.scsi = written.scsi;
            return result;
        }
        waiter.report(ProgressTotal / 2);
        auto synced = synchronizeCache(transport, true);
        if (!synced) {
            result.outcome = EraseOutcome::Failed;
            result.text = synced.text;
            result.scsi = synced.scsi;
            return result;
        }
        outcome = waiter.wait(SyncEstimateMs, ProgressTotal / 2, ProgressTotal / 2);
    } else {
        const auto page = modeSenseCapabilities(transport);
        const uint64_t estimate = estimateMs(profile, plan, formats ? &formats.value : nullptr,
                                             page ? page.value.currentWriteSpeed : 0);
        const MmcStatus started =
            plan.method == EraseMethod::Format
                ? formatUnit(transport, plan.format)
                : blank(transport,
                        plan.method == EraseMethod::BlankMinimal ? BlankType::Minimal
                                                                 : BlankType::Full,
                        true);
        if (!started) {
            result.outcome = EraseOutcome::Refused;
            result.text = started.text;
            result.scsi = started.scsi;
            return result;
        }
        outcome = waiter.wait(estimate, 0, ProgressTotal);
        // A cache flush after a format, before anything else is written.
        if (outcome.ok && plan.method == EraseMethod::Format && synchronizeCache(transport, true))
            outcome = waiter.wait(SyncEstimateMs, ProgressTotal, 0);
    }
    if (!outcome.ok) {
        outcome.method = result.method;
        outcome.profileBefore = profile;
        return outcome;
    }
    waiter.report(ProgressTotal);

    result.outcome = outcome.outcome;
    result.ok = true;
    const auto after = retryAttention([&] { return currentProfile(transport); });
    const auto discAfter = retryAttention([&] { return readDiscInformation(transport); });
    if (after && discAfter) {
        result.stateRead = true;
        result.profileAfter = after.value;
        result.discAfter = discAfter.value;
    }
    return result;
}

} // namespace blankora::mmc
