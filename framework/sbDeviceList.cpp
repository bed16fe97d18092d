#include "framework/sbDeviceList.h"

#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErrors.h"
#include "framework/sbEventWait.h"
#include "util/sbUtils.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include <pthread.h>

namespace {

constexpr int WaitSliceMs = 80;
// How long a scan without dialog may last before it shows the dialog after all.
constexpr std::chrono::milliseconds QuietScanLimit{500};
constexpr int SptiNameCount = 21;
// Shown in a failure text when the library leaves the status unset.
constexpr uint32_t StatusUnset = 31;

// Vendor and product of a drive that cannot be opened, as the system lists it.
void ReadListedIdentity(TsbDeviceItem &Item, const char *SystemName)
{
    if (SystemName == nullptr)
        return;
    char Vendor[STARBURN_NAME_BUFFER_SIZE] = {};
    char Product[STARBURN_NAME_BUFFER_SIZE] = {};
    LogScanLine(QStringLiteral("GetDeviceIdentityBySystemName"));
    if (StarBurn_GetDeviceIdentityBySystemName(SystemName, Vendor, Product) != EN_SUCCESS)
        return;
    Item.Vendor = TextFromChars(Vendor);
    Item.Product = TextFromChars(Product);
}

// Drives read side by side; a small bound, as each one holds a device open.
constexpr std::size_t ParallelReads = 4;

// A device the enumeration reported, read afterwards by a worker of its own.
struct TFoundDevice
{
    bool HasAddress = false;
    STARBURN_DEVICE_ADDRESS Address{};
    QByteArray Name;
};

void CollectFoundDevice(uint8_t Reason, void *Context, void *Special1, void *Special2)
{
    if (Reason != CN_DEVICE_FOUND || Context == nullptr)
        return;
    TFoundDevice Found;
    if (Special1 != nullptr) {
        Found.HasAddress = true;
        Found.Address = *static_cast<const STARBURN_DEVICE_ADDRESS *>(Special1);
    }
    if (Special2 != nullptr)
        Found.Name = QByteArray(static_cast<const char *>(Special2));
    static_cast<std::vector<TFoundDevice> *>(Context)->push_back(Found);
}

// Reads every found device in a worker of its own, at most ParallelReads at a
// time, each into a list of its own and a drive of one scan log; then hands
// the records to Devices in the order the devices were found.
void ReadFoundDevices(const std::vector<TFoundDevice> &Found, TsbDeviceList &Devices)
{
    const std::size_t Count = Found.size();
    std::vector<std::unique_ptr<TsbDeviceList>> Lists(Count);
    TsbScanLog Log(Count);
    for (std::size_t First = 0; First < Count; First += ParallelReads) {
        std::vector<std::thread> Workers;
        Workers.reserve(ParallelReads);
        for (std::size_t I = First; I < std::min(Count, First + ParallelReads); ++I) {
            Lists[I] = std::make_unique<TsbDeviceList>();
            Lists[I]->TransportType = Devices.TransportType;
            Lists[I]->CancelSource = &Devices.Cancelled;
            Lists[I]->OnWaitForDisc = Devices.OnWaitForDisc;
            const auto Read = [&Found, &Lists, &Log, I] {
                SetScanLogDrive(&Log, I);
                const TFoundDevice &Device = Found[I];
                HandleDeviceFound(Lists[I].get(), Device.HasAddress ? &Device.Address : nullptr,
                                  Device.Name.isNull() ? nullptr : Device.Name.constData());
                SetScanLogDrive(nullptr);
                Log.Finished(I);
            };
            // Without a thread of its own the drive is read on this one.
            try {
                Workers.emplace_back([Read] {
                    pthread_setname_np(pthread_self(), "DeviceRead");
                    Read();
                });
            } catch (const std::system_error &) {
                Read();
            }
        }
        for (std::thread &Worker : Workers)
            Worker.join();
    }
    for (std::size_t I = 0; I < Count; ++I)
        Devices.TakeFrom(*Lists[I]);
}

} // namespace

