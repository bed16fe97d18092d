#include "framework/sbDevice.h"

#include "framework/sbBurner.h"
#include "framework/sbLog.h"
#include "platform/sbDeviceNaming.h"
#include "platform/sbVolumeLabel.h"
#include "util/sbUtils.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

// System status of a CHECK CONDITION: 0x00KKAAQQ.
constexpr uint32_t SenseBecomingReady = 0x020401;
constexpr uint32_t SenseTrayOpen = 0x023A02;
constexpr uint32_t SenseNoMediumMask = 0xFFFF00;
constexpr uint32_t SenseNoMedium = 0x023A00;
constexpr uint32_t SenseNotReadyMask = 0xFF0000;
constexpr uint32_t SenseNotReady = 0x020000;
// A disc that goes in spins up for some seconds; longer than this is a fault.
constexpr auto BecomingReadyLimit = std::chrono::seconds(20);
// Twice a second at most: the kernel's sr.c warns that some drives hang on
// repeated TEST UNIT READY.
constexpr auto BecomingReadyPoll = std::chrono::milliseconds(500);
// Shown in a failure text when the library leaves the status unset.
constexpr uint32_t StatusUnset = 31;

// The library's error block, passed to every call that reports a failure text.
struct TErrorBlock
{
    char Text[STARBURN_EXCEPTION_TEXT_SIZE] = {};
    uint32_t SystemError = 0;
    CDB_FAILURE_INFORMATION FailureInfo{};
};

} // namespace

namespace {

thread_local TsbScanLog *GScanLog = nullptr;
thread_local std::size_t GScanLogDrive = 0;

// An unwritable diagnostic log must not end a scan half-way.
void WriteScanLine(const QString &Text, const QTime &Time) noexcept
{
    try {
        if (GLogger != nullptr)
            GLogger->LogAt(Text, Time);
    } catch (...) {
    }
}

} // namespace

TsbScanLog::TsbScanLog(std::size_t Drives) : FHeld(Drives), FDone(Drives, false) {}

void TsbScanLog::Line(std::size_t Drive, const QString &Text)
{
    const QTime Now = QTime::currentTime();
    const std::lock_guard<std::mutex> Lock(FMutex);
    if (Drive == FFront)
        WriteScanLine(Text, Now);
    else
        FHeld[Drive].push_back(THeldLine{Now, Text});
}

void TsbScanLog::Finished(std::size_t Drive)
{
    const std::lock_guard<std::mutex> Lock(FMutex);
    FDone[Drive] = true;
    // The drives after a finished front hand over what they kept, in order,
    // up to the first one still being read, which writes at once from now on.
    while (FFront < FDone.size() && FDone[FFront]) {
        ++FFront;
        if (FFront == FHeld.size())
            break;
        for (const THeldLine &Held : FHeld[FFront])
            WriteScanLine(Held.Text, Held.Time);
        FHeld[FFront].clear();
    }
}

void SetScanLogDrive(TsbScanLog *Log, std::size_t Drive)
{
    GScanLog = Log;
    GScanLogDrive = Drive;
}

void LogScanLine(const QString &Text) noexcept
{
    if (GScanLog == nullptr) {
        WriteScanLine(Text, QTime::currentTime());
        return;
    }
    try {
        GScanLog->Line(GScanLogDrive, Text);
    } catch (...) {
    }
}

TsbDriveState StateOfRefusedOpen(uint32_t Status)
{
    switch (Status) {
    case EACCES:
    case EPERM:
        return dsNoAccess;
    case EBUSY:
        return dsInUse;
    default:
        return dsUsable;
    }
}

bool TsbDeviceItem::MediaFormatFlag(int N) const
{
    if (N >= 1 && N <= 5)
        return SupportedMediaFormats[N - 1];
    if (N == 6)
        return SupportedMediaFormats[9];
    if (N >= 7 && N <= 10)
        return SupportedMediaFormats[N - 2];
    return false;
}

