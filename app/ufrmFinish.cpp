#include "app/ufrmFinish.h"

#include "app/uDefaultButton.h"
#include "framework/sbMainForm.h"

#include "ui_ufrmFinish.h"

#include <QCloseEvent>

TfrmFinish::TfrmFinish(QWidget *parent) : QWidget(parent), ui(new Ui::TfrmFinish)
{
    ui->setupUi(this);
    KeepWrappedTextsWhole(this);
    connect(ui->ButtonNext, &QPushButton::clicked, this, &TfrmFinish::ButtonNextClick);
}

TfrmFinish::~TfrmFinish()
{
    delete ui;
}

QLabel *TfrmFinish::CompleteLabel() const
{
    return ui->CompleteLabel;
}

QLabel *TfrmFinish::DescriptionLabel() const
{
    return ui->DescriptionLabel;
}

QLabel *TfrmFinish::ImageLeft() const
{
    return ui->ImageLeft;
}

void TfrmFinish::ButtonNextClick()
{
    close();
}

// Closing the completion window, by Finish or through its frame, ends the
// program.
void TfrmFinish::closeEvent(QCloseEvent *Event)
{
    Event->accept();
    if (FProgramMainWindow != nullptr)
        FProgramMainWindow->close();
}

void TfrmFinish::keyPressEvent(QKeyEvent *Event)
{
    if (!PressDefaultButton(Event, ui->ButtonNext))
        QWidget::keyPressEvent(Event);
}
