#include "framework/sbErase.h"

#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErrors.h"
#include "framework/sbTypes.h"

#include <QTimer>

#include <climits>
#include <memory>

namespace {

// What a fast erase is assumed to write: the lead-in area and table of contents.
constexpr double FastEraseBytesDVD = 450.0 * 1048576.0;
constexpr double FastEraseBytesCD = 45.0 * 1048576.0;

} // namespace

int EraseProgressInterval(bool FullErase, uint64_t TotalBytes, DISC_TYPE DiscType,
                          uint32_t CurrentWriteSpeed)
{
    if (CurrentWriteSpeed == 0)
        return 0;
    double Amount = 0;
    if (FullErase)
        Amount = static_cast<double>(TotalBytes);
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

    DoMessage(tr("Erase started"), litInfo);
    DoMessage(tr("Erase speed") + tr(": %1.0x").arg(O.SpeedInPoint), litInfo);

    TsbDriveSpeeds Speeds;
    try {
        B->ApplyWriteSpeed(static_cast<uint32_t>(O.SpeedInSize), Speeds);
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
    EjectDisc();
    DoMessage(tr("Erase completed"), litInfo);
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
