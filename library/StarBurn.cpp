#include "library/StarBurn.h"

#include "library/sbDeviceObject.h"
#include "library/sbErrorBlock.h"
#include "library/sbSession.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>

using blankora::library::copyText;
using blankora::library::DeviceObject;
using blankora::library::ErrorBlock;
using blankora::library::failure;
using blankora::library::Outcome;
using blankora::library::Session;

namespace {

const char DevicePrefix[] = "\\\\.\\";

Outcome invalidHandle()
{
    return failure(EN_INVALID_PARAMETER,
                   "Invalid device handle: it was never created, or it was destroyed.");
}

Outcome nullOutput()
{
    return failure(EN_INVALID_PARAMETER, "Invalid parameter: an output pointer is null.");
}

Outcome notStarted()
{
    return failure(EN_NOT_STARTED, "The library is not started: call StarBurn_UpStartEx first.");
}

// Opens a device with `open` (ProviderAccess& -> OpenResult) and registers a
// handle for it.
template <class Open>
EXCEPTION_NUMBER createObject(void **handle, const ErrorBlock &block, PCALLBACK callback,
                              void *context, Open open)
{
    if (!block.usable())
        return block.apply({});
    if (handle == nullptr)
        return block.apply(nullOutput());
    *handle = nullptr;
    std::shared_ptr<blankora::library::ProviderAccess> provider = Session::instance().provider();
    if (!provider)
        return block.apply(notStarted());
    blankora::transport::OpenResult opened = open(*provider);
    if (!opened.transport) {
        const int osError = opened.osError;
        return block.apply(failure(
            osError != 0 ? blankora::library::codeForOsError(osError)
                         : EXCEPTION_NUMBER(EN_NO_DEVICE),
            opened.text.empty() ? "The device cannot be opened." : opened.text, uint32_t(osError)));
    }
    auto object =
        std::make_shared<DeviceObject>(provider, std::move(opened.transport), callback, context);
    *handle = Session::instance().registerObject(std::move(object));
    return block.apply(blankora::library::success());
}

blankora::transport::OpenResult openAddress(blankora::library::ProviderAccess &provider,
                                            uint8_t port, uint8_t bus, uint8_t target, uint8_t lun)
{
    blankora::transport::OpenResult opened =
        provider.openByAddress(port, bus, target, lun, blankora::transport::OpenMode::Shared);
    if (!opened.transport && opened.text.empty())
        opened.text = "No CD/DVD device at SCSI address " + std::to_string(port) + ":" +
                      std::to_string(bus) + ":" + std::to_string(target) + ":" +
                      std::to_string(lun) + ".";
    return opened;
}

std::string stripDevicePrefix(std::string name)
{
    if (name.rfind(DevicePrefix, 0) == 0)
        name.erase(0, sizeof(DevicePrefix) - 1);
    return name;
}

// The system number of a device named "CdRomN" or by its node ("/dev/sr0").
std::optional<int> systemNumberOf(blankora::library::ProviderAccess &provider,
                                  const std::string &name)
{
    if (std::optional<int> number = blankora::library::systemNumberFromName(name))
        return number;
    std::string path = name;
    if (char *resolved = realpath(name.c_str(), nullptr)) {
        path = resolved;
        std::free(resolved);
    }
    for (const blankora::transport::DeviceEntry &entry : provider.enumerate()) {
        if (entry.node == name || entry.node == path)
            return entry.systemNumber;
    }
    return std::nullopt;
}

blankora::transport::OpenResult openName(blankora::library::ProviderAccess &provider,
                                         const char *deviceName)
{
    const std::string name = stripDevicePrefix(deviceName);
    std::optional<int> number = systemNumberOf(provider, name);
    if (!number) {
        blankora::transport::OpenResult result;
        result.osError = ENODEV;
        result.text = "No CD/DVD device named \"" + name +
                      "\": use a system name such as CdRom0 or a device path such as /dev/sr0.";
        return result;
    }
    return provider.openBySystemNumber(*number, blankora::transport::OpenMode::Shared);
}

// Runs an (E) operation on a live handle.
template <class Operation>
EXCEPTION_NUMBER withObject(void *handle, const ErrorBlock &block, Operation operation)
{
    if (!block.usable())
        return block.apply({});
    std::shared_ptr<DeviceObject> object = Session::instance().find(handle);
    if (!object)
        return block.apply(invalidHandle());
    return block.apply(operation(*object));
}

// Runs a device query that yields flags and hands them to the caller's
// outputs, which must all be given; on failure the outputs stay as they were.
template <size_t N, class Query>
Outcome queryFlags(const std::array<uint8_t *, N> &outputs, Query query)
{
    for (uint8_t *output : outputs) {
        if (output == nullptr)
            return nullOutput();
    }
    std::array<uint8_t, N> flags{};
    Outcome outcome = query(flags);
    if (outcome.ok()) {
        for (size_t i = 0; i < N; ++i)
            *outputs[i] = flags[i];
    }
    return outcome;
}

// Hands the listed device named "CdRomN" to `use`, without opening it.
template <class Use> EXCEPTION_NUMBER withListedDevice(const char *systemName, Use use)
{
    std::shared_ptr<blankora::library::ProviderAccess> provider = Session::instance().provider();
    if (!provider)
        return EN_NOT_STARTED;
    std::optional<int> number = blankora::library::systemNumberFromName(systemName);
    if (!number)
        return EN_INVALID_PARAMETER;
    for (const blankora::transport::DeviceEntry &entry : provider->enumerate()) {
        if (entry.systemNumber == *number) {
            use(entry);
            return EN_SUCCESS;
        }
    }
    return EN_NO_DEVICE;
}

} // namespace

