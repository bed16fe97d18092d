#include "library/mmc/MmcErase.h"

#include "library/mmc/MmcFastErase.h"

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

EraseResult goneFailure(ScsiTransport &transport, transport::ScsiResult scsi)
{
    std::string text =
        QCoreApplication::translate("Mmc", "The drive %1 disappeared while the disc was being "
                                           "erased (%2). Connect it again and check the disc: it "
                                           "may be erased only in part.")
            .arg(QString::fromStdString(transport.deviceNode()),
                 QString::fromStdString(describeFailure(scsi)))
            .toStdString();
    return failure(std::move(scsi), std::move(text), EraseOutcome::DriveGone);
}

// Runs the steps of an erase after the drive accepted it: polling until the
// drive is ready, the barrier after it, zero writes, the background format.
// Progress maps into [base, base + span] of ProgressTotal. As long as the
// drive says it works, it is left to work (libburn burn_disc_erase_sync and
// dvd+rw-tools wait_for_unit set no limit while the drive is busy).
class Runner
{
public:
    Runner(ScsiTransport &transport, const EraseHooks &hooks, const std::atomic<bool> &cancel,
           uint64_t guardMs)
        : FTransport(transport), FHooks(hooks), FCancel(cancel),
          FGuardMs(hooks.guardMs ? hooks.guardMs : guardMs)
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
    // pioneer_stop) unless `confirm` is false.
    EraseResult wait(uint64_t estimateMs, uint32_t base, uint32_t span, bool confirm = true)
    {
        startStep(estimateMs);
        sleep(FHooks.settleMs);
        for (;;) {
            if (FCancel.load())
                return cancelled();
            const auto tur = testUnitReady(FTransport);
            if (tur.ok || notReadyTooLong(tur.scsi))
                return confirm ? barrier(base, span) : done();
            if (auto end = judge(tur.scsi, base, span, true))
                return *end;
            if (auto stop = pause())
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
            if (disc) {
                FOddSinceMs.reset();
                reportEstimate(base, span);
            } else if (auto end = judge(disc.scsi, base, span, false)) {
                return *end;
            }
            if (auto stop = pause())
                return *stop;
        }
    }

    // Zeros over the ranges, one WRITE(10) of ZeroBlocks at a time; a drive
    // whose buffer is full answers 02/04/08 and gets the same write again
    // (libburn, mmc_write).
    EraseResult zero(const std::vector<BlockRange> &ranges, uint32_t base, uint32_t span)
    {
        static const std::vector<uint8_t> zeros(ZeroBlocks * BlockSize, 0);
        uint64_t total = 0, written = 0;
        for (const BlockRange &range : ranges)
            total += range.count;
        startStep(0);
        for (const BlockRange &range : ranges) {
            for (uint32_t at = 0; at < range.count;) {
                if (FCancel.load())
                    return cancelled();
                const auto count = uint16_t(std::min(ZeroBlocks, range.count - at));
                const auto answer = write10(FTransport, range.first + at, count,
                                            std::span(zeros).first(count * BlockSize));
                if (answer) {
                    at += count;
                    written += count;
                    FOddSinceMs.reset();
                    report(base + uint32_t(written * span / std::max<uint64_t>(total, 1)));
                    continue;
                }
                if (auto end = judge(answer.scsi, base, 0, false))
                    return *end;
                if (auto stop = pause())
                    return *stop;
            }
        }
        return done();
    }

private:
    void startStep(uint64_t estimateMs)
    {
        FEstimateMs = estimateMs;
        FStepMs = 0;
        FOddSinceMs.reset();
        FNotReadySinceMs.reset();
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
    // been busy for far longer than the whole disc needs, or the caller cancelled.
    std::optional<EraseResult> pause()
    {
        if (FStepMs >= FGuardMs)
            return timedOut(FGuardMs);
        if (FCancel.load())
            return cancelled();
        sleep(std::max(FHooks.pollIntervalMs, MinimumPollMs));
        return std::nullopt;
    }

    // Time-based estimate that never claims completion.
    uint32_t timeFraction() const
    {
        const uint64_t estimate = FEstimateMs ? FStepMs * ProgressTotal / FEstimateMs : 0;
        return static_cast<uint32_t>(std::min<uint64_t>(estimate, ProgressTotal * 95 / 100));
    }

    void reportEstimate(uint32_t base, uint32_t span)
    {
        report(base + uint32_t(uint64_t(timeFraction()) * span / ProgressTotal));
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
                     "Mmc", "The drive still reported the erase in progress after %1 minutes, "
                            "three times what the whole disc needs at the slowest speed; it may "
                            "still be working. Leave the disc in the drive until the drive is "
                            "ready, then check the disc.")
                     .arg((limitMs + 59999) / 60000)
                     .toStdString();
        return r;
    }

