#include "app/ufrmMain.h"

#include "app/uDefaultButton.h"
#include "app/ufrmFinish.h"
#include "app/ufrmWelcome.h"
#include "app/uPictures.h"
#include "framework/sbBurner.h"
#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "framework/sbMessageBox.h"
#include "framework/sbTypes.h"
#include "pages/ufrmEraseDisc.h"
#include "pages/ufrmFinalAction.h"
#include "pages/ufrmOptionsSummary.h"
#include "pages/ufrmSelectDevice.h"
#include "pages/ufrmSelectTransport.h"

#include "ui_ufrmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QShowEvent>

namespace {
// Page index of pcBurner.
enum : int
{
    PageTransport = 0,
    PageOperation = 1,
    PageDevice = 2,
    PageErase = 3,
    PageSummary = 4
};

// The hourglass while a page change is worked on, also when it fails.
class TWaitCursor
{
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor &) = delete;
    TWaitCursor &operator=(const TWaitCursor &) = delete;
};
} // namespace

TMainForm::TMainForm(TfrmWelcome *Welcome, TfrmFinish *Finish, QWidget *parent)
    : TsbMainForm(parent), ui(new Ui::TMainForm), FWelcome(Welcome), FFinish(Finish)
{
    ui->setupUi(this);
    KeepWrappedTextsWhole(this);
    // pcBurner is a stacked widget: it has no tab buttons, and only this
    // controller changes its page (always followed by PageChanged, so the
    // change is not also taken from the widget's signal).
    ui->TopPanel->setVisible(true);
    ui->pcBurner->setCurrentIndex(PageTransport);

    connect(ui->ButtonNext, &QPushButton::clicked, this,
            [this] { RunStep(&TMainForm::ButtonNextClick); });
    connect(ui->ButtonPrev, &QPushButton::clicked, this,
            [this] { RunStep(&TMainForm::ButtonPrevClick); });
    connect(ui->ButtonClose, &QPushButton::clicked, this,
            [this] { RunStep(&TMainForm::ButtonCloseClick); });

    FormCreate();
}

// The pages go before the shared objects: they may still use the burner and
// the library session while they end.
TMainForm::~TMainForm()
{
    delete FOperationPage;
    delete FDevicePage;
    delete FErasePage;
    delete FTransportPage;
    delete FSummaryPage;
    delete ui;
}

int TMainForm::ActivePageIndex() const
{
    return ui->pcBurner->currentIndex();
}

void TMainForm::SetActivePageIndex(int Index)
{
    ui->pcBurner->setCurrentIndex(Index);
}

void TMainForm::FormCreate()
{
    FWelcome->WelcomeLabel()->setText(tr("Welcome to Blankora Wizard"));
    FWelcome->setWindowTitle(windowTitle());

    FFinish->setWindowTitle(windowTitle());
    FFinish->CompleteLabel()->setText(tr("Completing the Blankora Wizard"));
    const QPixmap welcomePicture = FWelcome->ImageLeft()->pixmap();
    FFinish->ImageLeft()->setPixmap(welcomePicture.copy());

    ui->Image1->setPixmap(LoadPicture(PicturePath(QStringLiteral("/blankoraicon.bmp"))));
}

void TMainForm::showEvent(QShowEvent *Event)
{
    QWidget::showEvent(Event);
    // A window that the system restores from its minimised state is not
    // shown anew.
    if (!Event->spontaneous())
        RunGuarded([this] { FormShow(); });
}

void TMainForm::FormShow()
{
    InitPageOrder();
    PageChanged();
    UpdateTexts();
    PreparePage(PageTransport);
}

// Refused while a page works (a device scan cannot be left half done). During
// the erase no page works: the window goes, the erase and the eject run to
// their end inside the Next click, and the program ends after it.
void TMainForm::closeEvent(QCloseEvent *Event)
{
    Event->setAccepted(FormClose());
}

bool TMainForm::FormClose()
{
    if (!FCanClose)
        return false;
    FWelcome->close();
    return true;
}

void TMainForm::InitPageOrder()
{
    TsbMainForm::InitPageOrder();
    FPageOrder << QStringLiteral("0") << QStringLiteral("2") << QStringLiteral("3")
               << QStringLiteral("4") << QStringLiteral("1");
}

void TMainForm::UpdateTexts()
{
    ui->ButtonNext->setText(tr("&Next >"));
    ui->ButtonPrev->setText(tr("< &Back"));
    ui->ButtonClose->setText(tr("Cancel"));
    FFinish->CompleteLabel()->setText(tr("Completing the Blankora Wizard"));
}

