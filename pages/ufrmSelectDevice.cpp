#include "pages/ufrmSelectDevice.h"

#include "framework/sbBurner.h"
#include "framework/sbMessageBox.h"
#include "pages/ufrmOperationProgress.h"
#include "platform/sbDeviceNaming.h"
#include "platform/sbDriveHolders.h"
#include "util/sbUtils.h"

#include "ui_ufrmSelectDevice.h"

#include <QHeaderView>
#include <QPalette>
#include <QScrollBar>
#include <QTreeWidgetItem>

namespace {

enum TColumn
{
    colProduct,
    colVendor,
    colRevision,
    colMedia,
    colSize,
    colLabel
};

constexpr int ColumnCount = 6;
// The widths as designed; a column grows beyond them to show its texts whole.
constexpr int DesignedWidths[ColumnCount] = {100, 70, 60, 60, 70, 85};
constexpr int RecordRole = Qt::UserRole;

TsbDeviceItem *RecordOf(const QTreeWidgetItem *Row)
{
    return Row == nullptr ? nullptr
                          : reinterpret_cast<TsbDeviceItem *>(
                                Row->data(colProduct, RecordRole).value<quintptr>());
}

} // namespace

TfrmSelectDevice::TfrmSelectDevice(QWidget *parent)
    : TsbDockForm(parent), ui(new Ui::TfrmSelectDevice)
{
    ui->setupUi(this);
    ui->lvDevices->header()->setSectionsClickable(false);
    ui->lvDevices->header()->setSectionsMovable(false);
    for (int Column = 0; Column < ColumnCount; ++Column)
        ui->lvDevices->setColumnWidth(Column, DesignedWidths[Column]);
    // The selection stays visible while the list is not focused.
    QPalette Palette = ui->lvDevices->palette();
    for (QPalette::ColorRole Role : {QPalette::Highlight, QPalette::HighlightedText})
        Palette.setColor(QPalette::Inactive, Role, Palette.color(QPalette::Active, Role));
    ui->lvDevices->setPalette(Palette);

    connect(ui->btnRefresh, &QPushButton::clicked, this, &TfrmSelectDevice::btnRefreshClick);
    connect(ui->lvDevices, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *Current) { lvDevicesChange(Current); });
    connect(ui->lvDevices, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (QTreeWidgetItem *Row = GetSelectedRow())
            lvDevicesChange(Row);
    });
    connect(ui->lvDevices, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *Row) { lvDevicesDblClick(Row); });
    FFinder.SetWaitDialogFactory([] { return std::make_unique<TfrmOperationProgress>(); });
}

TfrmSelectDevice::~TfrmSelectDevice()
{
    delete ui;
}

void TfrmSelectDevice::BeginWork()
{
    ui->btnRefresh->setEnabled(false);
    TsbDockForm::BeginWork();
}

void TfrmSelectDevice::EndWork()
{
    ui->btnRefresh->setEnabled(true);
    TsbDockForm::EndWork();
}

void TfrmSelectDevice::UpdateTexts() {}

void TfrmSelectDevice::AttachBurner(TsbBurner *Burner)
{
    TsbDockForm::AttachBurner(Burner);
    const TsbDeviceIdentity Chosen = GetSelectedIdentity();

    ui->lvDevices->setUpdatesEnabled(false);
    try {
        BeginWork();
        // The records behind the rows are freed by the scan: rows go first.
        ui->lvDevices->clear();
        FCurrentItem = nullptr;
        if (FBurner != nullptr)
            FFinder.FTransportType = FBurner->FTransportType;
        FFinder.FInfoText = FScanInfoText;
        FFinder.FindDevices(FShowProgress);
        RebuildRows();

        // Only the very drive chosen before is selected again; when it has
        // gone, the first row is selected below, in the user's sight.
        if (QTreeWidgetItem *Row = FindItemByIdentity(Chosen))
            ui->lvDevices->setCurrentItem(Row);
    } catch (...) {
        FinishRebuild();
        throw;
    }
    FinishRebuild();
}

