#pragma once

#include "framework/sbTypes.h"
#include "library/StarBurn.h"
#include "platform/sbSleepInhibitor.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class TsbCustomThread;

// Compares the loaded library's version with the one this program was built
// for; a mismatch is written to the debug output and shown as a warning, and
// the program goes on. Returns whether the versions match.
bool CheckLibraryVersion();
bool CheckLibraryVersion(uint32_t FoundVersion);

// The one form in which a failed library call is reported. Call is the
// function's full name, with "()" where the text has it; Text is the library's
// NUL-terminated buffer of at most STARBURN_EXCEPTION_TEXT_SIZE bytes.
QString LibraryFailureText(const QString &Call, EXCEPTION_NUMBER Code, uint32_t Status,
                           const char *Text);

// Writes a line about a library call to the diagnostic log, if there is one.
void LogLibraryCall(const QString &Text);

// The four speeds the library reports, in KB/s.
struct TsbDriveSpeeds
{
    uint32_t CurrentRead = 0;
    uint32_t MaximumRead = 0;
    uint32_t CurrentWrite = 0;
    uint32_t MaximumWrite = 0;
};

// Stands for the drive chosen in the wizard: the library's device object for
// it, the choices the pages pass on, the worker thread of the running
// operation and the error block of the last library call.
class TsbBurner
{
public:
    TsbBurner();
    virtual ~TsbBurner();
    TsbBurner(const TsbBurner &) = delete;
    TsbBurner &operator=(const TsbBurner &) = delete;

    // Returns once no erase thread runs, serving user-interface events meanwhile.
    virtual void WaitForEraseThread();
    // Termination handler of the erase thread; runs on that thread.
    virtual void EraseThreadTerminated();

    void CreateGrabber();
    // Releases the drive and closes its device object, both also when a log
    // line fails; that failure is raised afterwards.
    void DestroyGrabber();
    // Locks the tray; a failure is shown and the wizard goes on.
    void Lock();
    // Lock for a drive that may have been opened without write access: such a
    // node refuses the lock with EPERM. Then the device object is closed (there
    // is nothing to release) and the result is false; any other failure is
    // reported as Lock reports it.
    bool LockWritable();
    // Where the disc in the drive is mounted, empty when it is not.
    QString MountPoint();
    // Frees the tray, also when its log line fails (raised afterwards). A
    // drive found gone has its device object closed: FGrabber is then empty.
    void Release();
    // Release with the drive's command on a worker while the window is served.
    void ReleaseServingWindow();
    void Cancel();
    // Blanks the disc in a worker thread and returns when it has ended.
    void RunEraseThread();
    // Runs Thread under Name and returns when it has ended, serving
    // user-interface events meanwhile; raises when it cannot be started.
    void RunThread(std::unique_ptr<TsbCustomThread> Thread, const char *Name);
    // Runs Step on a worker as RunThread does and raises again what it raised.
    void RunOnWorker(std::function<void()> Step, const char *Name);
    // RunOnWorker for a step that must happen: a worker that cannot be
    // started leaves it to this thread.
    void RunServingWindow(std::function<void()> Step, const char *Name);

    // Sets the write speed (the read speed at the drive's maximum) and reads
    // back what the drive took, each call with its diagnostic lines. A failed
    // setting goes into FLastMessage; a failure of either call is raised.
    // Speeds holds what the query reported, also when the query failed.
    // Returns false for a drive that takes no speed command: it works at its
    // own speed, which is logged and not a failure.
    bool ApplyWriteSpeed(uint32_t WriteSpeed, TsbDriveSpeeds &Speeds);
    // TEST UNIT READY with its diagnostic lines; a failure is logged, not
    // raised. It takes a pending disc-change report that would fail the next query.
    void TakeDiscChangeReport();

    // LibraryFailureText for the last call made with this burner's error block.
    QString FailureText(const QString &Call) const;

    bool IsEraseThreadRunning() const { return FEraseThread.load() != nullptr; }

    QString FLastMessage;
    TsbDeviceAddress FDeviceAddress;
    TsbTransportType FTransportType = ttAspi;
    TsbEraseOptions FEraseOptions;
    TsbDiscSpace FDiscSpace;
    DISC_TYPE FDiscType = DISC_TYPE_UNKNOWN;
    QString FDeviceName;
    // What the device page showed of the disc besides its type and space:
    // its label, and the block node the label was read from.
    QString FDiscLabel;
    QString FDriveNode;
    // Lock succeeded and no release has been asked for since.
    bool FTrayLocked = false;
    // Taken when the erase starts; Release ends it, whichever way the erase ended.
    TsbSleepInhibitor FSleepLock;
    // Set while the erase thread runs; cleared by the thread's termination handler.
    std::atomic<TsbCustomThread *> FEraseThread{nullptr};
    std::atomic<bool> FCancelled{false};
    // Written by the worker only before it ends; read after the join.
    bool FSucceeded = false;
    void *FGrabber = nullptr;
    EXCEPTION_NUMBER FExceptionCode = EN_SUCCESS;
    uint32_t FSystemError = 0;
    char FExceptionText[STARBURN_EXCEPTION_TEXT_SIZE] = {};
    CDB_FAILURE_INFORMATION FFailureInfo = {};

    // The drive as the device page showed it; the erase compares it with what
    // the opened device reports.
    QString FDriveVendor;
    QString FDriveProduct;
    QString FDriveRevision;

private:
    // The lock call with its log lines; false when the drive refused it.
    bool CallLock();
    // The release call with its log lines; true when its failure is to be shown.
    bool ReleaseDrive(std::exception_ptr &Failure);
    // Closes the device object; a failed log line is kept in Failure.
    void CloseGrabber(std::exception_ptr &Failure);

    // Owns the erase thread from its start until it has been joined.
    std::unique_ptr<TsbCustomThread> FEraseThreadHandle;
};
