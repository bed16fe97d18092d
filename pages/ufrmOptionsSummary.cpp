#include "pages/ufrmOptionsSummary.h"

#include "framework/sbDevice.h"
#include "util/sbUtils.h"

#include "ui_ufrmOptionsSummary.h"

#include <QPalette>
#include <QStringList>

TfrmOptionsSummary::TfrmOptionsSummary(QWidget *parent)
    : TsbDockForm(parent), ui(new Ui::TfrmOptionsSummary)
{
    ui->setupUi(this);
    QPalette Palette = ui->edtSummary->palette();
    Palette.setColor(QPalette::Base, palette().color(QPalette::Window));
    ui->edtSummary->setPalette(Palette);
    ui->lblName->setText(tr("Disc will be erased with the following options chosen:"));
    ui->lblNextAction->setText(tr("Click Next to begin disc erasing."));
}

TfrmOptionsSummary::~TfrmOptionsSummary()
{
    delete ui;
}

QString TfrmOptionsSummary::TrimIdentity(const QString &Text)
{
    qsizetype First = 0;
    qsizetype Last = Text.size();
    while (First < Last && Text.at(First).unicode() <= u' ')
        ++First;
    while (Last > First && Text.at(Last - 1).unicode() <= u' ')
        --Last;
    return Text.mid(First, Last - First);
}

void TfrmOptionsSummary::BuildSummary(const TsbDeviceInfo &Info, const QString &DevicePath,
                                      DISC_TYPE DiscType, TsbTransportType Transport,
                                      const TsbEraseOptions &Options, const QString &SpeedText)
{
    ui->lblName->setText(tr("Disc will be erased with the following options chosen:"));
    const QStringList Lines{
        tr("Drive: %1 %2 (%3)")
            .arg(TrimIdentity(Info.Product), TrimIdentity(Info.ProductRevisionLevel),
                 StripDevicePrefix(DevicePath)),
        Transport == ttAspi ? tr("Transport: ASPI") : tr("Transport: SPTI"),
        tr("Disc Type: %1").arg(GetDiscTypeName(DiscType)),
        tr("Erase Type: %1").arg(Options.FullErase ? tr("Full") : tr("Fast")),
        tr("Erasing Speed: %1").arg(SpeedText),
        tr("Eject: %1").arg(Options.Eject ? tr("Yes") : tr("No")),
    };
    ui->edtSummary->clear();
    ui->edtSummary->setPlainText(Lines.join(u'\n'));
}
