// The media the scenarios know by name, and what a drive offers for each.

#include "library/virtual/VirtualScenarioReader.h"

namespace blankora::virtualbay {

namespace {

struct ProfileName
{
    uint16_t profile;
    const char *name;
};

constexpr ProfileName KProfiles[] = {
    {0x08, "CD-ROM"},   {0x09, "CD-R"},    {0x0A, "CD-RW"},     {0x10, "DVD-ROM"},
    {0x11, "DVD-R"},    {0x12, "DVD-RAM"}, {0x13, "DVD-RW RO"}, {0x14, "DVD-RW"},
    {0x15, "DVD-R DL"}, {0x1A, "DVD+RW"},  {0x1B, "DVD+R"},     {0x20, "DDCD-ROM"},
    {0x21, "DDCD-R"},   {0x22, "DDCD-RW"}, {0x2A, "DVD+RW DL"}, {0x2B, "DVD+R DL"},
    {0x40, "BD-ROM"},   {0x41, "BD-R"},    {0x42, "BD-R RRM"},  {0x43, "BD-RE"},
};

} // namespace

std::string knownProfileNames()
{
    std::string names;
    for (const auto &entry : KProfiles)
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    return names;
}

bool isKnownProfile(uint16_t profile)
{
    return std::any_of(std::begin(KProfiles), std::end(KProfiles),
                       [&](const ProfileName &entry) { return entry.profile == profile; });
}

std::optional<uint16_t> profileFromName(const std::string &name)
{
    for (const auto &entry : KProfiles)
        if (name == entry.name)
            return entry.profile;
    return std::nullopt;
}

std::string profileName(uint16_t profile)
{
    for (const auto &entry : KProfiles)
        if (entry.profile == profile)
            return entry.name;
    char text[16];
    std::snprintf(text, sizeof text, "%04Xh", profile);
    return text;
}

uint32_t defaultCapacityBlocks(uint16_t profile)
{
    switch (profile) {
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x20:
    case 0x21:
    case 0x22:
        return 359849;
    case 0x11:
        return 2298496;
    case 0x12:
        return 2236704;
    case 0x15:
    case 0x2B:
        return 4171712;
    case 0x2A:
        return 4173824;
    case 0x40:
    case 0x41:
    case 0x42:
        return 12219392;
    case 0x43:
        return 11826176;
    default:
        return 2295104;
    }
}

SpeedSet defaultSpeeds(uint16_t profile)
{
    switch (profile) {
    case 0x08:
        return {{1764, 4234, 7056}, {}};
    case 0x09:
        return {{1764, 4234, 7056}, {2822, 4234, 7056, 8467}};
    case 0x0A:
    case 0x22:
        return {{1764, 4234, 7056}, {706, 1764, 2822, 4234}};
    case 0x10:
        return {{5540, 11080, 22160}, {}};
    case 0x11:
    case 0x1B:
        return {{5540, 11080, 22160}, {5540, 11080, 22160}};
    case 0x12:
        return {{2770, 4155, 6925}, {2770, 4155, 6925}};
    case 0x13:
    case 0x14:
        return {{5540, 11080}, {2770, 5540, 8310}};
    case 0x1A:
    case 0x2A:
        return {{5540, 11080}, {3324, 5540, 11080}};
    case 0x15:
    case 0x2B:
        return {{5540, 11080}, {3324, 5540, 11080}};
    case 0x40:
        return {{4496, 8991, 17982}, {}};
    case 0x41:
    case 0x42:
        return {{4496, 8991, 17982}, {4496, 8991, 17982}};
    case 0x43:
        return {{4496, 8991}, {4496, 8991}};
    default:
        return {{1764}, {}};
    }
}

unsigned defaultEraseSpeed(uint16_t profile)
{
    switch (profile) {
    case 0x0A:
    case 0x22:
        return 706; // 4x CD-RW: an 80-minute disc blanks in 20 minutes
    case 0x13:
    case 0x14:
        return 2770; // 2x DVD-RW: about 28 minutes
    case 0x12:
        return 1385; // DVD-RAM certification writes and verifies: about an hour
    case 0x43:
        return 2248; // BD-RE certification at half of 1x: about three hours
    default:
        return 0;
    }
}

} // namespace blankora::virtualbay