    // A bridge that answers 02/04/00 (cause not reportable) for good after a
    // job is taken as ready once it has done so for NotReadyLimitMs.
    bool notReadyTooLong(const transport::ScsiResult &scsi)
    {
        const SenseInfo sense = senseOf(scsi);
        const bool clueless = scsi.category == transport::ResultCategory::CheckCondition &&
                              sense.senseKey == 0x02 && sense.asc == 0x04 && sense.ascq == 0x00 &&
                              !sense.progressValid && !sense.deferred;
        if (!clueless) {
            FNotReadySinceMs.reset();
            return false;
        }
        if (!FNotReadySinceMs)
            FNotReadySinceMs = FStepMs;
        return FStepMs - *FNotReadySinceMs >= NotReadyLimitMs;
    }

    // Some drives answer TEST UNIT READY with GOOD while the job still runs
    // and give 02/04/07 to the next command: STOP UNIT (Immed) is repeated
    // until the drive accepts it. A deferred error it gets is the job's.
    EraseResult barrier(uint32_t base, uint32_t span)
    {
        for (;;) {
            const auto stop = startStopUnit(FTransport, StartStop::Stop, true);
            if (stop)
                return done();
            if (isDriveGone(stop.scsi))
                return goneFailure(FTransport, stop.scsi);
            if (stop.scsi.category != transport::ResultCategory::CheckCondition)
                return done();
            const SenseInfo sense = senseOf(stop.scsi);
            if (sense.deferred)
                return failure(stop.scsi, describeFailure(stop.scsi));
            if (!isOperationInProgress(sense))
                return done();
            if (sense.progressValid)
                report(base + uint32_t(uint64_t(sense.progress) * span / ProgressTotal));
            if (auto end = pause())
                return *end;
        }
    }

    // One answer that is not "done": nothing when the erase goes on (the
    // drive is busy, or an odd answer that has not persisted), else the end.
    std::optional<EraseResult> judge(const transport::ScsiResult &scsi, uint32_t base,
                                     uint32_t span, bool askSense)
    {
        using transport::ResultCategory;
        if (isDriveGone(scsi))
            return goneFailure(FTransport, scsi);
        const bool check = scsi.category == ResultCategory::CheckCondition;
        const SenseInfo sense = check ? senseOf(scsi) : SenseInfo{};
        if (check && isNoMedium(sense))
            return failure(
                scsi, trText(QT_TRANSLATE_NOOP("Mmc", "The disc was removed or the tray was opened "
                                                      "while it was being erased.")) +
                          ' ' + transport::describeSense(sense.senseKey, sense.asc, sense.ascq));
        const bool busy =
            scsi.category == ResultCategory::Status ||
            (check && !sense.deferred &&
             (isOperationInProgress(sense) || (sense.senseKey == 0x02 && sense.progressValid)));
        if (busy) {
            FOddSinceMs.reset();
            return showProgress(sense, base, span, askSense);
        }
        if (!isPassingOddity(scsi))
            return failure(scsi, describeFailure(scsi));
        if (!FOddSinceMs)
            FOddSinceMs = FStepMs;
        const uint64_t limit = isTimeout(scsi) ? SilenceLimitMs : OddLimitMs;
        if (FStepMs - *FOddSinceMs < limit) {
            reportEstimate(base, span);
            return std::nullopt;
        }
        return failure(scsi, QCoreApplication::translate(
                                 "Mmc", "The drive gave no sensible answer for %1 seconds: %2")
                                 .arg(limit / 1000)
                                 .arg(QString::fromStdString(describeFailure(scsi)))
                                 .toStdString());
    }

