#include "framework/sbBurner.h"

#include "framework/sbActions.h"
#include "framework/sbCallBack.h"
#include "framework/sbErase.h"
#include "framework/sbErrors.h"
#include "framework/sbEventWait.h"
#include "framework/sbLog.h"
#include "framework/sbMessageBox.h"
#include "platform/sbPlatform.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <system_error>

namespace {

QString HexVersion(uint32_t Version)
{
    return QStringLiteral("%1").arg(Version, 8, 16, QLatin1Char('0')).toUpper();
}

// The library's shared object as the dynamic linker loaded it.
QString LibraryFileName()
{
    Dl_info Info{};
    if (dladdr(reinterpret_cast<void *>(&StarBurn_GetVersion), &Info) != 0 &&
        Info.dli_fname != nullptr && Info.dli_fname[0] != '\0') {
        const QString Loaded = QString::fromLocal8Bit(Info.dli_fname);
        const QString Real = QFileInfo(Loaded).canonicalFilePath();
        return Real.isEmpty() ? Loaded : Real;
    }
    return QStringLiteral("libStarBurn.so");
}

} // namespace

bool CheckLibraryVersion()
{
    return CheckLibraryVersion(StarBurn_GetVersion());
}

bool CheckLibraryVersion(uint32_t FoundVersion)
{
    if (FoundVersion == STARBURN_VERSION) {
        OutputDebugText(QStringLiteral("StarBurn : %1 version : 0x%2")
                            .arg(LibraryFileName(), HexVersion(STARBURN_VERSION)));
        return true;
    }
    const QString Text =
        QCoreApplication::translate("TsbBurner",
                                    "StarBurn : Invalid %1 version : 0x%2. Expected : 0x%3")
            .arg(LibraryFileName(), HexVersion(FoundVersion), HexVersion(STARBURN_VERSION));
    OutputDebugText(Text);
    ShowWarningMessage(Text);
    return false;
}

TsbBurner::TsbBurner()
{
    // Until the options page hands over its choices the record is all zero.
    FEraseOptions = TsbEraseOptions{false, 0, 0, false, false};
}

namespace {

// What a destructor could not do goes to the debug output: it must not throw.
void ReportSwallowed(const QString &Step, const std::exception_ptr &Error)
{
    QString Text;
    try {
        std::rethrow_exception(Error);
    } catch (const EsbError &E) {
        Text = E.Message();
    } catch (const std::exception &E) {
        Text = QString::fromLocal8Bit(E.what());
    } catch (...) {
        Text = QStringLiteral("unknown error");
    }
    OutputDebugText(QStringLiteral("TsbBurner: %1: %2").arg(Step, Text));
}

} // namespace

// The calls below log; a log file that can no longer be written (a full
// disk) must not end the program here.
TsbBurner::~TsbBurner()
{
    try {
        WaitForEraseThread();
    } catch (...) {
        ReportSwallowed(QStringLiteral("waiting for the erase thread"), std::current_exception());
    }
    try {
        DestroyGrabber();
    } catch (...) {
        ReportSwallowed(QStringLiteral("releasing the drive"), std::current_exception());
    }
    // Closing the device object also frees a tray whose release was not logged.
    if (FGrabber != nullptr)
        StarBurn_Destroy(&FGrabber);
}

QString LibraryFailureText(const QString &Call, EXCEPTION_NUMBER Code, uint32_t Status,
                           const char *Text)
{
    QString Library;
    if (Text != nullptr)
        Library = QString::fromLocal8Bit(
            Text, static_cast<qsizetype>(strnlen(Text, STARBURN_EXCEPTION_TEXT_SIZE)));
    return QCoreApplication::translate("TsbBurner",
                                       "%1 failed, exception %2, status %3, text \"%4\"")
        .arg(Call, QString::number(Code), QString::number(static_cast<int32_t>(Status)), Library);
}

QString TsbBurner::FailureText(const QString &Call) const
{
    return LibraryFailureText(Call, FExceptionCode, FSystemError, FExceptionText);
}

