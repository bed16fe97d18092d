#include "app/ufrmWelcome.h"

#include "app/uDefaultButton.h"
#include "app/uPictures.h"
#include "framework/sbMainForm.h"

#include "ui_ufrmWelcome.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScreen>

TfrmWelcome::TfrmWelcome(QWidget *parent) : QWidget(parent), ui(new Ui::TfrmWelcome)
{
    ui->setupUi(this);
    KeepWrappedTextsWhole(this);
    connect(ui->ButtonNext, &QPushButton::clicked, this, &TfrmWelcome::ButtonNextClick);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &TfrmWelcome::ButtonCloseClick);
    FormCreate();
}

TfrmWelcome::~TfrmWelcome()
{
    delete ui;
}

QLabel *TfrmWelcome::WelcomeLabel() const
{
    return ui->WelcomeLabel;
}

QLabel *TfrmWelcome::ImageLeft() const
{
    return ui->ImageLeft;
}

void TfrmWelcome::FormCreate()
{
    GPictureFolder = QStringLiteral("bres");
    ui->ImageLeft->setPixmap(LoadPicture(PicturePath(QStringLiteral("/blankora.bmp"))));
}

// Centred on the desktop the first time it is shown; afterwards it keeps the
// place the wizard window hands back.
void TfrmWelcome::showEvent(QShowEvent *Event)
{
    if (!FPlaced) {
        FPlaced = true;
        if (const QScreen *desktop = screen())
            move(desktop->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(Event);
}

void TfrmWelcome::closeEvent(QCloseEvent *Event)
{
    Event->accept();
    QCoreApplication::quit();
}

void TfrmWelcome::ButtonNextClick()
{
    if (FWizardWindow == nullptr)
        return;
    FWizardWindow->move(pos());
    FWizardWindow->show();
    FWizardWindow->repaint();
    hide();
}

void TfrmWelcome::ButtonCloseClick()
{
    close();
}

void TfrmWelcome::keyPressEvent(QKeyEvent *Event)
{
    if (!PressDefaultButton(Event, ui->ButtonNext))
        QWidget::keyPressEvent(Event);
}
