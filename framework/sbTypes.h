#pragma once

#include "library/StarBurn.h"

#include <QString>

#include <cstdint>

// How the burner reaches a device: by system device name or by SCSI address.
enum TsbTransportType : uint8_t
{
    ttSpti = 0,
    ttAspi = 1
};

// Place of a device on the SCSI bus; byte for byte the library's
// STARBURN_DEVICE_ADDRESS, so the two can be copied into each other.
struct TsbDeviceAddress
{
    uint8_t IsValid = 0;
    uint8_t PortID = 0;
    uint8_t BusID = 0;
    uint8_t TargetID = 0;
    uint8_t LUN = 0;

    static TsbDeviceAddress FromLibrary(const STARBURN_DEVICE_ADDRESS &Address);
    STARBURN_DEVICE_ADDRESS ToLibrary() const;

    // Two addresses are the same device only when both are set.
    bool operator==(const TsbDeviceAddress &Other) const;
};

static_assert(sizeof(TsbDeviceAddress) == sizeof(STARBURN_DEVICE_ADDRESS));

// Room on the inserted disc, in bytes.
struct TsbDiscSpace
{
    uint64_t FreeBytes = 0;
    uint64_t TotalBytes = 0;
    uint64_t UsedBytes = 0;
    uint64_t FreeSpaceExtra = 0;
};

// The choices of one erase; a fresh record holds the defaults of the options page.
struct TsbEraseOptions
{
    bool FullErase = false;
    int32_t SpeedInPoint = 1;
    int32_t SpeedInSize = 176;
    bool Eject = false;
    bool EstimateProgress = true;
};

// Display text of a disc type; empty for the types the wizard has no name for.
QString GetDiscTypeName(DISC_TYPE DiscType);
bool IsErasableDiscType(DISC_TYPE DiscType);
bool IsDVDDiscType(DISC_TYPE DiscType);
// Blu-ray discs, whose speeds count in their own unit.
bool IsBDDiscType(DISC_TYPE DiscType);