void TsbBurner::TakeDiscChangeReport()
{
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_TestUnitReady"));
    FExceptionCode = StarBurn_CdvdBurnerGrabber_TestUnitReady(
        FGrabber, FExceptionText, sizeof(FExceptionText), &FSystemError, &FFailureInfo);
    if (FExceptionCode != EN_SUCCESS)
        LogLibraryCall(FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_TestUnitReady()")));
}

bool TsbBurner::ApplyWriteSpeed(uint32_t WriteSpeed, TsbDriveSpeeds &Speeds)
{
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_SetSpeeds: ReadSpeed: 65535,WriteSpeed: %1")
                       .arg(WriteSpeed));
    FExceptionCode = StarBurn_CdvdBurnerGrabber_SetSpeeds(
        FGrabber, FExceptionText, sizeof(FExceptionText), &FSystemError, &FFailureInfo,
        STARBURN_SPEED_MAX, WriteSpeed);
    const bool TakesSpeeds = FExceptionCode != EN_NOT_SUPPORTED;
    if (!TakesSpeeds) {
        LogLibraryCall(FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_SetSpeeds()")));
        LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_SetSpeeds: the drive takes no speed "
                                      "command and works at its own speed"));
    } else if (FExceptionCode != EN_SUCCESS) {
        FLastMessage = FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_SetSpeeds()"));
        LogLibraryCall(FLastMessage);
        throw EsbError(FLastMessage);
    }

    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetSpeeds"));
    FExceptionCode = StarBurn_CdvdBurnerGrabber_GetSpeeds(
        FGrabber, FExceptionText, sizeof(FExceptionText), &FSystemError, &FFailureInfo,
        &Speeds.CurrentRead, &Speeds.MaximumRead, &Speeds.CurrentWrite, &Speeds.MaximumWrite);
    if (FExceptionCode != EN_SUCCESS) {
        const QString Text = FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_GetSpeeds()"));
        LogLibraryCall(Text);
        throw EsbError(Text);
    }
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetSpeeds: CurrentReadSpeed: %1,"
                                  "MaximumReadSpeed: %2,CurrentWriteSpeed: %3,"
                                  "MaximumWriteSpeed: %4")
                       .arg(Speeds.CurrentRead)
                       .arg(Speeds.MaximumRead)
                       .arg(Speeds.CurrentWrite)
                       .arg(Speeds.MaximumWrite));
    return TakesSpeeds;
}

void TsbBurner::CreateGrabber()
{
    DestroyGrabber();
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_Create (before create)"));
    if (FTransportType == ttAspi) {
        FExceptionCode = StarBurn_CdvdBurnerGrabber_Create(
            &FGrabber, FExceptionText, sizeof(FExceptionText), &FSystemError, &FFailureInfo,
            LibraryCallback, nullptr, FDeviceAddress.PortID, FDeviceAddress.BusID,
            FDeviceAddress.TargetID, FDeviceAddress.LUN, 0);
    } else {
        const QByteArray Name = FDeviceName.toLocal8Bit();
        FExceptionCode = StarBurn_CdvdBurnerGrabber_CreateEx(
            &FGrabber, FExceptionText, sizeof(FExceptionText), &FSystemError, &FFailureInfo,
            LibraryCallback, nullptr, Name.constData(), 0);
    }
    if (FExceptionCode != EN_SUCCESS) {
        FGrabber = nullptr;
        FLastMessage = FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_Create()"));
        LogLibraryCall(FLastMessage);
        throw EsbError(FLastMessage);
    }
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_Create (after create): PortID:%1,BusID:%2,"
                                  "TargetID:%3,LUN:%4")
                       .arg(FDeviceAddress.PortID)
                       .arg(FDeviceAddress.BusID)
                       .arg(FDeviceAddress.TargetID)
                       .arg(FDeviceAddress.LUN));
}

namespace {

// A log line that cannot be written must not keep the library call after it
// from running: the first such failure is kept for the caller to report.
void LogKeepingFailure(const QString &Text, std::exception_ptr &Failure)
{
    try {
        LogLibraryCall(Text);
    } catch (...) {
        if (!Failure)
            Failure = std::current_exception();
    }
}

} // namespace

void TsbBurner::DestroyGrabber()
{
    if (FGrabber == nullptr)
        return;
    std::exception_ptr Failure;
    try {
        Release();
    } catch (...) {
        Failure = std::current_exception();
    }
    // A release that found the drive gone has closed the device object already.
    if (FGrabber != nullptr)
        CloseGrabber(Failure);
    if (Failure)
        std::rethrow_exception(Failure);
}

void TsbBurner::CloseGrabber(std::exception_ptr &Failure)
{
    LogKeepingFailure(QStringLiteral("Destroy: Grabber"), Failure);
    StarBurn_Destroy(&FGrabber);
    FGrabber = nullptr;
}

void TsbBurner::Lock()
{
    if (!CallLock())
        ShowErrorMessage(FLastMessage);
}

bool TsbBurner::LockWritable()
{
    if (CallLock())
        return true;
    if (FSystemError == EPERM) {
        std::exception_ptr Failure;
        CloseGrabber(Failure);
        if (Failure)
            std::rethrow_exception(Failure);
        return false;
    }
    ShowErrorMessage(FLastMessage);
    return true;
}

bool TsbBurner::CallLock()
{
    FExceptionCode = EN_SUCCESS;
    if (FGrabber == nullptr)
        return true;
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_Lock"));
    FExceptionCode = StarBurn_CdvdBurnerGrabber_Lock(
        FGrabber, FExceptionText, sizeof(FExceptionText), &FSystemError, &FFailureInfo);
    FTrayLocked = FExceptionCode == EN_SUCCESS;
    if (FExceptionCode == EN_SUCCESS)
        return true;
    FLastMessage = FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_Lock()"));
    LogLibraryCall(FLastMessage);
    return false;
}

QString TsbBurner::MountPoint()
{
    char Point[STARBURN_NAME_BUFFER_SIZE] = {};
    if (FGrabber == nullptr)
        return QString();
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetMountPoint"));
    if (StarBurn_CdvdBurnerGrabber_GetMountPoint(FGrabber, Point) != EN_SUCCESS)
        return QString();
    return QString::fromLocal8Bit(Point);
}

