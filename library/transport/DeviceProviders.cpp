#include "library/transport/DeviceProviders.h"

#include "library/transport/SgDeviceProvider.h"
#include "library/virtual/VirtualBay.h"

namespace blankora::transport {

namespace {

// Hands out the shared bay; the bay itself outlives any one provider.
class SharedBayProvider : public DeviceProvider
{
public:
    explicit SharedBayProvider(std::shared_ptr<virtualbay::VirtualBay> bay) : FBay(std::move(bay))
    {}
    std::vector<DeviceEntry> enumerate() override { return FBay->enumerate(); }
    OpenResult openBySystemNumber(int systemNumber, OpenMode mode = OpenMode::Shared) override
    {
        return FBay->openBySystemNumber(systemNumber, mode);
    }
    OpenResult openByAddress(uint8_t host, uint8_t channel, uint8_t target, uint8_t lun,
                             OpenMode mode = OpenMode::Shared) override
    {
        return FBay->openByAddress(host, channel, target, lun, mode);
    }
    std::string mountPoint(const std::string &node) override { return FBay->mountPoint(node); }

private:
    std::shared_ptr<virtualbay::VirtualBay> FBay;
};

} // namespace

std::unique_ptr<DeviceProvider> CreateDeviceProvider(std::string &error)
{
    error.clear();
    if (!virtualbay::VirtualBay::selected())
        return std::make_unique<SgDeviceProvider>();
    auto bay = virtualbay::VirtualBay::current(error);
    if (!bay)
        return nullptr;
    return std::make_unique<SharedBayProvider>(std::move(bay));
}

} // namespace blankora::transport
