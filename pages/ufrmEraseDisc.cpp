#include "pages/ufrmEraseDisc.h"

#include "framework/sbActions.h"
#include "framework/sbErase.h"
#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "framework/sbSpeedList.h"

#include "ui_ufrmEraseDisc.h"

#include <QPalette>

TfrmEraseDisc::TfrmEraseDisc(QWidget *parent)
    : TsbDockForm(parent), ui(new Ui::TfrmEraseDisc), FEraseAction(new TsbEraseAction),
      FActionList(new TsbActionList), FLog(new TsbLog), FSpeedList(new TsbDiscSpeedList)
{
    ui->setupUi(this);
    QPalette Palette = ui->lblWarning->palette();
    Palette.setColor(QPalette::WindowText, Qt::red);
    ui->lblWarning->setPalette(Palette);
}

TfrmEraseDisc::~TfrmEraseDisc()
{
    delete ui;
}

void TfrmEraseDisc::UpdateTexts()
{
    ui->lblWarning->setText(tr("Warning! All existing data will be lost after erasing"));
}

void TfrmEraseDisc::AttachBurner(TsbBurner *Burner)
{
    TsbDockForm::AttachBurner(Burner);
    // Emptied first: a failed read must not leave texts of the old list that
    // no longer have a speed item behind them.
    ui->cmbSpeed->clear();
    FSpeedList->BuildSpeedList(Burner);
    for (int I = 0; I < FSpeedList->Count(); ++I)
        ui->cmbSpeed->addItem(FSpeedList->Items(I)->StrSpeed);
    if (ui->cmbSpeed->count() > 0)
        ui->cmbSpeed->setCurrentIndex(ui->cmbSpeed->count() - 1);
}

TsbLog *TfrmEraseDisc::GetPageLog()
{
    FLog->Clear();
    return FLog.get();
}

TsbActionList *TfrmEraseDisc::GetPageActions()
{
    FActionList->Clear();
    FActionList->Add()->FAction = FEraseAction.get();
    return FActionList.get();
}

TsbEraseOptions TfrmEraseDisc::GetEraseOptions() const
{
    if (!HasSpeeds())
        throw EsbError(NoSpeedText());
    const TsbDiscSpeedItem *Speed = FSpeedList->Items(ui->cmbSpeed->currentIndex());
    TsbEraseOptions Options;
    Options.FullErase = ui->rbFullErase->isChecked();
    Options.SpeedInPoint = Speed->SpeedInPoint;
    Options.SpeedInSize = Speed->SpeedInSize;
    Options.Eject = true;
    return Options;
}

QString TfrmEraseDisc::GetSpeedText() const
{
    return ui->cmbSpeed->currentText();
}

bool TfrmEraseDisc::HasSpeeds() const
{
    const int Index = ui->cmbSpeed->currentIndex();
    return Index >= 0 && Index < FSpeedList->Count();
}

QString TfrmEraseDisc::NoSpeedText()
{
    return tr("The drive reported no erasing speed for this disc. Check the disc and try again.");
}
