#pragma once

#include <cstdint>
#include <string>

namespace blankora::transport {

// The sense as libsgutils2's tables name it, in the one form every failure
// text carries: "[02/3A/01 Not Ready: Medium not present - tray closed]".
std::string describeSense(uint8_t senseKey, uint8_t asc, uint8_t ascq);

// Why a device node could not be opened and what the user can do about it,
// e.g. "Permission denied: /dev/sr0. Add your user to the 'cdrom' group ...".
std::string openErrorText(int osError, const std::string &node);

} // namespace blankora::transport
