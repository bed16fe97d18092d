#include "pages/ufrmFinalAction.h"

#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErrors.h"
#include "framework/sbMessageBox.h"
#include "platform/sbDesktopNotify.h"
#include "util/sbUtils.h"

#include "ui_ufrmFinalAction.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScopeGuard>
#include <QThread>
#include <QTreeWidgetItem>

#include <algorithm>
#include <exception>

namespace {

// Our own 16x16 signs of the three kinds of log lines.
QIcon PaintLogIcon(TsbLogItemType Kind)
{
    QPixmap Pixmap(16, 16);
    Pixmap.fill(Qt::transparent);
    QPainter G(&Pixmap);
    G.setRenderHint(QPainter::Antialiasing);
    switch (Kind) {
    case litInfo: {
        QPainterPath Bubble;
        Bubble.addEllipse(QRectF(1.5, 1.5, 13, 10));
        Bubble.addPolygon(QPolygonF{QPointF(4, 9.5), QPointF(3, 14.5), QPointF(8.5, 11)});
        G.setPen(QPen(QColor(96, 96, 96), 1));
        G.setBrush(Qt::white);
        G.drawPath(Bubble.simplified());
        G.setPen(Qt::NoPen);
        G.setBrush(QColor(0, 70, 200));
        G.drawEllipse(QRectF(7, 3, 2, 2));
        G.drawRect(QRectF(7, 6, 2, 4.5));
        break;
    }
    case litError:
        G.setPen(QPen(QColor(140, 0, 0), 1));
        G.setBrush(QColor(210, 20, 20));
        G.drawEllipse(QRectF(1, 1, 14, 14));
        G.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        G.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        G.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
        break;
    case litWarning:
        G.setPen(QPen(Qt::black, 1));
        G.setBrush(QColor(255, 210, 0));
        G.drawPolygon(QPolygonF{QPointF(8, 1), QPointF(15, 14.5), QPointF(1, 14.5)});
        G.setPen(Qt::NoPen);
        G.setBrush(Qt::black);
        G.drawRect(QRectF(7.25, 5, 1.5, 5.5));
        G.drawRect(QRectF(7.25, 11.5, 1.5, 1.5));
        break;
    }
    return QIcon(Pixmap);
}

QString PercentText(int Percent)
{
    return QCoreApplication::translate("TfrmFinalAction", "%1 %").arg(Percent);
}

} // namespace

TfrmFinalAction::TfrmFinalAction(QWidget *parent)
    : TsbDockForm(parent), ui(new Ui::TfrmFinalAction),
      sdSaveLog(new QFileDialog(this)), imlSmall{PaintLogIcon(litInfo), PaintLogIcon(litError),
                                                 PaintLogIcon(litWarning)}
{
    ui->setupUi(this);

    // The time column is as wide as its texts; the information takes the rest.
    QHeaderView *Header = ui->lvLog->header();
    Header->setSectionsClickable(false);
    Header->setStretchLastSection(false);
    Header->setSectionResizeMode(0, QHeaderView::Stretch);
    Header->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    sdSaveLog->setAcceptMode(QFileDialog::AcceptSave);
    sdSaveLog->setFileMode(QFileDialog::AnyFile);
    sdSaveLog->setDefaultSuffix(QStringLiteral("txt"));
    sdSaveLog->setNameFilter(tr("Text files (*.txt)"));
    sdSaveLog->setSizeGripEnabled(true);

    connect(ui->btnSaveLog, &QPushButton::clicked, this, &TfrmFinalAction::btnSaveLogClick);

    SetShowBuffer(false);
    ui->lablProgressCaption->setText(QString());
    QCoreApplication::processEvents();
}

TfrmFinalAction::~TfrmFinalAction()
{
    FLog = nullptr;
    FActionList = nullptr;
    delete ui;
}

void TfrmFinalAction::showEvent(QShowEvent *Event)
{
    TsbDockForm::showEvent(Event);
    FormShow();
}

void TfrmFinalAction::FormShow()
{
    if (FShowBuffer)
        return;
    // Only the percentage and the bar stand above the log.
    ui->pnlTop->setMinimumHeight(36);
    ui->pnlTop->repaint();
    ui->lvLog->repaint();
    ui->lblBurningLog->repaint();
    QCoreApplication::processEvents();
}