void TfrmSelectDevice::RebuildRows()
{
    const TsbDeviceList *Devices = FFinder.Devices();
    for (int Index = 0; Index < Devices->Count(); ++Index) {
        TsbDeviceItem *Record = Devices->Items(Index);
        // A drive that refuses to be opened cannot say what it writes; it is
        // listed so that the user learns why it cannot be used.
        const bool Refused = Record->State == dsNoAccess || Record->State == dsInUse;
        if (!FShowAllDevices && !Record->MediaFormatFlag(7) && !Refused)
            continue;
        auto *Row = new QTreeWidgetItem(ui->lvDevices);
        Row->setData(colProduct, RecordRole,
                     QVariant::fromValue(reinterpret_cast<quintptr>(Record)));
        Row->setText(colProduct, Record->Product.isEmpty() ? Record->DriveLetter : Record->Product);
        Row->setText(colVendor, Record->Vendor);
        Row->setText(colRevision, Record->ProductRevisionLevel);
        switch (Record->State) {
        case dsNoAccess:
            Row->setText(colMedia, tr("No access"));
            break;
        case dsInUse:
            Row->setText(colMedia, tr("In use"));
            break;
        case dsTrayOpen:
            Row->setText(colMedia, tr("Tray open"));
            break;
        case dsNotReady:
            Row->setText(colMedia, tr("Not ready"));
            break;
        default:
            Row->setText(colMedia, GetDiscTypeName(Record->DiscType));
            break;
        }
        if (Refused || Record->DiscType == DISC_TYPE_NO_MEDIA)
            continue;
        const TsbDiscSpace &Space = Record->DiscSpace;
        if (Space.FreeBytes == Space.TotalBytes)
            Row->setText(colSize, tr("Blank"));
        else if (Space.TotalBytes > 0)
            Row->setText(colSize, MegabytesText(static_cast<int64_t>(Space.UsedBytes)));
        Row->setText(colLabel, Record->DiscLabel);
    }
    for (int Column = 0; Column < ColumnCount; ++Column) {
        ui->lvDevices->resizeColumnToContents(Column);
        if (ui->lvDevices->columnWidth(Column) < DesignedWidths[Column])
            ui->lvDevices->setColumnWidth(Column, DesignedWidths[Column]);
    }
    // The list asks for the width of its rows, so that the wizard window
    // grows to show them without a horizontal scroll bar.
    QTreeWidget *List = ui->lvDevices;
    List->setMinimumWidth(List->header()->length() + 2 * List->frameWidth() +
                          List->verticalScrollBar()->sizeHint().width());
}

void TfrmSelectDevice::FinishRebuild()
{
    EndWork();
    if (ui->lvDevices->topLevelItemCount() > 0 && FCurrentItem == nullptr) {
        QTreeWidgetItem *First = ui->lvDevices->topLevelItem(0);
        ui->lvDevices->setCurrentItem(First);
        FCurrentItem = First;
    }
    ui->lvDevices->setUpdatesEnabled(true);
}

TsbLog *TfrmSelectDevice::GetPageLog()
{
    FPageLog.Clear();
    if (const TsbDeviceItem *Record = SelectedRecord()) {
        TsbLogItem *Line = FPageLog.Add();
        Line->LogMessage = tr("Destination device") + QStringLiteral(": ") + Record->Product;
    }
    return &FPageLog;
}

QTreeWidgetItem *TfrmSelectDevice::GetSelectedRow() const
{
    const QList<QTreeWidgetItem *> Selected = ui->lvDevices->selectedItems();
    return Selected.size() == 1 ? Selected.first() : nullptr;
}

const TsbDeviceItem *TfrmSelectDevice::SelectedRecord() const
{
    if (FCurrentItem == nullptr || GetSelectedRow() == nullptr)
        return nullptr;
    return RecordOf(FCurrentItem);
}

STARBURN_DISC_INFORMATION TfrmSelectDevice::GetSelectedDiscInformation() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->DiscInformation : STARBURN_DISC_INFORMATION{};
}

STARBURN_TOC_INFORMATION TfrmSelectDevice::GetSelectedTOCInformation() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->TOCInformation : STARBURN_TOC_INFORMATION{};
}

STARBURN_TRACK_INFORMATION TfrmSelectDevice::GetSelectedTrackInformation() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->TrackInformation : STARBURN_TRACK_INFORMATION{};
}

DISC_TYPE TfrmSelectDevice::GetSelectedDiscType() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->DiscType : static_cast<DISC_TYPE>(DISC_TYPE_UNKNOWN);
}

TsbDiscSpace TfrmSelectDevice::GetSelectedDiscSpace() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->DiscSpace : TsbDiscSpace{};
}

std::array<bool, 6> TfrmSelectDevice::GetSelectedReadModes() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->ReadModes : std::array<bool, 6>{};
}

TsbWriteModes TfrmSelectDevice::GetSelectedWriteModes() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->WriteModes : TsbWriteModes{};
}

TsbDeviceInfo TfrmSelectDevice::GetSelectedDeviceInfo() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? TsbDeviceInfo::FromItem(*Record) : TsbDeviceInfo{};
}

TsbDVDRPC TfrmSelectDevice::GetSelectedDVDRPC() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->DVDRPC : TsbDVDRPC{};
}

TsbDeviceAddress TfrmSelectDevice::GetSelectedAddress() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->Address : TsbDeviceAddress{};
}

void TfrmSelectDevice::GetSelectedDevicePath(QString &Path) const
{
    const TsbDeviceItem *Record = SelectedRecord();
    if (Record == nullptr)
        return;
    Path = !Record->DeviceName.isEmpty() ? Record->DeviceName
                                         : DevicePathFromDrive(Record->DriveLetter);
}

TsbDiscSpace TfrmSelectDevice::QueryDiscSpace(const TsbDeviceItem &Item)
{
    return ReadDiscSpace(Item);
}

