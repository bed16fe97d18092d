#pragma once

#include "library/transport/ScsiTransport.h"

#include <mutex>
#include <string>

namespace blankora::transport {

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