void TMainForm::PageChanged()
{
    const TWaitCursor waitCursor;
    switch (ActivePageIndex()) {
    case PageTransport:
        ui->TopPanel->setVisible(true);
        ui->ButtonNext->setText(tr("&Next >"));
        ui->ButtonClose->setText(tr("Cancel"));
        break;
    case PageOperation: {
        UpdateTitles();
        ui->TopPanel->setVisible(true);
        ui->ButtonPrev->setEnabled(false);
        ui->ButtonNext->setEnabled(false);
        ui->ButtonClose->setEnabled(false);
        FRunState = rsRunning;
        auto runEnded = [this] {
            ui->ButtonNext->setEnabled(true);
            if (ui->ButtonNext->isVisible())
                ui->ButtonNext->setFocus();
            FRunState = rsFinished;
        };
        try {
            RunOperation();
        } catch (...) {
            runEnded();
            UpdateButtons();
            UpdateTitles();
            throw;
        }
        runEnded();
        break;
    }
    case PageDevice:
    case PageErase:
    case PageSummary:
        ui->TopPanel->setVisible(true);
        ui->ButtonNext->setText(tr("&Next >"));
        break;
    default:
        break;
    }
    UpdateButtons();
    UpdateTitles();
}

void TMainForm::UpdateTitles()
{
    switch (ActivePageIndex()) {
    case PageTransport:
        ui->LabelTitle->setText(tr("SCSI Transport"));
        ui->LabelSubTitle->setText(tr("The SCSI transport is a method to access devices"));
        break;
    case PageOperation:
        ui->LabelTitle->setText(tr("Erasing"));
        ui->LabelSubTitle->setText(tr("Erasing CD/DVD disc..."));
        break;
    case PageDevice:
        ui->LabelTitle->setText(tr("Device Selection"));
        ui->LabelSubTitle->setText(tr("CD or DVD burning device to use for disc erasing."));
        break;
    case PageErase:
        ui->LabelTitle->setText(tr("Erasing options"));
        ui->LabelSubTitle->setText(tr("You can choose various erasing options."));
        break;
    case PageSummary:
        ui->LabelTitle->setText(tr("Options Summary"));
        ui->LabelSubTitle->setText(
            tr("Review the options you have chosen before proceed with erasing."));
        break;
    default:
        break;
    }
}

void TMainForm::UpdateButtons()
{
    // A running step keeps them off; it updates them when it ends.
    if (FStepRunning)
        return;
    ui->ButtonPrev->setEnabled(FRunState != rsFinished);
    ui->ButtonNext->setEnabled(true);
    ui->ButtonClose->setEnabled(FRunState != rsFinished);
}

void TMainForm::PageWorkBegin(QObject *Sender)
{
    TsbMainForm::PageWorkBegin(Sender);
    ui->ButtonPrev->setEnabled(false);
    ui->ButtonNext->setEnabled(false);
    ui->ButtonClose->setEnabled(false);
}

void TMainForm::RunStep(void (TMainForm::*Step)())
{
    if (FStepRunning)
        return;
    FStepRunning = true;
    // Off before the step serves any event, so no second click reaches it.
    ui->ButtonPrev->setEnabled(false);
    ui->ButtonNext->setEnabled(false);
    ui->ButtonClose->setEnabled(false);
    RunGuarded([this, Step] { (this->*Step)(); });
    // Also after a failed step: whatever it locked is free again.
    RunGuarded([this] { FreeDriveBeforeOptions(); });
    FStepRunning = false;
    if (FCanClose)
        UpdateButtons();
    if (FRunState == rsFinished && ui->ButtonNext->isVisible())
        ui->ButtonNext->setFocus();
}

void TMainForm::FreeDriveBeforeOptions()
{
    const int active = ActivePageIndex();
    if (active == PageTransport || active == PageDevice)
        FBurner->DestroyGrabber();
}

void TMainForm::ButtonNextClick()
{
    if (FRunState == rsFinished) {
        FFinish->move(pos());
        FFinish->show();
        FFinish->repaint();
        FFinish->DescriptionLabel()->setText(CompletionText());
        hide();
        return;
    }
    if (FOnOperationPage)
        return;

    const int active = ActivePageIndex();
    if (active == PageTransport) {
        StartLibrary();
        InitPageOrder();
    }
    if (!ValidatePage())
        return;
    BeforePageChange();
    const int next = GetNextPage(active);
    CommitPage(active);
    PreparePage(next);
    FOnOperationPage = next == PageOperation;
    SetActivePageIndex(next);
    PageChanged();
}

