// The unit itself: readiness, sense, identity, the tray and its lock,
// media events.

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>

namespace blankora::virtualbay {

using transport::ScsiCommand;

VirtualDrive::Reply VirtualDrive::testUnitReady()
{
    if (FDeferred) {
        Reply reply = Reply::check(*FDeferred);
        reply.deferred = FSpec.quirks.deferredErrors;
        FDeferred.reset();
        return reply;
    }
    if (FJob && !earlyReady()) {
        Reply reply = busyReply();
        reply.sksv = FSpec.faults.progress == ProgressReport::TestUnitReady;
        return reply;
    }
    // Some USB bridges answer "not ready, cause not reportable" for a while
    // after a long job (libburn spc.c waits out such a "clueless" adapter).
    if (FSpec.faults.notReady || FClock->now() < FBridgeNotReadyEnd)
        return Reply::check(KNotReady);
    if (becomingReady())
        return Reply::check(KBecomingReady);
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    if (FSpec.quirks.readySense)
        return Reply::check(*FSpec.quirks.readySense);
    return {};
}

bool VirtualDrive::becomingReady() const
{
    return discPresent() && FClock->now() < FReadyAt;
}

VirtualDrive::Reply VirtualDrive::requestSense(const ScsiCommand &)
{
    Reply current;
    if (FUnitAttention) {
        current.sense = *FUnitAttention;
        FUnitAttention.reset();
    } else if (FDeferred) {
        current.sense = *FDeferred;
        current.deferred = FSpec.quirks.deferredErrors;
        FDeferred.reset();
    } else if (FJob && !earlyReady()) {
        current = busyReply();
        current.sksv = FSpec.faults.progress != ProgressReport::None;
    } else if (FSpec.faults.notReady) {
        current.sense = KNotReady;
    } else if (becomingReady()) {
        current.sense = KBecomingReady;
    } else if (!discPresent()) {
        current.sense = FTrayOpen ? KNoMediumOpen : KNoMediumClosed;
    }
    return Reply::with(senseData(current));
}

VirtualDrive::Reply VirtualDrive::inquiry(const ScsiCommand &command)
{
    if ((command.cdb[1] & 0x01) || command.cdb[2] != 0)
        return Reply::check(KInvalidField);
    std::vector<uint8_t> data(36, ' ');
    std::fill_n(data.begin(), 8, 0);
    data[0] = 0x05;
    data[1] = 0x80;
    data[3] = 0x02;
    data[4] = 31;
    std::copy(FSpec.vendor.begin(), FSpec.vendor.end(), data.begin() + 8);
    std::copy(FSpec.product.begin(), FSpec.product.end(), data.begin() + 16);
    std::copy(FSpec.revision.begin(), FSpec.revision.end(), data.begin() + 32);
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::preventAllow(unsigned handle, const ScsiCommand &command)
{
    const bool prevent = command.cdb[4] & 0x01;
    if (prevent && FSpec.faults.lockFails)
        return Reply::check(*FSpec.faults.lockFails);
    // One drive, one lock state: ALLOW from any handle unlocks; a handle that
    // locked and goes away takes its lock with it.
    if (prevent)
        FLockHolders.insert(handle);
    else
        FLockHolders.clear();
    return {};
}

VirtualDrive::Reply VirtualDrive::startStop(const ScsiCommand &command)
{
    const uint8_t byte4 = command.cdb[4];
    // A stop (Start=0, LoEj=0) spins the disc down, which on some drives
    // ends a background format as CLOSE function 000b does.
    if (FSpec.quirks.stopUnitStopsFormat && (byte4 & 0xF3) == 0)
        stopBackground();
    if ((byte4 >> 4) != 0 || !(byte4 & 0x02))
        return {};
    if (byte4 & 0x01) { // load
        if (FTrayOpen) {
            FTrayOpen = false;
            syncBackingFile();
            if (FDisc) {
                FReadyAt = FClock->now() + FSpec.faults.becomingReadySeconds;
                FUnitAttention = KMediumChanged;
                FNewMediaEvent = true;
                FBusyOpens = FSpec.faults.busyAfterDiscChange;
            }
        }
        return {};
    }
    if (!FLockHolders.empty())
        return Reply::check(KRemovalPrevented);
    if (FSpec.faults.ejectFails)
        return Reply::check(*FSpec.faults.ejectFails);
    if (!FTrayOpen) {
        stopBackground(); // a background format cannot go on without the disc
        FTrayOpen = true;
        syncBackingFile();
    }
    return {};
}

VirtualDrive::Reply VirtualDrive::getEventStatus(const ScsiCommand &command)
{
    if (!(command.cdb[1] & 0x01))
        return Reply::check(KInvalidField);
    std::vector<uint8_t> data(4, 0);
    data[3] = 0x10;
    if (!(command.cdb[4] & 0x10)) {
        put16(data, 0, 2);
        data[2] = 0x80;
        return Reply::with(std::move(data));
    }
    data.resize(8, 0);
    put16(data, 0, 6);
    data[2] = 0x04;
    data[4] = FNewMediaEvent ? 0x02 : 0x00;
    FNewMediaEvent = false;
    data[5] = uint8_t((FTrayOpen ? 0x01 : 0) | (discPresent() ? 0x02 : 0));
    return Reply::with(std::move(data));
}

} // namespace blankora::virtualbay
