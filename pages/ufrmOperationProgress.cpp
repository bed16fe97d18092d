#include "pages/ufrmOperationProgress.h"

#include "framework/sbMainForm.h"

#include "ui_ufrmOperationProgress.h"

#include <QEvent>
#include <QPainter>
#include <QScreen>

namespace {

constexpr int StripWidth = 352;
constexpr int StripHeight = 18;
constexpr int BlockCount = 16;

// Frame N: a row of blocks in which every fourth block, shifted by N, is lit,
// so that the light seems to run from left to right.
QPixmap DrawFrame(int N)
{
    QPixmap Frame(StripWidth, StripHeight);
    Frame.fill(Qt::transparent);
    QPainter Painter(&Frame);
    Painter.setRenderHint(QPainter::Antialiasing);
    const int Step = StripWidth / BlockCount;
    for (int Block = 0; Block < BlockCount; ++Block) {
        const bool Lit = Block % TAnimate::FrameCount == N;
        Painter.setPen(QColor(0x30, 0x50, 0x90));
        Painter.setBrush(Lit ? QColor(0x40, 0x90, 0xf0) : QColor(0xd8, 0xe0, 0xee));
        Painter.drawRoundedRect(QRectF(Block * Step + 2, 2, Step - 4, StripHeight - 4), 3, 3);
    }
    return Frame;
}

} // namespace

TAnimate::TAnimate(QWidget *Parent) : QWidget(Parent)
{
    for (int N = 0; N < FrameCount; ++N)
        FFrames[static_cast<std::size_t>(N)] = DrawFrame(N);
    setFixedSize(StripWidth, StripHeight);
    FTimer.setInterval(FrameMs);
    connect(&FTimer, &QTimer::timeout, this, &TAnimate::NextFrame);
}

void TAnimate::Play()
{
    FFrame = 0;
    FTimer.start();
    update();
}

void TAnimate::Stop()
{
    FTimer.stop();
}

void TAnimate::NextFrame()
{
    FFrame = (FFrame + 1) % FrameCount;
    update();
}

void TAnimate::paintEvent(QPaintEvent *)
{
    QPainter Painter(this);
    Painter.drawPixmap(0, 0, FFrames[static_cast<std::size_t>(FFrame)]);
}

TfrmOperationProgress::TfrmOperationProgress(QWidget *Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(new Ui::TfrmOperationProgress)
{
    ui->setupUi(this);
    KeepWrappedTextsWhole(this);
    ui->lblCancelling->hide();
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmOperationProgress::btnCancelClick);
    FormCreate();
}

void TfrmOperationProgress::FormCreate()
{
    ui->lblInfo->clear();
    FShowing = false;
    ui->Animate->Stop();
}

TfrmOperationProgress::~TfrmOperationProgress()
{
    delete ui;
}

void TfrmOperationProgress::SetCaption(const QString &Caption)
{
    setWindowTitle(Caption);
}

void TfrmOperationProgress::SetInfoText(const QString &Text)
{
    ui->lblInfo->setText(Text);
}

void TfrmOperationProgress::SetCancelVisible(bool Visible)
{
    ui->btnCancel->setVisible(Visible);
}

void TfrmOperationProgress::SetOnCancel(std::function<void()> Handler)
{
    if (Handler)
        FOnCancel = [Handler](QObject *) { Handler(); };
    else
        FOnCancel = nullptr;
}

void TfrmOperationProgress::ShowDialog()
{
    if (const QScreen *Screen = screen())
        move(Screen->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
}

void TfrmOperationProgress::HideDialog()
{
    hide();
}

void TfrmOperationProgress::reject() {}

void TfrmOperationProgress::showEvent(QShowEvent *Event)
{
    QDialog::showEvent(Event);
    ui->Animate->Play();
    FShowing = true;
}

void TfrmOperationProgress::hideEvent(QHideEvent *Event)
{
    ui->Animate->Stop();
    FShowing = false;
    QDialog::hideEvent(Event);
}

void TfrmOperationProgress::changeEvent(QEvent *Event)
{
    QDialog::changeEvent(Event);
    if (Event->type() == QEvent::ActivationChange && !isActiveWindow())
        FormDeactivate();
}

void TfrmOperationProgress::FormDeactivate()
{
    if (!FShowing)
        return;
    raise();
    activateWindow();
}

void TfrmOperationProgress::btnCancelClick()
{
    if (!FOnCancel)
        return;
    ui->lblCancelling->setVisible(true);
    ui->btnCancel->setEnabled(false);
    FOnCancel(this);
}
