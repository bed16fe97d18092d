#pragma once

#include "library/transport/ScsiTransport.h"

#include <memory>
#include <string>

namespace blankora::transport {

// Source of devices for this process: the virtual drive bay when one is
// installed (VirtualBay::install) or BLANKORA_VIRTUAL_DRIVES names a scenario
// file, else the machine's real drives. Returns null when the scenario cannot
// be read or parsed; error then names the file, the place and the fault.
std::unique_ptr<DeviceProvider> CreateDeviceProvider(std::string &error);

} // namespace blankora::transport
