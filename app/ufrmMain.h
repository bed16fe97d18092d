#pragma once

#include "framework/sbMainForm.h"

class TfrmFinish;
class TfrmWelcome;
class TSelectTransportForm;
class TfrmFinalAction;
class TfrmSelectDevice;
class TfrmEraseDisc;
class TfrmOptionsSummary;

namespace Ui {
class TMainForm;
}

// The wizard window: a header with the page's title, the five pages on a
// page control without tab buttons, and Back, Next and Cancel. It leads
// through transport, device selection, erase options, summary and operation,
// and hands over to the welcome window (Back on the first page) and to the
// completion window (Next after the run).
class TMainForm : public TsbMainForm
{
    Q_OBJECT

public:
    // The welcome and completion windows exist already; construction ends
    // with FormCreate, which fills in their captions, texts and picture.
    TMainForm(TfrmWelcome *Welcome, TfrmFinish *Finish, QWidget *parent = nullptr);
    ~TMainForm() override;

    void InitPageOrder() override;
    void PageWorkBegin(QObject *Sender) override;
    void UpdateButtons() override;
    void UpdateTexts() override;
    // Checks the page that Next leaves; raises EsbError with the text to show.
    bool ValidatePage() override;
    void PageBack(int PageLeft, int PageEntered) override;

    // Active page index of pcBurner: 0 transport, 1 operation, 2 device
    // selection, 3 erase options, 4 summary.
    int ActivePageIndex() const;

    TSelectTransportForm *TransportPage() const { return FTransportPage; }
    TfrmFinalAction *OperationPage() const { return FOperationPage; }
    TfrmSelectDevice *DevicePage() const { return FDevicePage; }
    TfrmEraseDisc *ErasePage() const { return FErasePage; }
    TfrmOptionsSummary *SummaryPage() const { return FSummaryPage; }

    // The close through the window frame: refused while a page works, else the
    // welcome window goes too, which ends the program. Returns whether the
    // close is accepted.
    bool FormClose();

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;

    // Steps taken on the pages as the user moves on. CommitPage takes over
    // what the page being left by Next holds; PreparePage creates the page
    // about to be shown on first need, docks it and shows it; RunOperation is
    // the run on the operation page; CompletionText is the outcome text for
    // the completion window.
    virtual void CommitPage(int Page);
    virtual void PreparePage(int Page);
    virtual void RunOperation();
    virtual QString CompletionText() const;

private:
    void FormCreate();
    void FormShow();
    void ButtonNextClick();
    void ButtonPrevClick();
    void ButtonCloseClick();
    // Runs the step of a button once at a time: a click that arrives while a
    // step runs (served by the step's own event processing) is dropped.
    void RunStep(void (TMainForm::*Step)());
    // Unlocks and frees the drive while the wizard stands before the options page.
    void FreeDriveBeforeOptions();
    void PageChanged();
    void UpdateTitles();
    void SetActivePageIndex(int Index);
    void ValidateDeviceChoice();
    void ShowPage(TsbDockForm *Page);
    void PrepareOperationPage();
    void PrepareDevicePage();
    void PrepareSummaryPage();
    template <class TPage> TPage *EnsurePage(TPage *&Field, QWidget *Panel);

    Ui::TMainForm *ui;
    TfrmWelcome *FWelcome;
    TfrmFinish *FFinish;

    TfrmFinalAction *FOperationPage = nullptr;
    TfrmSelectDevice *FDevicePage = nullptr;
    TfrmEraseDisc *FErasePage = nullptr;
    TSelectTransportForm *FTransportPage = nullptr;
    TfrmOptionsSummary *FSummaryPage = nullptr;
    bool FStepRunning = false;
};