    // The progress of a busy drive: its own (from TEST UNIT READY, else from
    // REQUEST SENSE), or the estimate when it gives none.
    std::optional<EraseResult> showProgress(const SenseInfo &sense, uint32_t base, uint32_t span,
                                            bool askSense)
    {
        using transport::ResultCategory;
        std::optional<uint32_t> fraction;
        if (sense.progressValid)
            fraction = sense.progress;
        else if (askSense) {
            const auto rs = requestSense(FTransport);
            if (isDriveGone(rs.scsi))
                return goneFailure(FTransport, rs.scsi);
            if (rs.ok &&
                (rs.value.deferred || rs.value.senseKey == 0x03 || rs.value.senseKey == 0x04)) {
                transport::ScsiResult scsi = rs.scsi;
                scsi.category = ResultCategory::CheckCondition;
                scsi.sense.clear();
                scsi.senseKey = rs.value.senseKey;
                scsi.asc = rs.value.asc;
                scsi.ascq = rs.value.ascq;
                scsi.text.clear();
                return failure(scsi, describeFailure(scsi));
            }
            if (rs.ok && rs.value.progressValid)
                fraction = rs.value.progress;
        }
        if (fraction)
            report(base + static_cast<uint32_t>(uint64_t(*fraction) * span / ProgressTotal));
        else
            reportEstimate(base, span);
        return std::nullopt;
    }

    ScsiTransport &FTransport;
    const EraseHooks &FHooks;
    const std::atomic<bool> &FCancel;
    const uint64_t FGuardMs;
    uint32_t FReported = 0;
    bool FReportedAny = false;
    uint64_t FEstimateMs = 0;
    uint64_t FStepMs = 0;                     // waited in the current step
    std::optional<uint64_t> FOddSinceMs;      // FStepMs at the first of a run of odd answers
    std::optional<uint64_t> FNotReadySinceMs; // FStepMs at the first of a run of 02/04/00
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

// Writes zeros, then flushes the drive's cache and waits for it. A DVD+RW is
// then finished as growisofs does it (plus_rw_finalize): a flush without
// Immed, then CLOSE TRACK/SESSION stop de-icing and close session, waiting
// after each.
EraseResult zeroAndSync(ScsiTransport &transport, Runner &runner,
                        const std::vector<BlockRange> &ranges, bool plusRw)
{
    const uint32_t written = ProgressTotal * 95 / 100;
    EraseResult outcome = runner.zero(ranges, 0, written);
    if (!outcome.ok)
        return outcome;
    const auto synced = synchronizeCache(transport, true);
    if (!synced)
        return failure(synced.scsi, synced.text);
    outcome = runner.wait(SyncEstimateMs, written, ProgressTotal - written);
    if (!outcome.ok || !plusRw)
        return outcome;
    const auto flushed = synchronizeCache(transport, false);
    if (!flushed)
        return failure(flushed.scsi, flushed.text);
    for (CloseFunction function :
         {CloseFunction::StopBackgroundFormat, CloseFunction::CloseSession}) {
        const auto closed = closeTrackSession(transport, function, true);
        if (!closed)
            return failure(closed.scsi, closed.text);
        outcome = runner.wait(SyncEstimateMs, written, ProgressTotal - written);
        if (!outcome.ok)
            return outcome;
    }
    return outcome;
}

// FORMAT 26h on a virgin DVD+RW, then as dvd+rw-format: wait for the unit
// (no STOP UNIT: it would stop the background format), let the background
// format finish, stop it and close the session, waiting after each.
EraseResult formatInBackground(ScsiTransport &transport, Runner &runner, uint64_t estimate)
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
            return failure(closed.scsi, closed.text);
        outcome = runner.wait(SyncEstimateMs, closing, ProgressTotal - closing);
    }
    return outcome;
}