TsbDeviceInfo TsbDeviceInfo::FromItem(const TsbDeviceItem &Item)
{
    TsbDeviceInfo Info;
    Info.Vendor = Item.Vendor;
    Info.Product = Item.Product;
    Info.ProductRevisionLevel = Item.ProductRevisionLevel;
    Info.BufferSize = Item.BufferSize;
    Info.SupportedMediaFormats = Item.SupportedMediaFormats;
    Info.SupportedMediaFormatsExEx = Item.SupportedMediaFormatsExEx;
    return Info;
}

TsbDeviceItem *TsbDeviceList::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[static_cast<std::size_t>(Index)].get();
}

TsbDeviceItem *TsbDeviceList::Add()
{
    FItems.push_back(std::make_unique<TsbDeviceItem>());
    return FItems.back().get();
}

void TsbDeviceList::TakeFrom(TsbDeviceList &Other)
{
    for (auto &Item : Other.FItems)
        FItems.push_back(std::move(Item));
    Other.FItems.clear();
}

void TsbDeviceList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        FItems.erase(FItems.begin() + Index);
}

QString ResolveDriveLetter(const TsbDeviceAddress *Address, const char *DeviceName)
{
    char Buffer[STARBURN_NAME_BUFFER_SIZE] = {};
    if (DeviceName != nullptr) {
        LogScanLine(QStringLiteral("GetDeviceNameBySystemName"));
        if (StarBurn_GetDeviceNameBySystemName(DeviceName, Buffer) == EN_SUCCESS)
            return DriveFromDevicePath(Buffer, sizeof(Buffer));
        return QString();
    }
    if (Address == nullptr)
        return QString();
    LogScanLine(QStringLiteral("GetDeviceNameByDeviceAddress"));
    if (StarBurn_GetDeviceNameByDeviceAddress(Address->PortID, Address->BusID, Address->TargetID,
                                              Address->LUN, Buffer) == EN_SUCCESS)
        return DriveFromDevicePath(Buffer, sizeof(Buffer));
    return QString();
}

