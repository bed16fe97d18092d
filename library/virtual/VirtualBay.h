#pragma once

#include "library/transport/ScsiTransport.h"
#include "library/virtual/VirtualDrive.h"

#include <memory>
#include <string>
#include <vector>

namespace blankora::virtualbay {

// A set of emulated drives described by a scenario (JSON, see
// docs/virtual-drives.md). It is a DeviceProvider like the real drives; its
// drives' node files live in a private temporary directory removed with the bay.
//
// Tests build a bay with fromJson()/fromFile(), inspect and script it through
// drive(i), and share it with the library through install(): from then on
// CreateDeviceProvider() hands out this very bay. Without an installed bay,
// current() loads BLANKORA_VIRTUAL_DRIVES once per path and keeps it.
class VirtualBay : public transport::DeviceProvider, public std::enable_shared_from_this<VirtualBay>
{
public:
    static std::shared_ptr<VirtualBay> fromJson(const std::string &json, std::string &error,
                                                const std::string &source = "<scenario>");
    static std::shared_ptr<VirtualBay> fromFile(const std::string &path, std::string &error);

    // The process-wide bay: the installed one, else the one the environment names.
    // Null without either (error empty) or when the scenario is bad (error set).
    static std::shared_ptr<VirtualBay> current(std::string &error);
    static void install(std::shared_ptr<VirtualBay> bay); // null uninstalls
    static bool selected(); // a bay is installed or the environment names one

    ~VirtualBay() override;

    size_t driveCount() const { return FDrives.size(); }
    VirtualDrive &drive(size_t index) { return *FDrives.at(index); }
    SimClock &clock() { return *FClock; }
    std::string directory() const { return FDirectory; }

    std::vector<transport::DeviceEntry> enumerate() override;
    transport::OpenResult
    openBySystemNumber(int systemNumber,
                       transport::OpenMode mode = transport::OpenMode::Shared) override;
    transport::OpenResult
    openByAddress(uint8_t host, uint8_t channel, uint8_t target, uint8_t lun,
                  transport::OpenMode mode = transport::OpenMode::Shared) override;
    std::string mountPoint(const std::string &node) override;

private:
    VirtualBay() = default;
    static std::shared_ptr<VirtualBay> build(BaySpec declared, const std::string &source,
                                             const std::string &baseDirectory, std::string &error);
    transport::OpenResult open(VirtualDrive &drive, transport::OpenMode mode);

    std::string FDirectory;
    std::shared_ptr<SimClock> FClock;
    std::vector<std::shared_ptr<VirtualDrive>> FDrives;
};

} // namespace blankora::virtualbay
