#include "framework/sbDeviceList.h"

#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "library/virtual/VirtualBay.h"
#include "library/virtual/VirtualDrive.h"
#include "support/RefusedThreads.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <QTest>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <vector>

namespace {

QString Scenario(const char *Name)
{
    return QStringLiteral(BLANKORA_TEST_SCENARIOS "/") + QLatin1String(Name);
}

QStringList Products(const TsbDeviceList &List)
{
    QStringList Names;
    for (int Index = 0; Index < List.Count(); ++Index)
        Names << List.Items(Index)->Product;
    return Names;
}

// Addresses in the order the library's own enumeration reports them.
std::vector<STARBURN_DEVICE_ADDRESS> EnumeratedAddresses()
{
    std::vector<STARBURN_DEVICE_ADDRESS> Found;
    StarBurn_FindDevice(
        STARBURN_DEVICE_TYPE_CDROM, 0,
        [](uint8_t Reason, void *Context, void *Address, void *) {
            if (Reason == CN_DEVICE_FOUND && Address != nullptr)
                static_cast<std::vector<STARBURN_DEVICE_ADDRESS> *>(Context)->push_back(
                    *static_cast<STARBURN_DEVICE_ADDRESS *>(Address));
        },
        &Found);
    return Found;
}

// Stands in for the wait dialog and records what the scan did with it.
class TRecordingDialog : public IsbWaitDialog
{
public:
    explicit TRecordingDialog(std::function<void()> *CancelOut) : FCancelOut(CancelOut) {}
    void SetCaption(const QString &Caption) override { LastCaption = Caption; }
    void SetInfoText(const QString &) override {}
    void SetCancelVisible(bool) override {}
    void SetOnCancel(std::function<void()> Handler) override { *FCancelOut = Handler; }
    void ShowDialog() override {}
    void HideDialog() override {}

    static inline QString LastCaption;

private:
    std::function<void()> *FCancelOut;
};

// A wait dialog that hands every text it is given to OnInfo.
class TWatchingDialog : public IsbWaitDialog
{
public:
    explicit TWatchingDialog(std::function<void(const QString &)> OnInfo)
        : FOnInfo(std::move(OnInfo))
    {}
    void SetCaption(const QString &) override {}
    void SetInfoText(const QString &Text) override { FOnInfo(Text); }
    void SetCancelVisible(bool) override {}
    void SetOnCancel(std::function<void()>) override {}
    void ShowDialog() override {}
    void HideDialog() override {}

private:
    std::function<void(const QString &)> FOnInfo;
};

} // namespace

// The device scan against the virtual drive bay, under both transports.
class TestDeviceScan : public QObject
{
    Q_OBJECT

private:
    void StartBay(const char *Name)
    {
        qputenv("BLANKORA_VIRTUAL_DRIVES", Scenario(Name).toLocal8Bit());
        QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));
    }

    // Lines the diagnostic logger wrote since the last take, without their times.
    static QStringList LogLines()
    {
        QFile File(GLogger->GetLogFileName());
        QStringList Lines;
        if (File.open(QIODevice::ReadOnly)) {
            for (const QByteArray &Line : File.readAll().split('\n')) {
                if (Line.size() > 14)
                    Lines << QString::fromLocal8Bit(Line.mid(14)).trimmed();
            }
        }
        return Lines;
    }
    QStringList TakeLogLines()
    {
        const QStringList Lines = LogLines();
        QFile::remove(GLogger->GetLogFileName());
        return Lines;
    }

    QTemporaryDir FConfigDir;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { StarBurn_DownShut(); }

    void spti_probesNamesInNumericOrderUpToCdRom20();
    void aspi_followsLibraryEnumeration();
    void noDevices_givesEmptyList_data();
    void noDevices_givesEmptyList();
    void recordsHoldIdentityAndDisc_data();
    void recordsHoldIdentityAndDisc();
    void failedOpen_data();
    void failedOpen();
    void cancelMidScan_keepsFinishedDropsCurrent();
    void drivesAreReadSideBySide();
    void cancelledScanWithDialog_isClearedByTheNextScan();
    void cancelledScan_isClearedByQuietScans_data();
    void cancelledScan_isClearedByQuietScans();
    void slowScan_keepsServingEvents();
    void scanStartedWhileScanning_replacesTheList();
    void deviceFoundWithoutAddressOrName_isSkipped_data();
    void deviceFoundWithoutAddressOrName_isSkipped();
    void aspiScan_writesDiagnosticLines();
    void scanThreadThatCannotStart_isRaisedOnce();
    void hangingFirstDrive_leavesItsCallOnDisc();
};