void ReadDeviceInformation(void *Grabber, TsbDeviceItem &Item, const TsbDeviceList &List,
                           const TsbDeviceAddress *Address, const char *DeviceName)
{
    char Vendor[STARBURN_NAME_BUFFER_SIZE] = {};
    char Product[STARBURN_NAME_BUFFER_SIZE] = {};
    char Revision[STARBURN_NAME_BUFFER_SIZE] = {};
    const QString DriveLetter = ResolveDriveLetter(Address, DeviceName);

    LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetDeviceInformation"));
    uint32_t BufferSize = 0;
    StarBurn_CdvdBurnerGrabber_GetDeviceInformation(Grabber, Vendor, Product, Revision,
                                                    &BufferSize);
    Item.Vendor = TextFromChars(Vendor);
    Item.Product = TextFromChars(Product);
    Item.ProductRevisionLevel = TextFromChars(Revision);
    Item.BufferSize = BufferSize;
    Item.DriveLetter = DriveLetter;

    LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetSupportedMediaFormats"));
    uint8_t F[10] = {};
    StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(Grabber, &F[0], &F[1], &F[2], &F[3], &F[4],
                                                        &F[5], &F[6], &F[7], &F[8], &F[9]);
    // Stored as the call's flags 1 to 5, 7 to 10, then 6.
    static constexpr int StoredOrder[10] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 5};
    for (int I = 0; I < 10; ++I)
        Item.SupportedMediaFormats[static_cast<std::size_t>(I)] = F[StoredOrder[I]] != 0;

    LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetSupportedMediaFormatsExEx"));
    uint8_t X[6] = {};
    StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(Grabber, &X[0], &X[1], &X[2], &X[3],
                                                            &X[4], &X[5]);
    for (std::size_t I = 0; I < 6; ++I)
        Item.SupportedMediaFormatsExEx[I] = X[I] != 0;

    TErrorBlock E;
    LogScanLine(QStringLiteral("CdvdBurnerGrabber_ProbeSupportedWriteModes"));
    uint8_t W[4] = {};
    if (StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(Grabber, E.Text, sizeof(E.Text),
                                                            &E.SystemError, &E.FailureInfo, &W[0],
                                                            &W[1], &W[2], &W[3]) == EN_SUCCESS) {
        for (std::size_t I = 0; I < 4; ++I)
            Item.WriteModes.Modes[I] = W[I] != 0;
        Item.WriteModes.MediaFormat6 = Item.MediaFormatFlag(6);
    }

    LogScanLine(QStringLiteral("CdvdBurnerGrabber_ProbeSupportedReadModes"));
    uint8_t R[6] = {};
    if (StarBurn_CdvdBurnerGrabber_ProbeSupportedReadModes(
            Grabber, E.Text, sizeof(E.Text), &E.SystemError, &E.FailureInfo, &R[0], &R[1], &R[2],
            &R[3], &R[4], &R[5]) == EN_SUCCESS) {
        for (std::size_t I = 0; I < 6; ++I)
            Item.ReadModes[I] = R[I] != 0;
    }

    const auto TestUnitReady = [&] {
        LogScanLine(QStringLiteral("CdvdBurnerGrabber_TestUnitReady"));
        return StarBurn_CdvdBurnerGrabber_TestUnitReady(
                   Grabber, E.Text, sizeof(E.Text), &E.SystemError, &E.FailureInfo) == EN_SUCCESS;
    };
    bool Ready = TestUnitReady();
    if (!Ready && E.SystemError == SenseBecomingReady && !List.IsCancelled()) {
        // A disc that has just gone in: wait for it, as long as nobody cancels.
        if (List.OnWaitForDisc)
            List.OnWaitForDisc(Item.Product.isEmpty() ? Item.DriveLetter : Item.Product);
        const auto Limit = std::chrono::steady_clock::now() + BecomingReadyLimit;
        while (!Ready && E.SystemError == SenseBecomingReady && !List.IsCancelled() &&
               std::chrono::steady_clock::now() < Limit) {
            std::this_thread::sleep_for(BecomingReadyPoll);
            Ready = TestUnitReady();
        }
        if (List.OnWaitForDisc)
            List.OnWaitForDisc(QString());
    }
    Item.DiscType = DISC_TYPE_NO_MEDIA;
    if (!Ready) {
        if (E.SystemError == SenseTrayOpen)
            Item.State = dsTrayOpen;
        else if ((E.SystemError & SenseNoMediumMask) == SenseNoMedium)
            Item.State = dsNoDisc;
        else if ((E.SystemError & SenseNotReadyMask) == SenseNotReady)
            Item.State = dsNotReady;
    }

    if (Ready && !List.IsCancelled()) {
        LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetInsertedDiscType"));
        Item.DiscType = StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(Grabber);
        if (!Item.DriveLetter.isEmpty())
            Item.DiscLabel = ReadVolumeLabel(Item.DriveLetter);

        LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetDiscInformation"));
        STARBURN_DISC_INFORMATION Disc{};
        if (StarBurn_CdvdBurnerGrabber_GetDiscInformation(Grabber, E.Text, sizeof(E.Text),
                                                          &E.SystemError, &E.FailureInfo,
                                                          &Disc) == EN_SUCCESS) {
            Item.DiscInformation = Disc;

            LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetTrackInformation"));
            STARBURN_TRACK_INFORMATION Track{};
            StarBurn_CdvdBurnerGrabber_GetTrackInformation(
                Grabber, E.Text, sizeof(E.Text), &E.SystemError, &E.FailureInfo, 255, &Track);
            Item.TrackInformation = Track;

            StarBurn_SetFastReadTOC(1);
            LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetTOCInformation"));
            StarBurn_CdvdBurnerGrabber_GetTOCInformation(Grabber, E.Text, sizeof(E.Text),
                                                         &E.SystemError, &E.FailureInfo,
                                                         &Item.TOCInformation);
        }
    }

    if (Item.MediaFormatFlag(3)) {
        uint8_t Rpc[5] = {};
        LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetRPC"));
        StarBurn_CdvdBurnerGrabber_GetRPC(Grabber, E.Text, sizeof(E.Text), &E.SystemError,
                                          &E.FailureInfo, &Rpc[0], &Rpc[1], &Rpc[2], &Rpc[3],
                                          &Rpc[4]);
        Item.DVDRPC.IsValid = true;
        for (std::size_t I = 0; I < 5; ++I)
            Item.DVDRPC.Values[I] = QString::number(Rpc[I]);
    }
}

