// Sequential recording on CD-R/RW and DVD-R/RW: the write parameters page
// 05h (MODE SENSE/SELECT(10)), tracks written at the next writable address,
// RESERVE TRACK, and the track and session closing that SYNCHRONIZE CACHE and
// CLOSE TRACK/SESSION do. As libburn (mmc.c mmc_compose_mode_page_5,
// mmc_get_nwa, spc.c spc_select_write_params) and dvd+rw-tools
// (transport.hxx page05_setup, growisofs_mmc.cpp minus_r_reserve_track,
// minus_r_finalize) drive it.

#include "library/virtual/VirtualDriveDetail.h"

namespace blankora::virtualbay {

using transport::ScsiCommand;

namespace {

constexpr uint8_t KPageLength = 0x32;

uint8_t writeType(std::span<const uint8_t> page)
{
    return page[2] & 0x0F;
}

} // namespace

std::vector<VirtualDrive::Track> VirtualDrive::tracks() const
{
    const DiscSpec &disc = *FDisc;
    std::vector<Track> list = FRecorded;
    if (list.empty()) {
        // The declared disc: its tracks share the used blocks evenly.
        for (unsigned i = 0; i < disc.tracks; ++i) {
            Track track;
            track.start = uint32_t(uint64_t(disc.usedBlocks) * i / disc.tracks);
            track.size = uint32_t(uint64_t(disc.usedBlocks) * (i + 1) / disc.tracks) - track.start;
            track.session = std::min(disc.sessions, 1 + i * disc.sessions / disc.tracks);
            list.push_back(track);
        }
    }
    if (disc.state != DiscState::Complete && (list.empty() || list.back().closed)) {
        Track invisible;
        invisible.start = list.empty() ? disc.usedBlocks : list.back().end();
        invisible.session = disc.sessions + 1;
        invisible.closed = false;
        invisible.blank = true;
        list.push_back(invisible);
    }
    if (!list.empty() && !list.back().closed) {
        Track &open = list.back();
        const uint32_t nwa = open.start + open.size;
        open.free = open.reserved > 0 ? open.reserved - open.size
                                      : (disc.capacityBlocks > nwa ? disc.capacityBlocks - nwa : 0);
        if (open.blank)
            open.size = open.free;
    }
    return list;
}

// Current (0), changeable (1) or default (2) values of page 05h behind the
// MODE SENSE(10) header. The defaults follow what libburn selects: TAO, data
// track mode 4, Mode 1 blocks on CD; incremental with link size 16 on DVD-R/RW.
std::vector<uint8_t> VirtualDrive::writeParameters(uint8_t control) const
{
    std::vector<uint8_t> data(8 + 2 + KPageLength, 0);
    put16(data, 0, unsigned(data.size() - 2));
    uint8_t *page = data.data() + 8;
    page[0] = 0x05;
    page[1] = KPageLength;
    if (control == 1) {
        std::fill(page + 2, page + 2 + KPageLength, 0xFF);
        page[2] = 0x7F;
        page[6] = page[9] = 0;
        return data;
    }
    if (control == 0 && !FWritePage.empty()) {
        std::copy(FWritePage.begin(), FWritePage.end(), page);
        return data;
    }
    const bool dvd = discPresent()
                         ? isDvd(FDisc->profile)
                         : std::none_of(FSpec.profiles.begin(), FSpec.profiles.end(),
                                        [](uint16_t p) { return p == 0x09 || p == 0x0A; });
    page[2] = uint8_t(0x40 | (dvd ? 0x20 : 0x01));
    page[3] = dvd ? 0x05 : 0x04;
    page[4] = 0x08;
    page[5] = dvd ? 16 : 0;
    if (!dvd)
        put16(data, 8 + 14, 150);
    return data;
}

// A parameter list of an eight-byte header, no block descriptor or one, then
// pages. Page 05h is checked and kept; other pages are taken as they come.
VirtualDrive::Reply VirtualDrive::modeSelect(const ScsiCommand &command)
{
    const size_t length = be16(command.cdb, 7);
    if (length == 0)
        return {};
    const std::span<const uint8_t> list = command.dataOut.first(length);
    if (length < 8)
        return Reply::check(KParameterLength);
    const size_t descriptors = be16(list, 6);
    if (descriptors != 0 && descriptors != 8)
        return Reply::check(KInvalidParameter);
    for (size_t at = 8 + descriptors; at < length;) {
        if (at + 2 > length || at + 2 + list[at + 1] > length)
            return Reply::check(KParameterLength);
        const uint8_t code = list[at] & 0x3F;
        const std::span<const uint8_t> page = list.subspan(at, 2 + list[at + 1]);
        at += page.size();
        if (code != 0x05)
            continue;
        if (page[1] != KPageLength)
            return Reply::check(KInvalidParameter);
        const bool dvd = discPresent() && isDvd(FDisc->profile);
        const uint8_t type = page[2] & 0x0F;
        const uint8_t block = page[4] & 0x0F;
        const bool typeValid = dvd ? type == 0 || type == 2 : type <= 3;
        const bool blockValid = dvd ? block == 8 : block <= 3 || (block >= 8 && block <= 13);
        if (!typeValid || !blockValid || (page[3] >> 6) == 2)
            return Reply::check(KInvalidParameter);
        FWritePage.assign(page.begin(), page.end());
        FWritePage[0] &= 0x3F;
    }
    return {};
}

VirtualDrive::Reply VirtualDrive::reserveTrack(const ScsiCommand &command)
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    DiscSpec &disc = *FDisc;
    if (!isSequential(disc.profile))
        return {};
    const std::vector<Track> list = tracks();
    const Track &open = list.back();
    if (disc.state == DiscState::Complete || !open.blank)
        return Reply::check(KSequenceError);
    const uint32_t blocks = be32(command.cdb, 5);
    if ((command.cdb[1] & 0x01) || blocks == 0 || blocks > open.free)
        return Reply::check(KInvalidField);
    FRecorded.assign(list.begin(), list.end() - 1);
    Track reserved = open;
    reserved.blank = false;
    reserved.size = 0;
    reserved.reserved = blocks;
    FRecorded.push_back(reserved);
    disc.tracks = unsigned(FRecorded.size());
    disc.state = DiscState::Appendable;
    return {};
}