TsbDeviceFinder::TsbDeviceFinder() = default;

TsbDeviceFinder::~TsbDeviceFinder()
{
    WaitForThread();
}

void TsbDeviceFinder::FindDevices(bool ShowProgress)
{
    struct TDialogRelease
    {
        TsbDeviceFinder &Finder;
        ~TDialogRelease()
        {
            Finder.FDialogDue.reset();
            Finder.FProgressForm.reset();
        }
    } Release{*this};

    // A cancel belongs to the scan it was asked for; quiet scans after it
    // start afresh too.
    FDevices.Cancelled = false;
    FDiscWaits = 0;
    FShownText = FInfoText;
    if (ShowProgress)
        OpenWaitDialog();
    else
        FDialogDue = std::chrono::steady_clock::now() + QuietScanLimit;

    // An earlier scan's thread may still fill the list: it must end before the
    // list is cleared under it.
    WaitForThread();
    FDevices.Clear();
    FDevices.TransportType = FTransportType;
    FDevices.OnWaitForDisc = [this](const QString &Drive) {
        QMetaObject::invokeMethod(
            &FNotifier,
            [this, Drive] {
                // Drives are read side by side: the text goes back once none waits.
                FDiscWaits += Drive.isEmpty() ? -1 : 1;
                if (!Drive.isEmpty() || FDiscWaits == 0)
                    FShownText =
                        Drive.isEmpty()
                            ? FInfoText
                            : QCoreApplication::translate(
                                  "TsbDeviceFinder",
                                  "Waiting up to 20 seconds for the disc in %1 to become ready.")
                                  .arg(Drive);
                if (FProgressForm)
                    FProgressForm->SetInfoText(FShownText);
            },
            Qt::QueuedConnection);
    };

    auto Thread = std::make_unique<TsbDeviceFinderThread>(&FDevices);
    Thread->SetOnTerminate([this](TsbDeviceFinderThread *Sender) {
        ThreadTerminated(Sender);
        WakeEventWaits();
    });
    FThread = Thread.get();
    try {
        Thread->Start();
    } catch (const std::system_error &Error) {
        // Nothing runs: no reference may stay behind for a wait that would never end.
        FThread = nullptr;
        throw EsbError(QCoreApplication::translate("TsbDeviceFinder",
                                                   "The device scan could not be started: %1")
                           .arg(QString::fromLocal8Bit(Error.what())));
    }
    FThreadHandle = std::move(Thread);
    WaitForThread();

    if (FProgressForm)
        FProgressForm->HideDialog();
}

void TsbDeviceFinder::OpenWaitDialog()
{
    FDialogDue.reset();
    if (!FWaitDialogFactory)
        return;
    FProgressForm = FWaitDialogFactory();
    FProgressForm->SetCaption(QCoreApplication::translate("TsbDeviceFinder", "Scanning devices"));
    FProgressForm->SetCancelVisible(true);
    FProgressForm->SetInfoText(FShownText);
    FProgressForm->ShowDialog();
    FProgressForm->SetOnCancel([this] { CancelScan(); });
    QCoreApplication::processEvents();
}

void TsbDeviceFinder::CancelScan()
{
    FDevices.Cancelled = true;
}

void TsbDeviceFinder::WaitForThread()
{
    // Re-read the member on every round: events processed here may start a
    // nested scan, which joins the thread itself.
    // Events are served as they come and the end is noticed at once; the
    // thread is re-checked at least every slice.
    while (FThreadHandle) {
        const uint64_t Seen = EventWaitGeneration();
        if (!FThreadHandle->WaitFor(0) && FThread.load() != nullptr) {
            if (!ServeEventsFor(WaitSliceMs, Seen))
                FThreadHandle->WaitFor(WaitSliceMs);
            // A quiet scan that takes long (a disc spinning up) must not look frozen.
            if (FDialogDue && std::chrono::steady_clock::now() >= *FDialogDue)
                OpenWaitDialog();
            continue;
        }
        FThreadHandle->Join();
        FThreadHandle.reset();
    }
}

