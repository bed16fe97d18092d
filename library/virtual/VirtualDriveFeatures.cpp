// What the drive can do: features, the capabilities page, speeds and the
// DVD region.

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>

namespace blankora::virtualbay {

using transport::ScsiCommand;

VirtualDrive::Reply VirtualDrive::getConfiguration(const ScsiCommand &command)
{
    const uint8_t rt = command.cdb[1] & 0x03;
    const uint16_t start = be16(command.cdb, 2);
    if (rt == 3)
        return Reply::check(KInvalidField);

    const uint16_t current = discPresent() ? FDisc->profile : 0;
    const auto has = [&](std::initializer_list<uint16_t> profiles) {
        return std::any_of(profiles.begin(), profiles.end(), [&](uint16_t p) {
            return std::binary_search(FSpec.profiles.begin(), FSpec.profiles.end(), p);
        });
    };
    const auto hasIf = [&](auto predicate) {
        return std::any_of(FSpec.profiles.begin(), FSpec.profiles.end(), predicate);
    };
    const auto loaded = [&](std::initializer_list<uint16_t> profiles) {
        return current != 0 &&
               std::find(profiles.begin(), profiles.end(), current) != profiles.end();
    };
    const bool writer =
        has({0x09, 0x0A, 0x11, 0x12, 0x13, 0x14, 0x15, 0x1A, 0x1B, 0x2A, 0x2B, 0x41, 0x42, 0x43});
    const bool formatted = discPresent() && FDisc->formatted;

    struct Feature
    {
        uint16_t code;
        uint8_t version;
        bool current;
        std::vector<uint8_t> payload;
    };
    std::vector<Feature> features;
    const auto add = [&](uint16_t code, uint8_t version, bool isCurrent, size_t size) {
        features.push_back(Feature{code, version, isCurrent, std::vector<uint8_t>(size, 0)});
        return &features.back().payload;
    };

    std::vector<uint8_t> *p = add(0x0000, 0, true, FSpec.profiles.size() * 4);
    size_t at = 0;
    for (auto it = FSpec.profiles.rbegin(); it != FSpec.profiles.rend(); ++it, at += 4) {
        put16(*p, at, *it);
        (*p)[at + 2] = *it == current ? 1 : 0;
    }
    p = add(0x0001, 2, true, 8);
    (*p)[3] = 0x02; // ATAPI
    (*p)[4] = 0x01;
    add(0x0002, 1, true, 4)->at(0) = 0x02;
    add(0x0003, 0, true, 4)->at(0) = 0x20 | 0x10 | 0x08 | 0x01;
    p = add(0x0010, 0, current != 0, 8);
    put32(*p, 0, KBlock);
    put16(*p, 4, isCd(current) ? 1 : isBd(current) ? 32 : 16);
    (*p)[6] = 1;
    if (hasIf(isCd)) {
        add(0x001D, 0, isCd(current), 0);
        add(0x001E, 2, isCd(current), 4);
    }
    if (hasIf(isDvd))
        add(0x001F, 1, isDvd(current), 4);
    if (has({0x12, 0x13, 0x1A, 0x2A, 0x43})) {
        p = add(0x0020, 0, loaded({0x12, 0x13, 0x1A, 0x2A, 0x43}) && formatted, 12);
        put32(*p, 0, discPresent() ? FDisc->capacityBlocks - 1 : 0);
        put32(*p, 4, KBlock);
        put16(*p, 8, 16);
        (*p)[10] = 1;
    }
    if (has({0x09, 0x0A, 0x11, 0x14})) {
        p = add(0x0021, 1, loaded({0x09, 0x0A, 0x11}) || (loaded({0x14}) && !FDaoOnly), 8);
        put16(*p, 0, 0x0001);
        (*p)[2] = 0x01;
        (*p)[3] = 1;
        (*p)[4] = isCd(current) ? 7 : 16;
    }
    if (has({0x12}))
        add(0x0022, 0, loaded({0x12}), 0);
    if (has({0x12, 0x13, 0x14, 0x1A, 0x2A, 0x43})) {
        p = add(0x0023, 0, loaded({0x12, 0x13, 0x14, 0x1A, 0x2A, 0x43}), 8);
        // BD-RE certification the drive offers: Cert (30h sub-type 10b), QCert (11b).
        if (has({0x43}))
            (*p)[0] = uint8_t((FSpec.quirks.certifyFull || FSpec.quirks.refuseFull ? 0x01 : 0) |
                              (FSpec.quirks.certifyQuick || FSpec.quirks.refuseQuick ? 0x02 : 0));
    }
    if (has({0x12, 0x43}))
        add(0x0024, 0, loaded({0x12, 0x43}), 4)->at(0) = 0x80;
    if (has({0x13}))
        add(0x0026, 0, loaded({0x13}), 0);
    if (has({0x1A}))
        add(0x002A, 1, loaded({0x1A}), 4)->at(0) = 0x01;
    if (has({0x1B}))
        add(0x002B, 0, loaded({0x1B}), 4)->at(0) = 0x01;
    if (has({0x13, 0x14}))
        add(0x002C, 0, loaded({0x13}), 4)->at(0) = 0x07;
    if (has({0x09, 0x0A})) {
        p = add(0x002D, 2, loaded({0x09, 0x0A}), 4);
        (*p)[0] = uint8_t(0x40 | 0x04 | (has({0x0A}) ? 0x02 : 0));
        put16(*p, 2, 0xFFFF);
        p = add(0x002E, 1, loaded({0x09, 0x0A}), 4);
        (*p)[0] = uint8_t(0x40 | 0x20 | 0x04 | (has({0x0A}) ? 0x02 : 0));
        put24(*p, 1, 0x00FFFF);
    }
    if (has({0x11, 0x14}))
        add(0x002F, 1, loaded({0x11, 0x13, 0x14, 0x15}), 4)->at(0) =
            uint8_t(0x40 | 0x04 | (has({0x14}) ? 0x02 : 0) | (has({0x15}) ? 0x08 : 0));
    if (has({0x2A}))
        add(0x003A, 0, loaded({0x2A}), 4)->at(0) = 0x01;
    if (has({0x2B}))
        add(0x003B, 0, loaded({0x2B}), 4)->at(0) = 0x01;
    if (hasIf(isBd))
        add(0x0040, 0, isBd(current), 28);
    if (has({0x41, 0x42, 0x43}))
        add(0x0041, 0, loaded({0x41, 0x42, 0x43}), 20);
    if (hasIf(isDvd) && FSpec.region)
        add(0x0106, 0, isDvd(current), 4)->at(3) = 0x01;
    if (writer)
        add(0x0107, 3, true, 4)->at(0) = 0x1F;

    std::vector<uint8_t> data(8, 0);
    put16(data, 6, current);
    for (const Feature &feature : features) {
        if (FSpec.features && feature.code > 0x0001 && !FSpec.features->contains(feature.code))
            continue;
        if (rt == 2 ? feature.code != start : feature.code < start)
            continue;
        if (rt == 1 && !feature.current)
            continue;
        const size_t offset = data.size();
        data.resize(offset + 4 + feature.payload.size());
        put16(data, offset, feature.code);
        data[offset + 2] = uint8_t(feature.version << 2 | (feature.code <= 0x0003 ? 0x02 : 0) |
                                   (feature.current ? 0x01 : 0));
        data[offset + 3] = uint8_t(feature.payload.size());
        std::copy(feature.payload.begin(), feature.payload.end(), data.begin() + offset + 4);
    }
    put32(data, 0, uint32_t(data.size() - 4));
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::modeSense(const ScsiCommand &command)
{
    const uint8_t page = command.cdb[2] & 0x3F;
    const uint8_t control = command.cdb[2] >> 6;
    const bool writer = std::any_of(FSpec.profiles.begin(), FSpec.profiles.end(), [](uint16_t p) {
        return isSequential(p) || isOverwritable(p);
    });
    if (page != 0x2A && page != 0x3F && !(page == 0x05 && writer))
        return Reply::check(KInvalidField);
    if (control == 3)
        return Reply::check(Sense{0x05, 0x39, 0x00});
    if (page == 0x05)
        return Reply::with(writeParameters(control));

    const auto has = [&](uint16_t profile) {
        return std::binary_search(FSpec.profiles.begin(), FSpec.profiles.end(), profile);
    };
    const SpeedSet *loaded = speedsForDisc();
    std::vector<unsigned> writeSpeeds, readSpeeds;
    if (loaded) {
        writeSpeeds = loaded->write;
        readSpeeds = loaded->read;
    } else {
        for (const auto &[profile, set] : FSpec.speeds) {
            if (!set.write.empty() &&
                (writeSpeeds.empty() || set.write.back() > writeSpeeds.back()))
                writeSpeeds = {set.write.back()};
            if (!set.read.empty() && (readSpeeds.empty() || set.read.back() > readSpeeds.back()))
                readSpeeds = {set.read.back()};
        }
    }
    const auto cap16 = [](unsigned value) { return std::min(value, 0xFFFFu); };
    const unsigned maxWrite = writeSpeeds.empty() ? 0 : writeSpeeds.back();
    const unsigned maxRead = readSpeeds.empty() ? 0 : readSpeeds.back();
    const unsigned currentWrite = loaded ? resolveSpeed(FRequestedWrite, writeSpeeds) : maxWrite;
    const unsigned currentRead = loaded ? resolveSpeed(FRequestedRead, readSpeeds) : maxRead;

    const size_t k = writeSpeeds.size();
    std::vector<uint8_t> data(8 + 32 + 4 * k, 0);
    put16(data, 0, unsigned(data.size() - 2));
    uint8_t *pageBytes = data.data() + 8;
    pageBytes[0] = 0x2A;
    pageBytes[1] = uint8_t(30 + 4 * k);
    if (control != 1) {
        pageBytes[2] =
            uint8_t((has(0x08) || has(0x09) ? 0x01 : 0) | (has(0x0A) ? 0x02 : 0) | 0x04 |
                    (has(0x10) ? 0x08 : 0) | (has(0x11) ? 0x10 : 0) | (has(0x12) ? 0x20 : 0));
        pageBytes[3] = uint8_t((has(0x09) ? 0x01 : 0) | (has(0x0A) ? 0x02 : 0) |
                               (has(0x09) || has(0x11) ? 0x04 : 0) | (has(0x11) ? 0x10 : 0) |
                               (has(0x12) ? 0x20 : 0));
        pageBytes[4] = uint8_t((maxWrite > 0 ? 0x80 : 0) | 0x71);
        pageBytes[5] = 0x30;
        pageBytes[6] = uint8_t(0x20 | 0x08 | 0x01 | (FLockHolders.empty() ? 0 : 0x02));
        put16(data, 8 + 8, cap16(maxRead));
        put16(data, 8 + 10, 256);
        put16(data, 8 + 12, FSpec.bufferKiB);
        put16(data, 8 + 14, cap16(currentRead));
        put16(data, 8 + 18, cap16(maxWrite));
        put16(data, 8 + 20, cap16(currentWrite));
        put16(data, 8 + 28, cap16(currentWrite));
        put16(data, 8 + 30, unsigned(k));
        for (size_t i = 0; i < k; ++i)
            put16(data, 8 + 32 + 4 * i + 2, cap16(writeSpeeds[k - 1 - i]));
    }
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::getPerformance(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const uint8_t type = command.cdb[10];
    const SpeedSet *speeds = speedsForDisc();
    const std::vector<unsigned> none;
    const std::vector<unsigned> &write = speeds ? speeds->write : none;
    const std::vector<unsigned> &read = speeds ? speeds->read : none;
    const uint32_t lastLba = FDisc->capacityBlocks - 1;
    std::vector<uint8_t> data(8, 0);
    if (type == 0x03) {
        for (auto it = write.rbegin(); it != write.rend(); ++it) {
            const size_t at = data.size();
            data.resize(at + 16, 0);
            put32(data, at + 4, lastLba);
            put32(data, at + 8, read.empty() ? 0 : read.back());
            put32(data, at + 12, *it);
        }
    } else if (type == 0x00) {
        const bool writeData = command.cdb[1] & 0x04;
        const unsigned speed =
            writeData ? resolveSpeed(FRequestedWrite, write) : resolveSpeed(FRequestedRead, read);
        data[4] = writeData ? 0x02 : 0x00;
        data.resize(24, 0);
        put32(data, 8 + 4, speed);
        put32(data, 8 + 8, lastLba);
        put32(data, 8 + 12, speed);
    } else {
        return Reply::check(KInvalidField);
    }
    put32(data, 0, uint32_t(data.size() - 4));
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::setCdSpeed(const ScsiCommand &command)
{
    FRequestedRead = be16(command.cdb, 2);
    FRequestedWrite = be16(command.cdb, 4);
    return {};
}

VirtualDrive::Reply VirtualDrive::setStreaming(const ScsiCommand &command)
{
    if (command.cdb[8] != 0x00)
        return Reply::check(KInvalidField);
    const auto descriptor = command.dataOut;
    if (be16(command.cdb, 9) < 28)
        return Reply::check(KParameterLength);
    if (descriptor[0] & 0x04) { // RDD: back to the drive's defaults
        FRequestedRead = FRequestedWrite = 0xFFFF;
        return {};
    }
    const uint32_t readSize = be32(descriptor, 12), readTime = be32(descriptor, 16);
    const uint32_t writeSize = be32(descriptor, 20), writeTime = be32(descriptor, 24);
    if (readTime == 0 || writeTime == 0)
        return Reply::check(KInvalidParameter);
    FRequestedRead = unsigned(std::min<uint64_t>(uint64_t(readSize) * 1000 / readTime, 0xFFFF));
    FRequestedWrite = unsigned(std::min<uint64_t>(uint64_t(writeSize) * 1000 / writeTime, 0xFFFF));
    return {};
}

VirtualDrive::Reply VirtualDrive::reportKey(const ScsiCommand &command)
{
    if (!FSpec.region)
        return Reply::check(KInvalidOpcode);
    if ((command.cdb[10] & 0x3F) != 0x08 || command.cdb[7] != 0)
        return Reply::check(KInvalidField);
    const RegionState &region = *FSpec.region;
    std::vector<uint8_t> data(8, 0);
    put16(data, 0, 6);
    data[4] =
        uint8_t(region.typeCode << 6 | (region.vendorResets & 7) << 3 | (region.userChanges & 7));
    data[5] = region.mask;
    data[6] = region.scheme;
    return Reply::with(std::move(data));
}

} // namespace blankora::virtualbay