TsbDiscSpace ReadDiscSpace(const TsbDeviceItem &Item)
{
    TsbDiscSpace Space;
    char Text[STARBURN_EXCEPTION_TEXT_SIZE] = {};
    uint32_t Status = StatusUnset;
    CDB_FAILURE_INFORMATION Failure{};
    void *Grabber = nullptr;
    EXCEPTION_NUMBER Code;
    if (Item.TransportType == ttSpti) {
        const QByteArray Name = Item.DeviceName.toLocal8Bit();
        LogScanLine(QStringLiteral("CdvdBurnerGrabber_CreateEx"));
        Code = StarBurn_CdvdBurnerGrabber_CreateEx(&Grabber, Text, sizeof(Text), &Status, &Failure,
                                                   nullptr, nullptr, Name.constData(), 1);
        if (Code != EN_SUCCESS)
            LogScanLine(LibraryFailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_CreateEx()"),
                                           Code, Status, Text));
    } else {
        LogScanLine(QStringLiteral("CdvdBurnerGrabber_Create (before create)"));
        Code = StarBurn_CdvdBurnerGrabber_Create(
            &Grabber, Text, sizeof(Text), &Status, &Failure, nullptr, nullptr, Item.Address.PortID,
            Item.Address.BusID, Item.Address.TargetID, Item.Address.LUN, 1);
        if (Code != EN_SUCCESS)
            LogScanLine(LibraryFailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_Create()"),
                                           Code, Status, Text));
    }
    // Without a device object there is nothing to ask: the space stays zero.
    if (Code != EN_SUCCESS || Grabber == nullptr) {
        if (Grabber != nullptr) {
            LogScanLine(QStringLiteral("Destroy: Grabber"));
            StarBurn_Destroy(&Grabber);
        }
        return Space;
    }

    uint32_t Extra = 0;
    uint64_t FreeBytes = 0;
    LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetDiscFreeSpace"));
    Code = StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(Grabber, 3, &Extra, &FreeBytes);
    if (Code != EN_SUCCESS) {
        LogScanLine(
            QStringLiteral("StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace() failed, exception %1\"")
                .arg(Code));
        FreeBytes = 0;
        Extra = 0;
    }
    uint64_t UsedBytes = 0;
    std::memset(Text, 0, sizeof(Text));
    Status = StatusUnset;
    LogScanLine(QStringLiteral("CdvdBurnerGrabber_GetDiscUsedSpace"));
    Code = StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(Grabber, Text, sizeof(Text), &Status,
                                                       &Failure, &UsedBytes);
    if (Code != EN_SUCCESS) {
        LogScanLine(LibraryFailureText(
            QStringLiteral("StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace()"), Code, Status, Text));
        UsedBytes = 0;
    }
    Space.FreeBytes = FreeBytes;
    Space.UsedBytes = UsedBytes;
    Space.TotalBytes = UsedBytes + FreeBytes;
    Space.FreeSpaceExtra = Extra;
    LogScanLine(QStringLiteral("Destroy: Grabber"));
    StarBurn_Destroy(&Grabber);
    return Space;
}
