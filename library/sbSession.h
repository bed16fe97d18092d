#pragma once

#include "library/StarBurn.h"
#include "library/transport/ScsiTransport.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace blankora::virtualbay {
class VirtualBay;
}

namespace blankora::library {

class DeviceObject;

// The device provider of a session with the lock that serialises its use:
// the scan thread, the erase thread and the user-interface thread share it.
// Device objects keep it alive, so their transports never outlive it.
class ProviderAccess
{
public:
    explicit ProviderAccess(std::unique_ptr<transport::DeviceProvider> provider);

    std::vector<transport::DeviceEntry> enumerate();
    transport::OpenResult openBySystemNumber(int systemNumber, transport::OpenMode mode);
    transport::OpenResult openByAddress(uint8_t host, uint8_t channel, uint8_t target, uint8_t lun,
                                        transport::OpenMode mode);
    // Opens the listed device whose node is `node`.
    transport::OpenResult openNode(const std::string &node, transport::OpenMode mode);
    std::string mountPoint(const std::string &node);
    // Waits `ms` of drive time: real milliseconds for real drives, scaled by
    // the virtual bay's time factor for emulated ones.
    void sleep(unsigned ms) const;

private:
    std::mutex FMutex;
    std::unique_ptr<transport::DeviceProvider> FProvider;
    std::shared_ptr<virtualbay::VirtualBay> FBay; // null for real drives
};

// The library session: the provider opened by StarBurn_UpStartEx, the last
// start-up error, and the registry of live device handles that lets every
// call tell a live handle from a stale or garbage one.
class Session
{
public:
    static Session &instance();

    // Creates the provider unless the session is already open.
    EXCEPTION_NUMBER start();
    // Closes the session; handles still registered become invalid.
    void stop();
    std::string lastStartUpError() const;

    // Null when the session is not open.
    std::shared_ptr<ProviderAccess> provider() const;

    // A new handle for the object. Handles are never reused within a process,
    // so a stale handle cannot reach a later device object.
    void *registerObject(std::shared_ptr<DeviceObject> object);
    // The object behind a handle, null for anything that is not a live handle.
    std::shared_ptr<DeviceObject> find(const void *handle) const;
    std::shared_ptr<DeviceObject> unregister(const void *handle);

    std::atomic<bool> FastReadToc{false};

private:
    Session() = default;

    mutable std::mutex FMutex;
    std::shared_ptr<ProviderAccess> FProvider;
    std::string FStartUpError;
    std::map<const void *, std::shared_ptr<DeviceObject>> FObjects;
    uintptr_t FNextHandle = 0x5B000;
};

// "CdRomN" (any letter case) gives N.
std::optional<int> systemNumberFromName(const std::string &name);

} // namespace blankora::library
