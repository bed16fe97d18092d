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
    size_t requested = 0;
    if (command.direction == DataDirection::FromDevice && !command.dataIn.empty()) {
        requested = command.dataIn.size();
        set_scsi_pt_data_in(pt.object, command.dataIn.data(), static_cast<int>(requested));
    } else if (command.direction == DataDirection::ToDevice && !command.dataOut.empty()) {
        requested = command.dataOut.size();
        set_scsi_pt_data_out(pt.object, command.dataOut.data(), static_cast<int>(requested));
    }

    // sg_pt counts whole seconds; never round a short time-out down to "default".
    const int timeoutSeconds = static_cast<int>(std::max(1u, (command.timeoutMs + 999) / 1000));
    const int started = do_scsi_pt(pt.object, FFd, timeoutSeconds, 0);

    ScsiResult result;
    if (started < 0)
        return osFailure(-started);
    if (started == SCSI_PT_DO_BAD_PARAMS)
        return osFailure(EINVAL);
    if (started == SCSI_PT_DO_TIMEOUT) {
        result.category = ResultCategory::TransportError;
        result.hostStatus = 3;
        result.text = "Command timed out";
        return result;
    }

    const int resid = get_scsi_pt_resid(pt.object);
    result.residual = resid > 0 ? std::min(static_cast<size_t>(resid), requested) : 0;
    result.status = static_cast<uint8_t>(get_scsi_pt_status_response(pt.object));
    const int senseLength = std::clamp(get_scsi_pt_sense_len(pt.object), 0, int(sizeof sense));
    result.sense.assign(sense, sense + senseLength);

    switch (get_scsi_pt_result_category(pt.object)) {
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
        if (sg_scsi_normalize_sense(sense, senseLength, &header)) {
            result.senseKey = header.sense_key;
            result.asc = header.asc;
            result.ascq = header.ascq;
        }
        result.text = describeSense(result.senseKey, result.asc, result.ascq);
        break;
    }
    case SCSI_PT_RESULT_TRANSPORT_ERR: {
        result.category = ResultCategory::TransportError;
        const int transport = get_scsi_pt_transport_err(pt.object);
        // sg_pt on Linux packs host status above driver status.
        result.hostStatus = (transport >> 8) & 0xFF;
        result.driverStatus = transport & 0xFF;
        char text[256] = {};
        get_scsi_pt_transport_err_str(pt.object, sizeof text, text);
        result.text = text;
        break;
    }
    default:
        return osFailure(get_scsi_pt_os_err(pt.object) ? get_scsi_pt_os_err(pt.object) : EIO);
    }
    return result;
}

} // namespace blankora::transport
