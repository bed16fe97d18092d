#include "library/mmc/MmcMedia.h"

#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcParsers.h"
#include "library/mmc/MmcProfiles.h"
#include "library/mmc/MmcSense.h"
#include "library/mmc/MmcText.h"

#include <algorithm>

namespace blankora::mmc {

namespace {

template <class T, class U> MmcResult<T> failedFrom(MmcResult<U> &&other)
{
    MmcResult<T> result;
    result.scsi = std::move(other.scsi);
    result.text = std::move(other.text);
    return result;
}

// Blocks of the ISO 9660 volume on the disc, 0 when block 16 holds none.
uint64_t isoVolumeBlocks(ScsiTransport &transport)
{
    std::vector<uint8_t> block(BlockSize);
    if (!read10(transport, 16, 1, block))
        return 0;
    const auto blocks = parseIsoVolumeBlocks(block);
    return blocks ? blocks.value : 0;
}

MmcResult<DiscSpace> overwritableSpace(ScsiTransport &transport)
{
    uint64_t totalBlocks = 0;
    const auto formats = readFormatCapacities(transport);
    if (formats && formats.value.currentType == CapacityType::Formatted)
        totalBlocks = formats.value.currentBlocks;
    if (totalBlocks == 0) {
        auto capacity = readCapacity(transport);
        if (capacity)
            totalBlocks = uint64_t(capacity.value.lastLba) + 1;
        else if (formats)
            totalBlocks = formats.value.currentBlocks; // unformatted: what a format would give
        else
            return failedFrom<DiscSpace>(std::move(capacity));
    }
    const uint64_t used = std::min<uint64_t>(isoVolumeBlocks(transport), totalBlocks);
    return succeeded(DiscSpace{used * BlockSize, (totalBlocks - used) * BlockSize});
}

uint32_t incompleteTrack(uint16_t profile, const DiscInfo &disc)
{
    if (isCdProfile(profile) || profile == profile::DvdPlusR || profile == profile::DvdPlusRDl)
        return InvisibleTrack;
    return disc.lastTrackInLastSession;
}

uint16_t clamp16(uint32_t v)
{
    return static_cast<uint16_t>(std::min<uint32_t>(v, SpeedMax));
}

} // namespace

MmcResult<DiscSpace> readDiscSpace(ScsiTransport &transport, uint16_t profile)
{
    if (profile == profile::None)
        return failed<DiscSpace>(
            trText(QT_TRANSLATE_NOOP("Mmc", "There is no disc in the drive.")));
    if (isOverwritable(profile) || profile == profile::DvdRwRestricted)
        return overwritableSpace(transport);

    auto disc = readDiscInformation(transport);
    if (!disc)
        return failedFrom<DiscSpace>(std::move(disc));
    if (disc.value.discStatus == 2 || !isWritableProfile(profile)) {
        auto capacity = readCapacity(transport);
        if (!capacity)
            return failedFrom<DiscSpace>(std::move(capacity));
        return succeeded(DiscSpace{(uint64_t(capacity.value.lastLba) + 1) * BlockSize, 0});
    }
    auto track =
        readTrackInformation(transport, TrackAddress::Track, incompleteTrack(profile, disc.value));
    if (!track)
        return failedFrom<DiscSpace>(std::move(track));
    return succeeded(DiscSpace{uint64_t(track.value.nextWritable) * BlockSize,
                               uint64_t(track.value.freeBlocks) * BlockSize});
}

namespace {

const std::vector<WriteSpeedEntry> &writeSpeedsOf(ScsiTransport &transport, SpeedFacts &facts)
{
    if (!facts.writeSpeeds) {
        auto speeds = getWriteSpeeds(transport);
        facts.writeSpeeds = speeds ? std::move(speeds.value) : std::vector<WriteSpeedEntry>();
    }
    return *facts.writeSpeeds;
}

} // namespace

MmcResult<SpeedInfo> readSpeeds(ScsiTransport &transport, uint16_t profile, SpeedFacts *facts)
{
    auto page = modeSenseCapabilities(transport);
    if (!page)
        return failedFrom<SpeedInfo>(std::move(page));
    SpeedInfo info;
    info.currentReadKBps = page.value.currentReadSpeed;
    info.maxReadKBps = page.value.maxReadSpeed;
    info.currentWriteKBps = page.value.currentWriteSpeed;
    info.maxWriteKBps = page.value.maxWriteSpeed;
    // Some drives keep CD speeds in the page while a DVD is loaded.
    const uint32_t plausibleMinimum = isDvdProfile(profile) ? 1352 : 0;
    for (const WriteSpeedDescriptor &d : page.value.writeSpeeds) {
        if (d.speed >= plausibleMinimum)
            info.writeSpeedsKBps.push_back(d.speed);
    }

    SpeedFacts once;
    if (profile != profile::None) {
        const auto &speeds = writeSpeedsOf(transport, facts ? *facts : once);
        if (!speeds.empty()) {
            info.writeSpeedsKBps.clear();
            for (const WriteSpeedEntry &e : speeds) {
                if (e.writeSpeed > 0)
                    info.writeSpeedsKBps.push_back(e.writeSpeed);
            }
            const auto current = getCurrentWritePerformance(transport);
            if (current && current.value.endPerformance > 0)
                info.currentWriteKBps = current.value.endPerformance;
        }
    }
    std::sort(info.writeSpeedsKBps.begin(), info.writeSpeedsKBps.end(), std::greater<>());
    info.writeSpeedsKBps.erase(
        std::unique(info.writeSpeedsKBps.begin(), info.writeSpeedsKBps.end()),
        info.writeSpeedsKBps.end());
    if (!info.writeSpeedsKBps.empty())
        info.maxWriteKBps = std::max(info.maxWriteKBps, info.writeSpeedsKBps.front());
    return succeeded(std::move(info));
}

MmcStatus setSpeeds(ScsiTransport &transport, uint16_t profile, uint32_t readKBps,
                    uint32_t writeKBps, SpeedFacts *facts)
{
    SpeedFacts once;
    SpeedFacts &known = facts ? *facts : once;
    MmcStatus status;
    if ((isDvdProfile(profile) || isBdProfile(profile)) && !known.streamingUnknown) {
        StreamingRequest request;
        request.endLba = 2294920; // a single-layer DVD when the drive tells nothing better
        uint32_t fastestWrite = 0;
        uint32_t fastestRead = 0;
        if (const auto &speeds = writeSpeedsOf(transport, known); !speeds.empty()) {
            for (const WriteSpeedEntry &e : speeds) {
                request.endLba = std::max(request.endLba, e.endLba);
                fastestWrite = std::max(fastestWrite, e.writeSpeed);
                fastestRead = std::max(fastestRead, e.readSpeed);
            }
        } else {
            if (!known.lastLba) {
                const auto capacity = readCapacity(transport);
                known.lastLba = capacity ? capacity.value.lastLba : 0;
            }
            if (*known.lastLba > 0)
                request.endLba = *known.lastLba;
        }
        request.writeKBps = writeKBps >= SpeedMax && fastestWrite ? fastestWrite : writeKBps;
        request.readKBps = readKBps >= SpeedMax && fastestRead ? fastestRead : readKBps;
        status = setStreaming(transport, request);
        known.streamingUnknown = !status && isUnknownCommand(senseOf(status.scsi));
    }
    if (!status.ok)
        status = setCdSpeed(transport, clamp16(readKBps), clamp16(writeKBps));
    return status;
}

uint8_t offeredCertification(ScsiTransport &transport)
{
    const auto config = getConfiguration(transport, FeatureRequest::One, feature::Formattable);
    return config ? config.value.certification() : 0;
}

namespace {

bool refusedField(const MmcStatus &status)
{
    const SenseInfo sense = senseOf(status.scsi);
    return status.scsi.category == transport::ResultCategory::CheckCondition &&
           sense.senseKey == 0x05 && (sense.asc == 0x24 || sense.asc == 0x26);
}

} // namespace

MmcResult<FormatRequest> formatWithCertificationFallback(ScsiTransport &transport,
                                                         const FormatRequest &request,
                                                         uint8_t certification,
                                                         const FormatCapacities *formats)
{
    constexpr uint8_t CertFull = 0x02, CertQuick = 0x03;
    std::vector<FormatRequest> attempts{request};
    const bool certifying = request.descriptor.type == 0x30 &&
                            (request.subType == CertFull || request.subType == CertQuick);
    if (certifying) {
        if (request.subType == CertFull && (certification & 0x02)) {
            FormatRequest quick = request;
            quick.subType = CertQuick;
            attempts.push_back(quick);
        }
        FormatRequest plain = request;
        plain.subType = 0;
        if (const FormatDescriptor *listed = formats ? formats->find(0x00) : nullptr)
            plain.descriptor = *listed;
        attempts.push_back(plain);
    }
    MmcStatus status;
    for (const FormatRequest &attempt : attempts) {
        status = formatUnit(transport, attempt);
        if (status) {
            MmcResult<FormatRequest> result = succeeded(attempt);
            result.scsi = std::move(status.scsi);
            return result;
        }
        if (!refusedField(status))
            break;
    }
    return failedFrom<FormatRequest>(std::move(status));
}

} // namespace blankora::mmc
