#include "library/mmc/MmcCommands.h"

#include "library/mmc/MmcParsers.h"
#include "library/mmc/MmcSense.h"
#include "library/mmc/MmcText.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <functional>

namespace blankora::mmc {

using transport::DataDirection;
using transport::ScsiCommand;
using transport::ScsiResult;

namespace {

constexpr size_t MaxAllocation = 0xFFFE;
constexpr int AttentionRetries = 3;

void put16(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    put16(p + 2, v);
}

template <class T> MmcResult<T> commandFailed(ScsiResult scsi, const char *name)
{
    MmcResult<T> result;
    result.text = describeFailure(scsi, name);
    result.scsi = std::move(scsi);
    return result;
}

// Sends a command as real drives need it: a unit attention (disc change,
// reset) means the command was not run, so it goes again (libburn retries
// 28h/29h); CHECK CONDITION with NO SENSE or RECOVERED ERROR is a success,
// as sg3_utils' sg_cmds_process_resp() counts it.
ScsiResult send(ScsiTransport &transport, const ScsiCommand &command)
{
    ScsiResult scsi = transport.execute(command);
    for (int retry = 0;
         retry < AttentionRetries && scsi.category == transport::ResultCategory::CheckCondition &&
         isMediumChangeOrReset(senseOf(scsi));
         ++retry)
        scsi = transport.execute(command);
    if (scsi.category == transport::ResultCategory::CheckCondition) {
        const uint8_t key = senseOf(scsi).senseKey;
        if (key == 0x00 || key == 0x01) {
            scsi.category = transport::ResultCategory::Good;
            scsi.text.clear();
        }
    }
    return scsi;
}

MmcStatus run(ScsiTransport &transport, const char *name, std::span<const uint8_t> cdb,
              unsigned timeoutMs, std::span<const uint8_t> dataOut = {})
{
    ScsiCommand command;
    command.cdb = cdb;
    command.direction = dataOut.empty() ? DataDirection::None : DataDirection::ToDevice;
    command.dataOut = dataOut;
    command.timeoutMs = timeoutMs;
    ScsiResult scsi = send(transport, command);
    if (!scsi.ok())
        return commandFailed<NoData>(std::move(scsi), name);
    MmcStatus result;
    result.ok = true;
    result.scsi = std::move(scsi);
    return result;
}

// Runs a data-in command; on GOOD returns the transferred bytes in `reply`.
ScsiResult fetch(ScsiTransport &transport, std::span<const uint8_t> cdb, size_t allocation,
                 std::vector<uint8_t> &reply, unsigned timeoutMs = QueryTimeoutMs)
{
    reply.assign(allocation, 0);
    ScsiCommand command;
    command.cdb = cdb;
    command.direction = DataDirection::FromDevice;
    command.dataIn = reply;
    command.timeoutMs = timeoutMs;
    ScsiResult scsi = send(transport, command);
    reply.resize(scsi.ok() ? scsi.transferred(allocation) : 0);
    return scsi;
}

template <class T>
MmcResult<T> query(ScsiTransport &transport, const char *name, std::span<const uint8_t> cdb,
                   size_t allocation, MmcResult<T> (*parse)(Bytes))
{
    std::vector<uint8_t> reply;
    ScsiResult scsi = fetch(transport, cdb, allocation, reply);
    if (!scsi.ok())
        return commandFailed<T>(std::move(scsi), name);
    MmcResult<T> result = parse(reply);
    result.scsi = std::move(scsi);
    return result;
}

// Variable-length replies: ask for the header, then for exactly the length it
// announces (bounded), as dvd+rw-format.cpp does because USB units "absolutely
// insist on accurate" lengths: a strict bridge refuses an allocation longer
// than the reply. When the longer reply announces more again (libburn: some
// drives announce one GET PERFORMANCE descriptor when asked for none), one
// more pass asks for that.
template <class T>
MmcResult<T> queryTwoPass(ScsiTransport &transport, const char *name,
                          const std::function<std::vector<uint8_t>(size_t)> &cdbFor,
                          size_t headerSize, const std::function<size_t(Bytes)> &fullLength,
                          MmcResult<T> (*parse)(Bytes))
{
    constexpr int MaxPasses = 3;
    std::vector<uint8_t> reply;
    ScsiResult scsi;
    size_t allocation = headerSize;
    for (int pass = 0; pass < MaxPasses; ++pass) {
        const std::vector<uint8_t> cdb = cdbFor(allocation);
        scsi = fetch(transport, cdb, allocation, reply);
        if (!scsi.ok())
            return commandFailed<T>(std::move(scsi), name);
        if (reply.size() < headerSize)
            break;
        const size_t wanted = std::min(fullLength(reply), MaxAllocation);
        if (wanted <= allocation)
            break;
        allocation = wanted;
    }
    MmcResult<T> result = parse(reply);
    result.scsi = std::move(scsi);
    return result;
}

size_t length16(Bytes d)
{
    return d.size() < 2 ? 0 : size_t(2) + (d[0] << 8 | d[1]);
}

size_t length32(Bytes d)
{
    if (d.size() < 4)
        return 0;
    const uint32_t v = static_cast<uint32_t>(d[0]) << 24 | static_cast<uint32_t>(d[1]) << 16 |
                       static_cast<uint32_t>(d[2]) << 8 | d[3];
    return std::min<size_t>(v, MaxAllocation) + 4;
}

// GET PERFORMANCE: the header and whole 16-byte descriptors it announces, at
// most `maxDescriptors` of them.
std::function<size_t(Bytes)> performanceLength(size_t maxDescriptors)
{
    return [maxDescriptors](Bytes d) {
        const size_t length = length32(d);
        const size_t descriptors = length < 8 ? 0 : (length - 8) / 16;
        return 8 + 16 * std::min(descriptors, maxDescriptors);
    };
}

// GET PERFORMANCE of the given data type and type: its allocation is a number
// of descriptors.
std::function<std::vector<uint8_t>(size_t)> performanceCdb(uint8_t dataType, uint8_t type)
{
    return [=](size_t allocation) {
        std::vector<uint8_t> cdb{0xAC, dataType, 0, 0, 0, 0, 0, 0, 0, 0, type, 0};
        put16(&cdb[8], static_cast<uint32_t>((allocation - 8) / 16));
        return cdb;
    };
}

// A command whose 16-bit allocation length is in CDB bytes 7-8.
std::function<std::vector<uint8_t>(size_t)> allocationAt7(std::vector<uint8_t> cdb)
{
    return [cdb](size_t allocation) {
        std::vector<uint8_t> c = cdb;
        put16(&c[7], static_cast<uint32_t>(allocation));
        return c;
    };
}

// READ TOC/PMA/ATIP with the given MSF bit, format and starting track/session.
std::function<std::vector<uint8_t>(size_t)> tocCdb(uint8_t msfByte, uint8_t format, uint8_t start)
{
    return [=](size_t allocation) {
        std::vector<uint8_t> cdb{0x43, msfByte, format, 0, 0, 0, start, 0, 0, 0};
        put16(&cdb[7], static_cast<uint32_t>(allocation));
        return cdb;
    };
}

} // namespace

MmcResult<SenseInfo> testUnitReady(ScsiTransport &transport)
{
    const std::array<uint8_t, 6> cdb{0x00, 0, 0, 0, 0, 0};
    MmcStatus status = run(transport, "TEST UNIT READY", cdb, QueryTimeoutMs);
    MmcResult<SenseInfo> result;
    result.ok = status.ok;
    result.text = std::move(status.text);
    if (status.scsi.category == transport::ResultCategory::CheckCondition)
        result.value = senseOf(status.scsi);
    result.scsi = std::move(status.scsi);
    return result;
}

MmcResult<SenseInfo> requestSense(ScsiTransport &transport)
{
    constexpr uint8_t allocation = 32;
    const std::array<uint8_t, 6> cdb{0x03, 0, 0, 0, allocation, 0};
    return query<SenseInfo>(transport, "REQUEST SENSE", cdb, allocation, parseSense);
}

MmcResult<InquiryData> inquiry(ScsiTransport &transport)
{
    constexpr uint8_t allocation = 36;
    const std::array<uint8_t, 6> cdb{0x12, 0, 0, 0, allocation, 0};
    return query<InquiryData>(transport, "INQUIRY", cdb, allocation, parseInquiry);
}

MmcResult<Configuration> getConfiguration(ScsiTransport &transport, FeatureRequest request,
                                          uint16_t startingFeature)
{
    const auto code = static_cast<uint8_t>(request);
    const auto high = static_cast<uint8_t>(startingFeature >> 8);
    const auto low = static_cast<uint8_t>(startingFeature);
    return queryTwoPass<Configuration>(transport, "GET CONFIGURATION",
                                       allocationAt7({0x46, code, high, low, 0, 0, 0, 0, 0, 0}), 8,
                                       length32, parseConfiguration);
}

MmcResult<uint16_t> currentProfile(ScsiTransport &transport)
{
    constexpr uint8_t allocation = 8;
    const std::array<uint8_t, 10> cdb{0x46, 0x01, 0, 0, 0, 0, 0, 0, allocation, 0};
    MmcResult<Configuration> c =
        query<Configuration>(transport, "GET CONFIGURATION", cdb, allocation, parseConfiguration);
    MmcResult<uint16_t> result;
    result.ok = c.ok;
    result.value = c.value.currentProfile;
    result.scsi = std::move(c.scsi);
    result.text = std::move(c.text);
    return result;
}

MmcResult<DiscInfo> readDiscInformation(ScsiTransport &transport)
{
    return queryTwoPass<DiscInfo>(transport, "READ DISC INFORMATION",
                                  allocationAt7({0x51, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 2, length16,
                                  parseDiscInformation);
}

MmcResult<TrackInfo> readTrackInformation(ScsiTransport &transport, TrackAddress type,
                                          uint32_t number)
{
    constexpr uint8_t allocation = 48;
    std::array<uint8_t, 10> cdb{0x52, static_cast<uint8_t>(type), 0, 0, 0, 0, 0, 0, allocation, 0};
    put32(&cdb[2], number);
    return query<TrackInfo>(transport, "READ TRACK INFORMATION", cdb, allocation,
                            parseTrackInformation);
}

MmcResult<Toc> readToc(ScsiTransport &transport, bool msf, uint8_t startTrack)
{
    return queryTwoPass<Toc>(transport, "READ TOC", tocCdb(msf ? 0x02 : 0x00, 0x00, startTrack), 4,
                             length16, parseToc);
}

MmcResult<FullToc> readFullToc(ScsiTransport &transport, uint8_t startSession)
{
    return queryTwoPass<FullToc>(transport, "READ TOC", tocCdb(0x02, 0x02, startSession), 4,
                                 length16, parseFullToc);
}

MmcResult<Atip> readAtip(ScsiTransport &transport)
{
    return queryTwoPass<Atip>(transport, "READ ATIP", tocCdb(0x02, 0x04, 0), 4, length16,
                              parseAtip);
}

MmcResult<Capacity> readCapacity(ScsiTransport &transport)
{
    const std::array<uint8_t, 10> cdb{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    return query<Capacity>(transport, "READ CAPACITY", cdb, 8, parseCapacity);
}

MmcResult<FormatCapacities> readFormatCapacities(ScsiTransport &transport)
{
    // The capacity list header holds its length in byte 3 only.
    const auto fullLength = [](Bytes d) { return size_t(4) + d[3]; };
    return queryTwoPass<FormatCapacities>(transport, "READ FORMAT CAPACITIES",
                                          allocationAt7({0x23, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 4,
                                          fullLength, parseFormatCapacities);
}

MmcResult<CapabilitiesPage> modeSenseCapabilities(ScsiTransport &transport)
{
    return queryTwoPass<CapabilitiesPage>(transport, "MODE SENSE",
                                          allocationAt7({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0, 0}), 8,
                                          length16, parseCapabilitiesPage);
}

MmcResult<std::vector<WriteSpeedEntry>> getWriteSpeeds(ScsiTransport &transport)
{
    constexpr size_t maxDescriptors = 64;
    return queryTwoPass<std::vector<WriteSpeedEntry>>(
        transport, "GET PERFORMANCE", performanceCdb(0x00, 0x03), 8,
        performanceLength(maxDescriptors), parseWriteSpeeds);
}

MmcResult<PerformanceEntry> getCurrentWritePerformance(ScsiTransport &transport)
{
    auto list = queryTwoPass<std::vector<PerformanceEntry>>(transport, "GET PERFORMANCE",
                                                            performanceCdb(0x04, 0x00), 8,
                                                            performanceLength(1), parsePerformance);
    MmcResult<PerformanceEntry> result;
    result.scsi = std::move(list.scsi);
    result.text = std::move(list.text);
    if (list.ok && list.value.empty()) {
        result.text =
            trText(QT_TRANSLATE_NOOP("Mmc", "The drive reported no current write speed."));
        return result;
    }
    result.ok = list.ok;
    if (list.ok)
        result.value = list.value.front();
    return result;
}

MmcStatus setCdSpeed(ScsiTransport &transport, uint16_t readKBps, uint16_t writeKBps,
                     uint8_t rotation)
{
    std::array<uint8_t, 12> cdb{
        0xBB, static_cast<uint8_t>(rotation & 0x03), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put16(&cdb[2], readKBps);
    put16(&cdb[4], writeKBps);
    return run(transport, "SET CD SPEED", cdb, QueryTimeoutMs);
}

MmcStatus setStreaming(ScsiTransport &transport, const StreamingRequest &request)
{
    std::array<uint8_t, 28> descriptor{};
    descriptor[0] =
        static_cast<uint8_t>((request.rotation & 0x03) << 3 | (request.restoreDefaults ? 0x04 : 0) |
                             (request.exact ? 0x02 : 0));
    put32(&descriptor[8], request.endLba);
    put32(&descriptor[12], request.readKBps);
    put32(&descriptor[16], 1000);
    put32(&descriptor[20], request.writeKBps);
    put32(&descriptor[24], 1000);
    std::array<uint8_t, 12> cdb{0xB6, 0, 0, 0, 0, 0, 0, 0, 0x00, 0, 0, 0};
    put16(&cdb[9], descriptor.size());
    return run(transport, "SET STREAMING", cdb, QueryTimeoutMs, descriptor);
}

MmcStatus preventAllowMediumRemoval(ScsiTransport &transport, bool prevent)
{
    const std::array<uint8_t, 6> cdb{0x1E, 0, 0, 0, static_cast<uint8_t>(prevent ? 1 : 0), 0};
    return run(transport, "PREVENT ALLOW MEDIUM REMOVAL", cdb, QueryTimeoutMs);
}

MmcStatus startStopUnit(ScsiTransport &transport, StartStop action, bool immed)
{
    const std::array<uint8_t, 6> cdb{0x1B, static_cast<uint8_t>(immed ? 1 : 0), 0,
                                     0,    static_cast<uint8_t>(action),        0};
    const unsigned timeout = action == StartStop::Load ? LoadTimeoutMs : EjectTimeoutMs;
    return run(transport, "START STOP UNIT", cdb, timeout);
}

MmcStatus blank(ScsiTransport &transport, BlankType type, bool immed)
{
    const std::array<uint8_t, 12> cdb{
        0xA1, static_cast<uint8_t>((immed ? 0x10 : 0) | static_cast<uint8_t>(type)),
        0,    0,
        0,    0,
        0,    0,
        0,    0,
        0,    0};
    return run(transport, "BLANK", cdb, immed ? ImmedTimeoutMs : LongRunTimeoutMs);
}

MmcStatus formatUnit(ScsiTransport &transport, const FormatRequest &request)
{
    std::array<uint8_t, 12> list{};
    list[1] =
        static_cast<uint8_t>((request.formatOptionsValid ? 0x80 : 0) |
                             (request.skipCertification ? 0x20 : 0) | (request.immed ? 0x02 : 0));
    list[3] = 8;
    put32(&list[4], request.descriptor.blocks);
    list[8] = static_cast<uint8_t>(request.descriptor.type << 2 | (request.subType & 0x03));
    list[9] = static_cast<uint8_t>(request.descriptor.parameter >> 16);
    list[10] = static_cast<uint8_t>(request.descriptor.parameter >> 8);
    list[11] = static_cast<uint8_t>(request.descriptor.parameter);
    const std::array<uint8_t, 6> cdb{
        0x04, static_cast<uint8_t>(0x11 | (request.skipCertification ? 0x08 : 0)), 0, 0, 0, 0};
    return run(transport, "FORMAT UNIT", cdb, request.immed ? ImmedTimeoutMs : LongRunTimeoutMs,
               list);
}

namespace {
std::string wrongBufferSize(size_t have, uint16_t blocks)
{
    return QCoreApplication::translate("Mmc", "Buffer of %1 bytes does not hold %2 blocks.")
        .arg(have)
        .arg(blocks)
        .toStdString();
}
} // namespace

MmcStatus read10(ScsiTransport &transport, uint32_t lba, uint16_t blocks, std::span<uint8_t> data)
{
    if (data.size() != size_t(blocks) * BlockSize)
        return failed<NoData>(wrongBufferSize(data.size(), blocks));
    std::array<uint8_t, 10> cdb{0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put32(&cdb[2], lba);
    put16(&cdb[7], blocks);
    ScsiCommand command;
    command.cdb = cdb;
    command.direction = DataDirection::FromDevice;
    command.dataIn = data;
    command.timeoutMs = WriteTimeoutMs;
    ScsiResult scsi = send(transport, command);
    if (!scsi.ok())
        return commandFailed<NoData>(std::move(scsi), "READ(10)");
    if (scsi.transferred(data.size()) != data.size()) {
        MmcStatus short_ = failed<NoData>(
            QCoreApplication::translate("Mmc", "READ(10) transferred %1 of %2 bytes.")
                .arg(scsi.transferred(data.size()))
                .arg(data.size())
                .toStdString());
        short_.scsi = std::move(scsi);
        return short_;
    }
    MmcStatus result;
    result.ok = true;
    result.scsi = std::move(scsi);
    return result;
}

MmcStatus write10(ScsiTransport &transport, uint32_t lba, uint16_t blocks,
                  std::span<const uint8_t> data)
{
    if (data.size() != size_t(blocks) * BlockSize || blocks == 0)
        return failed<NoData>(wrongBufferSize(data.size(), blocks));
    std::array<uint8_t, 10> cdb{0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put32(&cdb[2], lba);
    put16(&cdb[7], blocks);
    return run(transport, "WRITE(10)", cdb, WriteTimeoutMs, data);
}

MmcStatus synchronizeCache(ScsiTransport &transport, bool immed)
{
    const std::array<uint8_t, 10> cdb{
        0x35, static_cast<uint8_t>(immed ? 0x02 : 0), 0, 0, 0, 0, 0, 0, 0, 0};
    return run(transport, "SYNCHRONIZE CACHE", cdb, immed ? ImmedTimeoutMs : LongRunTimeoutMs);
}

MmcStatus closeTrackSession(ScsiTransport &transport, CloseFunction function, bool immed)
{
    const std::array<uint8_t, 10> cdb{
        0x5B, static_cast<uint8_t>(immed ? 1 : 0), static_cast<uint8_t>(function), 0, 0, 0, 0, 0, 0,
        0};
    return run(transport, "CLOSE TRACK/SESSION", cdb, immed ? ImmedTimeoutMs : LongRunTimeoutMs);
}

MmcResult<RpcState> reportRpcState(ScsiTransport &transport)
{
    constexpr uint8_t allocation = 8;
    const std::array<uint8_t, 12> cdb{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, allocation, 0x08, 0};
    return query<RpcState>(transport, "REPORT KEY", cdb, allocation, parseRpcState);
}

} // namespace blankora::mmc
