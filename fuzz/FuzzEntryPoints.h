#pragma once

#include "library/mmc/MmcParsers.h"
#include "library/virtual/VirtualBay.h"

#include <string>

// What the fuzz targets feed their input to; the regression test replays kept
// inputs through the very same functions, so a finding stays reproducible in
// the normal build.
namespace blankora::fuzz {

// How a parser took a reply: whether it decoded it, and whether the result
// kept the parsers' promises (failures explain themselves, nothing decoded
// from bytes the reply does not have).
struct ReplyOutcome
{
    bool ok = false;
    bool consistent = true;
};

inline constexpr unsigned KParserCount = 15;

namespace detail {

template <class T> ReplyOutcome outcome(const mmc::MmcResult<T> &result, bool valueSane = true)
{
    return {result.ok, result.ok == result.text.empty() && (!result.ok || valueSane)};
}

inline bool printable(const std::string &text)
{
    for (const char c : text)
        if (c < 0x20 || c >= 0x7F)
            return false;
    return true;
}

} // namespace detail

// The first input byte picks the parser (modulo KParserCount), the rest is the
// reply; selector 14 checks the CD address helpers against each other.
inline ReplyOutcome parseReply(uint8_t selector, mmc::Bytes reply)
{
    using namespace mmc;
    using detail::outcome;
    switch (selector % KParserCount) {
    case 0: {
        const auto r = parseSense(reply);
        return outcome(r, r.value.senseKey <= 0x0F);
    }
    case 1: {
        const auto r = parseInquiry(reply);
        const InquiryData &q = r.value;
        return outcome(r, q.vendor.size() <= 8 && q.product.size() <= 16 &&
                              q.revision.size() <= 4 && detail::printable(q.vendor) &&
                              detail::printable(q.product) && detail::printable(q.revision));
    }
    case 2: {
        const auto r = parseConfiguration(reply);
        size_t bytes = 4 * r.value.profiles.size();
        for (const Feature &f : r.value.features)
            bytes += 4 + f.data.size();
        return outcome(r, bytes <= reply.size());
    }
    case 3:
        return outcome(parseDiscInformation(reply));
    case 4:
        return outcome(parseTrackInformation(reply));
    case 5: {
        const auto r = parseToc(reply);
        return outcome(r, 8 * r.value.entries.size() <= reply.size());
    }
    case 6: {
        const auto r = parseFullToc(reply);
        return outcome(r, 11 * r.value.entries.size() <= reply.size());
    }
    case 7:
        return outcome(parseAtip(reply));
    case 8:
        return outcome(parseCapacity(reply));
    case 9: {
        const auto r = parseFormatCapacities(reply);
        return outcome(r, 8 * r.value.formats.size() <= reply.size());
    }
    case 10: {
        const auto r = parseCapabilitiesPage(reply);
        return outcome(r, 4 * r.value.writeSpeeds.size() <= reply.size());
    }
    case 11: {
        const auto r = parseWriteSpeeds(reply);
        return outcome(r, 16 * r.value.size() <= reply.size());
    }
    case 12: {
        const auto r = parsePerformance(reply);
        return outcome(r, 16 * r.value.size() <= reply.size());
    }
    case 13:
        return outcome(parseRpcState(reply));
    default: {
        if (reply.size() < 4)
            return {false, true};
        const uint32_t field = uint32_t(reply[0]) << 24 | uint32_t(reply[1]) << 16 |
                               uint32_t(reply[2]) << 8 | reply[3];
        return {true, msfFieldToLba(field) == msfToLba(reply[1], reply[2], reply[3])};
    }
    }
}

// How the loader took a scenario: a bay, or an error text, never both or neither.
struct ScenarioOutcome
{
    bool ok = false;
    bool consistent = true;
    std::string error;
};

inline ScenarioOutcome loadScenario(const std::string &json)
{
    std::string error;
    const auto bay = virtualbay::VirtualBay::fromJson(json, error, "fuzz");
    return {bay != nullptr, (bay != nullptr) == error.empty(), error};
}

} // namespace blankora::fuzz