void TsbBurner::Release()
{
    FSleepLock.Release();
    FExceptionCode = EN_SUCCESS;
    if (FGrabber == nullptr)
        return;
    std::exception_ptr Failure;
    if (ReleaseDrive(Failure))
        ShowErrorMessage(FLastMessage);
    if (Failure)
        std::rethrow_exception(Failure);
}

void TsbBurner::ReleaseServingWindow()
{
    FSleepLock.Release();
    FExceptionCode = EN_SUCCESS;
    if (FGrabber == nullptr)
        return;
    std::exception_ptr Failure;
    bool Show = false;
    RunServingWindow([this, &Failure, &Show] { Show = ReleaseDrive(Failure); }, "sbRelease");
    // The message box is a widget: it is shown here once the worker has been joined.
    if (Show)
        ShowErrorMessage(FLastMessage);
    if (Failure)
        std::rethrow_exception(Failure);
}

bool TsbBurner::ReleaseDrive(std::exception_ptr &Failure)
{
    FTrayLocked = false;
    // The tray is freed even when the log cannot be written.
    LogKeepingFailure(QStringLiteral("CdvdBurnerGrabber_Release"), Failure);
    FExceptionCode = StarBurn_CdvdBurnerGrabber_Release(
        FGrabber, FExceptionText, sizeof(FExceptionText), &FSystemError, &FFailureInfo);
    if (FExceptionCode == EN_SUCCESS)
        return false;
    FLastMessage = FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_Release()"));
    LogKeepingFailure(FLastMessage, Failure);
    // A drive that has gone was reported by the step that found it gone; its
    // device object is closed so that no later release reports it again.
    if (FExceptionCode != EN_NO_DEVICE)
        return true;
    CloseGrabber(Failure);
    return false;
}

void TsbBurner::Cancel()
{
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_Cancel"));
    if (FGrabber != nullptr)
        StarBurn_CdvdBurnerGrabber_Cancel(FGrabber);
    FCancelled = true;
}

void TsbBurner::RunEraseThread()
{
    RunThread(std::make_unique<TsbEraseThread>(this), "sbEraseThread");
}

void TsbBurner::RunThread(std::unique_ptr<TsbCustomThread> Thread, const char *Name)
{
    WaitForEraseThread();
    Thread->OnTerminate = [this](TsbCustomThread *) {
        EraseThreadTerminated();
        WakeEventWaits();
    };
    FEraseThread = Thread.get();
    try {
        Thread->Resume(Name);
    } catch (const std::system_error &Error) {
        // Nothing runs: no reference may stay behind for a wait that would never end.
        FEraseThread = nullptr;
        throw EsbError(
            QCoreApplication::translate("TsbBurner", "The erase could not be started: %1")
                .arg(QString::fromLocal8Bit(Error.what())));
    }
    FEraseThreadHandle = std::move(Thread);
    WaitForEraseThread();
}

namespace {

// Runs one step on a worker; what it raises is kept for the caller to raise
// again on the user-interface thread.
class TsbStepThread : public TsbCustomThread
{
public:
    TsbStepThread(TsbBurner *Burner, std::function<void()> Step, std::exception_ptr &Failure)
        : TsbCustomThread(Burner), FStep(std::move(Step)), FFailure(Failure)
    {}

protected:
    void Execute() override
    {
        try {
            FStep();
        } catch (...) {
            FFailure = std::current_exception();
        }
    }

private:
    std::function<void()> FStep;
    std::exception_ptr &FFailure;
};

} // namespace

void TsbBurner::RunOnWorker(std::function<void()> Step, const char *Name)
{
    std::exception_ptr Failure;
    RunThread(std::make_unique<TsbStepThread>(this, std::move(Step), Failure), Name);
    if (Failure)
        std::rethrow_exception(Failure);
}

void TsbBurner::RunServingWindow(std::function<void()> Step, const char *Name)
{
    std::exception_ptr Failure;
    bool Started = true;
    try {
        RunThread(std::make_unique<TsbStepThread>(this, Step, Failure), Name);
    } catch (const EsbError &) {
        Started = false;
    }
    if (!Started)
        Step();
    if (Failure)
        std::rethrow_exception(Failure);
}

void TsbBurner::WaitForEraseThread()
{
    // An event served below may itself have waited for (and joined) the thread.
    // Events are served as they come and the end is noticed at once; the
    // thread is re-checked at least every 80 ms.
    for (;;) {
        const uint64_t Seen = EventWaitGeneration();
        if (!FEraseThreadHandle || FEraseThread.load() == nullptr || FEraseThreadHandle->WaitFor(0))
            break;
        if (!ServeEventsFor(80, Seen) && FEraseThreadHandle->WaitFor(80))
            break;
    }
    if (!FEraseThreadHandle)
        return;
    // The join makes everything the worker wrote into this burner visible here.
    FEraseThreadHandle->Join();
    FEraseThreadHandle.reset();
}

void TsbBurner::EraseThreadTerminated()
{
    FEraseThread = nullptr;
}

void LogLibraryCall(const QString &Text)
{
    if (GLogger != nullptr)
        GLogger->Log(Text, 0);
}
