#include "pages/ufrmSelectDevice.h"
#include "pages/ufrmOperationProgress.h"
#include "pages/ufrmSelectTransport.h"

#include "framework/sbBurner.h"

#include <QApplication>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

QString Scenario(const char *Name)
{
    return QStringLiteral(BLANKORA_TEST_SCENARIOS "/") + QLatin1String(Name);
}

QStringList Column(QTreeWidget *List, int Index)
{
    QStringList Texts;
    for (int Row = 0; Row < List->topLevelItemCount(); ++Row)
        Texts << List->topLevelItem(Row)->text(Index);
    return Texts;
}

QTreeWidgetItem *RowOf(QTreeWidget *List, const QString &Product)
{
    const QList<QTreeWidgetItem *> Found = List->findItems(Product, Qt::MatchExactly, 0);
    return Found.isEmpty() ? nullptr : Found.first();
}

void ClickRow(QTreeWidget *List, QTreeWidgetItem *Row)
{
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualItemRect(Row).center());
}

QString SelectedProduct(QTreeWidget *List)
{
    const QList<QTreeWidgetItem *> Selected = List->selectedItems();
    return Selected.size() == 1 ? Selected.first()->text(0) : QString();
}

} // namespace

// The device page and the transport page on the virtual drive bay.
class TestDevicePage : public QObject
{
    Q_OBJECT

private:
    void StartBay(const char *Name)
    {
        qputenv("BLANKORA_VIRTUAL_DRIVES", Scenario(Name).toLocal8Bit());
        QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));
    }

    // The page as the wizard shows it: writers only, progress dialog on.
    void Show(TfrmSelectDevice &Page, TsbBurner &Burner, TsbTransportType Transport)
    {
        Page.FScanInfoText = QStringLiteral("Scanning for devices.");
        Page.FShowAllDevices = false;
        Burner.FTransportType = Transport;
        Page.AttachBurner(&Burner);
        Page.show();
        FList = Page.findChild<QTreeWidget *>(QStringLiteral("lvDevices"));
        FRefresh = Page.findChild<QPushButton *>(QStringLiteral("btnRefresh"));
        QVERIFY(FList && FRefresh);
    }

    QTreeWidget *FList = nullptr;
    QPushButton *FRefresh = nullptr;

private slots:
    void cleanup();
    void firstDisplay_listsWritersAndSelectsFirstRow_data();
    void firstDisplay_listsWritersAndSelectsFirstRow();
    void columns_showDiscTypeSizeAndLabel();
    void refresh_keepsTheChosenDevice_data();
    void refresh_keepsTheChosenDevice();
    void refresh_afterChosenDeviceVanished_selectsFirstRow();
    void scan_runsBehindWaitDialogWithRefreshDisabled();
    void queries_withoutSelection_giveDefaults();
    void transportPage_defaultsToSptiAndFollowsChoice();
};

void TestDevicePage::cleanup()
{
    StarBurn_DownShut();
    for (QWidget *Window : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<TfrmOperationProgress *>(Window));
}

void TestDevicePage::firstDisplay_listsWritersAndSelectsFirstRow_data()
{
    QTest::addColumn<int>("Transport");
    QTest::addColumn<QStringList>("Products");
    // The reader "Virtual R" cannot write; CdRom21 is beyond the probed names.
    QTest::newRow("spti") << int(ttSpti) << QStringList({"Virtual A", "Virtual B"});
    QTest::newRow("aspi") << int(ttAspi) << QStringList({"Virtual A", "Virtual B", "Virtual Z"});
}

