#pragma once

#include "library/mmc/MmcErase.h"
#include "library/mmc/MmcFastErase.h"
#include "library/mmc/MmcSense.h"

#include <optional>
#include <string>
#include <vector>

// The steps of an erase after the drive accepted it, and the results they end
// with: waiting for the drive, the barrier after a job, zero writes.
namespace blankora::mmc {

constexpr uint32_t ZeroBlocks = 32; // 64 KiB, one WRITE(10) of zeros

EraseResult eraseDone(EraseOutcome outcome = EraseOutcome::Erased);
EraseResult eraseFailure(transport::ScsiResult scsi, std::string text,
                         EraseOutcome outcome = EraseOutcome::Failed);
// The drive disappeared: the text names it.
EraseResult driveGoneFailure(ScsiTransport &transport, transport::ScsiResult scsi);

// Runs the steps of an erase after the drive accepted it: polling until the
// drive is ready, the barrier after it, zero writes, the background format.
// Progress maps into [base, base + span] of ProgressTotal. As long as the
// drive says it works, it is left to work (libburn burn_disc_erase_sync and
// dvd+rw-tools wait_for_unit set no limit while the drive is busy).
class EraseRunner
{
public:
    EraseRunner(ScsiTransport &transport, const EraseHooks &hooks, const std::atomic<bool> &cancel,
                uint64_t guardMs)
        : FTransport(transport), FHooks(hooks), FCancel(cancel),
          FGuardMs(hooks.guardMs ? hooks.guardMs : guardMs)
    {}

    void report(uint32_t done);

    // Polls with TEST UNIT READY until the drive is ready, then confirms the
    // end with the barrier (dvd+rw-tools transport.hxx, wait_for_unit and
    // pioneer_stop) unless `confirm` is false.
    EraseResult wait(uint64_t estimateMs, uint32_t base, uint32_t span, bool confirm = true);

    // After FORMAT 26h the drive is ready while it formats in the background:
    // READ DISC INFORMATION byte 7 says 2 until it is done.
    EraseResult waitBackground(uint64_t estimateMs, uint32_t base, uint32_t span);

    // Zeros over the ranges, one WRITE(10) of ZeroBlocks at a time; a drive
    // whose buffer is full answers 02/04/08 and gets the same write again
    // (libburn, mmc_write).
    EraseResult zero(const std::vector<BlockRange> &ranges, uint32_t base, uint32_t span);

private:
    void startStep(uint64_t estimateMs);

    uint64_t sleep(unsigned ms);

    // The wait between two polls, or the end of the step when the drive has
    // been busy for far longer than the whole disc needs, or the caller cancelled.
    std::optional<EraseResult> pause();

    // Time-based estimate that never claims completion.
    uint32_t timeFraction() const;

    void reportEstimate(uint32_t base, uint32_t span);

    static EraseResult cancelled();

    static EraseResult timedOut(uint64_t limitMs);

    // A bridge that answers 02/04/00 (cause not reportable) for good after a
    // job is taken as ready once it has done so for NotReadyLimitMs.
    bool notReadyTooLong(const transport::ScsiResult &scsi);

    // Some drives answer TEST UNIT READY with GOOD while the job still runs
    // and give 02/04/07 to the next command: STOP UNIT (Immed) is repeated
    // until the drive accepts it. A deferred error it gets is the job's.
    EraseResult barrier(uint32_t base, uint32_t span);

    // One answer that is not "done": nothing when the erase goes on (the
    // drive is busy, or an odd answer that has not persisted), else the end.
    std::optional<EraseResult> judge(const transport::ScsiResult &scsi, uint32_t base,
                                     uint32_t span, bool askSense);

    // The progress of a busy drive: its own (from TEST UNIT READY, else from
    // REQUEST SENSE), or the estimate when it gives none.
    std::optional<EraseResult> showProgress(const SenseInfo &sense, uint32_t base, uint32_t span,
                                            bool askSense);

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

} // namespace blankora::mmc
