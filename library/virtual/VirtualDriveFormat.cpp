// Formatting: the formats a medium offers, FORMAT UNIT, and CLOSE
// TRACK/SESSION where it ends a format.

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>

namespace blankora::virtualbay {

using transport::ScsiCommand;

std::vector<uint8_t> VirtualDrive::formatList(uint8_t &currentType, uint32_t &currentBlocks) const
{
    const DiscSpec &disc = *FDisc;
    std::vector<uint8_t> list;
    const auto entry = [&](uint32_t blocks, uint8_t type, uint32_t parameter) {
        const size_t at = list.size();
        list.resize(at + 8, 0);
        put32(list, at, blocks);
        list[at + 4] = uint8_t(type << 2);
        put24(list, at + 5, parameter);
    };
    currentBlocks = disc.capacityBlocks;
    currentType = 2;
    switch (disc.profile) {
    case 0x1A:
    case 0x2A:
        currentType = disc.formatted ? 2 : 1;
        // A drive that writes only the formatted part of a stopped format
        // gives that part as the current capacity; growisofs
        // plus_rw_restart_format resumes the format when it needs more.
        if (FSpec.quirks.partlyRefusesWrite && FBgStatus == 1)
            currentBlocks = formattedPart();
        entry(disc.capacityBlocks, 0x26, 0);
        break;
    case 0x13:
    case 0x14:
        currentType = disc.profile == 0x14 ? 1 : FIntermediate ? 3 : 2;
        entry(disc.capacityBlocks, 0x00, KBlock);
        entry(disc.capacityBlocks, 0x10, 16);
        entry(disc.capacityBlocks, 0x15, 16);
        break;
    case 0x12:
        entry(disc.capacityBlocks, 0x00, KBlock);
        entry(disc.capacityBlocks, 0x01, KBlock);
        break;
    case 0x43:
        currentType = disc.formatted ? 2 : 1;
        if (!disc.formatted)
            currentBlocks = 12219392;
        entry(11826176, 0x00, 0x3000);
        entry(11826176, 0x30, 0x3000);
        entry(12219392, 0x31, KBlock);
        break;
    default:
        currentBlocks = readableBlocks() > 0 ? readableBlocks() : disc.capacityBlocks;
        break;
    }
    return list;
}

VirtualDrive::Reply VirtualDrive::readFormatCapacities()
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    uint8_t currentType = 0;
    uint32_t currentBlocks = 0;
    const std::vector<uint8_t> list = formatList(currentType, currentBlocks);
    std::vector<uint8_t> data(12, 0);
    data[3] = uint8_t(8 + list.size());
    put32(data, 4, currentBlocks);
    data[8] = currentType;
    put24(data, 9, KBlock);
    data.insert(data.end(), list.begin(), list.end());
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::formatUnit(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    if (FDisc->writeProtected)
        return Reply::check(KWriteProtected);
    const bool withData = command.cdb[1] & 0x10;
    if (withData && (command.cdb[1] & 0x07) != 0x01)
        return Reply::check(KInvalidField);
    uint8_t currentType = 0;
    uint32_t currentBlocks = 0;
    const std::vector<uint8_t> list = formatList(currentType, currentBlocks);
    if (list.empty())
        return Reply::check(Sense{0x05, 0x30, 0x06});

    bool immediate = false, skipCertification = false;
    uint8_t type = uint8_t(list[4] >> 2), subtype = 0;
    uint32_t blocks = be32(list, 0);
    if (withData) {
        const auto parameters = command.dataOut;
        if (be16(parameters, 2) != 8)
            return Reply::check(KParameterLength);
        immediate = parameters[1] & 0x02;
        skipCertification = parameters[1] & 0x20;
        blocks = be32(parameters, 4);
        type = uint8_t(parameters[8] >> 2);
        subtype = parameters[8] & 0x03;
        bool listed = false;
        for (size_t at = 0; at < list.size(); at += 8) {
            if (uint8_t(list[at + 4] >> 2) == type &&
                (blocks <= be32(list, at) || blocks == 0xFFFFFFFF))
                listed = true;
        }
        if (!listed)
            return Reply::check(KInvalidParameter);
    }

    const uint16_t profile = FDisc->profile;
    const bool bdCertification = profile == 0x43 && type == 0x30 && subtype >= 2;
    // A drive may list a certification in feature 0023h and still refuse it
    // (libburn mmc.c notes a drive refusing quick certification).
    if (bdCertification && (subtype == 2 ? FSpec.quirks.refuseFull : FSpec.quirks.refuseQuick))
        return Reply::check(KInvalidField);
    if (bdCertification && !(subtype == 2 ? FSpec.quirks.certifyFull : FSpec.quirks.certifyQuick))
        return Reply::check(KInvalidParameter);
    auto job = std::make_unique<Job>();
    job->kind = Job::Format;
    job->immediate = immediate;
    job->formatType = type;
    job->blocks = blocks;
    if (type == 0x26 && FSpec.quirks.backgroundFormat) {
        // Restart resumes a stopped background format and leaves the data.
        const bool restart = withData && (command.dataOut[11] & 0x01);
        if (restart && FBgStatus != 0) {
            if (FBgStatus == 1)
                startBackground(FBgRemaining);
            return {};
        }
        FBgStatus = 0;
        job->kind = Job::BackgroundStart;
        job->duration = FSpec.timing.formatForegroundSeconds;
        return startJob(std::move(job));
    }
    const bool certification = bdCertification || (profile == 0x12 && !skipCertification);
    const bool quick = !certification && (type == 0x15 || type == 0x31 || profile == 0x12 ||
                                          (profile == 0x43 && (type == 0x00 || type == 0x30)));
    if (quick)
        job->duration = FSpec.timing.formatFastSeconds;
    else if (FSpec.timing.formatFullSeconds >= 0)
        job->duration = FSpec.timing.formatFullSeconds;
    else
        job->duration = wholeDiscSeconds(certification);
    return startJob(std::move(job));
}

// DVD+RW with background formatting: 000b stops it (the disc stays partly
// formatted), 010b and 011b close the session, which first lets a running
// format finish; after a stop only the lead-out is written. A quick-formatted
// DVD-RW leaves its intermediate state. Elsewhere nothing is open to close.
VirtualDrive::Reply VirtualDrive::closeTrackSession(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const uint8_t function = command.cdb[2] & 0x07;
    const uint16_t profile = FDisc->profile;
    const bool closeSession = function == 2 || function == 3;
    if (profile == 0x13 && closeSession)
        FIntermediate = false;
    if (isSequential(profile)) {
        closeSequential(function);
        return {};
    }
    if (!FSpec.quirks.backgroundFormat || (profile != 0x1A && profile != 0x2A))
        return {};
    if (function == 0) {
        stopBackground();
        return {};
    }
    if (!closeSession || (FBgStatus != 1 && FBgStatus != 2))
        return {};
    auto job = std::make_unique<Job>();
    job->immediate = command.cdb[1] & 0x01;
    if (FBgStatus == 2) {
        job->kind = Job::FinishFormat;
        job->duration = std::max(0.0, FBgEnd - FClock->now());
        job->progressFrom = backgroundProgress();
    } else {
        job->kind = Job::CloseSession;
        job->duration = FSpec.timing.formatForegroundSeconds;
    }
    return startJob(std::move(job));
}

} // namespace blankora::virtualbay