void TsbDeviceFinder::ThreadTerminated(TsbDeviceFinderThread *)
{
    FThread = nullptr;
}

TsbDeviceFinderThread::TsbDeviceFinderThread(TsbDeviceList *Devices)
    : FDevices(Devices), FTransportType(Devices->TransportType)
{}

TsbDeviceFinderThread::~TsbDeviceFinderThread()
{
    Join();
}

void TsbDeviceFinderThread::Start()
{
    FFinishedFuture = FFinished.get_future();
    FThread = std::thread([this] { Run(); });
}

bool TsbDeviceFinderThread::WaitFor(int Milliseconds)
{
    return !FFinishedFuture.valid() ||
           FFinishedFuture.wait_for(std::chrono::milliseconds(Milliseconds)) ==
               std::future_status::ready;
}

void TsbDeviceFinderThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TsbDeviceFinderThread::Run()
{
    pthread_setname_np(pthread_self(), "DeviceScan");
    try {
        Execute();
    } catch (const std::exception &Error) {
        LogScanLine(
            QStringLiteral("Device scan ended: %1").arg(QString::fromLocal8Bit(Error.what())));
    } catch (...) {
        LogScanLine(QStringLiteral("Device scan ended by an unknown error"));
    }
    DoTerminate();
    FFinished.set_value();
}

void TsbDeviceFinderThread::DoTerminate()
{
    if (FOnTerminate)
        FOnTerminate(this);
}

void TsbDeviceFinderThread::Execute()
{
    std::vector<TFoundDevice> Found;
    if (FTransportType == ttSpti) {
        for (int N = 0; N < SptiNameCount; ++N) {
            const QByteArray Name = "CdRom" + QByteArray::number(N);
            char Text[STARBURN_EXCEPTION_TEXT_SIZE] = {};
            uint32_t Status = StatusUnset;
            CDB_FAILURE_INFORMATION Failure{};
            void *Grabber = nullptr;
            const EXCEPTION_NUMBER Code =
                StarBurn_CdvdBurnerGrabber_CreateEx(&Grabber, Text, sizeof(Text), &Status, &Failure,
                                                    nullptr, nullptr, Name.constData(), 1);
            if (Grabber != nullptr)
                StarBurn_Destroy(&Grabber);
            // A drive that refuses to be opened is listed all the same, with the reason.
            if (Code != EN_SUCCESS && StateOfRefusedOpen(Status) == dsUsable)
                continue;
            Found.push_back(TFoundDevice{false, {}, Name});
        }
    } else if (FTransportType == ttAspi) {
        LogScanLine(QStringLiteral("FindDevice"));
        StarBurn_FindDevice(STARBURN_DEVICE_TYPE_CDROM, 0, CollectFoundDevice, &Found);
    }
    ReadFoundDevices(Found, *FDevices);
}

