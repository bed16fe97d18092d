#include "framework/sbErase.h"

#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErrors.h"
#include "framework/sbSpeedList.h"
#include "framework/sbTypes.h"
#include "platform/sbVolumeLabel.h"
#include "util/sbUtils.h"

#include <QTimer>

#include <climits>
#include <exception>
#include <functional>
#include <memory>

namespace {

// What a fast erase is assumed to write: the lead-in area and table of contents.
constexpr double FastEraseBytesDVD = 450.0 * 1048576.0;
constexpr double FastEraseBytesCD = 45.0 * 1048576.0;
// A quick format of a BD-RE: about a minute at 2x.
constexpr double FastEraseBytesBD = 512.0 * 1048576.0;

// Asks the drive what disc it holds now; a query that fails gives what the
// device page would have shown for it.
void ReadInsertedDisc(TsbBurner &B, DISC_TYPE &DiscType, uint64_t &UsedBytes, QString &Label)
{
    B.TakeDiscChangeReport();
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetInsertedDiscType"));
    DiscType = StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(B.FGrabber);
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetDiscUsedSpace"));
    UsedBytes = 0;
    B.FExceptionCode = StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(
        B.FGrabber, B.FExceptionText, sizeof(B.FExceptionText), &B.FSystemError, &B.FFailureInfo,
        &UsedBytes);
    if (B.FExceptionCode != EN_SUCCESS) {
        LogLibraryCall(
            B.FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace()")));
        UsedBytes = 0;
    }
    Label = B.FDriveNode.isEmpty() ? QString() : ReadVolumeLabel(B.FDriveNode);
}

// The drive's commands take long: the window is served while they run.
void RunStep(TsbBurner &B, std::function<void()> Step)
{
    B.RunOnWorker(std::move(Step), "sbEraseStep");
}

} // namespace

int EraseProgressInterval(bool FullErase, uint64_t TotalBytes, DISC_TYPE DiscType,
                          uint32_t CurrentWriteSpeed)
{
    if (CurrentWriteSpeed == 0)
        return 0;
    double Amount = 0;
    if (FullErase)
        Amount = static_cast<double>(TotalBytes);
    else if (IsBDDiscType(DiscType))
        Amount = FastEraseBytesBD;
    else
        Amount = IsDVDDiscType(DiscType) ? FastEraseBytesDVD : FastEraseBytesCD;
    const double Interval = Amount / 1024.0 / CurrentWriteSpeed / 100.0 * 1000.0;
    if (Interval >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(Interval);
}

TsbEraseAction::TsbEraseAction(QObject *Parent) : TsbAction(Parent) {}

void TsbEraseAction::Execute(TsbActionItem *Item)
{
    TsbAction::Execute(Item);
    TsbBurner *B = FActionList != nullptr ? FActionList->FBurner : nullptr;
    if (B == nullptr)
        throw EsbError(tr("No drive is chosen for this action. Go back and choose a device."));
    const TsbEraseOptions O = B->FEraseOptions;

    // Another disc may have gone in since the scan, through a tray that could
    // not be locked or before the lock; another drive may have taken the node.
    RunStep(*B, [this, B] { CheckDiscUnchanged(*B); });

    DoMessage(tr("Erase started"), litInfo);
    // Without logind the erase goes on; the diagnostic log says why there is no lock.
    const QString Refusal =
        B->FSleepLock.Acquire(tr("Erasing the disc in %1").arg(StripDevicePrefix(B->FDeviceName)));
    if (Refusal.isEmpty())
        DoMessage(tr("The computer will not sleep or shut down until the erase has ended"),
                  litInfo);
    else
        LogLibraryCall(QStringLiteral("Inhibit: no lock against sleep and shutdown: ") + Refusal);
    // A drive that takes no speed command has the speed 0 KB/s: no "0.0x".
    DoMessage(tr("Erase speed") + (O.SpeedInSize == 0 ? QStringLiteral(": ") + OwnSpeedText()
                                                      : tr(": %1.0x").arg(O.SpeedInPoint)),
              litInfo);

    TsbDriveSpeeds Speeds;
    try {
        RunStep(*B, [B, &O, &Speeds] {
            B->ApplyWriteSpeed(static_cast<uint32_t>(O.SpeedInSize), Speeds);
        });
    } catch (...) {
        // A run that stops here must not end in the success text.
        B->FSucceeded = false;
        throw;
    }

    FTick = 1;
    std::unique_ptr<QTimer> Timer;
    if (O.EstimateProgress) {
        const int Interval = EraseProgressInterval(O.FullErase, B->FDiscSpace.TotalBytes,
                                                   B->FDiscType, Speeds.CurrentWrite);
        // An interval of 0 would fire on every event loop pass instead of never.
        if (Interval > 0) {
            Timer = std::make_unique<QTimer>(this);
            Timer->setInterval(Interval);
            connect(Timer.get(), &QTimer::timeout, this, &TsbEraseAction::ProgressTimerTick);
            Timer->start();
        }
    }
    B->RunEraseThread();
    Timer.reset();

    if (!B->FLastMessage.isEmpty())
        throw EsbError(B->FLastMessage);
    // A minimal blank leaves a sequential DVD-RW writable in one session only
    // (libburn mmc.c: feature 0021h stays off until a full blank).
    if (!O.FullErase && B->FDiscType == DISC_TYPE_DVDRWSR)
        DoMessage(tr("The disc was erased fast: it can now be written only in one session (disc "
                     "at once). Erase it fully to write it in several sessions."),
                  litWarning);
    EjectDisc();
    DoMessage(tr("Erase completed"), litInfo);
}

void TsbEraseAction::CheckDiscUnchanged(TsbBurner &B)
{
    char Vendor[STARBURN_NAME_BUFFER_SIZE] = {};
    char Product[STARBURN_NAME_BUFFER_SIZE] = {};
    char Revision[STARBURN_NAME_BUFFER_SIZE] = {};
    uint32_t BufferSize = 0;
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetDeviceInformation"));
    StarBurn_CdvdBurnerGrabber_GetDeviceInformation(B.FGrabber, Vendor, Product, Revision,
                                                    &BufferSize);
    const QString NowVendor = TextFromChars(Vendor);
    const QString NowProduct = TextFromChars(Product);
    if (NowVendor != B.FDriveVendor || NowProduct != B.FDriveProduct ||
        TextFromChars(Revision) != B.FDriveRevision) {
        B.FSucceeded = false;
        throw EsbError(tr("The drive %1 is now %2 %3, not the drive %4 %5 that you chose: "
                          "nothing was erased. Go back to the device selection and choose the "
                          "drive again")
                           .arg(StripDevicePrefix(B.FDeviceName), NowVendor, NowProduct,
                                B.FDriveVendor, B.FDriveProduct));
    }

    DISC_TYPE DiscType = DISC_TYPE_UNKNOWN;
    uint64_t UsedBytes = 0;
    QString Label;
    ReadInsertedDisc(B, DiscType, UsedBytes, Label);
    if (DiscType == B.FDiscType && UsedBytes == B.FDiscSpace.UsedBytes && Label == B.FDiscLabel)
        return;
    B.FSucceeded = false;
    throw EsbError(tr("The disc in drive %1 was changed after you chose it: nothing was erased. "
                      "Put in the disc you want to erase, go back to the device selection and "
                      "choose the drive again")
                       .arg(StripDevicePrefix(B.FDeviceName)));
}

void TsbEraseAction::ProgressTimerTick()
{
    if (GCallBackEventer != nullptr)
        GCallBackEventer->DoProgress(FTick);
    ++FTick;
}

TsbEraseThread::TsbEraseThread(TsbBurner *Burner) : TsbCustomThread(Burner) {}

void TsbEraseThread::Execute()
{
    TsbBurner *B = FBurner;
    B->FLastMessage.clear();
    const bool Full = B->FEraseOptions.FullErase;
    const ERASE_TYPE EraseType = Full ? ERASE_TYPE_BLANK_DISC_FULL : ERASE_TYPE_BLANK_DISC_FAST;
    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_Blank: EraseType: ") +
                   (Full ? QStringLiteral("ERASE_TYPE_BLANK_DISC_FULL")
                         : QStringLiteral("ERASE_TYPE_BLANK_DISC_FAST")));
    B->FExceptionCode =
        StarBurn_CdvdBurnerGrabber_Blank(B->FGrabber, B->FExceptionText, sizeof(B->FExceptionText),
                                         &B->FSystemError, &B->FFailureInfo, EraseType);
    if (B->FExceptionCode != EN_SUCCESS) {
        B->FLastMessage = B->FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_Blank"));
        LogLibraryCall(B->FLastMessage);
        B->FSucceeded = false;
    }
}
