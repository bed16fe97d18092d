#include "library/transport/SgTransport.h"

#include "library/transport/SenseText.h"

#include <scsi/sg_lib.h>
#include <scsi/sg_pt.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace blankora::transport {

OpenResult SgTransport::open(const std::string &node, OpenMode mode)
{
    OpenResult result;
    const int flags = O_RDWR | O_NONBLOCK | (mode == OpenMode::Exclusive ? O_EXCL : 0);
    const int fd = scsi_pt_open_flags(node.c_str(), flags, 0);
    if (fd < 0) {
        result.osError = -fd;
        result.text = openErrorText(result.osError, node);
        return result;
    }
    result.transport.reset(new SgTransport(fd, node));
    return result;
}

SgTransport::SgTransport(int fd, std::string node) : FFd(fd), FNode(std::move(node)) {}

SgTransport::~SgTransport()
{
    scsi_pt_close_device(FFd);
}

std::string SgTransport::deviceNode() const
{
    return FNode;
}

namespace {

struct PtObject
{
    sg_pt_base *object;
    ~PtObject() { destruct_scsi_pt_obj(object); }
};

ScsiResult osFailure(int error)
{
    ScsiResult result;
    result.category = ResultCategory::OsError;
    result.osError = error;
    result.text = std::strerror(error);
    return result;
}

} // namespace

std::string hostStatusName(int hostStatus)
{
    // include/scsi/scsi_status.h (enum host_status)
    static const char *const names[] = {
        "DID_OK",
        "DID_NO_CONNECT",
        "DID_BUS_BUSY",
        "DID_TIME_OUT",
        "DID_BAD_TARGET",
        "DID_ABORT",
        "DID_PARITY",
        "DID_ERROR",
        "DID_RESET",
        "DID_BAD_INTR",
        "DID_PASSTHROUGH",
        "DID_SOFT_ERROR",
        "DID_IMM_RETRY",
        "DID_REQUEUE",
        "DID_TRANSPORT_DISRUPTED",
        "DID_TRANSPORT_FAILFAST",
        "DID_TARGET_FAILURE",
        "DID_NEXUS_FAILURE",
        "DID_ALLOC_FAILURE",
        "DID_MEDIUM_ERROR",
        "DID_TRANSPORT_MARGINAL",
    };
    if (hostStatus >= 0 && size_t(hostStatus) < std::size(names))
        return names[hostStatus];
    return "host status " + std::to_string(hostStatus);
}

ScsiResult resultFromPt(const PtAnswer &answer)
{
    ScsiResult result;
    if (answer.started < 0)
        return osFailure(-answer.started);
    if (answer.started == SCSI_PT_DO_BAD_PARAMS)
        return osFailure(EINVAL);
    if (answer.started == SCSI_PT_DO_NOT_SUPPORTED) {
        result = osFailure(EOPNOTSUPP);
        result.text = "The device does not accept SCSI pass-through commands (SG_IO)";
        return result;
    }
    if (answer.started != SCSI_PT_DO_START_OK)
        return osFailure(EIO);

    if (answer.direction == DataDirection::FromDevice && answer.residual > 0)
        result.residual = std::min(static_cast<size_t>(answer.residual), answer.requested);
    result.status = static_cast<uint8_t>(answer.status);
    result.sense = answer.sense;

    switch (answer.category) {
    case SCSI_PT_RESULT_GOOD:
        result.category = ResultCategory::Good;
        break;
    case SCSI_PT_RESULT_STATUS: {
        result.category = ResultCategory::Status;
        char text[128] = {};
        sg_get_scsi_status_str(result.status, sizeof text, text);
        result.text = text;
        break;
    }
    case SCSI_PT_RESULT_SENSE: {
        result.category = ResultCategory::CheckCondition;
        sg_scsi_sense_hdr header{};
        if (sg_scsi_normalize_sense(answer.sense.data(), int(answer.sense.size()), &header)) {
            result.senseKey = header.sense_key;
            result.asc = header.asc;
            result.ascq = header.ascq;
        }
        result.text = describeSense(result.senseKey, result.asc, result.ascq);
        break;
    }
    case SCSI_PT_RESULT_TRANSPORT_ERR:
        result.category = ResultCategory::TransportError;
        result.hostStatus = answer.transportError & 0xFF;
        result.driverStatus = answer.driverStatus;
        if (result.hostStatus == 3)
            result.text = "Command timed out (DID_TIME_OUT)";
        else if (result.hostStatus == 0 && (answer.driverStatus & 0x0F) == 0x06)
            result.text = "Command timed out (DRIVER_TIMEOUT)";
        else
            result.text = "Transport error (" + hostStatusName(result.hostStatus) + ")";
        break;
    default:
        return osFailure(answer.osError ? answer.osError : EIO);
    }
    return result;
}

ScsiResult SgTransport::execute(const ScsiCommand &command)
{
    std::lock_guard lock(FMutex);
    PtObject pt{construct_scsi_pt_obj_with_fd(FFd, 0)};
    if (pt.object == nullptr)
        return osFailure(ENOMEM);
    if (const int error = get_scsi_pt_os_err(pt.object))
        return osFailure(error);

    uint8_t sense[64] = {};
    set_scsi_pt_cdb(pt.object, command.cdb.data(), static_cast<int>(command.cdb.size()));
    set_scsi_pt_sense(pt.object, sense, sizeof sense);
    PtAnswer answer;
    answer.direction = command.direction;
    if (command.direction == DataDirection::FromDevice && !command.dataIn.empty()) {
        answer.requested = command.dataIn.size();
        set_scsi_pt_data_in(pt.object, command.dataIn.data(), static_cast<int>(answer.requested));
    } else if (command.direction == DataDirection::ToDevice && !command.dataOut.empty()) {
        answer.requested = command.dataOut.size();
        set_scsi_pt_data_out(pt.object, command.dataOut.data(), static_cast<int>(answer.requested));
    }

    // sg_pt counts whole seconds; never round a short time-out down to "default".
    const int timeoutSeconds = static_cast<int>(std::max(1u, (command.timeoutMs + 999) / 1000));
    answer.started = do_scsi_pt(pt.object, FFd, timeoutSeconds, 0);
    if (answer.started == SCSI_PT_DO_START_OK) {
        answer.category = get_scsi_pt_result_category(pt.object);
        answer.status = get_scsi_pt_status_response(pt.object);
        answer.transportError = get_scsi_pt_transport_err(pt.object);
        answer.osError = get_scsi_pt_os_err(pt.object);
        // sg_pt has no getter for the driver status; its transport text names it.
        char transportText[256] = {};
        get_scsi_pt_transport_err_str(pt.object, sizeof transportText, transportText);
        if (std::strstr(transportText, "DRIVER_TIMEOUT"))
            answer.driverStatus = 0x06;
        answer.residual = get_scsi_pt_resid(pt.object);
        const int senseLength = std::clamp(get_scsi_pt_sense_len(pt.object), 0, int(sizeof sense));
        answer.sense.assign(sense, sense + senseLength);
    }
    return resultFromPt(answer);
}

} // namespace blankora::transport
