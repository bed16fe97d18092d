// What is on the disc: disc and track information, TOC, capacity, and the
// data blocks themselves (READ(10)/WRITE(10) on the node file).

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace blankora::virtualbay {

using transport::ScsiCommand;

VirtualDrive::Reply VirtualDrive::readDiscInformation()
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const DiscSpec &disc = *FDisc;
    const bool cd = isCd(disc.profile);
    const bool erasable = isBlankable(disc.profile) || isOverwritable(disc.profile);
    uint8_t status = 2, lastSession = 3;
    unsigned sessions = disc.sessions, firstInLast = disc.tracks, lastInLast = disc.tracks;
    if (isOverwritable(disc.profile)) {
        status = disc.formatted ? (disc.profile == 0x12 || disc.profile == 0x43 ? 3 : 2) : 0;
        lastSession = disc.formatted ? 3 : 0;
        // A quick-formatted DVD-RW is incomplete until CLOSE SESSION.
        if (disc.profile == 0x13 && FIntermediate)
            status = lastSession = 1;
        sessions = firstInLast = lastInLast = 1;
    } else if (disc.state == DiscState::Blank) {
        status = 0;
        lastSession = 0;
        sessions = 0;
        firstInLast = lastInLast = 1;
    } else {
        // The last session: the closed one of a complete disc, else the open
        // one with the tracks written in it so far and the invisible track.
        const std::vector<Track> list = tracks();
        const unsigned last = disc.state == DiscState::Complete ? disc.sessions : disc.sessions + 1;
        const auto first = std::find_if(list.begin(), list.end(),
                                        [&](const Track &t) { return t.session == last; });
        lastInLast = unsigned(list.size());
        firstInLast = first != list.end() ? unsigned(first - list.begin()) + 1 : lastInLast;
        sessions = last;
        if (disc.state == DiscState::Appendable) {
            status = 1;
            lastSession = first != list.end() && !first->blank ? 1 : 0;
        }
    }
    std::vector<uint8_t> data(34, 0);
    put16(data, 0, 32);
    data[2] = uint8_t((erasable ? 0x10 : 0) | lastSession << 2 | status);
    data[3] = 1;
    data[4] = uint8_t(sessions);
    data[5] = uint8_t(firstInLast);
    data[6] = uint8_t(lastInLast);
    data[9] = uint8_t(sessions >> 8);
    data[10] = uint8_t(firstInLast >> 8);
    data[11] = uint8_t(lastInLast >> 8);
    if (disc.profile == 0x1A || disc.profile == 0x2A)
        data[7] = FBgStatus & 0x03;
    if (status == 2 && !isOverwritable(disc.profile)) {
        put32(data, 16, 0xFFFFFFFF);
        put32(data, 20, 0xFFFFFFFF);
    } else if (cd) {
        putMsf(data, 17, disc.usedBlocks);
        putMsf(data, 21, disc.capacityBlocks);
    } else {
        put32(data, 16, disc.usedBlocks);
        put32(data, 20, disc.capacityBlocks);
    }
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::readTrackInformation(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const DiscSpec &disc = *FDisc;
    std::vector<Track> list;
    if (isOverwritable(disc.profile)) {
        Track whole;
        whole.size = whole.free = disc.capacityBlocks;
        whole.blank = !disc.formatted;
        whole.closed = false;
        list.push_back(whole);
    } else {
        list = tracks();
    }

    const uint32_t number = be32(command.cdb, 2);
    const Track *found = nullptr;
    unsigned trackNumber = 0;
    switch (command.cdb[1] & 0x03) {
    case 0: // LBA
        for (size_t i = 0; i < list.size(); ++i)
            if (number >= list[i].start &&
                number < list[i].start + std::max({1u, list[i].size, list[i].reserved}))
                found = &list[i], trackNumber = unsigned(i + 1);
        break;
    case 1: // track number
        if (number == 0xFF) {
            if (!list.empty() && !list.back().closed)
                found = &list.back(), trackNumber = unsigned(list.size());
        } else if (number >= 1 && number <= list.size()) {
            found = &list[number - 1], trackNumber = number;
        }
        break;
    case 2: // session number: its last track
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].session == number)
                found = &list[i], trackNumber = unsigned(i + 1);
        break;
    default:
        break;
    }
    if (!found)
        return Reply::check(KInvalidField);

    std::vector<uint8_t> data(48, 0);
    put16(data, 0, 46);
    data[2] = uint8_t(trackNumber);
    data[3] = uint8_t(found->session);
    data[5] = found->blank ? 0x07 : 0x04;
    data[6] = uint8_t(found->blank ? 0x40 | 0x0F : (found->reserved > 0 ? 0x80 : 0) | 0x01);
    const bool writable = !found->closed && !(isOverwritable(disc.profile) && !disc.formatted);
    data[7] = uint8_t((writable ? 0x01 : 0) | (!found->blank ? 0x02 : 0));
    put32(data, 8, found->start);
    put32(data, 12,
          writable && !isOverwritable(disc.profile)
              ? found->start + (found->blank ? 0 : found->size)
              : 0);
    put32(data, 16, found->free);
    put32(data, 20, isCd(disc.profile) ? 0 : 16);
    put32(data, 24, std::max(found->size, found->reserved));
    put32(data, 28, found->size > 0 && !found->blank ? found->start + found->size - 1 : 0);
    data[32] = uint8_t(trackNumber >> 8);
    data[33] = uint8_t(found->session >> 8);
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::readToc(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const DiscSpec &disc = *FDisc;
    const bool msf = command.cdb[1] & 0x02;
    const uint8_t format = command.cdb[2] & 0x0F;
    const bool cd = isCd(disc.profile);

    if (format == 4) {
        if (disc.profile != 0x09 && disc.profile != 0x0A && disc.profile != 0x22)
            return Reply::check(KInvalidField);
        std::vector<uint8_t> data(28, 0);
        put16(data, 0, 26);
        data[4] = 0x51;
        data[6] = uint8_t(0x80 | (disc.profile == 0x09 ? 0 : 0x40));
        data[8] = 97, data[9] = 26, data[10] = 66;
        putMsf(data, 12, disc.capacityBlocks);
        return Reply::with(std::move(data));
    }

    // Tracks of the closed sessions; an overwritable disc shows one track
    // spanning it.
    const bool overwritable = isOverwritable(disc.profile);
    std::vector<Track> listed;
    if (overwritable && disc.formatted) {
        Track whole;
        whole.size = disc.capacityBlocks;
        listed.push_back(whole);
    } else if (!overwritable && disc.state != DiscState::Blank) {
        for (const Track &track : tracks())
            if (!track.blank && track.session <= disc.sessions)
                listed.push_back(track);
    }
    const unsigned count = unsigned(listed.size());
    if (count == 0)
        return Reply::check(KInvalidField);
    const uint32_t leadOut = listed.back().start + listed.back().size;
    const auto trackStart = [&](unsigned i) { return listed[i].start; };
    const auto putAddress = [&](std::vector<uint8_t> &out, size_t at, uint32_t lba) {
        if (msf)
            putMsf(out, at + 1, lba);
        else
            put32(out, at, lba);
    };

    std::vector<uint8_t> data(4, 0);
    if (format == 0 || format == 1) {
        data[2] = 1;
        data[3] = uint8_t(format == 0 ? count : std::max(1u, disc.sessions));
        unsigned first = 0;
        while (format == 1 && listed[first].session != listed.back().session)
            ++first;
        const uint8_t startTrack = command.cdb[6];
        for (unsigned i = first; i <= count; ++i) {
            const uint8_t trackNumber = i == count ? 0xAA : uint8_t(i + 1);
            if (format == 0 && startTrack != 0 && trackNumber < startTrack)
                continue;
            if (format == 1 && i == count)
                break;
            const size_t at = data.size();
            data.resize(at + 8, 0);
            data[at + 1] = 0x14;
            data[at + 2] = trackNumber;
            putAddress(data, at + 4, i == count ? leadOut : trackStart(i));
        }
    } else if (format == 2 && cd) {
        data[2] = 1;
        data[3] = uint8_t(std::max(1u, disc.sessions));
        const auto entry = [&](uint8_t point, uint8_t pmin, uint8_t psec, uint8_t pframe) {
            const size_t at = data.size();
            data.resize(at + 11, 0);
            data[at] = 1;
            data[at + 1] = 0x14;
            data[at + 3] = point;
            data[at + 8] = pmin, data[at + 9] = psec, data[at + 10] = pframe;
        };
        entry(0xA0, 1, 0x00, 0);
        entry(0xA1, uint8_t(count), 0, 0);
        std::vector<uint8_t> msfBytes(3);
        putMsf(msfBytes, 0, leadOut);
        entry(0xA2, msfBytes[0], msfBytes[1], msfBytes[2]);
        for (unsigned i = 0; i < count; ++i) {
            putMsf(msfBytes, 0, trackStart(i));
            entry(uint8_t(i + 1), msfBytes[0], msfBytes[1], msfBytes[2]);
        }
    } else {
        return Reply::check(KInvalidField);
    }
    put16(data, 0, unsigned(data.size() - 2));
    return Reply::with(std::move(data));
}

