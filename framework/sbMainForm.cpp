#include "framework/sbMainForm.h"

#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbDockForm.h"
#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "library/StarBurn.h"
#include "platform/sbPlatform.h"

#include <QEvent>
#include <QLayout>

namespace {
class TWrappedTextFitter : public QObject
{
public:
    explicit TWrappedTextFitter(QWidget *Window) : QObject(Window), FWindow(Window) {}

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Watched == FWindow &&
            (Event->type() == QEvent::LayoutRequest || Event->type() == QEvent::Resize))
            Fit();
        return QObject::eventFilter(Watched, Event);
    }

private:
    void Fit()
    {
        QLayout *Layout = FWindow->layout();
        if (Layout == nullptr || !Layout->hasHeightForWidth())
            return;
        Layout->activate();
        const int Need = Layout->totalHeightForWidth(FWindow->width());
        if (Need > FWindow->height())
            FWindow->resize(FWindow->width(), Need);
    }

    QWidget *FWindow;
};
} // namespace

void KeepWrappedTextsWhole(QWidget *Window)
{
    Window->installEventFilter(new TWrappedTextFitter(Window));
}

TsbMainForm::TsbMainForm(QWidget *parent)
    : QWidget(parent), FLog(std::make_unique<TsbLog>()),
      FActionList(std::make_unique<TsbActionList>()), FBurner(std::make_unique<TsbBurner>())
{}

// The burner goes first: it waits for its worker thread and destroys the
// drive's device object while the library session is still open.
TsbMainForm::~TsbMainForm()
{
    FBurner.reset();
    FActionList.reset();
    FLog.reset();
    StopLibrary();
}

void TsbMainForm::InitPageOrder()
{
    FPageOrder.clear();
}

int TsbMainForm::GetNextPage(int Index)
{
    const qsizetype at = FPageOrder.indexOf(QString::number(Index));
    if (at < 0 || at + 1 >= FPageOrder.size())
        return -1;
    return FPageOrder.at(at + 1).toInt();
}

int TsbMainForm::GetPrevPage(int Index)
{
    const qsizetype at = FPageOrder.indexOf(QString::number(Index));
    if (at <= 0)
        return -1;
    return FPageOrder.at(at - 1).toInt();
}

void TsbMainForm::PageWorkBegin(QObject *Sender)
{
    Q_UNUSED(Sender);
    FCanClose = false;
}

void TsbMainForm::PageWorkEnd(QObject *Sender)
{
    Q_UNUSED(Sender);
    UpdateButtons();
    FCanClose = true;
}

void TsbMainForm::CollectPageLog(TsbDockForm *Page, int Index)
{
    if (Page == nullptr)
        return;
    const TsbLog *pageLog = Page->GetPageLog();
    if (pageLog == nullptr)
        return;
    for (int i = 0; i < pageLog->Count(); ++i) {
        TsbLogItem *line = FLog->Add();
        line->Assign(*pageLog->Items(i));
        line->PageOwner = Index;
    }
}

void TsbMainForm::CollectPageActions(TsbDockForm *Page, int Index)
{
    if (Page == nullptr)
        return;
    const TsbActionList *pageActions = Page->GetPageActions();
    if (pageActions == nullptr)
        return;
    for (int i = 0; i < pageActions->Count(); ++i) {
        TsbActionItem *item = FActionList->Add();
        item->Assign(*pageActions->Items(i));
        item->FPageOwner = Index;
    }
}

void TsbMainForm::UpdateButtons() {}

void TsbMainForm::DropPageLog(int Index)
{
    FLog->TruncateFrom(Index);
}

void TsbMainForm::DropPageActions(int Index)
{
    FActionList->TruncateFrom(Index);
}

bool TsbMainForm::ValidatePage()
{
    return true;
}

void TsbMainForm::PageBack(int PageLeft, int PageEntered)
{
    Q_UNUSED(PageLeft);
    Q_UNUSED(PageEntered);
}

void TsbMainForm::BeforePageChange() {}

void TsbMainForm::UpdateTexts() {}

void TsbMainForm::StartLibrary()
{
    if (FLibraryStarted)
        return;
    LogLibraryCall(QStringLiteral("UpStartEx"));
    const EXCEPTION_NUMBER code = StarBurn_UpStartEx();
    if (code != EN_SUCCESS) {
        const QString text =
            QStringLiteral("StarBurn_UpStartEx() failed, exception %1").arg(static_cast<int>(code));
        LogLibraryCall(text);
        // The box shows the code only; the reason (such as which scenario file
        // could not be read) goes to the diagnostic log and the debug output.
        const QString reason = QString::fromUtf8(StarBurn_GetLastStartUpError());
        if (!reason.isEmpty()) {
            LogLibraryCall(reason);
            OutputDebugText(reason);
        }
        throw EsbError(text);
    }
    FLibraryStarted = true;
}

void TsbMainForm::StopLibrary()
{
    // The session is closed even when its log line fails; the program is
    // ending, so the failure goes to the debug output, once.
    try {
        LogLibraryCall(QStringLiteral("DownShut"));
    } catch (const EsbError &Error) {
        OutputDebugText(QStringLiteral("StopLibrary: %1").arg(Error.Message()));
    } catch (const std::exception &Error) {
        OutputDebugText(
            QStringLiteral("StopLibrary: %1").arg(QString::fromLocal8Bit(Error.what())));
    }
    StarBurn_DownShut();
    FLibraryStarted = false;
}
