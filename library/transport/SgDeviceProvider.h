#pragma once

#include "library/transport/ScsiTransport.h"

#include <string>

namespace blankora::transport {

// The machine's CD/DVD/BD drives: sysfs SCSI devices of peripheral type 5,
// opened through their /dev/srN block node. The roots are parameters so the
// enumeration can be exercised against a prepared directory tree.
class SgDeviceProvider : public DeviceProvider
{
public:
    explicit SgDeviceProvider(std::string sysfsDevices = "/sys/bus/scsi/devices",
                              std::string devDirectory = "/dev",
                              std::string mountInfo = "/proc/self/mountinfo");

    std::vector<DeviceEntry> enumerate() override;
    OpenResult openBySystemNumber(int systemNumber, OpenMode mode = OpenMode::Shared) override;
    OpenResult openByAddress(uint8_t host, uint8_t channel, uint8_t target, uint8_t lun,
                             OpenMode mode = OpenMode::Shared) override;
    std::string mountPoint(const std::string &node) override;

private:
    std::string FSysfsDevices;
    std::string FDevDirectory;
    std::string FMountInfo;
};

// Mount point of the block device major:minor in a /proc/self/mountinfo text,
// with octal escapes (\040) decoded; empty when it is not mounted.
std::string findMountPoint(const std::string &mountInfoText, unsigned major, unsigned minor);

} // namespace blankora::transport