// Blocks whose read-back shows a full overwrite: the first and the last
// 1 MiB and 64 blocks spread over the rest.
std::vector<BlockRange> sampleOf(uint32_t blocks)
{
    constexpr uint32_t edge = 512, spread = 64;
    std::vector<BlockRange> ranges{{0, std::min(edge, blocks)}};
    for (uint32_t i = 1; i < spread; ++i)
        ranges.push_back({uint32_t(uint64_t(blocks) * i / spread), 1});
    if (blocks > edge)
        ranges.push_back({blocks - edge, edge});
    return ranges;
}

EraseResult notErased(transport::ScsiResult scsi, const QString &check)
{
    return failure(std::move(scsi),
                   QCoreApplication::translate("Mmc", "The drive reported success, but the disc "
                                                      "is not erased: %1")
                       .arg(check)
                       .toStdString());
}

// A read of the disc after the erase; a unit attention or another passing
// answer right after the job is asked again.
template <class F> auto afterErase(F read)
{
    auto result = read();
    for (int retry = 0; retry < 3 && !result.ok && isPassingOddity(result.scsi); ++retry)
        result = read();
    return result;
}

// Unreadable, gone or not erased: the failure; nothing when the read worked.
template <class T>
std::optional<EraseResult> unreadable(ScsiTransport &transport, const MmcResult<T> &result)
{
    if (result.ok)
        return std::nullopt;
    if (isDriveGone(result.scsi))
        return goneFailure(transport, result.scsi);
    return notErased(result.scsi,
                     QCoreApplication::translate("Mmc", "the disc could not be read again (%1).")
                         .arg(QString::fromStdString(describeFailure(result.scsi))));
}

std::optional<EraseResult> checkZeros(ScsiTransport &transport,
                                      const std::vector<BlockRange> &ranges)
{
    std::vector<uint8_t> data(ZeroBlocks * BlockSize);
    for (const BlockRange &range : ranges) {
        for (uint32_t at = 0; at < range.count;) {
            const auto count = uint16_t(std::min(ZeroBlocks, range.count - at));
            const uint32_t lba = range.first + at;
            const auto bytes = std::span(data).first(size_t(count) * BlockSize);
            const auto read = afterErase([&] { return read10(transport, lba, count, bytes); });
            if (auto failed = unreadable(transport, read))
                return failed;
            const auto nonZero =
                std::find_if(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte != 0; });
            if (nonZero != bytes.end())
                return notErased(
                    {}, QCoreApplication::translate("Mmc", "block %1 does not read back as zeros.")
                            .arg(lba + uint32_t((nonZero - bytes.begin()) / BlockSize)));
            at += count;
        }
    }
    return std::nullopt;
}

std::optional<EraseResult> checkFormatted(ScsiTransport &transport)
{
    const auto formats = afterErase([&] { return readFormatCapacities(transport); });
    if (auto failed = unreadable(transport, formats))
        return failed;
    if (formats.value.currentType != CapacityType::Formatted)
        return notErased({}, QCoreApplication::translate("Mmc", "the disc is not formatted."));
    return std::nullopt;
}

// Reads the disc again and checks that it shows the erase (libburn drive.c
// reads the medium again after an erase; dvd-rw.html in dvd+rw-tools: a
// deferred failure is reported upon the actual recording attempt, so the
// drive's GOOD alone proves nothing).
EraseResult checkErased(ScsiTransport &transport, const ErasePlan &plan,
                        const std::vector<BlockRange> &zeroed, EraseResult outcome)
{
    const auto after = afterErase([&] { return currentProfile(transport); });
    if (auto failed = unreadable(transport, after))
        return *failed;
    const auto disc = afterErase([&] { return readDiscInformation(transport); });
    if (auto failed = unreadable(transport, disc))
        return *failed;
    outcome.stateRead = true;
    outcome.profileAfter = after.value;
    outcome.discAfter = disc.value;

    std::optional<EraseResult> failed;
    switch (plan.method) {
    case EraseMethod::BlankMinimal:
    case EraseMethod::BlankFull:
        if (after.value == profile::DvdRwRestricted)
            failed = checkFormatted(transport);
        else if (disc.value.discStatus != 0)
            failed = notErased({}, QCoreApplication::translate(
                                       "Mmc", "READ DISC INFORMATION shows the disc as not "
                                              "blank (disc status %1).")
                                       .arg(disc.value.discStatus));
        break;
    case EraseMethod::Format:
        failed = checkFormatted(transport);
        break;
    case EraseMethod::FormatBackground:
        if (disc.value.bgFormatStatus < 2)
            failed = checkFormatted(transport);
        break;
    case EraseMethod::ZeroStart:
    case EraseMethod::ZeroFill:
        failed = checkZeros(transport, zeroed);
        break;
    default:
        break;
    }
    if (failed) {
        failed->method = outcome.method;
        failed->profileBefore = outcome.profileBefore;
        return *failed;
    }
    return outcome;
}

} // namespace