void TestDeviceScan::initTestCase()
{
    // Switch the diagnostic logger on through a store of our own.
    QVERIFY(FConfigDir.isValid());
    QVERIFY(QDir(FConfigDir.path()).mkpath(QStringLiteral("Vantrel")));
    QFile Config(FConfigDir.filePath(QStringLiteral("Vantrel/Burner.conf")));
    QVERIFY(Config.open(QIODevice::WriteOnly));
    Config.write("[General]\nLogEnabled=1\nLogLevel=0\n");
    Config.close();
    qputenv("XDG_CONFIG_DIRS", FConfigDir.path().toLocal8Bit());
    GLogger = new TsbLogger;
    QVERIFY(GLogger->LogEnabled());
    TakeLogLines();
}

void TestDeviceScan::cleanupTestCase()
{
    TakeLogLines();
    delete GLogger;
    GLogger = nullptr;
}

void TestDeviceScan::spti_probesNamesInNumericOrderUpToCdRom20()
{
    StartBay("scan-drives.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = ttSpti;
    Finder.FindDevices(false);

    const TsbDeviceList &List = *Finder.Devices();
    // CdRom21 ("Virtual Z") lies beyond the probed names.
    QCOMPARE(Products(List), QStringList({"Virtual A", "Virtual R", "Virtual B"}));
    QCOMPARE(List.Items(0)->DeviceName, QStringLiteral("CdRom0"));
    QCOMPARE(List.Items(2)->DeviceName, QStringLiteral("CdRom2"));
    for (int Index = 0; Index < List.Count(); ++Index) {
        QCOMPARE(List.Items(Index)->TransportType, ttSpti);
        QVERIFY(!List.Items(Index)->Address.IsValid);
    }
}

void TestDeviceScan::aspi_followsLibraryEnumeration()
{
    StartBay("scan-drives.json");
    const std::vector<STARBURN_DEVICE_ADDRESS> Expected = EnumeratedAddresses();
    QCOMPARE(int(Expected.size()), 4);

    TsbDeviceFinder Finder;
    Finder.FTransportType = ttAspi;
    Finder.FindDevices(false);

    const TsbDeviceList &List = *Finder.Devices();
    QCOMPARE(List.Count(), 4);
    for (int Index = 0; Index < List.Count(); ++Index) {
        const TsbDeviceItem &Item = *List.Items(Index);
        const STARBURN_DEVICE_ADDRESS &Want = Expected[std::size_t(Index)];
        QVERIFY(Item.Address.IsValid);
        QCOMPARE(Item.Address.PortID, Want.PortID);
        QCOMPARE(Item.Address.BusID, Want.BusID);
        QCOMPARE(Item.Address.TargetID, Want.TargetID);
        QCOMPARE(Item.Address.LUN, Want.LUN);
        QCOMPARE(Item.TransportType, ttAspi);
        QVERIFY(Item.DeviceName.isEmpty());
        QVERIFY(!Item.Product.isEmpty());
    }
    QVERIFY(Products(List).contains(QStringLiteral("Virtual Z")));
}

void TestDeviceScan::noDevices_givesEmptyList_data()
{
    QTest::addColumn<int>("Transport");
    QTest::newRow("spti") << int(ttSpti);
    QTest::newRow("aspi") << int(ttAspi);
}

void TestDeviceScan::noDevices_givesEmptyList()
{
    QFETCH(int, Transport);
    StartBay("scan-drives.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = TsbTransportType(Transport);
    Finder.FindDevices(false);
    QVERIFY(Finder.Devices()->Count() > 0);
    StarBurn_DownShut();

    // A rescan on a machine without drives also drops the earlier records.
    StartBay("scan-none.json");
    Finder.FindDevices(false);
    QCOMPARE(Finder.Devices()->Count(), 0);
}

void TestDeviceScan::recordsHoldIdentityAndDisc_data()
{
    QTest::addColumn<int>("Transport");
    QTest::addColumn<QString>("Product");
    QTest::addColumn<int>("DiscType");
    QTest::addColumn<bool>("Writer");
    QTest::addColumn<bool>("DiscInformation");
    // The scan reads the disc's space too: the page only shows it.
    QTest::addColumn<bool>("HasSpace");
    QTest::addColumn<qulonglong>("UsedBytes");
    QTest::newRow("spti blank CD-RW")
        << int(ttSpti) << "Virtual A" << int(DISC_TYPE_CDRW) << true << true << true << 0ull;
    QTest::newRow("aspi blank CD-RW")
        << int(ttAspi) << "Virtual A" << int(DISC_TYPE_CDRW) << true << true << true << 0ull;
    QTest::newRow("spti DVD+RW") << int(ttSpti) << "Virtual B" << int(DISC_TYPE_DVDPLUSRW) << true
                                 << true << true << 734003200ull;
    QTest::newRow("spti empty reader")
        << int(ttSpti) << "Virtual R" << int(DISC_TYPE_NO_MEDIA) << false << false << false << 0ull;
}

void TestDeviceScan::recordsHoldIdentityAndDisc()
{
    QFETCH(int, Transport);
    QFETCH(QString, Product);
    QFETCH(int, DiscType);
    QFETCH(bool, Writer);
    QFETCH(bool, DiscInformation);
    QFETCH(bool, HasSpace);
    QFETCH(qulonglong, UsedBytes);
    StartBay("scan-drives.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = TsbTransportType(Transport);
    Finder.FindDevices(false);

    const TsbDeviceList &List = *Finder.Devices();
    const int Index = int(Products(List).indexOf(Product));
    QVERIFY(Index >= 0);
    const TsbDeviceItem &Item = *List.Items(Index);
    QCOMPARE(int(Item.DiscType), DiscType);
    QCOMPARE(Item.MediaFormatFlag(7), Writer);
    QCOMPARE(Item.DiscInformation.Bytes[0] != 0, DiscInformation);
    QCOMPARE(Item.DiscSpace.TotalBytes > 0, HasSpace);
    QCOMPARE(qulonglong(Item.DiscSpace.UsedBytes), UsedBytes);
    QVERIFY(!Item.Vendor.isEmpty());
    QVERIFY(!Item.DriveLetter.isEmpty());
    QVERIFY(!Item.DriveLetter.startsWith(QLatin1Char('\\')));
    if (DiscType == DISC_TYPE_NO_MEDIA)
        QVERIFY(Item.DiscLabel.isEmpty());
}

void TestDeviceScan::failedOpen_data()
{
    QTest::addColumn<int>("Transport");
    QTest::addColumn<QStringList>("Expected");
    // The drive that refuses to be opened stays, with its node and the reason.
    QTest::newRow("aspi") << int(ttAspi) << QStringList({"Virtual Locked", "Virtual Open"});
    QTest::newRow("spti") << int(ttSpti) << QStringList({"Virtual Locked", "Virtual Open"});
}

void TestDeviceScan::failedOpen()
{
    QFETCH(int, Transport);
    QFETCH(QStringList, Expected);
    StartBay("scan-denied.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = TsbTransportType(Transport);
    Finder.FindDevices(false);

    const TsbDeviceList &List = *Finder.Devices();
    QCOMPARE(Products(List), Expected);
    QCOMPARE(int(List.Items(0)->State), int(dsNoAccess));
    QVERIFY(List.Items(0)->DriveLetter.endsWith(QStringLiteral("/sr0")));
    if (Transport == ttAspi) {
        const TsbDeviceItem &Locked = *List.Items(0);
        QVERIFY(Locked.Address.IsValid);
        QCOMPARE(Locked.Address.PortID, uint8_t(3));
        QCOMPARE(Locked.Address.TargetID, uint8_t(1));
        QCOMPARE(int(Locked.DiscType), int(DISC_TYPE_UNKNOWN));
        QCOMPARE(Locked.Vendor, QStringLiteral("BLANKORA"));
    }
}

void TestDeviceScan::cancelMidScan_keepsFinishedDropsCurrent()
{
    StartBay("scan-slow.json");
    std::function<void()> Cancel;
    TsbDeviceFinder Finder;
    Finder.SetWaitDialogFactory([&Cancel] { return std::make_unique<TRecordingDialog>(&Cancel); });
    Finder.FTransportType = ttSpti;
    // The first and the last drive answer at once, the second takes a good
    // second: the click lands while the second one is being read.
    QTimer::singleShot(250, this, [&Cancel] {
        QVERIFY(Cancel);
        Cancel();
    });
    Finder.FindDevices(true);

    QCOMPARE(TRecordingDialog::LastCaption, QStringLiteral("Scanning devices"));
    QCOMPARE(Products(*Finder.Devices()), QStringList({"Virtual First", "Virtual Last"}));
    QVERIFY(Finder.Devices()->Cancelled);
}

void TestDeviceScan::drivesAreReadSideBySide()
{
    StartBay("scan-slow.json");
    TakeLogLines();
    TsbDeviceFinder Finder;
    Finder.FTransportType = ttAspi;
    Finder.FindDevices(false);
    QCOMPARE(Products(*Finder.Devices()),
             QStringList({"Virtual First", "Virtual Slow", "Virtual Last"}));

    // The last drive was read while the slow one still was.
    std::string Error;
    const auto Bay = blankora::virtualbay::VirtualBay::current(Error);
    QVERIFY(Bay);
    QVERIFY(Bay->drive(2).commandLog().front().simSeconds <
            Bay->drive(1).commandLog().back().simSeconds);
    // Each drive's diagnostic lines stay together, in the order of the drives.
    const QStringList Lines = TakeLogLines();
    QList<qsizetype> Starts;
    for (int Target = 0; Target < 3; ++Target)
        Starts << Lines.indexOf(QStringLiteral("CdvdBurnerGrabber_Create (after create): "
                                               "PortID:1,BusID:0,TargetID:%1,LUN:0")
                                    .arg(Target));
    QVERIFY2(Starts[0] >= 0 && Starts[0] < Starts[1] && Starts[1] < Starts[2],
             qPrintable(Lines.join(u'\n')));
    for (int Drive = 0; Drive < 2; ++Drive)
        QVERIFY(Lines.mid(Starts[Drive], Starts[Drive + 1] - Starts[Drive])
                    .filter(QStringLiteral("(after create)"))
                    .size() == 1);
}

void TestDeviceScan::cancelledScanWithDialog_isClearedByTheNextScan()
{
    StartBay("scan-drives.json");
    TsbDeviceFinder Finder;
    std::function<void()> Cancel;
    Finder.SetWaitDialogFactory([&Cancel] { return std::make_unique<TRecordingDialog>(&Cancel); });
    Finder.FTransportType = ttAspi;
    Finder.CancelScan();
    Finder.FindDevices(true);
    QCOMPARE(Finder.Devices()->Count(), 4);
}

void TestDeviceScan::cancelledScan_isClearedByQuietScans_data()
{
    QTest::addColumn<int>("Transport");
    QTest::addColumn<int>("Found");
    QTest::newRow("spti") << int(ttSpti) << 3;
    QTest::newRow("aspi") << int(ttAspi) << 4;
}

// A cancel in the wait dialog stays behind in the list; the next scans
// without the dialog (Next's quiet rescan, a later Refresh) find every drive.
void TestDeviceScan::cancelledScan_isClearedByQuietScans()
{
    QFETCH(int, Transport);
    QFETCH(int, Found);
    StartBay("scan-drives.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = TsbTransportType(Transport);
    Finder.CancelScan();
    Finder.FindDevices(false);
    QCOMPARE(Finder.Devices()->Count(), Found);
    Finder.FindDevices(false);
    QCOMPARE(Finder.Devices()->Count(), Found);
}

void TestDeviceScan::slowScan_keepsServingEvents()
{
    StartBay("scan-slow.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = ttAspi;
    int Ticks = 0;
    QTimer Timer;
    Timer.setInterval(5);
    connect(&Timer, &QTimer::timeout, this, [&Ticks] { ++Ticks; });
    Timer.start();
    Finder.FindDevices(false);
    Timer.stop();

    QVERIFY(Ticks > 0);
    QCOMPARE(Finder.Devices()->Count(), 3);
}

void TestDeviceScan::scanStartedWhileScanning_replacesTheList()
{
    StartBay("scan-slow.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = ttSpti;
    bool Nested = false;
    // An event served while the first scan waits starts a second one.
    QTimer::singleShot(100, this, [&] {
        Nested = true;
        Finder.FindDevices(false);
    });
    Finder.FindDevices(false);

    QVERIFY(Nested);
    QVERIFY(!Finder.IsScanning());
    QCOMPARE(Products(*Finder.Devices()),
             QStringList({"Virtual First", "Virtual Slow", "Virtual Last"}));
}

void TestDeviceScan::deviceFoundWithoutAddressOrName_isSkipped_data()
{
    QTest::addColumn<int>("Transport");
    QTest::newRow("aspi without address") << int(ttAspi);
    QTest::newRow("spti without name") << int(ttSpti);
}

void TestDeviceScan::deviceFoundWithoutAddressOrName_isSkipped()
{
    QFETCH(int, Transport);
    StartBay("scan-drives.json");
    TsbDeviceList List;
    List.TransportType = TsbTransportType(Transport);
    HandleDeviceFound(&List, nullptr, nullptr);
    QCOMPARE(List.Count(), 0);
}

void TestDeviceScan::aspiScan_writesDiagnosticLines()
{
    StartBay("scan-denied.json");
    TakeLogLines();
    TsbDeviceFinder Finder;
    Finder.FTransportType = ttAspi;
    Finder.FindDevices(false);
    const QStringList Lines = TakeLogLines();

    QCOMPARE(Lines.value(0), QStringLiteral("FindDevice"));
    QCOMPARE(Lines.value(1), QStringLiteral("CdvdBurnerGrabber_Create (before create)"));
    QVERIFY2(Lines.value(2).startsWith(
                 QStringLiteral("StarBurn_CdvdBurnerGrabber_Create() failed, exception ")),
             qPrintable(Lines.value(2)));
    QVERIFY(Lines.value(2).contains(QStringLiteral(", status ")));
    QVERIFY(Lines.value(2).contains(QStringLiteral(", text \"")));
    // The refused drive's node and name are looked up for its row.
    QCOMPARE(Lines.value(3), QStringLiteral("GetDeviceNameByDeviceAddress"));
    QCOMPARE(Lines.value(4), QStringLiteral("GetDeviceIdentityBySystemName"));
    QCOMPARE(Lines.value(5), QStringLiteral("CdvdBurnerGrabber_Create (before create)"));
    QCOMPARE(Lines.value(6), QStringLiteral("CdvdBurnerGrabber_Create (after create): "
                                            "PortID:3,BusID:0,TargetID:2,LUN:0"));
    QCOMPARE(Lines.value(7), QStringLiteral("GetDeviceNameByDeviceAddress"));
    QCOMPARE(Lines.value(8), QStringLiteral("CdvdBurnerGrabber_GetDeviceInformation"));
    QCOMPARE(Lines.last(), QStringLiteral("Destroy: Grabber"));
    // The empty DVD writer's region state is read although no disc is in it.
    QVERIFY(Lines.contains(QStringLiteral("CdvdBurnerGrabber_GetRPC")));
    QVERIFY(!Lines.contains(QStringLiteral("CdvdBurnerGrabber_GetInsertedDiscType")));
}

// The failure is raised, nothing is left to wait on, and the next scan runs.
void TestDeviceScan::scanThreadThatCannotStart_isRaisedOnce()
{
    StartBay("scan-drives.json");
    TsbDeviceFinder Finder;
    Finder.FTransportType = ttAspi;
    QString Raised;
    RefuseThreads(true);
    try {
        Finder.FindDevices(false);
    } catch (const EsbError &Error) {
        Raised = Error.Message();
    }
    RefuseThreads(false);

    QVERIFY2(Raised.startsWith(QStringLiteral("The device scan could not be started: ")),
             qPrintable(Raised));
    QVERIFY(!Finder.IsScanning());
    Finder.FindDevices(false);
    QVERIFY(Finder.Devices()->Count() > 0);
}

// While the first drive waits for its disc, the file already ends with the
// call it waits in; the second drive's lines follow once the first is done.
void TestDeviceScan::hangingFirstDrive_leavesItsCallOnDisc()
{
    StartBay("scan-spinning-first.json");
    TakeLogLines();
    std::string Error;
    const auto Bay = blankora::virtualbay::VirtualBay::current(Error);
    QVERIFY(Bay);
    QStringList OnDisc;
    TsbDeviceFinder Finder;
    Finder.SetWaitDialogFactory([&] {
        return std::make_unique<TWatchingDialog>([&](const QString &Text) {
            if (!Text.startsWith(QStringLiteral("Waiting")) || !OnDisc.isEmpty())
                return;
            OnDisc = LogLines();
            Bay->clock().advance(10);
        });
    });
    Finder.FTransportType = ttAspi;
    Finder.FindDevices(true);

    QCOMPARE(OnDisc.value(OnDisc.size() - 1), QStringLiteral("CdvdBurnerGrabber_TestUnitReady"));
    const QString Second = QStringLiteral(
        "CdvdBurnerGrabber_Create (after create): PortID:1,BusID:0,TargetID:1,LUN:0");
    QVERIFY(!OnDisc.contains(Second));
    const QStringList Lines = TakeLogLines();
    const qsizetype First = Lines.indexOf(QStringLiteral(
        "CdvdBurnerGrabber_Create (after create): PortID:1,BusID:0,TargetID:0,LUN:0"));
    // The first drive's block, up to its closing, comes before the second's.
    QVERIFY2(First >= 0 &&
                 Lines.indexOf(QStringLiteral("Destroy: Grabber"), First) < Lines.indexOf(Second),
             qPrintable(Lines.join(u'\n')));
}

QTEST_MAIN(TestDeviceScan)
#include "tst_devicescan.moc"
