#include "library/mmc/MmcEraseCheck.h"

#include "library/mmc/MmcEraseRunner.h"
#include "library/mmc/MmcProfiles.h"
#include "library/mmc/MmcSense.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>

namespace blankora::mmc {

std::vector<BlockRange> fullEraseSample(uint32_t blocks)
{
    constexpr uint32_t edge = 512, spread = 64;
    std::vector<BlockRange> ranges{{0, std::min(edge, blocks)}};
    for (uint32_t i = 1; i < spread; ++i)
        ranges.push_back({uint32_t(uint64_t(blocks) * i / spread), 1});
    if (blocks > edge)
        ranges.push_back({blocks - edge, edge});
    return ranges;
}

namespace {

EraseResult notErased(transport::ScsiResult scsi, const QString &check)
{
    return eraseFailure(std::move(scsi), QCoreApplication::translate(
                                             "Mmc", "The drive reported success, but the disc "
                                                    "is not erased: %1")
                                             .arg(check)
                                             .toStdString());
}

// A read of the disc after the erase; a unit attention or another passing
// answer right after the job is asked again.
template <class F> auto afterErase(F read)
{
    auto result = read();
    for (int retry = 0; retry < 3 && !result.ok && isPassingOddity(result.scsi); ++retry)
        result = read();
    return result;
}

// Unreadable, gone or not erased: the failure; nothing when the read worked.
template <class T>
std::optional<EraseResult> unreadable(ScsiTransport &transport, const MmcResult<T> &result)
{
    if (result.ok)
        return std::nullopt;
    if (isDriveGone(result.scsi))
        return driveGoneFailure(transport, result.scsi);
    return notErased(result.scsi,
                     QCoreApplication::translate("Mmc", "the disc could not be read again (%1).")
                         .arg(QString::fromStdString(describeFailure(result.scsi))));
}

std::optional<EraseResult> checkZeros(ScsiTransport &transport,
                                      const std::vector<BlockRange> &ranges)
{
    std::vector<uint8_t> data(ZeroBlocks * BlockSize);
    for (const BlockRange &range : ranges) {
        for (uint32_t at = 0; at < range.count;) {
            const auto count = uint16_t(std::min(ZeroBlocks, range.count - at));
            const uint32_t lba = range.first + at;
            const auto bytes = std::span(data).first(size_t(count) * BlockSize);
            const auto read = afterErase([&] { return read10(transport, lba, count, bytes); });
            if (auto failed = unreadable(transport, read))
                return failed;
            const auto nonZero =
                std::find_if(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte != 0; });
            if (nonZero != bytes.end())
                return notErased(
                    {}, QCoreApplication::translate("Mmc", "block %1 does not read back as zeros.")
                            .arg(lba + uint32_t((nonZero - bytes.begin()) / BlockSize)));
            at += count;
        }
    }
    return std::nullopt;
}

std::optional<EraseResult> checkFormatted(ScsiTransport &transport)
{
    const auto formats = afterErase([&] { return readFormatCapacities(transport); });
    if (auto failed = unreadable(transport, formats))
        return failed;
    if (formats.value.currentType != CapacityType::Formatted)
        return notErased({}, QCoreApplication::translate("Mmc", "the disc is not formatted."));
    return std::nullopt;
}

} // namespace

// Reads the disc again and checks that it shows the erase (libburn drive.c
// reads the medium again after an erase; dvd-rw.html in dvd+rw-tools: a
// deferred failure is reported upon the actual recording attempt, so the
// drive's GOOD alone proves nothing).
EraseResult checkErased(ScsiTransport &transport, const ErasePlan &plan,
                        const std::vector<BlockRange> &zeroed, EraseResult outcome)
{
    const auto after = afterErase([&] { return currentProfile(transport); });
    if (auto failed = unreadable(transport, after))
        return *failed;
    const auto disc = afterErase([&] { return readDiscInformation(transport); });
    if (auto failed = unreadable(transport, disc))
        return *failed;
    outcome.stateRead = true;
    outcome.profileAfter = after.value;
    outcome.discAfter = disc.value;

    std::optional<EraseResult> failed;
    switch (plan.method) {
    case EraseMethod::BlankMinimal:
    case EraseMethod::BlankFull:
        if (after.value == profile::DvdRwRestricted)
            failed = checkFormatted(transport);
        else if (disc.value.discStatus != 0)
            failed = notErased({}, QCoreApplication::translate(
                                       "Mmc", "READ DISC INFORMATION shows the disc as not "
                                              "blank (disc status %1).")
                                       .arg(disc.value.discStatus));
        break;
    case EraseMethod::Format:
        failed = checkFormatted(transport);
        break;
    case EraseMethod::FormatBackground:
        if (disc.value.bgFormatStatus < 2)
            failed = checkFormatted(transport);
        break;
    case EraseMethod::ZeroStart:
    case EraseMethod::ZeroFill:
        failed = checkZeros(transport, zeroed);
        if (!failed && plan.resumeFormat && disc.value.bgFormatStatus < 2)
            failed = notErased({}, QCoreApplication::translate(
                                       "Mmc", "READ DISC INFORMATION shows the disc's format "
                                              "stopped half-way (background format status %1).")
                                       .arg(disc.value.bgFormatStatus));
        break;
    default:
        break;
    }
    if (failed) {
        failed->method = outcome.method;
        failed->profileBefore = outcome.profileBefore;
        return *failed;
    }
    return outcome;
}

} // namespace blankora::mmc