void TestDevicePage::firstDisplay_listsWritersAndSelectsFirstRow()
{
    QFETCH(int, Transport);
    QFETCH(QStringList, Products);
    StartBay("scan-drives.json");
    TsbBurner Burner;
    TfrmSelectDevice Page;
    Show(Page, Burner, TsbTransportType(Transport));

    QStringList Listed = Column(FList, 0);
    Listed.sort();
    QCOMPARE(Listed, Products);
    QCOMPARE(FList->selectedItems().size(), 1);
    QCOMPARE(FList->selectedItems().first(), FList->topLevelItem(0));
    QCOMPARE(Page.FCurrentItem, FList->topLevelItem(0));
    QCOMPARE(Page.GetSelectedDeviceInfo().Product, FList->topLevelItem(0)->text(0));
    QVERIFY(Page.GetSelectedDiscInformation().Bytes[0] != 0);
    QCOMPARE(Page.GetPageLog()->Count(), 1);
    QCOMPARE(Page.GetPageLog()->Items(0)->LogMessage,
             QStringLiteral("Destination device: ") + FList->topLevelItem(0)->text(0));
    QString Path;
    Page.GetSelectedDevicePath(Path);
    if (Transport == ttSpti)
        QVERIFY(Path.startsWith(QStringLiteral("CdRom")));
    else
        QVERIFY(Path.startsWith(QStringLiteral("\\\\.\\")) && Path.size() > 4);
}

void TestDevicePage::columns_showDiscTypeSizeAndLabel()
{
    StartBay("scan-drives.json");
    TsbBurner Burner;
    TfrmSelectDevice Page;
    Show(Page, Burner, ttSpti);
    Page.FShowAllDevices = true;
    QTest::mouseClick(FRefresh, Qt::LeftButton);

    QCOMPARE(Column(FList, 0), QStringList({"Virtual A", "Virtual R", "Virtual B"}));
    QCOMPARE(Column(FList, 3), QStringList({"CD-RW", "Empty", "DVD+RW"}));
    const QString Used = QLocale::system().toString(700.0, 'f', 2) + QStringLiteral(" MB");
    QCOMPARE(Column(FList, 4), QStringList({"Blank", "", Used}));
    QCOMPARE(Column(FList, 5), QStringList({"", "", "BACKUP"}));

    ClickRow(FList, RowOf(FList, QStringLiteral("Virtual B")));
    const TsbDiscSpace Space = Page.GetSelectedDiscSpace();
    QCOMPARE(Space.UsedBytes, uint64_t(734003200));
    QCOMPARE(Space.TotalBytes, Space.UsedBytes + Space.FreeBytes);
    QCOMPARE(int(Page.GetSelectedDiscType()), int(DISC_TYPE_DVDPLUSRW));
}

void TestDevicePage::refresh_keepsTheChosenDevice_data()
{
    QTest::addColumn<int>("Transport");
    QTest::newRow("spti, by name") << int(ttSpti);
    QTest::newRow("aspi, by address") << int(ttAspi);
}

void TestDevicePage::refresh_keepsTheChosenDevice()
{
    QFETCH(int, Transport);
    StartBay("scan-drives.json");
    TsbBurner Burner;
    TfrmSelectDevice Page;
    Show(Page, Burner, TsbTransportType(Transport));
    QTreeWidgetItem *Second = FList->topLevelItem(1);
    QVERIFY(Second);
    const QString Chosen = Second->text(0);
    ClickRow(FList, Second);
    QCOMPARE(SelectedProduct(FList), Chosen);

    QTest::mouseClick(FRefresh, Qt::LeftButton);

    QCOMPARE(SelectedProduct(FList), Chosen);
    QCOMPARE(Page.GetSelectedDeviceInfo().Product, Chosen);
}

void TestDevicePage::refresh_afterChosenDeviceVanished_selectsFirstRow()
{
    StartBay("scan-drives.json");
    TsbBurner Burner;
    TfrmSelectDevice Page;
    Show(Page, Burner, ttSpti);
    ClickRow(FList, RowOf(FList, QStringLiteral("Virtual B")));
    QCOMPARE(SelectedProduct(FList), QStringLiteral("Virtual B"));
    StarBurn_DownShut();
    StartBay("scan-drives-without-b.json");

    QTest::mouseClick(FRefresh, Qt::LeftButton);

    QCOMPARE(Column(FList, 0), QStringList({"Virtual A", "Virtual C"}));
    QCOMPARE(SelectedProduct(FList), QStringLiteral("Virtual A"));
    QString Path;
    Page.GetSelectedDevicePath(Path);
    QCOMPARE(Path, QStringLiteral("CdRom0"));
}