VirtualDrive::Reply VirtualDrive::writeSequential(const ScsiCommand &command)
{
    DiscSpec &disc = *FDisc;
    const std::vector<uint8_t> sensed = writeParameters(0);
    const std::span<const uint8_t> page = std::span<const uint8_t>(sensed).subspan(8);
    const uint32_t lba = be32(command.cdb, 2);
    const uint32_t count = be16(command.cdb, 7);
    if (disc.state == DiscState::Complete)
        return Reply::check(KInvalidAddress);
    std::vector<Track> list = tracks();
    Track open = list.back();
    const uint32_t nwa = open.blank ? open.start : open.start + open.size;
    if (lba != nwa || count > open.free)
        return Reply::check(KInvalidAddress);
    // Session-at-once needs a cue sheet on CD and a reservation on DVD; a
    // minimally blanked DVD-RW takes no incremental recording.
    const uint8_t type = writeType(page);
    const bool dvd = isDvd(disc.profile);
    if ((!dvd && type >= 2) || (dvd && type == 2 && open.reserved == 0))
        return Reply::check(KSequenceError);
    if ((dvd && type == 0 && FDaoOnly) || ((page[4] & 0x0F) != 8 && (page[4] & 0x0F) != 10))
        return Reply::check(KIllegalMode);
    if (count == 0 || (page[2] & 0x10)) // a test write records nothing
        return {};
    if (!storeBlocks(command.dataOut.first(size_t(count) * KBlock), off_t(lba) * off_t(KBlock)))
        return Reply::check(Sense{0x03, 0x0C, 0x00});
    if (open.blank) {
        open.blank = false;
        open.size = 0;
        list.back() = open;
    }
    list.back().size += count;
    FRecorded = std::move(list);
    disc.tracks = unsigned(FRecorded.size());
    disc.usedBlocks = FRecorded.back().start + FRecorded.back().size;
    disc.state = DiscState::Appendable;
    disc.label.clear();
    return {};
}

// SYNCHRONIZE CACHE ends a TAO track on CD, and a DAO recording once its
// reservation is written (growisofs' minus_r_finalize only flushes then).
VirtualDrive::Reply VirtualDrive::synchronizeCache()
{
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    if (!isSequential(FDisc->profile) || FRecorded.empty() || FRecorded.back().closed)
        return {};
    const Track &open = FRecorded.back();
    const uint8_t type = writeParameters(0)[8 + 2] & 0x0F;
    if (isDvd(FDisc->profile) && type == 2 && open.reserved > 0 && open.size >= open.reserved)
        closeSequential(2);
    else if (!isDvd(FDisc->profile) && type == 1 && open.size > 0)
        closeSequential(1);
    return {};
}

// CLOSE TRACK (1) closes the incomplete track; CLOSE SESSION (2) also its
// session, leaving the disc appendable when page 05h allows a next session;
// the finalizing functions close the disc. Function 0 stops a DVD+RW
// background format and has nothing to close here.
void VirtualDrive::closeSequential(uint8_t function)
{
    DiscSpec &disc = *FDisc;
    if (function == 0)
        return;
    if (!FRecorded.empty())
        FRecorded.back().closed = true;
    if (function < 2)
        return;
    const bool sessionOpen = !FRecorded.empty() && FRecorded.back().session > disc.sessions;
    if (!sessionOpen)
        return;
    const std::vector<uint8_t> page = writeParameters(0);
    const bool multisession = (page[8 + 3] >> 6) == 3;
    disc.sessions = FRecorded.back().session;
    const bool room = disc.capacityBlocks > FRecorded.back().end();
    disc.state =
        function == 2 && multisession && room ? DiscState::Appendable : DiscState::Complete;
}

} // namespace blankora::virtualbay
