#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace blankora::transport {

enum class DataDirection
{
    None,
    FromDevice,
    ToDevice
};

// One SCSI command: the CDB, the data phase and the time the caller allows.
struct ScsiCommand
{
    std::span<const uint8_t> cdb;
    DataDirection direction = DataDirection::None;
    // FromDevice: the buffer to fill (its size is the allocation length).
    // ToDevice: the bytes to send.
    std::span<uint8_t> dataIn;
    std::span<const uint8_t> dataOut;
    unsigned timeoutMs = 30000;
};

enum class ResultCategory
{
    Good,
    CheckCondition, // sense data decoded below
    Status,         // another non-GOOD SCSI status (BUSY, RESERVATION CONFLICT)
    TransportError, // host or driver status: timeout, reset, lost device
    OsError         // the command never reached the drive (osError holds errno)
};

struct ScsiResult
{
    ResultCategory category = ResultCategory::Good;
    uint8_t status = 0; // SCSI status byte
    std::vector<uint8_t> sense;
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    int osError = 0;    // errno-like value, 0 when none
    int hostStatus = 0; // 3 = time-out
    int driverStatus = 0;
    size_t residual = 0; // requested minus transferred bytes
    std::string text;    // readable reason, empty when good ("[02/3A/00 Not Ready: ...]", ...)

    bool ok() const { return category == ResultCategory::Good; }
    size_t transferred(size_t requested) const
    {
        return residual > requested ? 0 : requested - residual;
    }
};

// An open device that executes SCSI commands. One object holds its device
// handle for its whole life: the kernel unlocks a locked tray when the last
// handle closes.
class ScsiTransport
{
public:
    virtual ~ScsiTransport() = default;
    virtual ScsiResult execute(const ScsiCommand &command) = 0;
    // Block node (or the virtual disc's image file) that names the device.
    virtual std::string deviceNode() const = 0;
};

// A CD/DVD device as enumeration sees it, before it is opened.
struct DeviceEntry
{
    int systemNumber = -1; // N of CdRomN (/dev/srN)
    uint8_t host = 0, channel = 0, target = 0, lun = 0;
    std::string node; // /dev/srN, or the virtual drive's node
    // INQUIRY identity as sysfs (or the scenario) gives it, known without
    // opening the device; empty where it is not known.
    std::string vendor, product;
};

// Shared: any number of handles, as the scan needs. Exclusive: O_EXCL, which the
// kernel refuses (EBUSY) while the disc is mounted in any namespace or another
// program holds the drive exclusively; the device object that erases uses it.
enum class OpenMode
{
    Shared,
    Exclusive
};

struct OpenResult
{
    std::unique_ptr<ScsiTransport> transport; // null on failure
    int osError = 0;
    std::string text; // on failure: names the node and says what to do
};

// Source of devices: the machine's real drives or the virtual drive bay.
class DeviceProvider
{
public:
    virtual ~DeviceProvider() = default;
    // Devices in SCSI address order.
    virtual std::vector<DeviceEntry> enumerate() = 0;
    virtual OpenResult openBySystemNumber(int systemNumber, OpenMode mode = OpenMode::Shared) = 0;
    virtual OpenResult openByAddress(uint8_t host, uint8_t channel, uint8_t target, uint8_t lun,
                                     OpenMode mode = OpenMode::Shared) = 0;
    // Mount point of the disc behind this node, or empty when it is not mounted.
    virtual std::string mountPoint(const std::string &node) = 0;
};

} // namespace blankora::transport
