#include "framework/sbActions.h"

#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErrors.h"
#include "util/sbUtils.h"

#include <QCoreApplication>

#include <chrono>
#include <exception>
#include <pthread.h>

TsbAction::TsbAction(QObject *Parent) : QObject(Parent) {}

TsbAction::~TsbAction()
{
    FActionList = nullptr;
}

void TsbAction::Execute(TsbActionItem *Item)
{
    if (Item == nullptr)
        throw EsbError(tr("Invalid action"));
    FActionList = Item->Collection();
    if (GCallBackEventer != nullptr)
        GCallBackEventer->DoProgress(0);
}

void TsbAction::DoMessage(const QString &Text, TsbLogItemType Kind)
{
    if (FOnMessage)
        FOnMessage(this, Text, Kind);
}

void TsbAction::EjectDisc()
{
    TsbBurner *B = FActionList != nullptr ? FActionList->FBurner : nullptr;
    if (B == nullptr)
        throw EsbError(tr("No drive is chosen for this action. Go back and choose a device."));
    B->ReleaseServingWindow();
    // The release found the drive gone and closed it: there is nothing to eject.
    if (B->FGrabber == nullptr) {
        DoMessage(tr("The drive %1 is no longer available: the disc was not ejected")
                      .arg(StripDevicePrefix(B->FDeviceName)),
                  litError);
        return;
    }
    // The eject takes as long as any drive command: the window is served meanwhile.
    B->RunServingWindow(
        [B] {
            LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_Eject"));
            B->FExceptionCode = StarBurn_CdvdBurnerGrabber_Eject(
                B->FGrabber, B->FExceptionText, sizeof(B->FExceptionText), &B->FSystemError,
                &B->FFailureInfo);
        },
        "sbEject");
    if (B->FExceptionCode != EN_SUCCESS) {
        B->FLastMessage = B->FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_Eject()"));
        LogLibraryCall(B->FLastMessage);
        DoMessage(B->FLastMessage, litError);
        return;
    }
    B->FLastMessage = tr("Eject disc");
    DoMessage(B->FLastMessage, litInfo);
}

TsbActionItem::TsbActionItem(TsbActionList *Collection) : FCollection(Collection) {}

void TsbActionItem::Assign(const TsbActionItem &Source)
{
    FAction = Source.FAction;
    FPageOwner = Source.FPageOwner;
}

TsbActionList::TsbActionList() = default;

TsbActionList::~TsbActionList() = default;

void TsbActionList::BindActions()
{
    for (const auto &Item : FItems) {
        if (Item->FAction != nullptr)
            Item->FAction->FOnMessage = FOnMessage;
    }
}

TsbActionItem *TsbActionList::Add()
{
    FItems.push_back(std::make_unique<TsbActionItem>(this));
    return FItems.back().get();
}

TsbActionItem *TsbActionList::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[static_cast<size_t>(Index)].get();
}

void TsbActionList::Delete(int Index)
{
    if (Index >= 0 && Index < Count())
        FItems.erase(FItems.begin() + Index);
}

void TsbActionList::Clear()
{
    FItems.clear();
}

void TsbActionList::TruncateFrom(int32_t Owner)
{
    for (int I = 0; I < Count(); ++I) {
        if (FItems[static_cast<size_t>(I)]->FPageOwner == Owner) {
            FItems.erase(FItems.begin() + I, FItems.end());
            return;
        }
    }
}

TsbCustomThread::TsbCustomThread(TsbBurner *Burner)
    : FBurner(Burner), FFinishedFuture(FFinished.get_future())
{}

TsbCustomThread::~TsbCustomThread()
{
    if (FThread.joinable())
        FThread.join();
}

void TsbCustomThread::Resume(const char *Name)
{
    FThread = std::thread([this] { Run(); });
    pthread_setname_np(FThread.native_handle(), Name);
}

bool TsbCustomThread::WaitFor(int Milliseconds)
{
    return FFinishedFuture.wait_for(std::chrono::milliseconds(Milliseconds)) ==
           std::future_status::ready;
}

void TsbCustomThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TsbCustomThread::DoTerminate()
{
    if (OnTerminate)
        OnTerminate(this);
}

void TsbCustomThread::DoMessage(const QString &Text, TsbLogItemType Kind)
{
    if (FOnMessage)
        FOnMessage(nullptr, Text, Kind);
}

void TsbCustomThread::Run()
{
    TsbBurner *Burner = FBurner;
    if (Burner != nullptr)
        Burner->FLastMessage.clear();
    // An error must never vanish with the thread: it becomes the run's result.
    try {
        Execute();
    } catch (const EsbError &Error) {
        if (Burner != nullptr) {
            Burner->FLastMessage = Error.Message();
            Burner->FSucceeded = false;
        }
    } catch (const std::exception &Error) {
        if (Burner != nullptr) {
            Burner->FLastMessage = QString::fromUtf8(Error.what());
            Burner->FSucceeded = false;
        }
    } catch (...) {
        if (Burner != nullptr) {
            Burner->FLastMessage = QCoreApplication::translate(
                "TsbCustomThread", "The operation failed unexpectedly.");
            Burner->FSucceeded = false;
        }
    }
    FBurner = nullptr;
    DoTerminate();
    FFinished.set_value();
}
