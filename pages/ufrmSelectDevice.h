#pragma once

#include "framework/sbDevice.h"
#include "framework/sbDeviceList.h"
#include "framework/sbDockForm.h"
#include "framework/sbLog.h"

#include <array>

class QTreeWidgetItem;

// Which drive a row stands for, as a later scan finds it again: by its SCSI
// address when it was found by address, else by its device name and node.
struct TsbDeviceIdentity
{
    TsbDeviceAddress Address;
    QString DeviceName;
    QString Node;
    // Product and node, as messages name the drive.
    QString DisplayName;

    bool IsSet() const { return Address.IsValid || !DeviceName.isEmpty(); }
};

namespace Ui {
class TfrmSelectDevice;
}

// Device selection page: the scanned CD/DVD devices able to write, with the
// disc in each, its size and label. Every display and every Refresh rescans;
// the earlier choice stays selected where the device is still there.
class TfrmSelectDevice : public TsbDockForm
{
    Q_OBJECT

public:
    explicit TfrmSelectDevice(QWidget *parent = nullptr);
    ~TfrmSelectDevice() override;

    void BeginWork() override;
    void EndWork() override;
    void UpdateTexts() override;
    // Stores the burner and rebuilds the list with a new scan.
    void AttachBurner(TsbBurner *Burner) override;
    TsbLog *GetPageLog() override;

    // Each gives its default when no device is selected.
    virtual STARBURN_DISC_INFORMATION GetSelectedDiscInformation() const;
    virtual STARBURN_TOC_INFORMATION GetSelectedTOCInformation() const;
    virtual STARBURN_TRACK_INFORMATION GetSelectedTrackInformation() const;
    virtual DISC_TYPE GetSelectedDiscType() const;
    virtual TsbDiscSpace GetSelectedDiscSpace() const;
    virtual std::array<bool, 6> GetSelectedReadModes() const;
    virtual TsbWriteModes GetSelectedWriteModes() const;
    virtual TsbDeviceInfo GetSelectedDeviceInfo() const;
    virtual TsbDVDRPC GetSelectedDVDRPC() const;

    // The one selected row of lvDevices, none when no row is selected.
    QTreeWidgetItem *GetSelectedRow() const;
    TsbDeviceAddress GetSelectedAddress() const;
    // The selected device's name, or \\.\ + its drive; Path is left as it was
    // when no device is selected.
    void GetSelectedDevicePath(QString &Path) const;
    static TsbDiscSpace QueryDiscSpace(const TsbDeviceItem &Item);
    QTreeWidgetItem *FindItemByAddress(const TsbDeviceAddress &Address) const;
    QTreeWidgetItem *FindItemByDeviceName(const QString &DeviceName) const;
    TsbDeviceIdentity GetSelectedIdentity() const;
    // The volume label of the selected device's disc; empty without one.
    QString GetSelectedDiscLabel() const;
    // Why the drive cannot be used as the scan found it, naming the drive and
    // saying what to do; empty when it can be used.
    static QString ProblemText(const TsbDeviceItem &Record);
    QString GetSelectedProblemText() const;
    TsbDriveState GetSelectedState() const;
    // The row of that very drive; none when it is no longer listed.
    QTreeWidgetItem *FindItemByIdentity(const TsbDeviceIdentity &Identity) const;

    TsbDeviceFinder *Finder() { return &FFinder; }

    bool FShowProgress = true;
    bool FShowAllDevices = true;
    // The row whose selection or focus changed last; none while the list is empty.
    QTreeWidgetItem *FCurrentItem = nullptr;
    QString FScanInfoText;

private slots:
    void btnRefreshClick();
    void lvDevicesChange(QTreeWidgetItem *Row);
    void lvDevicesDblClick(QTreeWidgetItem *Row);

private:
    const TsbDeviceItem *SelectedRecord() const;
    void RebuildRows();
    void FinishRebuild();

    Ui::TfrmSelectDevice *ui;
    TsbLog FPageLog;
    TsbDeviceFinder FFinder;
};
