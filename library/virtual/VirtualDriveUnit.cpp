// The unit itself: readiness, sense, identity, the tray and its lock,
// media events.

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>

namespace blankora::virtualbay {

using transport::ScsiCommand;

VirtualDrive::Reply VirtualDrive::testUnitReady()
{
    if (FDeferred) {
        const Reply reply = Reply::check(*FDeferred);
        FDeferred.reset();
        return reply;
    }
    if (FJob) {
        Reply reply = Reply::check(Sense{0x02, 0x04, uint8_t(FJob->format ? 0x04 : 0x07)});
        reply.sksv = FSpec.faults.progress == ProgressReport::TestUnitReady;
        reply.progress = uint16_t(std::min(65535.0, jobProgress() * 65536));
        return reply;
    }
    if (FSpec.faults.notReady)
        return Reply::check(KNotReady);
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    return {};
}

VirtualDrive::Reply VirtualDrive::requestSense(const ScsiCommand &)
{
    Sense sense;
    bool sksv = false;
    uint16_t progress = 0;
    if (FUnitAttention) {
        sense = *FUnitAttention;
        FUnitAttention.reset();
    } else if (FDeferred) {
        sense = *FDeferred;
        FDeferred.reset();
    } else if (FJob) {
        sense = Sense{0x02, 0x04, uint8_t(FJob->format ? 0x04 : 0x07)};
        sksv = FSpec.faults.progress != ProgressReport::None;
        progress = uint16_t(std::min(65535.0, jobProgress() * 65536));
    } else if (FSpec.faults.notReady) {
        sense = KNotReady;
    } else if (!discPresent()) {
        sense = FTrayOpen ? KNoMediumOpen : KNoMediumClosed;
    }
    std::vector<uint8_t> data(18, 0);
    data[0] = 0x70;
    data[2] = sense.key;
    data[7] = 10;
    data[12] = sense.asc;
    data[13] = sense.ascq;
    if (sksv) {
        data[15] = 0x80;
        put16(data, 16, progress);
    }
    return Reply::with(std::move(data));
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
    if ((byte4 >> 4) != 0 || !(byte4 & 0x02))
        return {};
    if (byte4 & 0x01) { // load
        if (FTrayOpen) {
            FTrayOpen = false;
            syncBackingFile();
            if (FDisc) {
                FUnitAttention = KMediumChanged;
                FNewMediaEvent = true;
            }
        }
        return {};
    }
    if (!FLockHolders.empty())
        return Reply::check(KRemovalPrevented);
    if (FSpec.faults.ejectFails)
        return Reply::check(*FSpec.faults.ejectFails);
    if (!FTrayOpen) {
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
