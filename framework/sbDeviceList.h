#pragma once

#include "framework/sbDevice.h"
#include "framework/sbWaitDialog.h"
#include "library/StarBurn.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <memory>
#include <thread>

class TsbDeviceFinderThread;

// Finds the CD/DVD devices of the machine in a worker thread and keeps the
// result of the last scan. The user-interface thread keeps processing events
// while it waits, optionally behind a wait dialog whose Cancel stops the scan.
class TsbDeviceFinder
{
public:
    TsbDeviceFinder();
    virtual ~TsbDeviceFinder();
    TsbDeviceFinder(const TsbDeviceFinder &) = delete;
    TsbDeviceFinder &operator=(const TsbDeviceFinder &) = delete;

    // Runs one complete scan; the result is in Devices() afterwards. A scan
    // without dialog shows it once it has lasted half a second.
    void FindDevices(bool ShowProgress);
    // Asks the running scan to skip every further device.
    void CancelScan();
    // Returns when no scan thread runs, processing events meanwhile.
    virtual void WaitForThread();

    TsbDeviceList *Devices() { return &FDevices; }
    const TsbDeviceList *Devices() const { return &FDevices; }

    void SetWaitDialogFactory(TsbWaitDialogFactory Factory) { FWaitDialogFactory = Factory; }
    // Only while the wait dialog of a scan is shown; none otherwise.
    IsbWaitDialog *ProgressForm() const { return FProgressForm.get(); }
    bool IsScanning() const { return FThread.load() != nullptr; }

    TsbTransportType FTransportType = ttSpti;
    QString FInfoText;

protected:
    // Termination handler of the scan thread; runs on that thread as its last act.
    virtual void ThreadTerminated(TsbDeviceFinderThread *Sender);

private:
    void OpenWaitDialog();

    std::atomic<TsbDeviceFinderThread *> FThread{nullptr};
    std::unique_ptr<TsbDeviceFinderThread> FThreadHandle;
    TsbDeviceList FDevices;
    std::unique_ptr<IsbWaitDialog> FProgressForm;
    TsbWaitDialogFactory FWaitDialogFactory;
    // Receives the scan thread's news for the wait dialog on this thread; what
    // is still queued goes with it.
    QObject FNotifier;
    // Drives of this scan that wait for their disc; on this thread only.
    int FDiscWaits = 0;
    // What the wait dialog says now: FInfoText, or the drive that is waited for.
    QString FShownText;
    // When a scan without dialog shows it after all; none outside such a scan.
    std::optional<std::chrono::steady_clock::time_point> FDialogDue;
};

// One scan: probes the system device names (SPTI) or runs the library's own
// enumeration (ASPI) and fills the borrowed list through HandleDeviceFound.
class TsbDeviceFinderThread
{
public:
    using TerminateHandler = std::function<void(TsbDeviceFinderThread *)>;

    explicit TsbDeviceFinderThread(TsbDeviceList *Devices);
    virtual ~TsbDeviceFinderThread();
    TsbDeviceFinderThread(const TsbDeviceFinderThread &) = delete;
    TsbDeviceFinderThread &operator=(const TsbDeviceFinderThread &) = delete;

    void SetOnTerminate(TerminateHandler Handler) { FOnTerminate = std::move(Handler); }
    void Start();
    // True when the thread has ended within the time-out.
    bool WaitFor(int Milliseconds);
    // Joins the thread; call after WaitFor has reported its end.
    void Join();

protected:
    virtual void DoTerminate();
    virtual void Execute();

private:
    void Run();

    TsbDeviceList *FDevices;
    TsbTransportType FTransportType;
    TerminateHandler FOnTerminate;
    std::promise<void> FFinished;
    std::future<void> FFinishedFuture;
    std::thread FThread;
};

// The device-found branch of the library callback: opens the device, fills a
// record of List and releases the device again. Address or Name may be null.
void HandleDeviceFound(TsbDeviceList *List, const STARBURN_DEVICE_ADDRESS *Address,
                       const char *Name);
