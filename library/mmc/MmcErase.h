#pragma once

#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>

// Erasing the loaded disc, fast or full, with whatever each medium needs:
// BLANK for CD-RW/DVD-RW, FORMAT UNIT or zeroing the file system area for
// DVD+RW, DVD-RAM and BD-RE.
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
    ZeroStart, // 64 KiB of zeros at LBA 0, then SYNCHRONIZE CACHE
    Format     // FORMAT UNIT with the descriptor in ErasePlan::format
};

struct ErasePlan
{
    EraseMethod method = EraseMethod::Refuse;
    FormatRequest format; // for EraseMethod::Format
    std::string text;     // why refused
};

// Decides the method from the current profile, disc information and format
// capacities (either may be missing: pass nullptr).
ErasePlan planErase(uint16_t profile, EraseKind kind, const DiscInfo *disc,
                    const FormatCapacities *formats);

constexpr uint32_t ProgressTotal = 65536;

struct EraseHooks
{
    // Waits the given number of milliseconds; empty = really sleep. Tests
    // scale it with the virtual bay's time factor.
    std::function<void(unsigned ms)> sleep;
    // done out of ProgressTotal; called from the calling thread.
    std::function<void(uint32_t done, uint32_t total)> progress;
    unsigned pollIntervalMs = 1000; // at least 10; the library uses 50
    unsigned settleMs = 1000;       // wait after the drive accepted the command
    // Cap on the waiting time (sum of the sleeps); 0 = 3 x the estimate, at least 10 min.
    unsigned maxWaitMs = 0;
};

enum class EraseOutcome
{
    Erased,
    AlreadyBlank,
    Refused,   // not erasable, or the drive rejected the command
    Failed,    // the drive accepted, then reported an error (or the medium vanished)
    Cancelled, // polling stopped; the drive may still be working
    TimedOut
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
// poll without waiting for the drive.
EraseResult eraseDisc(ScsiTransport &transport, EraseKind kind, const EraseHooks &hooks,
                      const std::atomic<bool> &cancel);

} // namespace blankora::mmc