void TestDevicePage::scan_runsBehindWaitDialogWithRefreshDisabled()
{
    StartBay("scan-slow.json");
    TsbBurner Burner;
    TfrmSelectDevice Page;
    int Begun = 0;
    int Ended = 0;
    Page.OnWorkBegin = [&Begun](QObject *) { ++Begun; };
    Page.OnWorkEnd = [&Ended](QObject *) { ++Ended; };
    bool SawDialog = false;
    bool RefreshEnabledDuringScan = false;
    QTimer Probe;
    Probe.setInterval(5);
    connect(&Probe, &QTimer::timeout, this, [&] {
        for (QWidget *Window : QApplication::topLevelWidgets()) {
            if (qobject_cast<TfrmOperationProgress *>(Window) && Window->isVisible())
                SawDialog = true;
        }
        if (Page.Finder()->IsScanning() && FRefresh && FRefresh->isEnabled())
            RefreshEnabledDuringScan = true;
    });
    FRefresh = Page.findChild<QPushButton *>(QStringLiteral("btnRefresh"));
    Probe.start();
    Show(Page, Burner, ttSpti);
    Probe.stop();

    QVERIFY(SawDialog);
    QVERIFY(!RefreshEnabledDuringScan);
    QVERIFY(FRefresh->isEnabled());
    QCOMPARE(Begun, 1);
    QCOMPARE(Ended, 1);
    QCOMPARE(FList->topLevelItemCount(), 3);
}

void TestDevicePage::queries_withoutSelection_giveDefaults()
{
    StartBay("scan-none.json");
    TsbBurner Burner;
    TfrmSelectDevice Page;
    Show(Page, Burner, ttAspi);

    QCOMPARE(FList->topLevelItemCount(), 0);
    QVERIFY(Page.FCurrentItem == nullptr);
    QCOMPARE(int(Page.GetSelectedDiscType()), int(DISC_TYPE_UNKNOWN));
    QCOMPARE(Page.GetSelectedDiscInformation().Bytes[0], uint8_t(0));
    QVERIFY(!Page.GetSelectedAddress().IsValid);
    const TsbWriteModes Modes = Page.GetSelectedWriteModes();
    QVERIFY(Modes.Modes[0] && Modes.Modes[1] && Modes.Modes[2] && Modes.Modes[3]);
    QVERIFY(!Page.GetSelectedDVDRPC().IsValid);
    QString Path = QStringLiteral("unchanged");
    Page.GetSelectedDevicePath(Path);
    QCOMPARE(Path, QStringLiteral("unchanged"));
    QCOMPARE(Page.GetPageLog()->Count(), 0);
}

void TestDevicePage::transportPage_defaultsToSptiAndFollowsChoice()
{
    TSelectTransportForm Page;
    auto *Spti = Page.findChild<QRadioButton *>(QStringLiteral("rbSpti"));
    auto *Aspi = Page.findChild<QRadioButton *>(QStringLiteral("rbAspi"));
    QVERIFY(Spti && Aspi);
    QVERIFY(Spti->isChecked() && Spti->isEnabled() && Aspi->isEnabled());
    QCOMPARE(Page.GetTransport(), ttSpti);
    Page.show();
    QTest::mouseClick(Aspi, Qt::LeftButton);
    QCOMPARE(Page.GetTransport(), ttAspi);
    QVERIFY(!Spti->isChecked());
    QTest::mouseClick(Spti, Qt::LeftButton);
    QCOMPARE(Page.GetTransport(), ttSpti);
}

QTEST_MAIN(TestDevicePage)
#include "tst_devicepage.moc"
