#include "pages/ufrmSelectTransport.h"

#include "platform/sbPlatform.h"

#include "ui_ufrmSelectTransport.h"

TSelectTransportForm::TSelectTransportForm(QWidget *parent)
    : TsbDockForm(parent), ui(new Ui::TSelectTransportForm)
{
    ui->setupUi(this);
    FormCreate();
}

TSelectTransportForm::~TSelectTransportForm()
{
    delete ui;
}

void TSelectTransportForm::FormCreate()
{
    if (IsSptiAvailable()) {
        ui->rbSpti->setChecked(true);
    } else {
        ui->rbSpti->setEnabled(false);
        ui->rbAspi->setChecked(true);
    }
}

TsbTransportType TSelectTransportForm::GetTransport() const
{
    return ui->rbSpti->isChecked() ? ttSpti : ttAspi;
}