void TfrmFinalAction::SetShowBuffer(bool ShowBuffer)
{
    FShowBuffer = ShowBuffer;
    ui->lblBufferStatus->setVisible(ShowBuffer);
    ui->pbBuffer->setVisible(ShowBuffer);
    ui->lblBufferValue->setVisible(ShowBuffer);
    ui->lablProgressCaption->setVisible(ShowBuffer);

    // With the buffer row the percentage stands right of the bar, else
    // centred above it, where the hidden caption would be.
    auto *Grid = static_cast<QGridLayout *>(ui->pnlTop->layout());
    QLabel *Percent = ui->lblProcentValue;
    Grid->removeWidget(Percent);
    Grid->removeWidget(ui->pbWrite);
    if (ShowBuffer) {
        Grid->addWidget(ui->pbWrite, 1, 0);
        Grid->addWidget(Percent, 1, 1);
        Percent->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    } else {
        Grid->addWidget(Percent, 0, 0, 1, 2);
        Grid->addWidget(ui->pbWrite, 1, 0, 1, 2);
        Percent->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    }
    layout()->activate();
    Grid->activate();
}

void TfrmFinalAction::SetLogCaptions(const QString &LogCaption, const QString &SaveHint)
{
    ui->lblBurningLog->setText(LogCaption);
    ui->Label2->setText(SaveHint);
}

void TfrmFinalAction::AttachBurner(TsbBurner *Burner)
{
    TsbDockForm::AttachBurner(Burner);
    ResetProgress();

    QTreeWidget *List = ui->lvLog;
    List->setUpdatesEnabled(false);
    const auto EndBatch = qScopeGuard([List] { List->setUpdatesEnabled(true); });
    List->clear();
    if (FLog != nullptr) {
        QList<QTreeWidgetItem *> Rows;
        for (int I = 0; I < FLog->Count(); ++I) {
            const TsbLogItem *Line = FLog->Items(I);
            // Lines collected before the run are all shown as information.
            auto *Row = new QTreeWidgetItem;
            Row->setText(0, Line->LogMessage);
            Row->setToolTip(0, Line->LogMessage);
            Row->setIcon(0, imlSmall[litInfo]);
            Row->setData(0, Qt::UserRole, static_cast<int>(litInfo));
            Row->setText(1,
                         Line->LogTime.isValid() ? TimeOfDayText(Line->LogTime.time()) : QString());
            Rows.append(Row);
        }
        List->addTopLevelItems(Rows);
    }
}

void TfrmFinalAction::ResetProgress()
{
    ui->pbWrite->setValue(0);
    ui->lblProcentValue->setText(PercentText(0));
    ui->pbBuffer->setValue(0);
    ui->lblBufferValue->setText(PercentText(0));
    ui->pbBuffer->setEnabled(true);
}

void TfrmFinalAction::RunActions()
{
    ui->btnSaveLog->setEnabled(false);
    ResetProgress();
    FRunFailed = false;

    if (GCallBackEventer != nullptr) {
        // With the page as context, raises from the erase thread are queued
        // onto this thread; raises on this thread arrive directly.
        FProgressConnection = connect(GCallBackEventer, &TsbCallBackEventer::OnProgress, this,
                                      &TfrmFinalAction::ProgressChanged);
        FBufferConnection = connect(GCallBackEventer, &TsbCallBackEventer::OnBuffer, this,
                                    &TfrmFinalAction::BufferChanged);
    }
    if (FActionList != nullptr) {
        FActionList->FOnMessage = [this](QObject *Sender, const QString &Text,
                                         TsbLogItemType Kind) {
            QMetaObject::invokeMethod(
                this, [this, Sender, Text, Kind] { AddLogLine(Sender, Text, Kind); },
                Qt::AutoConnection);
        };
        FActionList->BindActions();
        FActionList->FBurner = FBurner;
    }

    RunActionItems();

    GReason11Enabled = false;
    if (FActionList != nullptr) {
        FActionList->FBurner = nullptr;
        // The actions must not reach this page once the run is over.
        FActionList->FOnMessage = nullptr;
        FActionList->BindActions();
    }
    disconnect(FBufferConnection);
    disconnect(FProgressConnection);
    // Lines and progress the worker raised just before it ended come first.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);

    ProgressChanged(GCallBackEventer, 100);
    ui->pbBuffer->setValue(0);
    ui->lblBufferValue->setText(PercentText(0));

    if (FBurner != nullptr)
        ReleaseAfterRun();
    ui->btnSaveLog->setEnabled(true);
    if (FBurner != nullptr && !window()->isActiveWindow())
        NotifyEraseEnded(FBurner->FCancelled   ? eoCancelled
                         : FBurner->FSucceeded ? eoSucceeded
                                               : eoFailed,
                         FBurner->FDeviceName, FBurner->FLastMessage);
}

void TfrmFinalAction::ReleaseAfterRun()
{
    QString Failure;
    try {
        FBurner->ReleaseServingWindow();
    } catch (const EsbError &Error) {
        Failure = Error.Message();
    } catch (const std::exception &Error) {
        Failure = QString::fromLocal8Bit(Error.what());
    }
    // A log that failed during the run fails here again: it is shown once.
    if (!Failure.isEmpty() && !FRunFailed) {
        AddLogLine(this, Failure, litError);
        ShowErrorMessage(Failure);
    }
    if (FRunFailed)
        FBurner->FSucceeded = false;
}

