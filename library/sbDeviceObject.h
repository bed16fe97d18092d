#pragma once

#include "library/StarBurn.h"
#include "library/sbErrorBlock.h"
#include "library/mmc/MmcMedia.h"
#include "library/sbSession.h"
#include "library/transport/ScsiTransport.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace blankora::library {

// One open drive behind a StarBurn handle: it owns the drive's transport for
// its whole life (so a tray lock lasts exactly as long as the handle) and
// runs the operations of the C interface as MMC command sequences.
class DeviceObject
{
public:
    DeviceObject(std::shared_ptr<ProviderAccess> provider,
                 std::unique_ptr<transport::ScsiTransport> transport, PCALLBACK callback,
                 void *context);
    ~DeviceObject();
    DeviceObject(const DeviceObject &) = delete;
    DeviceObject &operator=(const DeviceObject &) = delete;

    std::string node() const { return FTransport.deviceNode(); }

    Outcome testUnitReady();
    DISC_TYPE insertedDiscType();
    Outcome getSpeeds(uint32_t &currentRead, uint32_t &maximumRead, uint32_t &currentWrite,
                      uint32_t &maximumWrite);
    Outcome setSpeeds(uint32_t readSpeed, uint32_t writeSpeed);
    Outcome lock(bool prevent);
    Outcome blank(ERASE_TYPE eraseType);
    Outcome eject();
    // Safe from any thread: a running Blank stops at its next poll.
    void cancel() { FCancel.store(true); }

    struct Identity
    {
        std::string vendor, product, revision;
        uint32_t bufferBytes = 0;
    };
    Outcome deviceInformation(Identity &identity);
    Outcome mediaFormats(std::array<uint8_t, 10> &flags);
    Outcome mediaFormatsExEx(std::array<uint8_t, 6> &flags);
    Outcome writeModes(std::array<uint8_t, 4> &modes);
    Outcome readModes(std::array<uint8_t, 6> &modes);
    Outcome discInformation(STARBURN_DISC_INFORMATION &record);
    Outcome trackInformation(uint32_t trackNumber, STARBURN_TRACK_INFORMATION &record);
    Outcome tocInformation(bool fast, STARBURN_TOC_INFORMATION &record);
    Outcome rpc(std::array<uint8_t, 5> &values);
    Outcome discSpace(uint64_t &usedBytes, uint64_t &freeBytes);

private:
    // Serialises the commands of the threads that share this handle and
    // remembers, per thread, the last CDB for the failure block.
    class GuardedTransport : public transport::ScsiTransport
    {
    public:
        explicit GuardedTransport(std::unique_ptr<transport::ScsiTransport> transport)
            : FInner(std::move(transport))
        {}
        transport::ScsiResult execute(const transport::ScsiCommand &command) override;
        std::string deviceNode() const override { return FInner->deviceNode(); }
        // Counts the answers after which the disc may not be the one it was
        // (unit attention, no disc) and the callers' new looks at the disc.
        unsigned discChanges() const { return FDiscChanges.load(); }
        void discMayHaveChanged() { ++FDiscChanges; }

    private:
        std::mutex FMutex;
        std::unique_ptr<transport::ScsiTransport> FInner;
        std::atomic<unsigned> FDiscChanges{0};
    };

    template <class T> Outcome fail(const T &result, const char *command) const;
    uint16_t profileOrZero();
    // After a cancelled or stalled erase: true while the drive still reports
    // an operation in progress.
    bool stillErasing();
    Outcome busyFailure(const char *what) const;
    // The speed facts of the loaded disc (FSpeedMutex held), afresh after a
    // disc change or for another profile.
    mmc::SpeedFacts &speedFacts(uint16_t profile);

    std::shared_ptr<ProviderAccess> FProvider;
    GuardedTransport FTransport;
    PCALLBACK FCallback;
    void *FContext;
    std::atomic<bool> FCancel{false};
    std::atomic<bool> FBlanking{false};
    std::atomic<bool> FLocked{false};
    std::atomic<bool> FDriveBusy{false};
    // The drive disappeared during an erase: nothing more is sent to it.
    std::atomic<bool> FDriveGone{false};
    std::mutex FSpeedMutex;
    mmc::SpeedFacts FSpeedFacts;
    uint16_t FSpeedProfile = 0;
    unsigned FSpeedDisc = ~0u;
};

} // namespace blankora::library