void TMainForm::ButtonPrevClick()
{
    FOnOperationPage = false;
    const int active = ActivePageIndex();
    if (active == PageTransport) {
        FWelcome->move(pos());
        FWelcome->show();
        FWelcome->repaint();
        hide();
        return;
    }
    const int prev = GetPrevPage(active);
    PageBack(active, prev);
    DropPageLog(active);
    DropPageActions(active);
    SetActivePageIndex(prev);
    PageChanged();
}

void TMainForm::ButtonCloseClick()
{
    if (FRunState != rsIdle)
        return;
    if (!close())
        return;
    FWelcome->close();
    FFinish->close();
}

bool TMainForm::ValidatePage()
{
    switch (ActivePageIndex()) {
    case PageDevice:
        ValidateDeviceChoice();
        break;
    case PageErase:
        FBurner->FEraseOptions = FErasePage->GetEraseOptions();
        break;
    default:
        break;
    }
    return true;
}

void TMainForm::ValidateDeviceChoice()
{
    TfrmSelectDevice *page = FDevicePage;
    page->FShowProgress = true;
    if (page->GetSelectedRow() == nullptr)
        throw EsbError(tr("You must select device that is supports burning CD/DVD"));
    // A drive refused to this user: looking again would not change that.
    if (page->GetSelectedState() == dsNoAccess)
        throw EsbError(page->GetSelectedProblemText());
    if (page->GetSelectedDiscInformation().Bytes[0] == 0) {
        // The disc may have gone in after the last scan: look once more,
        // quietly, before refusing.
        const TsbDeviceIdentity chosen = page->GetSelectedIdentity();
        page->FShowProgress = false;
        page->AttachBurner(FBurner.get());
        // The rescan selects another row when the chosen drive has gone; that
        // one the user did not choose.
        if (page->GetSelectedRow() == nullptr ||
            page->FindItemByIdentity(chosen) != page->GetSelectedRow())
            throw EsbError(tr("The drive %1 that you chose is no longer available. Check that "
                              "it is connected, click Refresh and choose a drive again")
                               .arg(chosen.DisplayName));
        if (page->GetSelectedDiscInformation().Bytes[0] == 0) {
            const QString problem = page->GetSelectedProblemText();
            throw EsbError(problem.isEmpty() ? tr("No writable disc is inserted") : problem);
        }
    }
    const DISC_TYPE discType = page->GetSelectedDiscType();
    if (!IsErasableDiscType(discType))
        throw EsbError(tr("No writable disc is inserted"));

    FBurner->FDeviceAddress = page->GetSelectedAddress();
    FBurner->FDiscSpace = page->GetSelectedDiscSpace();
    FBurner->FDiscType = discType;
    page->GetSelectedDevicePath(FBurner->FDeviceName);
    const TsbDeviceIdentity identity = page->GetSelectedIdentity();
    FBurner->FDiscLabel = page->GetSelectedDiscLabel();
    FBurner->FDriveNode = identity.Node;
    const TsbDeviceInfo info = page->GetSelectedDeviceInfo();
    FBurner->FDriveVendor = info.Vendor;
    FBurner->FDriveProduct = info.Product;
    FBurner->FDriveRevision = info.ProductRevisionLevel;
    FBurner->FTransportType = FTransportPage->GetTransport();
    try {
        FBurner->CreateGrabber();
    } catch (const EsbError &error) {
        throw EsbError(tr("The drive %1 could not be opened for erasing (%2). Check that it is "
                          "connected, click Refresh and choose a drive again")
                           .arg(identity.DisplayName, error.Message()));
    }
    const QString mountPoint = FBurner->MountPoint();
    if (!mountPoint.isEmpty()) {
        FBurner->DestroyGrabber();
        throw EsbMountedDisc(
            tr("The disc in the drive %1 is mounted at %2, so it cannot be erased. "
               "Unmount it (for example with the eject button of your file manager, or "
               "with the command umount \"%2\"), then click Next again")
                .arg(identity.DisplayName, mountPoint),
            identity.Node);
    }
    if (!FBurner->LockWritable())
        throw EsbError(tr("The drive %1 can be read but not written by your user, so its disc "
                          "cannot be erased. On Linux, optical drives belong to the group "
                          "\"cdrom\": add yourself to it with the command sudo adduser $USER "
                          "cdrom, then log out and log in again")
                           .arg(identity.DisplayName));
}