extern "C" {

uint32_t StarBurn_GetVersion(void)
{
    return STARBURN_VERSION;
}

EXCEPTION_NUMBER StarBurn_UpStartEx(void)
{
    return Session::instance().start();
}

void StarBurn_DownShut(void)
{
    Session::instance().stop();
}

const char *StarBurn_GetLastStartUpError(void)
{
    // A per-thread copy stays valid until this thread asks again.
    thread_local std::string text;
    text = Session::instance().lastStartUpError();
    return text.c_str();
}

EXCEPTION_NUMBER StarBurn_FindDevice(uint8_t deviceType, uint8_t, PCALLBACK callback, void *context)
{
    if (callback == nullptr)
        return EN_INVALID_PARAMETER;
    std::shared_ptr<blankora::library::ProviderAccess> provider = Session::instance().provider();
    if (!provider)
        return EN_NOT_STARTED;
    if (deviceType != STARBURN_DEVICE_TYPE_CDROM)
        return EN_SUCCESS;
    // The provider lock is not held while the callback runs: it opens devices.
    for (const blankora::transport::DeviceEntry &entry : provider->enumerate()) {
        STARBURN_DEVICE_ADDRESS address{1, entry.host, entry.channel, entry.target, entry.lun};
        std::string name =
            entry.systemNumber >= 0 ? "CdRom" + std::to_string(entry.systemNumber) : entry.node;
        callback(CN_DEVICE_FOUND, context, &address, name.data());
    }
    return EN_SUCCESS;
}

EXCEPTION_NUMBER StarBurn_GetDeviceNameByDeviceAddress(uint8_t portId, uint8_t busId,
                                                       uint8_t targetId, uint8_t lun,
                                                       char *deviceName)
{
    if (deviceName == nullptr)
        return EN_INVALID_PARAMETER;
    deviceName[0] = '\0';
    std::shared_ptr<blankora::library::ProviderAccess> provider = Session::instance().provider();
    if (!provider)
        return EN_NOT_STARTED;
    for (const blankora::transport::DeviceEntry &entry : provider->enumerate()) {
        if (entry.host == portId && entry.channel == busId && entry.target == targetId &&
            entry.lun == lun) {
            copyText(deviceName, STARBURN_NAME_BUFFER_SIZE, DevicePrefix + entry.node);
            return EN_SUCCESS;
        }
    }
    return EN_NO_DEVICE;
}

EXCEPTION_NUMBER StarBurn_GetDeviceNameBySystemName(const char *systemName, char *deviceName)
{
    if (systemName == nullptr || deviceName == nullptr)
        return EN_INVALID_PARAMETER;
    deviceName[0] = '\0';
    return withListedDevice(systemName, [&](const blankora::transport::DeviceEntry &entry) {
        copyText(deviceName, STARBURN_NAME_BUFFER_SIZE, DevicePrefix + entry.node);
    });
}

EXCEPTION_NUMBER StarBurn_GetDeviceIdentityBySystemName(const char *systemName, char *vendor,
                                                        char *product)
{
    if (systemName == nullptr || vendor == nullptr || product == nullptr)
        return EN_INVALID_PARAMETER;
    vendor[0] = '\0';
    product[0] = '\0';
    return withListedDevice(systemName, [&](const blankora::transport::DeviceEntry &entry) {
        copyText(vendor, STARBURN_NAME_BUFFER_SIZE, entry.vendor);
        copyText(product, STARBURN_NAME_BUFFER_SIZE, entry.product);
    });
}

void StarBurn_SetFastReadTOC(uint8_t fast)
{
    Session::instance().FastReadToc.store(fast != 0);
}

EXCEPTION_NUMBER
StarBurn_CdvdBurnerGrabber_Create(void **handle, char *exceptionText, uint32_t exceptionTextSize,
                                  uint32_t *systemError, CDB_FAILURE_INFORMATION *failureInfo,
                                  PCALLBACK callback, void *context, uint8_t portId, uint8_t busId,
                                  uint8_t targetId, uint8_t lun, uint32_t)
{
    return createObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                        callback, context, [&](blankora::library::ProviderAccess &provider) {
                            return openAddress(provider, portId, busId, targetId, lun);
                        });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_CreateEx(void **handle, char *exceptionText,
                                                     uint32_t exceptionTextSize,
                                                     uint32_t *systemError,
                                                     CDB_FAILURE_INFORMATION *failureInfo,
                                                     PCALLBACK callback, void *context,
                                                     const char *deviceName, uint32_t)
{
    const ErrorBlock block{exceptionText, exceptionTextSize, systemError, failureInfo};
    if (deviceName == nullptr) {
        if (handle != nullptr)
            *handle = nullptr;
        return block.apply(
            failure(EN_INVALID_PARAMETER, "Invalid parameter: the device name is null."));
    }
    return createObject(handle, block, callback, context,
                        [&](blankora::library::ProviderAccess &provider) {
                            return openName(provider, deviceName);
                        });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetMountPoint(void *handle, char *mountPoint)
{
    if (mountPoint == nullptr)
        return EN_INVALID_PARAMETER;
    mountPoint[0] = '\0';
    std::shared_ptr<DeviceObject> object = Session::instance().find(handle);
    std::shared_ptr<blankora::library::ProviderAccess> provider = Session::instance().provider();
    if (!object || !provider)
        return EN_INVALID_PARAMETER;
    copyText(mountPoint, STARBURN_NAME_BUFFER_SIZE, provider->mountPoint(object->node()));
    return EN_SUCCESS;
}

void StarBurn_Destroy(void **handle)
{
    if (handle == nullptr)
        return;
    std::shared_ptr<DeviceObject> object = Session::instance().unregister(*handle);
    if (object)
        object->cancel();
    *handle = nullptr;
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_TestUnitReady(void *handle, STARBURN_ERROR_BLOCK)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [](DeviceObject &object) { return object.testUnitReady(); });
}

DISC_TYPE StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(void *handle)
{
    std::shared_ptr<DeviceObject> object = Session::instance().find(handle);
    return object ? object->insertedDiscType() : DISC_TYPE(DISC_TYPE_UNKNOWN);
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSpeeds(void *handle, STARBURN_ERROR_BLOCK,
                                                      uint32_t *currentReadSpeed,
                                                      uint32_t *maximumReadSpeed,
                                                      uint32_t *currentWriteSpeed,
                                                      uint32_t *maximumWriteSpeed)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) {
                          if (!currentReadSpeed || !maximumReadSpeed || !currentWriteSpeed ||
                              !maximumWriteSpeed)
                              return nullOutput();
                          return object.getSpeeds(*currentReadSpeed, *maximumReadSpeed,
                                                  *currentWriteSpeed, *maximumWriteSpeed);
                      });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_SetSpeeds(void *handle, STARBURN_ERROR_BLOCK,
                                                      uint32_t readSpeed, uint32_t writeSpeed)
{
    return withObject(
        handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
        [&](DeviceObject &object) { return object.setSpeeds(readSpeed, writeSpeed); });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Lock(void *handle, STARBURN_ERROR_BLOCK)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [](DeviceObject &object) { return object.lock(true); });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Release(void *handle, STARBURN_ERROR_BLOCK)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [](DeviceObject &object) { return object.lock(false); });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Blank(void *handle, STARBURN_ERROR_BLOCK,
                                                  ERASE_TYPE eraseType)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) { return object.blank(eraseType); });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_Eject(void *handle, STARBURN_ERROR_BLOCK)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [](DeviceObject &object) { return object.eject(); });
}