EraseResult eraseDisc(ScsiTransport &transport, EraseKind kind, const EraseHooks &hooks,
                      const std::atomic<bool> &cancel)
{
    const auto current = currentProfile(transport);
    if (!current)
        return isDriveGone(current.scsi) ? goneFailure(transport, current.scsi)
                                         : refused(current.scsi, current.text);
    const uint16_t profile = current.value;

    const auto disc = readDiscInformation(transport);
    MmcResult<FormatCapacities> formats;
    if (isOverwritable(profile) || profile == profile::DvdRwRestricted)
        formats = readFormatCapacities(transport);
    const FormatCapacities *listed = formats ? &formats.value : nullptr;
    const ErasePlan plan = planErase(profile, kind, disc ? &disc.value : nullptr, listed,
                                     profile == profile::BdRe ? certificationOf(transport) : 0);
    EraseResult outcome;
    std::vector<BlockRange> zeroed, checked;
    if (plan.method == EraseMethod::Refuse) {
        outcome = refused({}, plan.text);
    } else {
        Runner runner(transport, hooks, cancel, guardMs(profile, listed));
        runner.report(0);
        outcome = [&] {
            switch (plan.method) {
            case EraseMethod::AlreadyBlank:
                return done(EraseOutcome::AlreadyBlank);
            case EraseMethod::ZeroStart:
            case EraseMethod::ZeroFill: {
                uint32_t blocks = plan.method == EraseMethod::ZeroFill ? plan.blocks
                                  : listed                             ? listed->currentBlocks
                                                                       : 0;
                if (blocks == 0) {
                    const auto capacity = readCapacity(transport);
                    if (!capacity)
                        return failure(capacity.scsi, capacity.text);
                    blocks = capacity.value.lastLba + 1;
                }
                if (plan.method == EraseMethod::ZeroStart) {
                    zeroed = checked = fastEraseRanges(transport, blocks);
                } else {
                    zeroed = {{0, blocks}};
                    checked = sampleOf(blocks);
                }
                return zeroAndSync(transport, runner, zeroed,
                                   profile == profile::DvdPlusRw ||
                                       profile == profile::DvdPlusRwDl);
            }
            default:
                break;
            }
            const uint64_t estimate =
                estimateMs(profile, plan, listed, slowestKBps(transport, profile));
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
            if (waited.ok && plan.format.descriptor.type == 0x15) {
                const auto closed = closeTrackSession(transport, CloseFunction::CloseSession, true);
                if (!closed)
                    return failure(closed.scsi, closed.text);
                waited = runner.wait(SyncEstimateMs, ProgressTotal, 0);
            }
            // A cache flush after a format, before anything else is written.
            if (waited.ok && format && synchronizeCache(transport, true))
                waited = runner.wait(SyncEstimateMs, ProgressTotal, 0);
            return waited;
        }();
    }
    if (!outcome.ok && outcome.outcome != EraseOutcome::DriveGone && isDriveGone(outcome.scsi))
        outcome = goneFailure(transport, outcome.scsi);
    outcome.method = plan.method;
    outcome.profileBefore = profile;
    if (outcome.ok && outcome.outcome != EraseOutcome::AlreadyBlank)
        outcome = checkErased(transport, plan, checked, std::move(outcome));
    if (outcome.ok && hooks.progress)
        hooks.progress(ProgressTotal, ProgressTotal);
    return outcome;
}

} // namespace blankora::mmc
