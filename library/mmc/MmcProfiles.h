#pragma once

#include "library/StarBurn.h"

#include <cstdint>

// MMC profile numbers: the medium they stand for and what can be done with it.
namespace blankora::mmc {

namespace profile {
constexpr uint16_t None = 0x0000;
constexpr uint16_t CdRom = 0x0008;
constexpr uint16_t CdR = 0x0009;
constexpr uint16_t CdRw = 0x000A;
constexpr uint16_t DvdRom = 0x0010;
constexpr uint16_t DvdR = 0x0011;
constexpr uint16_t DvdRam = 0x0012;
constexpr uint16_t DvdRwRestricted = 0x0013;
constexpr uint16_t DvdRwSequential = 0x0014;
constexpr uint16_t DvdRDl = 0x0015;
constexpr uint16_t DvdRDlJump = 0x0016;
constexpr uint16_t DvdPlusRw = 0x001A;
constexpr uint16_t DvdPlusR = 0x001B;
constexpr uint16_t DdcdRom = 0x0020;
constexpr uint16_t DdcdR = 0x0021;
constexpr uint16_t DdcdRw = 0x0022;
constexpr uint16_t DvdPlusRwDl = 0x002A;
constexpr uint16_t DvdPlusRDl = 0x002B;
constexpr uint16_t BdRom = 0x0040;
constexpr uint16_t BdRSequential = 0x0041;
constexpr uint16_t BdRRandom = 0x0042;
constexpr uint16_t BdRe = 0x0043;
} // namespace profile

enum class MediaFamily
{
    None,
    Cd,
    Dvd,
    Bd,
    HdDvd
};

MediaFamily familyOf(uint16_t profile);
inline bool isCdProfile(uint16_t p)
{
    return familyOf(p) == MediaFamily::Cd;
}
inline bool isDvdProfile(uint16_t p)
{
    return familyOf(p) == MediaFamily::Dvd;
}
inline bool isBdProfile(uint16_t p)
{
    return familyOf(p) == MediaFamily::Bd;
}

// The library's disc type for a current profile. Profile 0 maps to
// DISC_TYPE_UNKNOWN; the caller decides NO_MEDIA from TEST UNIT READY.
DISC_TYPE discTypeForProfile(uint16_t profile);

// Erased with BLANK (CD-RW, DDCD-RW, DVD-RW in both modes).
bool isBlankable(uint16_t profile);
// Rewritable without BLANK: DVD+RW (DL), DVD-RAM, BD-RE.
bool isOverwritable(uint16_t profile);
// Either of the above: the media this product can erase.
bool isErasable(uint16_t profile);
bool isWritableProfile(uint16_t profile); // any recordable or rewritable medium

// "CD-RW", "DVD+RW", ...; "unknown" for numbers this layer does not know.
const char *profileName(uint16_t profile);

// 1x speed in kB/s: CD 176, DVD 1385, BD 4495 (the smaller conventional units,
// so truncating division does not lose a step); 0 for no family.
uint32_t unitSpeed(MediaFamily family);

} // namespace blankora::mmc
