#include "library/mmc/MmcProfiles.h"

namespace blankora::mmc {

MediaFamily familyOf(uint16_t p)
{
    if (p == 0x08 || p == 0x09 || p == 0x0A || (p >= 0x20 && p <= 0x22))
        return MediaFamily::Cd;
    if ((p >= 0x10 && p <= 0x18) || p == 0x1A || p == 0x1B || p == 0x2A || p == 0x2B)
        return MediaFamily::Dvd;
    if (p >= 0x40 && p <= 0x43)
        return MediaFamily::Bd;
    if (p >= 0x50 && p <= 0x5A)
        return MediaFamily::HdDvd;
    return MediaFamily::None;
}

DISC_TYPE discTypeForProfile(uint16_t p)
{
    switch (p) {
    case 0x08:
        return DISC_TYPE_CDROM;
    case 0x09:
        return DISC_TYPE_CDR;
    case 0x0A:
        return DISC_TYPE_CDRW;
    case 0x10:
        return DISC_TYPE_DVDROM;
    case 0x11:
        return DISC_TYPE_DVDR;
    case 0x12:
        return DISC_TYPE_DVDRAM;
    case 0x13:
        return DISC_TYPE_DVDRWRO;
    case 0x14:
        return DISC_TYPE_DVDRWSR;
    case 0x15:
    case 0x16:
        return DISC_TYPE_DVDR_DL;
    case 0x1A:
    case 0x2A:
        return DISC_TYPE_DVDPLUSRW;
    case 0x1B:
        return DISC_TYPE_DVDPLUSR;
    case 0x2B:
        return DISC_TYPE_DVDPLUSR_DL;
    case 0x20:
        return DISC_TYPE_DDCDROM;
    case 0x21:
        return DISC_TYPE_DDCDR;
    case 0x22:
        return DISC_TYPE_DDCDRW;
    case 0x41:
    case 0x42:
        return DISC_TYPE_BDR;
    case 0x43:
        return DISC_TYPE_BDRE;
    case 0x50:
        return DISC_TYPE_HDDVDROM;
    case 0x51:
    case 0x58:
        return DISC_TYPE_HDDVDR;
    case 0x53:
    case 0x5A:
        return DISC_TYPE_HDDVDRW;
    default:
        return DISC_TYPE_UNKNOWN;
    }
}

bool isBlankable(uint16_t p)
{
    return p == profile::CdRw || p == profile::DdcdRw || p == profile::DvdRwRestricted ||
           p == profile::DvdRwSequential;
}

bool isOverwritable(uint16_t p)
{
    return p == profile::DvdPlusRw || p == profile::DvdPlusRwDl || p == profile::DvdRam ||
           p == profile::BdRe;
}

bool isErasable(uint16_t p)
{
    return isBlankable(p) || isOverwritable(p);
}

bool isWritableProfile(uint16_t p)
{
    return p == 0x09 || p == 0x0A || (p >= 0x11 && p <= 0x16) || p == 0x1A || p == 0x1B ||
           p == 0x21 || p == 0x22 || p == 0x2A || p == 0x2B || (p >= 0x41 && p <= 0x43);
}

const char *profileName(uint16_t p)
{
    switch (p) {
    case 0x00:
        return "none";
    case 0x08:
        return "CD-ROM";
    case 0x09:
        return "CD-R";
    case 0x0A:
        return "CD-RW";
    case 0x10:
        return "DVD-ROM";
    case 0x11:
        return "DVD-R";
    case 0x12:
        return "DVD-RAM";
    case 0x13:
        return "DVD-RW (restricted overwrite)";
    case 0x14:
        return "DVD-RW (sequential)";
    case 0x15:
        return "DVD-R DL";
    case 0x16:
        return "DVD-R DL (layer jump)";
    case 0x1A:
        return "DVD+RW";
    case 0x1B:
        return "DVD+R";
    case 0x20:
        return "DDCD-ROM";
    case 0x21:
        return "DDCD-R";
    case 0x22:
        return "DDCD-RW";
    case 0x2A:
        return "DVD+RW DL";
    case 0x2B:
        return "DVD+R DL";
    case 0x40:
        return "BD-ROM";
    case 0x41:
    case 0x42:
        return "BD-R";
    case 0x43:
        return "BD-RE";
    default:
        return "unknown";
    }
}

uint32_t unitSpeed(MediaFamily family)
{
    switch (family) {
    case MediaFamily::Cd:
        return 176;
    case MediaFamily::Dvd:
        return 1385;
    case MediaFamily::Bd:
        return 4495;
    case MediaFamily::HdDvd:
        return 4569;
    case MediaFamily::None:
        break;
    }
    return 0;
}

} // namespace blankora::mmc
