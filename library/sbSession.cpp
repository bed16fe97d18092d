#include "library/sbSession.h"

#include "library/sbDeviceObject.h"
#include "library/transport/DeviceProviders.h"
#include "library/transport/SenseText.h"
#include "library/virtual/VirtualBay.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace blankora::library {

ProviderAccess::ProviderAccess(std::unique_ptr<transport::DeviceProvider> provider)
    : FProvider(std::move(provider))
{
    if (virtualbay::VirtualBay::selected()) {
        std::string error;
        FBay = virtualbay::VirtualBay::current(error);
    }
}

void ProviderAccess::sleep(unsigned ms) const
{
    double realMs = ms;
    if (FBay) {
        // The bay's factor is drive seconds per real second; a stopped clock
        // (factor 0) is moved by its owner, so just yield a little.
        const double factor = FBay->clock().factor();
        realMs = factor > 0 ? ms / factor : 1.0;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t(realMs * 1000.0)));
}

std::vector<transport::DeviceEntry> ProviderAccess::enumerate()
{
    std::lock_guard lock(FMutex);
    return FProvider->enumerate();
}

transport::OpenResult ProviderAccess::openBySystemNumber(int systemNumber, transport::OpenMode mode)
{
    std::lock_guard lock(FMutex);
    return FProvider->openBySystemNumber(systemNumber, mode);
}

transport::OpenResult ProviderAccess::openNode(const std::string &node, transport::OpenMode mode)
{
    std::lock_guard lock(FMutex);
    for (const transport::DeviceEntry &entry : FProvider->enumerate()) {
        if (entry.node == node)
            return FProvider->openBySystemNumber(entry.systemNumber, mode);
    }
    transport::OpenResult result;
    result.osError = ENODEV;
    result.text = transport::openErrorText(ENODEV, node);
    return result;
}

transport::OpenResult ProviderAccess::openByAddress(uint8_t host, uint8_t channel, uint8_t target,
                                                    uint8_t lun, transport::OpenMode mode)
{
    std::lock_guard lock(FMutex);
    return FProvider->openByAddress(host, channel, target, lun, mode);
}

std::string ProviderAccess::mountPoint(const std::string &node)
{
    std::lock_guard lock(FMutex);
    return FProvider->mountPoint(node);
}

Session &Session::instance()
{
    static Session session;
    return session;
}

EXCEPTION_NUMBER Session::start()
{
    std::lock_guard lock(FMutex);
    if (FProvider)
        return EN_SUCCESS;
    std::string error;
    std::unique_ptr<transport::DeviceProvider> provider = transport::CreateDeviceProvider(error);
    if (!provider) {
        FStartUpError =
            error.empty() ? std::string("The device provider could not be created.") : error;
        return std::getenv("BLANKORA_VIRTUAL_DRIVES") != nullptr ? EN_SCENARIO_ERROR
                                                                 : EN_GENERIC_FAILURE;
    }
    FStartUpError.clear();
    FProvider = std::make_shared<ProviderAccess>(std::move(provider));
    return EN_SUCCESS;
}

void Session::stop()
{
    std::map<const void *, std::shared_ptr<DeviceObject>> objects;
    {
        std::lock_guard lock(FMutex);
        objects.swap(FObjects);
        FProvider.reset();
    }
    // A call still running on one of them ends early; the objects go when
    // their last user lets go of them.
    for (auto &entry : objects)
        entry.second->cancel();
}

std::string Session::lastStartUpError() const
{
    std::lock_guard lock(FMutex);
    return FStartUpError;
}

std::shared_ptr<ProviderAccess> Session::provider() const
{
    std::lock_guard lock(FMutex);
    return FProvider;
}

void *Session::registerObject(std::shared_ptr<DeviceObject> object)
{
    std::lock_guard lock(FMutex);
    FNextHandle += 16;
    void *handle = reinterpret_cast<void *>(FNextHandle);
    FObjects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<DeviceObject> Session::find(const void *handle) const
{
    if (handle == nullptr)
        return nullptr;
    std::lock_guard lock(FMutex);
    auto it = FObjects.find(handle);
    return it == FObjects.end() ? nullptr : it->second;
}

std::shared_ptr<DeviceObject> Session::unregister(const void *handle)
{
    if (handle == nullptr)
        return nullptr;
    std::lock_guard lock(FMutex);
    auto it = FObjects.find(handle);
    if (it == FObjects.end())
        return nullptr;
    std::shared_ptr<DeviceObject> object = std::move(it->second);
    FObjects.erase(it);
    return object;
}

std::optional<int> systemNumberFromName(const std::string &name)
{
    static const std::string prefix = "cdrom";
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 3)
        return std::nullopt;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i])
            return std::nullopt;
    }
    int number = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return std::nullopt;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

} // namespace blankora::library