QTreeWidgetItem *TfrmSelectDevice::FindItemByAddress(const TsbDeviceAddress &Address) const
{
    for (int Index = 0; Index < ui->lvDevices->topLevelItemCount(); ++Index) {
        QTreeWidgetItem *Row = ui->lvDevices->topLevelItem(Index);
        const TsbDeviceItem *Record = RecordOf(Row);
        if (Record != nullptr && Record->Address == Address)
            return Row;
    }
    return nullptr;
}

QTreeWidgetItem *TfrmSelectDevice::FindItemByDeviceName(const QString &DeviceName) const
{
    for (int Index = 0; Index < ui->lvDevices->topLevelItemCount(); ++Index) {
        QTreeWidgetItem *Row = ui->lvDevices->topLevelItem(Index);
        const TsbDeviceItem *Record = RecordOf(Row);
        if (Record != nullptr && Record->DeviceName == DeviceName)
            return Row;
    }
    return nullptr;
}

TsbDeviceIdentity TfrmSelectDevice::GetSelectedIdentity() const
{
    TsbDeviceIdentity Identity;
    const TsbDeviceItem *Record = SelectedRecord();
    if (Record == nullptr)
        return Identity;
    Identity.Address = Record->Address;
    Identity.DeviceName = Record->DeviceName;
    Identity.Node = Record->DriveLetter;
    QString Path;
    GetSelectedDevicePath(Path);
    const QString Node = StripDevicePrefix(Path);
    Identity.DisplayName = Record->Product.trimmed();
    if (!Node.isEmpty())
        Identity.DisplayName += QStringLiteral(" (") + Node + u')';
    return Identity;
}

QString TfrmSelectDevice::GetSelectedDiscLabel() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->DiscLabel : QString();
}

QTreeWidgetItem *TfrmSelectDevice::FindItemByIdentity(const TsbDeviceIdentity &Identity) const
{
    if (Identity.Address.IsValid)
        return FindItemByAddress(Identity.Address);
    if (Identity.DeviceName.isEmpty())
        return nullptr;
    QTreeWidgetItem *Row = FindItemByDeviceName(Identity.DeviceName);
    const TsbDeviceItem *Record = RecordOf(Row);
    // A name that now leads to another node is another drive.
    if (Record != nullptr && !Identity.Node.isEmpty() && !Record->DriveLetter.isEmpty() &&
        Record->DriveLetter != Identity.Node)
        return nullptr;
    return Row;
}

QString TfrmSelectDevice::ProblemText(const TsbDeviceItem &Record)
{
    // Product and node where known; a drive that refused to open has only its node.
    QString Name = Record.Product.trimmed();
    if (Name.isEmpty())
        Name = Record.DeviceName;
    const QString Drive = Name.isEmpty() ? Record.DriveLetter
                                         : Name + QStringLiteral(" (") + Record.DriveLetter + u')';
    switch (Record.State) {
    case dsNoAccess:
        return tr("You have no access to the drive %1: its device node refuses your user. "
                  "On Linux, optical drives belong to the group \"cdrom\": add yourself to it "
                  "with the command sudo adduser $USER cdrom, then log out and log in again")
            .arg(Drive);
    case dsInUse: {
        // Named where this user can see them; another user's program stays unnamed.
        QStringList Holders;
        for (const TsbNodeHolder &Holder : ProcessesHoldingNode(Record.DriveLetter))
            Holders.append(tr("%1 (process %2)").arg(Holder.Command).arg(Holder.Pid));
        if (!Holders.isEmpty())
            return tr("The drive %1 is in use by %2. Close that program or unmount its disc, "
                      "then click Refresh")
                .arg(Drive, Holders.join(QStringLiteral(", ")));
        return tr("The drive %1 is in use by another program. Close that program or unmount "
                  "its disc, then click Refresh")
            .arg(Drive);
    }
    case dsNoDisc:
        return tr("There is no disc in the drive %1. Put in the rewritable disc you want to "
                  "erase, then click Next again")
            .arg(Drive);
    case dsTrayOpen:
        return tr("The tray of the drive %1 is open. Put in the rewritable disc you want to "
                  "erase, close the tray, then click Next again")
            .arg(Drive);
    case dsNotReady:
        return tr("The disc in the drive %1 did not become ready. Take it out, put it in "
                  "again, wait until the drive is quiet, then click Refresh")
            .arg(Drive);
    default:
        return QString();
    }
}

QString TfrmSelectDevice::GetSelectedProblemText() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? ProblemText(*Record) : QString();
}

TsbDriveState TfrmSelectDevice::GetSelectedState() const
{
    const TsbDeviceItem *Record = SelectedRecord();
    return Record != nullptr ? Record->State : dsUsable;
}

void TfrmSelectDevice::lvDevicesDblClick(QTreeWidgetItem *Row)
{
    const TsbDeviceItem *Record = RecordOf(Row);
    const QString Text = Record != nullptr ? ProblemText(*Record) : QString();
    if (!Text.isEmpty())
        ShowErrorMessage(Text);
}

void TfrmSelectDevice::btnRefreshClick()
{
    AttachBurner(FBurner);
}

void TfrmSelectDevice::lvDevicesChange(QTreeWidgetItem *Row)
{
    FCurrentItem = Row;
}