VirtualDrive::Reply VirtualDrive::readCapacity()
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    std::vector<uint8_t> data(8, 0);
    const uint32_t blocks = readableBlocks();
    put32(data, 0, blocks > 0 ? blocks - 1 : 0);
    put32(data, 4, KBlock);
    return Reply::with(std::move(data));
}

// The node file is the disc's store. Zeros are stored as holes, so zero-filling
// a 25 GB disc costs no disk space: past the end the file grows sparse, inside
// it the range is punched out.
bool VirtualDrive::storeBlocks(std::span<const uint8_t> bytes, off_t offset)
{
    const int fd = ::open(FNode.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    const bool zeros = std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
    const off_t end = offset + off_t(bytes.size());
    struct stat info = {};
    bool stored = false;
    if (zeros && ::fstat(fd, &info) == 0) {
        if (offset >= info.st_size)
            stored = ::ftruncate(fd, end) == 0;
        else
            stored = ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset,
                                 off_t(bytes.size())) == 0 &&
                     (end <= info.st_size || ::ftruncate(fd, end) == 0);
    }
    if (!stored)
        stored = ::pwrite(fd, bytes.data(), bytes.size(), offset) == ssize_t(bytes.size());
    ::close(fd);
    return stored;
}

VirtualDrive::Reply VirtualDrive::write10(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    DiscSpec &disc = *FDisc;
    if (disc.writeProtected)
        return Reply::check(KWriteProtected);
    if (isSequential(disc.profile))
        return writeSequential(command);
    if (!isOverwritable(disc.profile))
        return Reply::check(disc.profile == 0x08 || disc.profile == 0x10 || disc.profile == 0x40
                                ? Sense{0x05, 0x30, 0x05}
                                : KInvalidAddress);
    const uint32_t lba = be32(command.cdb, 2);
    const uint32_t count = be16(command.cdb, 7);
    if (disc.profile == 0x13 && (lba % 16 != 0 || count % 16 != 0))
        return Reply::check(KInvalidAddress);
    if (uint64_t(lba) + count > disc.capacityBlocks)
        return Reply::check(KOutOfRange);
    // A zero-fill going over the vanishing point loses the drive.
    if (FSpec.faults.vanishDuringJob >= 0 &&
        uint64_t(lba) + count > uint64_t(FSpec.faults.vanishDuringJob * disc.capacityBlocks)) {
        FGone = true;
        return Reply::linkFault(FSpec.faults.vanishAs);
    }
    // A partly formatted DVD+RW takes writes only inside the formatted part
    // until the format is resumed (growisofs plus_rw_restart_format).
    if (FSpec.quirks.partlyRefusesWrite && FBgStatus == 1 &&
        uint64_t(lba) + count > formattedPart())
        return Reply::check(KOutOfRange);
    if (count == 0)
        return {};
    // A first write to a virgin DVD+RW starts its background formatting.
    if (!disc.formatted) {
        disc.formatted = true;
        disc.state = DiscState::Complete;
        FBgStatus = 1;
        if (FSpec.quirks.backgroundFormat) {
            FBgTotal = FSpec.timing.formatFullSeconds >= 0 ? FSpec.timing.formatFullSeconds
                                                           : wholeDiscSeconds(false);
            startBackground(FBgTotal);
        }
    }
    if (!storeBlocks(command.dataOut.first(size_t(count) * KBlock), off_t(lba) * off_t(KBlock)))
        return Reply::check(Sense{0x03, 0x0C, 0x00});
    disc.label.clear();
    return {};
}

uint32_t VirtualDrive::formattedPart() const
{
    return uint32_t(FDisc->capacityBlocks * backgroundProgress());
}

VirtualDrive::Reply VirtualDrive::read10(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const uint32_t lba = be32(command.cdb, 2);
    const uint32_t count = be16(command.cdb, 7);
    if (uint64_t(lba) + count > readableBlocks())
        return Reply::check(KOutOfRange);
    std::vector<uint8_t> data(size_t(count) * KBlock, 0);
    const int fd = ::open(FNode.c_str(), O_RDONLY);
    if (fd >= 0) {
        const ssize_t got = ::pread(fd, data.data(), data.size(), off_t(lba) * off_t(KBlock));
        (void)got; // past the end of the file the disc reads as zeros
        ::close(fd);
    }
    return Reply::with(std::move(data));
}

} // namespace blankora::virtualbay