void HandleDeviceFound(TsbDeviceList *List, const STARBURN_DEVICE_ADDRESS *Address,
                       const char *Name)
{
    if (List == nullptr || List->IsCancelled())
        return;

    void *Grabber = nullptr;
    TsbDeviceItem *Added = nullptr;
    // This runs inside the library's enumeration: nothing may escape into it.
    try {
        char Text[STARBURN_EXCEPTION_TEXT_SIZE] = {};
        uint32_t Status = StatusUnset;
        CDB_FAILURE_INFORMATION Failure{};
        TsbDeviceAddress DeviceAddress;
        if (List->TransportType == ttAspi) {
            if (Address == nullptr) {
                LogScanLine(QStringLiteral("Device found without an address: skipped"));
                return;
            }
            DeviceAddress = TsbDeviceAddress::FromLibrary(*Address);
            if (DeviceAddress.IsValid) {
                Added = List->Add();
                Added->Address = DeviceAddress;
            }
            LogScanLine(QStringLiteral("CdvdBurnerGrabber_Create (before create)"));
            const EXCEPTION_NUMBER Code = StarBurn_CdvdBurnerGrabber_Create(
                &Grabber, Text, sizeof(Text), &Status, &Failure, nullptr, nullptr,
                DeviceAddress.PortID, DeviceAddress.BusID, DeviceAddress.TargetID,
                DeviceAddress.LUN, 1);
            if (Code != EN_SUCCESS) {
                if (Grabber != nullptr)
                    StarBurn_Destroy(&Grabber);
                LogScanLine(LibraryFailureText(
                    QStringLiteral("StarBurn_CdvdBurnerGrabber_Create()"), Code, Status, Text));
                if (Added != nullptr && StateOfRefusedOpen(Status) != dsUsable) {
                    Added->TransportType = ttAspi;
                    Added->State = StateOfRefusedOpen(Status);
                    Added->DriveLetter = ResolveDriveLetter(&DeviceAddress, nullptr);
                    ReadListedIdentity(*Added, Name);
                }
            } else {
                LogScanLine(QStringLiteral("CdvdBurnerGrabber_Create (after create): PortID:%1,"
                                           "BusID:%2,TargetID:%3,LUN:%4")
                                .arg(DeviceAddress.PortID)
                                .arg(DeviceAddress.BusID)
                                .arg(DeviceAddress.TargetID)
                                .arg(DeviceAddress.LUN));
                if (Added == nullptr)
                    Added = List->Add();
                Added->TransportType = ttAspi;
            }
        } else {
            if (Name == nullptr) {
                LogScanLine(QStringLiteral("Device found without a name: skipped"));
                return;
            }
            const EXCEPTION_NUMBER Code = StarBurn_CdvdBurnerGrabber_CreateEx(
                &Grabber, Text, sizeof(Text), &Status, &Failure, nullptr, nullptr, Name, 1);
            if (Code != EN_SUCCESS) {
                if (Grabber != nullptr)
                    StarBurn_Destroy(&Grabber);
                LogScanLine(LibraryFailureText(
                    QStringLiteral("StarBurn_CdvdBurnerGrabber_CreateEx()"), Code, Status, Text));
                if (StateOfRefusedOpen(Status) != dsUsable) {
                    TsbDeviceItem *Refused = List->Add();
                    Refused->DeviceName = QString::fromLocal8Bit(Name);
                    Refused->State = StateOfRefusedOpen(Status);
                    Refused->DriveLetter = ResolveDriveLetter(nullptr, Name);
                    ReadListedIdentity(*Refused, Name);
                }
            } else {
                Added = List->Add();
                Added->DeviceName = QString::fromLocal8Bit(Name);
                Added->TransportType = ttSpti;
            }
        }
        if (Grabber != nullptr)
            ReadDeviceInformation(Grabber, *Added, *List,
                                  List->TransportType == ttAspi ? &DeviceAddress : nullptr,
                                  List->TransportType == ttAspi ? nullptr : Name);
    } catch (const std::exception &Error) {
        LogScanLine(QStringLiteral("Reading a device failed: %1")
                        .arg(QString::fromLocal8Bit(Error.what())));
    } catch (...) {
        LogScanLine(QStringLiteral("Reading a device failed"));
    }

    if (Grabber == nullptr)
        return;
    LogScanLine(QStringLiteral("Destroy: Grabber"));
    StarBurn_Destroy(&Grabber);
    // Only the record this call was filling is dropped, never a finished one.
    if (List->IsCancelled()) {
        if (Added != nullptr && List->Count() > 0 && List->Items(List->Count() - 1) == Added)
            List->Delete(List->Count() - 1);
        return;
    }
    // The disc's space is read here too, so that the page never waits for a drive.
    if (Added != nullptr && Added->DiscType != DISC_TYPE_NO_MEDIA) {
        try {
            Added->DiscSpace = ReadDiscSpace(*Added);
        } catch (...) {
            LogScanLine(QStringLiteral("Reading the disc space failed"));
        }
    }
}