void TMainForm::PageBack(int PageLeft, int PageEntered)
{
    Q_UNUSED(PageLeft);
    // The tray was locked when the device page was left forwards.
    if (PageEntered == PageDevice)
        FBurner->DestroyGrabber();
}

void TMainForm::CommitPage(int Page)
{
    switch (Page) {
    case PageTransport:
        FLog->Clear();
        FLog->Add()->LogMessage = tr("Erasing Disc");
        break;
    case PageDevice:
        DropPageActions(PageDevice);
        DropPageLog(PageDevice);
        CollectPageLog(FDevicePage, PageDevice);
        break;
    case PageErase:
        DropPageLog(PageErase);
        DropPageActions(PageErase);
        CollectPageLog(FErasePage, PageErase);
        CollectPageActions(FErasePage, PageErase);
        break;
    default:
        break;
    }
}

template <class TPage> TPage *TMainForm::EnsurePage(TPage *&Field, QWidget *Panel)
{
    if (Field == nullptr) {
        Field = new TPage();
        Field->DockInto(Panel);
    }
    return Field;
}

void TMainForm::ShowPage(TsbDockForm *Page)
{
    Page->AttachBurner(FBurner.get());
    Page->show();
}

void TMainForm::PreparePage(int Page)
{
    switch (Page) {
    case PageTransport:
        ShowPage(EnsurePage(FTransportPage, ui->pnlTs0));
        break;
    case PageOperation:
        PrepareOperationPage();
        break;
    case PageDevice:
        PrepareDevicePage();
        break;
    case PageErase:
        // Attaching reads the drive's speeds for the inserted disc.
        ShowPage(EnsurePage(FErasePage, ui->pnlTs3));
        break;
    case PageSummary:
        PrepareSummaryPage();
        break;
    default:
        break;
    }
}

void TMainForm::PrepareOperationPage()
{
    if (FOperationPage == nullptr) {
        EnsurePage(FOperationPage, ui->pnlFinalPage);
        FOperationPage->SetLogCaptions(tr("Erasing Log:"),
                                       tr("Click Save Log to save Erasing Log text to a file."));
    }
    FOperationPage->FLog = FLog.get();
    FOperationPage->FActionList = FActionList.get();
    FOperationPage->SetShowBuffer(false);
    ShowPage(FOperationPage);
}

void TMainForm::PrepareDevicePage()
{
    if (FDevicePage == nullptr) {
        EnsurePage(FDevicePage, ui->pnlTs2);
        FDevicePage->FScanInfoText =
            tr("Blankora Wizard is scanning your system for CD and DVD devices.");
    }
    FDevicePage->OnWorkBegin = [this](QObject *Sender) { PageWorkBegin(Sender); };
    FDevicePage->OnWorkEnd = [this](QObject *Sender) { PageWorkEnd(Sender); };
    FDevicePage->FShowAllDevices = false;
    FBurner->FTransportType = FTransportPage->GetTransport();
    // Attaching scans for devices.
    ShowPage(FDevicePage);
}

void TMainForm::PrepareSummaryPage()
{
    EnsurePage(FSummaryPage, ui->pnlTs4);
    QString devicePath;
    FDevicePage->GetSelectedDevicePath(devicePath);
    FSummaryPage->BuildSummary(FDevicePage->GetSelectedDeviceInfo(), devicePath,
                               FDevicePage->GetSelectedDiscType(), FTransportPage->GetTransport(),
                               FErasePage->GetEraseOptions(), FErasePage->GetSpeedText());
    ShowPage(FSummaryPage);
}

// No control offers to cancel a started erase: it always runs to its end.
void TMainForm::RunOperation()
{
    FBurner->FSucceeded = true;
    FBurner->FCancelled = false;
    FOperationPage->RunActions();
}

QString TMainForm::CompletionText() const
{
    if (FBurner->FSucceeded && !FBurner->FCancelled)
        return tr("You have successfully completed the Disc Erasing Wizard");
    if (FBurner->FCancelled)
        return tr("Disc erasing was cancelled by user!");
    return tr("Blankora Wizard has finished with error");
}

void TMainForm::keyPressEvent(QKeyEvent *Event)
{
    if (!PressDefaultButton(Event, ui->ButtonNext))
        QWidget::keyPressEvent(Event);
}
