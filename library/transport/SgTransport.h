#pragma once

#include "library/transport/ScsiTransport.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace blankora::transport {

// What sg_pt reports for one command, before it becomes a ScsiResult.
struct PtAnswer
{
    int started = 0;        // do_scsi_pt(): 0, -errno or SCSI_PT_DO_*
    int category = 0;       // get_scsi_pt_result_category()
    int status = 0;         // get_scsi_pt_status_response()
    int transportError = 0; // get_scsi_pt_transport_err(): the host status alone on Linux
    int osError = 0;        // get_scsi_pt_os_err()
    int driverStatus = 0;   // from get_scsi_pt_transport_err_str(): 6 = DRIVER_TIMEOUT
    int residual = 0;       // get_scsi_pt_resid()
    DataDirection direction = DataDirection::None;
    size_t requested = 0;
    std::vector<uint8_t> sense;
};

// Unpacks an sg_pt answer as sg_pt_linux.c fills it: a time-out is host
// status 3 (DID_TIME_OUT), never SCSI_PT_DO_TIMEOUT; the residual counts for
// data-in only, as /dev/srN always reports 0 for data-out. Older kernels
// report a time-out as driver status 6 (DRIVER_TIMEOUT) with host status 0.
ScsiResult resultFromPt(const PtAnswer &answer);
// "DID_TIME_OUT" for a Linux host status, "host status N" for unknown ones.
std::string hostStatusName(int hostStatus);

// A real drive reached through SG_IO (libsgutils2 sg_pt). Holds the device
// descriptor for its whole life, so a tray lock lasts as long as the object.
class SgTransport : public ScsiTransport
{
public:
    // Opens the node read-write and non-blocking (no media checks on open),
    // with O_EXCL when the mode is exclusive.
    static OpenResult open(const std::string &node, OpenMode mode = OpenMode::Shared);
    ~SgTransport() override;

    SgTransport(const SgTransport &) = delete;
    SgTransport &operator=(const SgTransport &) = delete;

    ScsiResult execute(const ScsiCommand &command) override;
    std::string deviceNode() const override;

private:
    SgTransport(int fd, std::string node);

    int FFd;
    std::string FNode;
    std::mutex FMutex; // one command at a time per descriptor
};

} // namespace blankora::transport