void StarBurn_CdvdBurnerGrabber_Cancel(void *handle)
{
    if (std::shared_ptr<DeviceObject> object = Session::instance().find(handle))
        object->cancel();
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDeviceInformation(void *handle, char *vendor,
                                                                 char *product, char *revision,
                                                                 uint32_t *bufferSize)
{
    if (!vendor || !product || !revision || !bufferSize)
        return EN_INVALID_PARAMETER;
    std::shared_ptr<DeviceObject> object = Session::instance().find(handle);
    if (!object)
        return EN_INVALID_PARAMETER;
    DeviceObject::Identity identity;
    Outcome outcome = object->deviceInformation(identity);
    copyText(vendor, STARBURN_NAME_BUFFER_SIZE, identity.vendor);
    copyText(product, STARBURN_NAME_BUFFER_SIZE, identity.product);
    copyText(revision, STARBURN_NAME_BUFFER_SIZE, identity.revision);
    *bufferSize = identity.bufferBytes;
    return outcome.code;
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(
    void *handle, uint8_t *flag1, uint8_t *flag2, uint8_t *flag3, uint8_t *flag4, uint8_t *flag5,
    uint8_t *flag6, uint8_t *flag7, uint8_t *flag8, uint8_t *flag9, uint8_t *flag10)
{
    std::shared_ptr<DeviceObject> object = Session::instance().find(handle);
    if (!object)
        return EN_INVALID_PARAMETER;
    return queryFlags(std::array<uint8_t *, 10>{flag1, flag2, flag3, flag4, flag5, flag6, flag7,
                                                flag8, flag9, flag10},
                      [&](std::array<uint8_t, 10> &flags) { return object->mediaFormats(flags); })
        .code;
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(
    void *handle, uint8_t *flag1, uint8_t *flag2, uint8_t *flag3, uint8_t *flag4, uint8_t *flag5,
    uint8_t *flag6)
{
    std::shared_ptr<DeviceObject> object = Session::instance().find(handle);
    if (!object)
        return EN_INVALID_PARAMETER;
    return queryFlags(
               std::array<uint8_t *, 6>{flag1, flag2, flag3, flag4, flag5, flag6},
               [&](std::array<uint8_t, 6> &flags) { return object->mediaFormatsExEx(flags); })
        .code;
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(void *handle,
                                                                     STARBURN_ERROR_BLOCK,
                                                                     uint8_t *mode1, uint8_t *mode2,
                                                                     uint8_t *mode3, uint8_t *mode4)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) {
                          return queryFlags(std::array<uint8_t *, 4>{mode1, mode2, mode3, mode4},
                                            [&](std::array<uint8_t, 4> &modes) {
                                                return object.writeModes(modes);
                                            });
                      });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_ProbeSupportedReadModes(void *handle,
                                                                    STARBURN_ERROR_BLOCK,
                                                                    uint8_t *mode1, uint8_t *mode2,
                                                                    uint8_t *mode3, uint8_t *mode4,
                                                                    uint8_t *mode5, uint8_t *mode6)
{
    return withObject(
        handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
        [&](DeviceObject &object) {
            return queryFlags(
                std::array<uint8_t *, 6>{mode1, mode2, mode3, mode4, mode5, mode6},
                [&](std::array<uint8_t, 6> &modes) { return object.readModes(modes); });
        });
}

EXCEPTION_NUMBER
StarBurn_CdvdBurnerGrabber_GetDiscInformation(void *handle, STARBURN_ERROR_BLOCK,
                                              STARBURN_DISC_INFORMATION *discInformation)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) {
                          return discInformation ? object.discInformation(*discInformation)
                                                 : nullOutput();
                      });
}

