#pragma once

#include "framework/sbTypes.h"
#include "library/StarBurn.h"

#include <QString>
#include <QStringList>
#include <QTime>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Region playback control state of a DVD drive: five decimal texts, one per
// value the drive reports.
struct TsbDVDRPC
{
    bool IsValid = false;
    std::array<QString, 5> Values;
};

// What the drive can write with: four probed modes plus a copy of media-format flag 6.
struct TsbWriteModes
{
    std::array<bool, 4> Modes{true, true, true, true};
    bool MediaFormat6 = false;
};

// What keeps a drive from being used as the scan found it.
enum TsbDriveState : uint8_t
{
    dsUsable = 0,
    dsNoAccess = 1, // the node refuses this user (EACCES, EPERM)
    dsInUse = 2,    // another program holds the drive (EBUSY)
    dsNoDisc = 3,
    dsTrayOpen = 4,
    dsNotReady = 5 // the disc did not become ready
};

// One CD/DVD device as a scan found it: identity, address or system name,
// capabilities and the disc that was in it at scan time.
struct TsbDeviceItem
{
    QString Vendor;
    QString Product;
    QString ProductRevisionLevel;
    QString DiscLabel;
    uint32_t BufferSize = 0;
    TsbDeviceAddress Address{};
    QString DeviceName;
    TsbTransportType TransportType = ttSpti;
    // The call's flags 1 to 5, then 7 to 10, then 6.
    std::array<bool, 10> SupportedMediaFormats{};
    std::array<bool, 6> SupportedMediaFormatsExEx{};
    DISC_TYPE DiscType = DISC_TYPE_UNKNOWN;
    QString DriveLetter;
    STARBURN_DISC_INFORMATION DiscInformation{};
    STARBURN_TRACK_INFORMATION TrackInformation{};
    STARBURN_TOC_INFORMATION TOCInformation{};
    TsbDiscSpace DiscSpace{};
    std::array<bool, 6> ReadModes{};
    TsbWriteModes WriteModes;
    TsbDVDRPC DVDRPC;
    TsbDriveState State = dsUsable;

    // Media-format flag N as the library numbers it (1 to 10).
    bool MediaFormatFlag(int N) const;
};

// The identity part of a device record that the device page hands out.
struct TsbDeviceInfo
{
    QString Vendor;
    QString Product;
    QString ProductRevisionLevel;
    uint64_t BufferSize = 0;
    std::array<bool, 10> SupportedMediaFormats{};
    std::array<bool, 6> SupportedMediaFormatsExEx{};

    static TsbDeviceInfo FromItem(const TsbDeviceItem &Item);
};

// The records of one scan, in the order the devices were found. The scan
// thread writes it; the user-interface thread reads it only after the join.
class TsbDeviceList
{
public:
    TsbDeviceItem *Items(int Index) const;
    TsbDeviceItem *Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    void Clear() { FItems.clear(); }
    void Delete(int Index);

    TsbTransportType TransportType = ttSpti;
    // Written by the user-interface thread while the scan thread reads it.
    std::atomic<bool> Cancelled{false};
    // The cancel flag of the scan a worker's own list belongs to; none for the scan's list.
    const std::atomic<bool> *CancelSource = nullptr;
    bool IsCancelled() const
    {
        return Cancelled.load() || (CancelSource != nullptr && CancelSource->load());
    }
    // Appends the records of Other, in their order, and leaves it empty.
    void TakeFrom(TsbDeviceList &Other);
    // Called on the scan thread when it starts waiting for a disc to become
    // ready (with the drive's name) and when the wait ends (with an empty text).
    std::function<void(const QString &)> OnWaitForDisc;

private:
    std::vector<std::unique_ptr<TsbDeviceItem>> FItems;
};

// The diagnostic lines of drives read side by side, on disc in the order the
// drives were found. The earliest drive not yet finished writes at once, so
// the last line on disc names the call it is in; the others keep their lines,
// each with its time, until every drive before them is done. Thread safe.
class TsbScanLog
{
public:
    explicit TsbScanLog(std::size_t Drives);
    void Line(std::size_t Drive, const QString &Text);
    void Finished(std::size_t Drive);

private:
    struct THeldLine
    {
        QTime Time;
        QString Text;
    };

    std::mutex FMutex;
    std::vector<std::vector<THeldLine>> FHeld;
    std::vector<bool> FDone;
    std::size_t FFront = 0;
};

// A diagnostic log line written during a scan; a log file that cannot be
// written must not end the scan half-way, so failures are dropped. While the
// calling thread reads a drive of a scan log, the line goes there instead.
void LogScanLine(const QString &Text) noexcept;
// The calling thread's drive in Log for LogScanLine; a null Log writes to the
// diagnostic log again.
void SetScanLogDrive(TsbScanLog *Log, std::size_t Drive = 0);

// The state of a drive whose open was refused with this system status, or
// dsUsable when the status does not say the drive is there.
TsbDriveState StateOfRefusedOpen(uint32_t Status);

// The device's block node under SPTI (by system name) or ASPI (by address);
// empty when the library cannot name it.
QString ResolveDriveLetter(const TsbDeviceAddress *Address, const char *DeviceName);

// Fills Item from the open device object. Address (ASPI) or DeviceName (SPTI)
// names the device for its drive; List's cancel flag is read once, before the
// inserted-disc queries.
void ReadDeviceInformation(void *Grabber, TsbDeviceItem &Item, const TsbDeviceList &List,
                           const TsbDeviceAddress *Address, const char *DeviceName);

// The space of the disc in the device, read through a device object of its
// own; a query that fails leaves its value zero (and is logged).
TsbDiscSpace ReadDiscSpace(const TsbDeviceItem &Item);