void TfrmFinalAction::RunActionItems()
{
    if (FActionList == nullptr)
        return;
    QString Failure;
    try {
        for (int I = 0; I < FActionList->Count(); ++I) {
            TsbActionItem *Item = FActionList->Items(I);
            if (Item->FAction != nullptr)
                Item->FAction->Execute(Item);
        }
        return;
    } catch (const EsbError &Error) {
        Failure = Error.Message();
    } catch (const std::exception &Error) {
        Failure = QString::fromLocal8Bit(Error.what());
    } catch (...) {
        Failure = tr("The operation failed unexpectedly.");
    }
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    AddLogLine(this, Failure, litError);
    ShowErrorMessage(Failure);
}

void TfrmFinalAction::AddLogLine(QObject *, const QString &Text, TsbLogItemType Kind)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (Kind == litError)
        FRunFailed = true;
    const int Icon = std::clamp(static_cast<int>(Kind), 0, static_cast<int>(imlSmall.size()) - 1);
    auto *Row = new QTreeWidgetItem(ui->lvLog);
    Row->setText(0, Text);
    // A long reason (a failed eject) is cut at the list's edge; its tooltip shows it whole.
    Row->setToolTip(0, Text);
    Row->setIcon(0, imlSmall[Icon]);
    Row->setData(0, Qt::UserRole, Icon);
    Row->setText(1, TimeOfDayText(QTime::currentTime()));
    ui->lvLog->scrollToItem(Row);
    QCoreApplication::processEvents();
}

void TfrmFinalAction::ProgressChanged(QObject *, int Percent)
{
    Q_ASSERT(QThread::currentThread() == thread());
    // The drive's own progress and the time estimate both arrive here; the
    // larger one stands until the next run resets the bar.
    const int Shown = std::max(ui->pbWrite->value(), std::min(Percent, 100));
    ui->pbWrite->setValue(Shown);
    ui->lblProcentValue->setText(PercentText(Shown));
    QCoreApplication::processEvents();
}

void TfrmFinalAction::BufferChanged(QObject *, int Percent)
{
    Q_ASSERT(QThread::currentThread() == thread());
    // The bar cannot show more than full or less than empty; the text shows the value as it came.
    ui->pbBuffer->setValue(std::clamp(Percent, 0, 100));
    ui->lblBufferValue->setText(PercentText(Percent));
    QCoreApplication::processEvents();
}

QString TfrmFinalAction::ProposedLogFileName(const QDateTime &Moment)
{
    const QDate Day = Moment.date();
    const QTime Time = Moment.time();
    return QStringLiteral("Log_") + ZeroPad(Day.day(), 2) + ZeroPad(Day.month(), 2) +
           QStringLiteral("_") + ZeroPad(Time.hour(), 2) + ZeroPad(Time.minute(), 2) +
           QStringLiteral(".txt");
}

QString TfrmFinalAction::TimeOfDayText(const QTime &Time)
{
    // The long format may carry a time zone ('t'), which a time of day has not.
    const QString Format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString Kept;
    bool Quoted = false;
    for (const QChar C : Format) {
        if (C == u'\'')
            Quoted = !Quoted;
        if (Quoted || C != u't')
            Kept += C;
    }
    return QLocale::system().toString(Time, Kept.trimmed());
}

void TfrmFinalAction::btnSaveLogClick()
{
    sdSaveLog->selectFile(ProposedLogFileName(QDateTime::currentDateTime()));
    QString FileName;
    if (FChooseLogFile)
        FileName = FChooseLogFile(*sdSaveLog);
    else if (sdSaveLog->exec() == QDialog::Accepted)
        FileName = sdSaveLog->selectedFiles().value(0);
    if (FileName.isEmpty())
        return;

    try {
        // The dialog has asked before overwriting; the old content goes entirely.
        if (QFileInfo::exists(FileName) && !QFile::remove(FileName))
            throw EsbError(tr("Cannot replace the file %1. Check that you may write to it "
                              "and to its folder, or choose another name.")
                               .arg(QDir::toNativeSeparators(FileName)));
        const QString NoTime(8, u' ');
        for (int I = 0; I < ui->lvLog->topLevelItemCount(); ++I) {
            const QTreeWidgetItem *Row = ui->lvLog->topLevelItem(I);
            const QString Time = Row->text(1);
            AppendLineToFile(FileName, (Time.isEmpty() ? NoTime : Time) + u' ' + Row->text(0));
        }
    } catch (const EsbError &Error) {
        ShowErrorMessage(Error.Message());
    } catch (const std::exception &Error) {
        ShowErrorMessage(QString::fromLocal8Bit(Error.what()));
    }
}
