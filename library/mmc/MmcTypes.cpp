#include "library/mmc/MmcTypes.h"

#include "library/mmc/MmcProfiles.h"

#include <algorithm>

namespace blankora::mmc {

const Feature *Configuration::find(uint16_t code) const
{
    const auto it = std::find_if(features.begin(), features.end(),
                                 [code](const Feature &f) { return f.code == code; });
    return it == features.end() ? nullptr : &*it;
}

bool Configuration::isCurrent(uint16_t code) const
{
    const Feature *f = find(code);
    return f && f->current;
}

bool Configuration::supportsProfile(uint16_t profile) const
{
    return std::any_of(profiles.begin(), profiles.end(),
                       [profile](const ProfileEntry &e) { return e.profile == profile; });
}

bool Configuration::canWrite() const
{
    if (std::any_of(profiles.begin(), profiles.end(),
                    [](const ProfileEntry &e) { return isWritableProfile(e.profile); }))
        return true;
    for (const uint16_t code :
         {feature::CdTrackAtOnce, feature::CdMastering, feature::DvdMinusRWrite, feature::DvdPlusRw,
          feature::DvdPlusR, feature::BdWrite}) {
        if (has(code))
            return true;
    }
    return false;
}

uint32_t Configuration::physicalInterface() const
{
    const Feature *f = find(feature::Core);
    if (!f || f->data.size() < 4)
        return 0;
    return static_cast<uint32_t>(f->data[0]) << 24 | static_cast<uint32_t>(f->data[1]) << 16 |
           static_cast<uint32_t>(f->data[2]) << 8 | f->data[3];
}

namespace {
bool streamingBit(const Configuration &c, uint8_t mask)
{
    const Feature *f = c.find(feature::RealTimeStreaming);
    return f && !f->data.empty() && (f->data[0] & mask) != 0;
}
} // namespace

bool Configuration::setCdSpeedSupported() const
{
    return streamingBit(*this, 0x08);
}

bool Configuration::writeSpeedDescriptorsInPage() const
{
    return streamingBit(*this, 0x04);
}

bool Configuration::getPerformanceSupported() const
{
    return streamingBit(*this, 0x02);
}

uint8_t Configuration::certification() const
{
    const Feature *f = find(feature::Formattable);
    return f && f->current && !f->data.empty() ? static_cast<uint8_t>(f->data[0] & 0x03) : 0;
}

const FormatDescriptor *FormatCapacities::find(uint8_t type) const
{
    const auto it = std::find_if(formats.begin(), formats.end(),
                                 [type](const FormatDescriptor &f) { return f.type == type; });
    return it == formats.end() ? nullptr : &*it;
}

} // namespace blankora::mmc
