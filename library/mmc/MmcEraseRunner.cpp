#include "library/mmc/MmcEraseRunner.h"

#include "library/mmc/MmcText.h"
#include "library/transport/SenseText.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <chrono>
#include <thread>

namespace blankora::mmc {

EraseResult eraseDone(EraseOutcome outcome)
{
    EraseResult r;
    r.outcome = outcome;
    r.ok = true;
    return r;
}

EraseResult eraseFailure(transport::ScsiResult scsi, std::string text, EraseOutcome outcome)
{
    EraseResult r;
    r.outcome = outcome;
    r.text = std::move(text);
    r.scsi = std::move(scsi);
    return r;
}

EraseResult driveGoneFailure(ScsiTransport &transport, transport::ScsiResult scsi)
{
    std::string text =
        QCoreApplication::translate("Mmc", "The drive %1 disappeared while the disc was being "
                                           "erased (%2). Connect it again and check the disc: it "
                                           "may be erased only in part.")
            .arg(QString::fromStdString(transport.deviceNode()),
                 QString::fromStdString(describeFailure(scsi)))
            .toStdString();
    return eraseFailure(std::move(scsi), std::move(text), EraseOutcome::DriveGone);
}

void EraseRunner::report(uint32_t done)
{
    done = std::min(done, ProgressTotal);
    if (FReportedAny && done <= FReported)
        return;
    FReported = done;
    FReportedAny = true;
    if (FHooks.progress)
        FHooks.progress(done, ProgressTotal);
}

EraseResult EraseRunner::wait(uint64_t estimateMs, uint32_t base, uint32_t span, bool confirm)
{
    startStep(estimateMs);
    sleep(FHooks.settleMs);
    for (;;) {
        if (FCancel.load())
            return cancelled();
        const auto tur = testUnitReady(FTransport);
        if (tur.ok || notReadyTooLong(tur.scsi))
            return confirm ? barrier(base, span) : eraseDone();
        if (auto end = judge(tur.scsi, base, span, true))
            return *end;
        if (auto stop = pause())
            return *stop;
    }
}

EraseResult EraseRunner::waitBackground(uint64_t estimateMs, uint32_t base, uint32_t span)
{
    startStep(estimateMs);
    for (;;) {
        if (FCancel.load())
            return cancelled();
        const auto disc = readDiscInformation(FTransport);
        if (disc && disc.value.bgFormatStatus != 2)
            return eraseDone();
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

EraseResult EraseRunner::zero(const std::vector<BlockRange> &ranges, uint32_t base, uint32_t span)
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
    return eraseDone();
}

void EraseRunner::startStep(uint64_t estimateMs)
{
    FEstimateMs = estimateMs;
    FStepMs = 0;
    FOddSinceMs.reset();
    FNotReadySinceMs.reset();
}

uint64_t EraseRunner::sleep(unsigned ms)
{
    if (FHooks.sleep)
        FHooks.sleep(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    FStepMs += ms;
    return ms;
}

std::optional<EraseResult> EraseRunner::pause()
{
    if (FStepMs >= FGuardMs)
        return timedOut(FGuardMs);
    if (FCancel.load())
        return cancelled();
    sleep(std::max(FHooks.pollIntervalMs, MinimumPollMs));
    return std::nullopt;
}

uint32_t EraseRunner::timeFraction() const
{
    const uint64_t estimate = FEstimateMs ? FStepMs * ProgressTotal / FEstimateMs : 0;
    return static_cast<uint32_t>(std::min<uint64_t>(estimate, ProgressTotal * 95 / 100));
}

void EraseRunner::reportEstimate(uint32_t base, uint32_t span)
{
    report(base + uint32_t(uint64_t(timeFraction()) * span / ProgressTotal));
}

EraseResult EraseRunner::cancelled()
{
    EraseResult r;
    r.outcome = EraseOutcome::Cancelled;
    r.text = trText(QT_TRANSLATE_NOOP(
        "Mmc", "Erasing was cancelled. The drive may go on until the current operation "
               "ends; wait until it is ready before using the disc."));
    return r;
}

EraseResult EraseRunner::timedOut(uint64_t limitMs)
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

bool EraseRunner::notReadyTooLong(const transport::ScsiResult &scsi)
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

EraseResult EraseRunner::barrier(uint32_t base, uint32_t span)
{
    for (;;) {
        const auto stop = startStopUnit(FTransport, StartStop::Stop, true);
        if (stop)
            return eraseDone();
        if (isDriveGone(stop.scsi))
            return driveGoneFailure(FTransport, stop.scsi);
        if (stop.scsi.category != transport::ResultCategory::CheckCondition)
            return eraseDone();
        const SenseInfo sense = senseOf(stop.scsi);
        if (sense.deferred)
            return eraseFailure(stop.scsi, describeFailure(stop.scsi));
        if (!isOperationInProgress(sense))
            return eraseDone();
        if (sense.progressValid)
            report(base + uint32_t(uint64_t(sense.progress) * span / ProgressTotal));
        if (auto end = pause())
            return *end;
    }
}

std::optional<EraseResult> EraseRunner::judge(const transport::ScsiResult &scsi, uint32_t base,
                                              uint32_t span, bool askSense)
{
    using transport::ResultCategory;
    if (isDriveGone(scsi))
        return driveGoneFailure(FTransport, scsi);
    const bool check = scsi.category == ResultCategory::CheckCondition;
    const SenseInfo sense = check ? senseOf(scsi) : SenseInfo{};
    if (check && isNoMedium(sense))
        return eraseFailure(
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
        return eraseFailure(scsi, describeFailure(scsi));
    if (!FOddSinceMs)
        FOddSinceMs = FStepMs;
    const uint64_t limit = isTimeout(scsi) ? SilenceLimitMs : OddLimitMs;
    if (FStepMs - *FOddSinceMs < limit) {
        reportEstimate(base, span);
        return std::nullopt;
    }
    if (isLinkLost(scsi))
        return driveGoneFailure(FTransport, scsi);
    return eraseFailure(scsi, QCoreApplication::translate(
                                  "Mmc", "The drive gave no sensible answer for %1 seconds: %2")
                                  .arg(limit / 1000)
                                  .arg(QString::fromStdString(describeFailure(scsi)))
                                  .toStdString());
}

std::optional<EraseResult> EraseRunner::showProgress(const SenseInfo &sense, uint32_t base,
                                                     uint32_t span, bool askSense)
{
    using transport::ResultCategory;
    std::optional<uint32_t> fraction;
    if (sense.progressValid)
        fraction = sense.progress;
    else if (askSense) {
        const auto rs = requestSense(FTransport);
        if (isDriveGone(rs.scsi))
            return driveGoneFailure(FTransport, rs.scsi);
        if (rs.ok &&
            (rs.value.deferred || rs.value.senseKey == 0x03 || rs.value.senseKey == 0x04)) {
            transport::ScsiResult scsi = rs.scsi;
            scsi.category = ResultCategory::CheckCondition;
            scsi.sense.clear();
            scsi.senseKey = rs.value.senseKey;
            scsi.asc = rs.value.asc;
            scsi.ascq = rs.value.ascq;
            scsi.text.clear();
            return eraseFailure(scsi, describeFailure(scsi));
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

} // namespace blankora::mmc
