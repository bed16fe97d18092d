// Commands that the kernel's sr driver and other burning programs send and
// the rest of the drive does not answer: MODE SENSE(6) and MODE SELECT(6)
// (the kernel's scsi_mode_sense, wodim), READ BUFFER CAPACITY (growisofs'
// progress and its buffer drain, growisofs_mmc.cpp), READ DVD STRUCTURE
// (dvd+rw-mediainfo, growisofs, xorriso), MECHANISM STATUS and RESERVE TRACK.
// Layouts as xrg/pkg-dvd-rw-tools and svn2github/libburn read them.

#include "library/virtual/VirtualDriveDetail.h"

#include <algorithm>

namespace blankora::virtualbay {

using transport::ScsiCommand;

namespace {

// Book type and part version of READ DVD STRUCTURE format 00h, byte 4
// (dvd+rw-mediainfo prints it as "Media Book Type").
uint8_t bookType(uint16_t profile)
{
    switch (profile) {
    case 0x12:
        return 0x11; // DVD-RAM, version 1
    case 0x11:
        return 0x25; // DVD-R, version 5
    case 0x13:
    case 0x14:
        return 0x32; // DVD-RW, version 2
    case 0x1A:
        return 0x92; // DVD+RW, version 2
    case 0x1B:
        return 0xA1; // DVD+R
    default:
        return 0x01; // DVD-ROM
    }
}

} // namespace

VirtualDrive::Reply VirtualDrive::peerCommand(const ScsiCommand &command)
{
    const std::span<const uint8_t> cdb = command.cdb;
    switch (cdb[0]) {
    case 0x1A: { // MODE SENSE(6): the ten-byte answer with a four-byte header
        const uint8_t ten[10] = {0x5A, cdb[1], cdb[2], 0, 0, 0, 0, 0xFF, 0xFF, 0};
        ScsiCommand asTen = command;
        asTen.cdb = ten;
        Reply reply = modeSense(asTen);
        if (reply.kind != Reply::Good || reply.data.size() < 8)
            return reply;
        std::vector<uint8_t> data{0, reply.data[2], reply.data[3], 0};
        data.insert(data.end(), reply.data.begin() + 8, reply.data.end());
        data[0] = uint8_t(std::min<size_t>(data.size() - 1, 255));
        return Reply::with(std::move(data));
    }
    case 0x15: // MODE SELECT(6): the parameters are taken as they come
        return discPresent() ? Reply{} : Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    case 0x5C: { // READ BUFFER CAPACITY: writes go straight to the disc, so all free
        std::vector<uint8_t> data(12, 0);
        put16(data, 0, 10);
        const uint32_t bytes = FSpec.bufferKiB * 1024u;
        if (cdb[1] & 0x01) { // block form: available blocks only
            data[3] = 0x01;
            put32(data, 8, bytes / KBlock);
        } else {
            put32(data, 4, bytes);
            put32(data, 8, bytes);
        }
        return Reply::with(std::move(data));
    }
    case 0xAD:
        return readDvdStructure(command);
    case 0xBD: { // MECHANISM STATUS: no changer, the tray as it is
        std::vector<uint8_t> data(8, 0);
        data[1] = FTrayOpen ? 0x10 : 0x00;
        return Reply::with(std::move(data));
    }
    default:
        return Reply::check(KInvalidOpcode);
    }
}

// Formats 00h (physical format), 01h (copyright) and FFh (the list) for DVD
// media; BD media (media type 1) and other formats answer 05/24/00.
VirtualDrive::Reply VirtualDrive::readDvdStructure(const ScsiCommand &command)
{
    const uint8_t format = command.cdb[7];
    if (!discPresent())
        return Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    const uint16_t profile = FDisc->profile;
    const bool dvd = profile >= 0x10 && profile < 0x30;
    if ((command.cdb[1] & 0x0F) != 0 || (!dvd && format != 0xFF))
        return Reply::check(KInvalidField);
    std::vector<uint8_t> data(4, 0);
    switch (format) {
    case 0x00: {
        data.resize(4 + 2048, 0);
        data[4] = bookType(profile);
        data[5] = 0x0F; // 120 mm, maximum rate not specified
        const bool rewritable =
            profile == 0x12 || profile == 0x13 || profile == 0x14 || profile == 0x1A;
        data[6] = rewritable ? 0x04 : profile == 0x10 ? 0x01 : 0x02;
        const uint32_t start = profile == 0x12 ? 0x31000 : 0x30000;
        put32(data, 8, start);
        put32(data, 12, start + FDisc->capacityBlocks - 1);
        break;
    }
    case 0x01:
        data.resize(8, 0);
        break;
    case 0xFF:
        data.insert(data.end(),
                    {0x00, 0x40, 0x08, 0x04, 0x01, 0x40, 0x00, 0x08, 0xFF, 0x40, 0x00, 0x10});
        break;
    default:
        return Reply::check(KInvalidField);
    }
    put16(data, 0, unsigned(data.size() - 2));
    return Reply::with(std::move(data));
}

} // namespace blankora::virtualbay
