#pragma once

#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>

// Erasing the loaded disc, fast or full, with whatever each medium needs:
// BLANK for CD-RW/DVD-RW, a quick format for restricted-overwrite DVD-RW,
// zeros over the file system area (fast) or the whole formatted size (full)
// for DVD+RW, DVD-RAM and BD-RE, FORMAT UNIT only for an unformatted disc.
namespace blankora::mmc {

using transport::ScsiTransport;

enum class EraseKind
{
    Fast,
    Full
};

// What eraseDisc() will send for a medium.
enum class EraseMethod
{
    Refuse,       // not an erasable medium
    AlreadyBlank, // virgin DVD+RW: nothing to do
    BlankMinimal,
    BlankFull,
    ZeroStart, // zeros where readers find a file system (fastEraseRanges), then SYNCHRONIZE CACHE
    ZeroFill,  // zeros over ErasePlan::blocks, then SYNCHRONIZE CACHE
    Format,    // FORMAT UNIT with the descriptor in ErasePlan::format
    // DVD+RW FORMAT 26h, then the background format to its end and the
    // session closed, as dvd+rw-format does
    FormatBackground
};

struct ErasePlan
{
    EraseMethod method = EraseMethod::Refuse;
    FormatRequest format; // for the format methods
    uint32_t blocks = 0;  // for EraseMethod::ZeroFill
    // ZeroFill of a DVD+RW whose background format stopped: `format` resumes
    // it (FORMAT 26h with the Restart bit) before the zeros.
    bool resumeFormat = false;
    std::string text; // why refused
};

// Feature 0023h (Formattable) byte 4: the certifications the drive offers.
constexpr uint8_t CertifyFull = 0x01;  // Cert
constexpr uint8_t CertifyQuick = 0x02; // QCert

// Decides the method from the current profile, disc information and format
// capacities (either may be missing: pass nullptr) and, for BD-RE, the
// certification bits of feature 0023h.
ErasePlan planErase(uint16_t profile, EraseKind kind, const DiscInfo *disc,
                    const FormatCapacities *formats, uint8_t certification = 0);

constexpr uint32_t ProgressTotal = 65536;

struct EraseHooks
{
    // Waits the given number of milliseconds; empty = really sleep. Tests
    // scale it with the virtual bay's time factor.
    std::function<void(unsigned ms)> sleep;
    // done out of ProgressTotal; called from the calling thread.
    std::function<void(uint32_t done, uint32_t total)> progress;
    unsigned pollIntervalMs = 1000; // at least MinimumPollMs
    unsigned settleMs = 1000;       // wait after the drive accepted the command
    // Give up on a drive that still says it is busy after this long; 0 =
    // three times what the whole disc needs at 1x.
    uint64_t guardMs = 0;
};

// Real drives are polled at most twice a second (the kernel's sr.c: some
// devices hang on repeated TEST UNIT READY).
constexpr unsigned MinimumPollMs = 500;
// Answers that say nothing about the job end it only when they persist this
// long; a drive that does not answer at all gets SilenceLimitMs.
constexpr unsigned OddLimitMs = 30 * 1000;
constexpr unsigned SilenceLimitMs = 5 * 60 * 1000;
// A bridge that keeps answering 02/04/00 after a job is ready after this long
// (libburn spc.c, the "clueless" wait).
constexpr unsigned NotReadyLimitMs = 30 * 1000;

enum class EraseOutcome
{
    Erased,
    AlreadyBlank,
    Refused,   // not erasable, or the drive rejected the command
    Failed,    // the drive accepted, then reported an error (or the medium vanished)
    Cancelled, // polling stopped; the drive may still be working
    TimedOut,  // busy for far longer than the disc needs; the drive may still be working
    DriveGone  // the drive disappeared (ENODEV, ENXIO, DID_NO_CONNECT, DID_BAD_TARGET)
};

struct EraseResult
{
    EraseOutcome outcome = EraseOutcome::Failed;
    bool ok = false;            // Erased or AlreadyBlank
    std::string text;           // reason when not ok
    transport::ScsiResult scsi; // the answer that decided a failure
    EraseMethod method = EraseMethod::Refuse;
    uint16_t profileBefore = 0;
    // Medium state read after the operation (when readable).
    bool stateRead = false;
    uint16_t profileAfter = 0;
    DiscInfo discAfter;
};

// Runs the whole erase with Immed and polling. Does not set the speed or lock
// the tray: the caller does that before. On cancel it returns at the next
// poll without waiting for the drive. Success is reported only after a
// barrier command the drive accepts (some drives answer TEST UNIT READY with
// GOOD while the job still runs) and after the disc, read again, shows the
// erase: a deferred failure may have gone to another program's command.
EraseResult eraseDisc(ScsiTransport &transport, EraseKind kind, const EraseHooks &hooks,
                      const std::atomic<bool> &cancel);

} // namespace blankora::mmc
