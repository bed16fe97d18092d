// One command from CDB to result: the kernel-side checks, injected faults,
// unit attentions and busy answers, then the reply as SG_IO returns it.

#include "library/virtual/VirtualDriveDetail.h"

#include "library/transport/SenseText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <thread>

namespace blankora::virtualbay {

using transport::DataDirection;
using transport::ResultCategory;
using transport::ScsiCommand;
using transport::ScsiResult;

namespace {

bool isWriteClass(uint8_t opcode)
{
    switch (opcode) {
    case 0x04:
    case 0x1E:
    case 0x2A:
    case 0x35:
    case 0x53:
    case 0x54:
    case 0x55:
    case 0x5B:
    case 0xA1:
    case 0xB6:
    case 0xBB:
        return true;
    default:
        return false;
    }
}

size_t cdbLength(uint8_t opcode)
{
    if (opcode < 0x20)
        return 6;
    if (opcode < 0x60)
        return 10;
    if (opcode >= 0xA0 && opcode < 0xC0)
        return 12;
    return 6;
}

// What data phase an opcode has and how long it is, from its CDB.
struct DataPhase
{
    DataDirection direction = DataDirection::None;
    size_t length = 0;
};

std::optional<DataPhase> dataPhase(std::span<const uint8_t> cdb)
{
    switch (cdb[0]) {
    case 0x00:
    case 0x1B:
    case 0x1E:
    case 0x35:
    case 0x53:
    case 0x5B:
    case 0xA1:
    case 0xBB:
        return DataPhase{};
    case 0x03:
        return DataPhase{DataDirection::FromDevice, cdb[4]};
    case 0x12:
        return DataPhase{DataDirection::FromDevice, be16(cdb, 3)};
    case 0x25:
        return DataPhase{DataDirection::FromDevice, 8};
    case 0x28:
        return DataPhase{DataDirection::FromDevice, size_t(be16(cdb, 7)) * KBlock};
    case 0x23:
    case 0x43:
    case 0x46:
    case 0x4A:
    case 0x51:
    case 0x52:
    case 0x5A:
        return DataPhase{DataDirection::FromDevice, be16(cdb, 7)};
    case 0xA4:
        return DataPhase{DataDirection::FromDevice, be16(cdb, 8)};
    case 0xAC:
        return DataPhase{DataDirection::FromDevice, 8 + size_t(be16(cdb, 8)) * 16};
    case 0x04:
        return DataPhase{DataDirection::ToDevice, (cdb[1] & 0x10) ? 12u : 0u};
    case 0x2A:
        return DataPhase{DataDirection::ToDevice, size_t(be16(cdb, 7)) * KBlock};
    case 0x54:
    case 0x55:
        return DataPhase{DataDirection::ToDevice, be16(cdb, 7)};
    case 0xB6:
        return DataPhase{DataDirection::ToDevice, be16(cdb, 9)};
    default:
        return std::nullopt;
    }
}

// Host status names as the kernel's SG_IO reports them (libburn sg-linux.c,
// sg3_utils sg_lib.c).
std::string hostStatusName(int status)
{
    switch (status) {
    case 0x01:
        return "DID_NO_CONNECT";
    case 0x03:
        return "DID_TIME_OUT";
    case 0x04:
        return "DID_BAD_TARGET";
    case 0x07:
        return "DID_ERROR";
    default:
        return "DID_?";
    }
}

ScsiResult linkResult(const LinkFault &fault, size_t bufferSize)
{
    if (fault.osError != 0)
        return osError(fault.osError);
    ScsiResult result;
    result.category = ResultCategory::TransportError;
    result.hostStatus = fault.hostStatus;
    result.driverStatus = fault.driverStatus;
    char text[80];
    if (fault.hostStatus != 0)
        std::snprintf(text, sizeof text, "Host_status=0x%02x [%s]", unsigned(fault.hostStatus),
                      hostStatusName(fault.hostStatus).c_str());
    else
        std::snprintf(text, sizeof text, "Driver_status=0x%02x [%s]", unsigned(fault.driverStatus),
                      fault.driverStatus == 0x06 ? "DRIVER_TIMEOUT" : "DRIVER_?");
    result.text = text;
    result.residual = bufferSize;
    return result;
}

// Data-in commands whose length a strict USB bridge checks against the reply.
bool bridgeChecksLength(uint8_t opcode)
{
    return opcode == 0x23 || opcode == 0x43 || opcode == 0x46 || opcode == 0x51 || opcode == 0x5A ||
           opcode == 0xAC;
}

} // namespace

ScsiResult VirtualDrive::execute(unsigned handle, bool readOnly, const ScsiCommand &command)
{
    std::unique_lock lock(FMutex);
    LoggedCommand logged;
    logged.cdb.assign(command.cdb.begin(), command.cdb.end());
    // Written blocks go to the node file; a zero-fill of a whole disc must not
    // pile up its data in the log.
    const size_t loggedBytes = !command.cdb.empty() && command.cdb[0] == 0x2A ? 64 : 4096;
    logged.dataOut.assign(command.dataOut.begin(),
                          command.dataOut.begin() +
                              std::min<size_t>(command.dataOut.size(), loggedBytes));
    logged.simSeconds = FClock->now();
    // A demo runs for hours; keep the recent half when the log grows large.
    if (FLog.size() >= 65536)
        FLog.erase(FLog.begin(), FLog.begin() + 32768);
    FLog.push_back(std::move(logged));

    const size_t bufferSize = command.direction == DataDirection::FromDevice ? command.dataIn.size()
                              : command.direction == DataDirection::ToDevice
                                  ? command.dataOut.size()
                                  : 0;
    settle();
    if (gone())
        return linkResult(FSpec.faults.vanishAs, bufferSize);
    ++FCommandCount;
    if (command.cdb.empty())
        return osError(EINVAL);
    const uint8_t opcode = command.cdb[0];
    if (command.cdb.size() < cdbLength(opcode))
        return osError(EINVAL);

    // The kernel refuses a data phase that does not match the command.
    const std::optional<DataPhase> phase = dataPhase(command.cdb);
    if (phase) {
        if (phase->length == 0 && bufferSize > 0)
            return osError(EINVAL);
        if (phase->length > 0 && command.direction != phase->direction)
            return osError(EINVAL);
        if (phase->direction == DataDirection::ToDevice && bufferSize < phase->length)
            return osError(EINVAL);
    }
    if (readOnly && isWriteClass(opcode))
        return osError(EPERM);

    Reply reply;
    bool decided = false;
    const bool jobRuns = FJob != nullptr || FBgStatus == 2;
    for (Injection &injection : FSpec.faults.injections) {
        if (injection.spent || (injection.opcode >= 0 && injection.opcode != opcode) ||
            (injection.duringJob && !jobRuns))
            continue;
        if (++injection.seen <= injection.after)
            continue;
        if (injection.mode == InjectMode::Once && ++injection.hits >= injection.times)
            injection.spent = true;
        // An injected answer, a unit attention included, leaves a running
        // job alone: the drive goes on with it.
        reply = injection.link      ? Reply::linkFault(*injection.link)
                : injection.timeout ? Reply::timedOut()
                                    : Reply::check(injection.sense);
        decided = true;
        break;
    }

    if (!decided) {
        settle();
        const bool exemptFromAttention =
            opcode == 0x12 || opcode == 0x03 || opcode == 0x46 || opcode == 0x4A;
        const bool allowedWhileBusy =
            opcode == 0x00 || opcode == 0x03 || opcode == 0x12 || opcode == 0x4A || opcode == 0x1E;
        const bool needsReadyUnit =
            !(exemptFromAttention || opcode == 0x1E || opcode == 0x1B || opcode == 0xA4 ||
              opcode == 0x5A || opcode == 0xBB || opcode == 0xB6);
        // A deferred error goes to whatever command comes next (REQUEST SENSE
        // returns it as data, INQUIRY never reports it).
        const bool reportDeferred =
            FDeferred && FSpec.quirks.deferredErrors && opcode != 0x12 && opcode != 0x03;
        if (reportDeferred) {
            reply = Reply::check(*FDeferred);
            reply.deferred = true;
            FDeferred.reset();
        } else if (FUnitAttention && !exemptFromAttention) {
            reply = Reply::check(*FUnitAttention);
            FUnitAttention.reset();
        } else if (FJob && !allowedWhileBusy) {
            reply = busyReply();
            // A drive that reports ready early still counts the job on the
            // command that finds it busy (dvd+rw-tools' barrier reads it there).
            reply.sksv = earlyReady() && FSpec.faults.progress != ProgressReport::None;
        } else if (FSpec.faults.notReady && needsReadyUnit && opcode != 0x00) {
            reply = Reply::check(KNotReady);
        } else if (becomingReady() && needsReadyUnit && opcode != 0x00) {
            reply = Reply::check(KBecomingReady);
        } else {
            reply = dispatch(handle, command);
            if (reply.waitForJob) {
                // The kernel gives up on a command after its time-out; the
                // drive goes on with the job.
                const double deadline = FSpec.quirks.kernelTimeouts
                                            ? FClock->now() + command.timeoutMs / 1000.0
                                            : std::numeric_limits<double>::infinity();
                if (!waitForJob(lock, deadline)) {
                    reply = Reply::timedOut();
                } else if (FGone) {
                    reply = Reply::linkFault(FSpec.faults.vanishAs);
                } else if (FDeferred) {
                    reply = Reply::check(*FDeferred);
                    FDeferred.reset();
                }
            }
            // A strict bridge refuses to pad a reply shorter than the
            // allocation length (dvd+rw-format.cpp: USB units insist on
            // accurate lengths).
            if (FSpec.quirks.bridge && reply.kind == Reply::Good && phase &&
                bridgeChecksLength(opcode) && phase->length > reply.data.size())
                reply = Reply::check(KInvalidField);
        }
    }

    const bool garbage = FSpec.faults.garbageAll || FSpec.faults.garbageOpcodes.contains(opcode);
    if (garbage && reply.kind == Reply::Good && !reply.data.empty()) {
        uint32_t state = 0x2545F491u ^ opcode;
        for (uint8_t &byte : reply.data) {
            state = state * 1664525u + 1013904223u;
            byte = uint8_t(state >> 24);
        }
    }

    ScsiResult result;
    switch (reply.kind) {
    case Reply::Good: {
        const size_t allocation = phase ? phase->length : bufferSize;
        const size_t count = std::min({reply.data.size(), allocation, bufferSize});
        if (command.direction == DataDirection::FromDevice) {
            std::copy_n(reply.data.begin(), count, command.dataIn.begin());
            result.residual = bufferSize - count;
        }
        break;
    }
    case Reply::Check:
        result.category = ResultCategory::CheckCondition;
        result.status = 0x02;
        result.sense = senseData(reply);
        result.senseKey = reply.sense.key;
        result.asc = reply.sense.asc;
        result.ascq = reply.sense.ascq;
        result.text = transport::describeSense(reply.sense.key, reply.sense.asc, reply.sense.ascq);
        result.residual = bufferSize;
        break;
    case Reply::Os:
        return osError(reply.osError);
    case Reply::Link:
        result = linkResult(reply.link, bufferSize);
        break;
    case Reply::Timeout:
        // What SG_IO reports for a command the kernel timed out: host status
        // DID_TIME_OUT, no driver status since Linux 5.14, no sense, ioctl success.
        result.category = ResultCategory::TransportError;
        result.hostStatus = 3;
        result.driverStatus = 0;
        result.text = "Host_status=0x03 [DID_TIME_OUT]";
        result.residual = bufferSize;
        break;
    }

    const double factor = FClock->factor();
    const double latency = factor > 0 ? FSpec.timing.commandLatencyMs / factor : 0;
    // A drive held to the disc's write speed takes a WRITE into its buffer
    // and writes the buffer out at that rate: the WRITE is answered once its
    // data fits the buffer, SYNCHRONIZE CACHE once the buffer is empty. A
    // zero-fill then lasts capacity / rate, however fast the host is.
    double answerAt = 0;
    if (FSpec.timing.writeAtSpeed && reply.kind == Reply::Good) {
        const SpeedSet *speeds = speedsForDisc();
        const unsigned speed = speeds ? resolveSpeed(FRequestedWrite, speeds->write) : 0;
        if (opcode == 0x2A && speed > 0) {
            const double rate = speed * 1000.0;
            FWriteDrainsAt = std::max(FWriteDrainsAt, FClock->now()) +
                             double(be16(command.cdb, 7)) * KBlock / rate;
            answerAt = FWriteDrainsAt - FSpec.bufferKiB * 1024.0 / rate;
        } else if (opcode == 0x35) {
            answerAt = FWriteDrainsAt;
        }
    }
    lock.unlock();
    if (latency > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(latency));
    const double wait = answerAt - FClock->now();
    if (wait > 0 && factor > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(wait / factor));
    else if (wait > 0)
        FClock->advance(wait);
    return result;
}

VirtualDrive::Reply VirtualDrive::busyReply() const
{
    Reply reply = Reply::check(Sense{0x02, 0x04, FJob->busyAscq()});
    reply.progress = uint16_t(std::min(65535.0, jobProgress() * 65536));
    return reply;
}

// Fixed format (70h, 71h deferred) or descriptor format (72h, 73h) with the
// progress in a sense-key specific descriptor, as SPC lays them out.
std::vector<uint8_t> VirtualDrive::senseData(const Reply &reply) const
{
    if (FSpec.quirks.descriptorSense) {
        std::vector<uint8_t> data{uint8_t(reply.deferred ? 0x73 : 0x72),
                                  reply.sense.key,
                                  reply.sense.asc,
                                  reply.sense.ascq,
                                  0,
                                  0,
                                  0,
                                  0};
        if (reply.sksv)
            data.insert(data.end(), {0x02, 0x06, 0, 0, 0x80, uint8_t(reply.progress >> 8),
                                     uint8_t(reply.progress), 0});
        data[7] = uint8_t(data.size() - 8);
        return data;
    }
    std::vector<uint8_t> data(18, 0);
    data[0] = reply.deferred ? 0x71 : 0x70;
    data[2] = reply.sense.key;
    data[7] = 10;
    data[12] = reply.sense.asc;
    data[13] = reply.sense.ascq;
    if (reply.sksv) {
        data[15] = 0x80;
        put16(data, 16, reply.progress);
    }
    return data;
}

VirtualDrive::Reply VirtualDrive::dispatch(unsigned handle, const ScsiCommand &command)
{
    switch (command.cdb[0]) {
    case 0x00:
        return testUnitReady();
    case 0x03:
        return requestSense(command);
    case 0x04:
        return formatUnit(command);
    case 0x12:
        return inquiry(command);
    case 0x1B:
        return startStop(command);
    case 0x1E:
        return preventAllow(handle, command);
    case 0x23:
        return readFormatCapacities();
    case 0x25:
        return readCapacity();
    case 0x28:
        return read10(command);
    case 0x2A:
        return write10(command);
    case 0x5B:
        return closeTrackSession(command);
    case 0x35:
        return synchronizeCache();
    case 0x53:
        return reserveTrack(command);
    case 0x54: // SEND OPC INFORMATION: the power calibration always succeeds
        return discPresent() ? Reply{} : Reply::check(FTrayOpen ? KNoMediumOpen : KNoMediumClosed);
    case 0x55:
        return modeSelect(command);
    case 0x43:
        return readToc(command);
    case 0x46:
        return getConfiguration(command);
    case 0x4A:
        return getEventStatus(command);
    case 0x51:
        return readDiscInformation();
    case 0x52:
        return readTrackInformation(command);
    case 0x5A:
        return modeSense(command);
    case 0xA1:
        return blank(command);
    case 0xA4:
        return reportKey(command);
    case 0xAC:
        return getPerformance(command);
    case 0xB6:
        return setStreaming(command);
    case 0xBB:
        return setCdSpeed(command);
    default:
        return peerCommand(command);
    }
}
} // namespace blankora::virtualbay