EXCEPTION_NUMBER
StarBurn_CdvdBurnerGrabber_GetTrackInformation(void *handle, STARBURN_ERROR_BLOCK,
                                               uint32_t trackNumber,
                                               STARBURN_TRACK_INFORMATION *trackInformation)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) {
                          return trackInformation
                                     ? object.trackInformation(trackNumber, *trackInformation)
                                     : nullOutput();
                      });
}

EXCEPTION_NUMBER
StarBurn_CdvdBurnerGrabber_GetTOCInformation(void *handle, STARBURN_ERROR_BLOCK,
                                             STARBURN_TOC_INFORMATION *tocInformation)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) {
                          return tocInformation
                                     ? object.tocInformation(Session::instance().FastReadToc.load(),
                                                             *tocInformation)
                                     : nullOutput();
                      });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetRPC(void *handle, STARBURN_ERROR_BLOCK,
                                                   uint8_t *typeCode, uint8_t *vendorResets,
                                                   uint8_t *userChanges, uint8_t *regionMask,
                                                   uint8_t *rpcScheme)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) {
                          const std::array<uint8_t *, 5> outputs{
                              typeCode, vendorResets, userChanges, regionMask, rpcScheme};
                          for (uint8_t *output : outputs) {
                              if (output == nullptr)
                                  return nullOutput();
                          }
                          std::array<uint8_t, 5> values{};
                          Outcome outcome = object.rpc(values);
                          if (outcome.ok()) {
                              for (size_t i = 0; i < outputs.size(); ++i)
                                  *outputs[i] = values[i];
                          }
                          return outcome;
                      });
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(void *handle, uint32_t kind,
                                                             uint32_t *extra, uint64_t *freeBytes)
{
    if (extra == nullptr || freeBytes == nullptr)
        return EN_INVALID_PARAMETER;
    *extra = 0;
    *freeBytes = 0;
    if (kind < STARBURN_FREE_SPACE_BLOCKS || kind > STARBURN_FREE_SPACE_BYTES)
        return EN_INVALID_PARAMETER;
    std::shared_ptr<DeviceObject> object = Session::instance().find(handle);
    if (!object)
        return EN_INVALID_PARAMETER;
    uint64_t used = 0, free = 0;
    Outcome outcome = object->discSpace(used, free);
    if (!outcome.ok())
        return outcome.code;
    const uint64_t blocks = free / 2048;
    *extra = blocks > UINT32_MAX ? UINT32_MAX : uint32_t(blocks);
    switch (kind) {
    case STARBURN_FREE_SPACE_BLOCKS:
        *freeBytes = blocks;
        break;
    case STARBURN_FREE_SPACE_KILOBYTES:
        *freeBytes = free / 1024;
        break;
    default:
        *freeBytes = free;
        break;
    }
    return EN_SUCCESS;
}

EXCEPTION_NUMBER StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(void *handle, STARBURN_ERROR_BLOCK,
                                                             uint64_t *usedBytes)
{
    return withObject(handle, {exceptionText, exceptionTextSize, systemError, failureInfo},
                      [&](DeviceObject &object) {
                          if (usedBytes == nullptr)
                              return nullOutput();
                          uint64_t free = 0;
                          return object.discSpace(*usedBytes, free);
                      });
}
}
