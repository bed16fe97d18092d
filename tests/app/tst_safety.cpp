#include "app/ufrmFinish.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "app/uProgram.h"
#include "framework/sbBurner.h"
#include "framework/sbLog.h"
#include "library/virtual/VirtualBay.h"
#include "library/virtual/VirtualDrive.h"
#include "pages/ufrmFinalAction.h"
#include "pages/ufrmOperationProgress.h"
#include "pages/ufrmSelectDevice.h"
#include "pages/ufrmSelectTransport.h"

#include "support/MessageBoxRecorder.h"
#include "support/ScenarioBuilder.h"
#include "support/TempConfigStore.h"
#include "support/WizardDriver.h"

#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cerrno>

using blankora::virtualbay::VirtualBay;
using blankora::virtualbay::VirtualDrive;

namespace {

constexpr uint8_t OpBlank = 0xA1;

// Drives of safety-bay.json, in the order of their addresses.
enum : int
{
    CdRw,
    EmptyDvd,
    Stubborn,
    Loose,
    Wide
};

int CommandCount(const VirtualDrive &Drive, uint8_t Opcode)
{
    const auto Log = Drive.commandLog();
    return static_cast<int>(std::count_if(Log.begin(), Log.end(), [Opcode](const auto &C) {
        return !C.cdb.empty() && C.cdb.front() == Opcode;
    }));
}

} // namespace

// The wizard on a bay of several drives: it erases the disc the user chose,
// once, and leaves no tray locked behind a step that failed.
class TestSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void chosenDriveGoneStopsNext_data();
    void chosenDriveGoneStopsNext();
    void repeatedClicksEraseOnce_data();
    void repeatedClicksEraseOnce();
    void failedStepLeavesTheTrayFree();
    void changedDiscIsNotErased_data();
    void changedDiscIsNotErased();
    void discSpaceQueryLogsEveryCall_data();
    void discSpaceQueryLogsEveryCall();
    void deviceColumnsShowWholeValues();
    void namedHandlersKeepTheirBehaviour();

private:
    VirtualDrive &Drive(int Index) const { return FBay->drive(size_t(Index)); }
    QPushButton *Next() const { return Button(FWindows.Main, "ButtonNext"); }
    // Welcome and transport page; ends on the device page with Product selected.
    void WalkToDevicePage(TsbTransportType Transport, const QString &Product);
    void WalkToSummary(const QString &Product);
    QStringList LogRows() const;

    std::unique_ptr<MessageBoxRecorder> FRecorder;
    std::shared_ptr<VirtualBay> FBay;
    TProgramWindows FWindows;
};

void TestSafety::init()
{
    std::string Error;
    FBay = VirtualBay::fromFile(BLANKORA_TEST_SCENARIOS "/safety-bay.json", Error);
    QVERIFY2(FBay, Error.c_str());
    VirtualBay::install(FBay);
    FRecorder = std::make_unique<MessageBoxRecorder>();
    QVERIFY(OpenProgram(FWindows));
}

void TestSafety::cleanup()
{
    CloseProgram(FWindows);
    VirtualBay::install(nullptr);
    FBay.reset();
    FRecorder.reset();
}

void TestSafety::WalkToDevicePage(TsbTransportType Transport, const QString &Product)
{
    Button(FWindows.Welcome, "ButtonNext")->click();
    const char *Radio = Transport == ttAspi ? "rbAspi" : "rbSpti";
    FWindows.Main->TransportPage()->findChild<QRadioButton *>(QLatin1String(Radio))->click();
    Next()->click();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    auto *List = FWindows.Main->DevicePage()->findChild<QTreeWidget *>(QStringLiteral("lvDevices"));
    const QList<QTreeWidgetItem *> Rows = List->findItems(Product, Qt::MatchExactly, 0);
    QCOMPARE(Rows.size(), 1);
    List->setCurrentItem(Rows.first());
    QCOMPARE(FWindows.Main->DevicePage()->GetSelectedDeviceInfo().Product, Product);
}

void TestSafety::WalkToSummary(const QString &Product)
{
    WalkToDevicePage(ttSpti, Product);
    Next()->click();
    Next()->click();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 4);
}

QStringList TestSafety::LogRows() const
{
    QStringList Rows;
    const auto *List =
        FWindows.Main->OperationPage()->findChild<QTreeWidget *>(QStringLiteral("lvLog"));
    for (int I = 0; I < List->topLevelItemCount(); ++I)
        Rows << List->topLevelItem(I)->text(0);
    return Rows;
}

void TestSafety::chosenDriveGoneStopsNext_data()
{
    QTest::addColumn<int>("transport");
    QTest::addColumn<QString>("product");
    QTest::addColumn<int>("openError");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    // The empty drive has no disc information, so Next looks again, quietly.
    const QString Gone = QStringLiteral("The drive Virtual DVD-RW (");
    const QString GoneEnd = QStringLiteral("is no longer available. Check that it is connected, "
                                           "click Refresh and choose a drive again.");
    QTest::newRow("spti, vanished")
        << int(ttSpti) << "Virtual DVD-RW" << 0 << Gone + "CdRom1)" << GoneEnd;
    // A drive that refuses this user stays listed and says so.
    const QString Denied = QStringLiteral("You have no access to the drive ");
    const QString DeniedEnd = QStringLiteral("sudo adduser $USER cdrom, then log out and log in "
                                             "again.");
    QTest::newRow("spti, cannot be opened")
        << int(ttSpti) << "Virtual DVD-RW" << EACCES << Denied + "Virtual DVD-RW (" << DeniedEnd;
    QTest::newRow("aspi, vanished") << int(ttAspi) << "Virtual DVD-RW" << 0 << Gone << GoneEnd;
    QTest::newRow("aspi, cannot be opened")
        << int(ttAspi) << "Virtual DVD-RW" << EACCES << Denied + "Virtual DVD-RW (" << DeniedEnd;
    // With a disc listed, the drive is opened for the erase straight away.
    const QString OpenEnd =
        QStringLiteral("). Check that it is connected, click Refresh and choose a drive again.");
    QTest::newRow("spti, vanished before opening")
        << int(ttSpti) << "Virtual CD-RW" << 0
        << "The drive Virtual CD-RW (CdRom0) could not be opened for erasing "
           "(StarBurn_CdvdBurnerGrabber_Create() failed"
        << OpenEnd;
    QTest::newRow("aspi, refused opening")
        << int(ttAspi) << "Virtual CD-RW" << EACCES << "The drive Virtual CD-RW (" << OpenEnd;
}

void TestSafety::chosenDriveGoneStopsNext()
{
    QFETCH(int, transport);
    QFETCH(QString, product);
    QFETCH(int, openError);
    QFETCH(QString, start);
    QFETCH(QString, end);
    WalkToDevicePage(TsbTransportType(transport), product);
    VirtualDrive &Chosen = Drive(product == QStringLiteral("Virtual CD-RW") ? CdRw : EmptyDvd);
    if (openError != 0)
        Chosen.setOpenError(openError);
    else
        Chosen.setVanishAfter(0);

    Next()->click();

    QCOMPARE(FRecorder->Texts().size(), 1);
    const QString Text = FRecorder->Texts().first();
    QVERIFY2(Text.startsWith(start), qPrintable(Text));
    QVERIFY2(Text.endsWith(end), qPrintable(Text));
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    QVERIFY(FWindows.Main->Burner()->FGrabber == nullptr);
    for (int I = 0; I < int(FBay->driveCount()); ++I)
        QVERIFY(!Drive(I).locked());
    QVERIFY(Next()->isEnabled());
}

void TestSafety::repeatedClicksEraseOnce_data()
{
    QTest::addColumn<int>("clicks");
    QTest::newRow("double click") << 2;
    QTest::newRow("triple click") << 3;
}

void TestSafety::repeatedClicksEraseOnce()
{
    QFETCH(int, clicks);
    WalkToSummary(QStringLiteral("Virtual CD-RW"));

    // The later clicks wait in the queue while the first one runs.
    for (int I = 1; I < clicks; ++I)
        QMetaObject::invokeMethod(Next(), &QPushButton::click, Qt::QueuedConnection);
    Next()->click();
    QCoreApplication::processEvents();

    QCOMPARE(CommandCount(Drive(CdRw), OpBlank), 1);
    QVERIFY2(FRecorder->Boxes().isEmpty(), qPrintable(FRecorder->Texts().join(u'\n')));
    QCOMPARE(FWindows.Main->RunState(), rsFinished);
    QVERIFY(!FWindows.Finish->isVisible());
    QCOMPARE(LogRows().count(QStringLiteral("Erase started")), 1);
    QCOMPARE(LogRows().last(), QStringLiteral("Erase completed"));
}

void TestSafety::failedStepLeavesTheTrayFree()
{
    // The device is opened and locked; reading its speeds then fails.
    WalkToDevicePage(ttSpti, QStringLiteral("Virtual Stubborn"));
    Next()->click();
    QCOMPARE(FRecorder->Texts().size(), 1);
    QVERIFY2(FRecorder->Texts().first().startsWith(
                 QStringLiteral("StarBurn_CdvdBurnerGrabber_SetSpeeds() failed")),
             qPrintable(FRecorder->Texts().first()));
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    QVERIFY(!Drive(Stubborn).locked());
    QVERIFY(FWindows.Main->Burner()->FGrabber == nullptr);

    Button(FWindows.Main, "ButtonPrev")->click();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 0);
    QVERIFY(!Drive(Stubborn).locked());
    QCOMPARE(Drive(Stubborn).openHandles(), 0);
}

void TestSafety::changedDiscIsNotErased_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("erased");
    // The tray cannot be locked: the wizard informs and goes on.
    const QString Loose = QStringLiteral("Virtual Loose");
    QTest::newRow("same disc") << Loose << "" << true;
    QTest::newRow("blanked by another program") << Loose << "blank" << false;
    QTest::newRow("another label") << Loose << "label" << false;
    QTest::newRow("another disc type") << Loose << "type" << false;
    // A locked tray keeps the disc in, not other programs off it.
    const QString Locked = QStringLiteral("Virtual CD-RW");
    QTest::newRow("locked, same disc") << Locked << "" << true;
    QTest::newRow("locked, blanked by another program") << Locked << "blank" << false;
    QTest::newRow("locked, another drive on the node") << Locked << "drive" << false;
}

void TestSafety::changedDiscIsNotErased()
{
    QFETCH(QString, product);
    QFETCH(QString, change);
    QFETCH(bool, erased);
    const bool Lockable = product == QStringLiteral("Virtual CD-RW");
    WalkToSummary(product);
    QCOMPARE(FRecorder->Texts().size(), Lockable ? 0 : 1);
    FRecorder->Clear();

    TsbBurner *Burner = FWindows.Main->Burner();
    const int Index = Lockable ? CdRw : Loose;
    QCOMPARE(Drive(Index).locked(), Lockable);
    if (change == QStringLiteral("blank")) {
        auto Opened = FBay->openByAddress(1, 0, uint8_t(Index), 0);
        QVERIFY(Opened.transport);
        const auto Reply =
            blankora::test::send(*Opened.transport, {OpBlank, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        QVERIFY(Reply.result.ok());
    } else if (change == QStringLiteral("label")) {
        QCOMPARE(Burner->FDiscLabel, QStringLiteral("PHOTOS"));
        Burner->FDiscLabel = QStringLiteral("HOLIDAY");
    } else if (change == QStringLiteral("type")) {
        Burner->FDiscType = DISC_TYPE_DVDPLUSRW;
    } else if (change == QStringLiteral("drive")) {
        QCOMPARE(Burner->FDriveProduct, product);
        Burner->FDriveProduct = QStringLiteral("Virtual Other");
    }
    Drive(Index).clearCommandLog();

    Next()->click();

    QCOMPARE(CommandCount(Drive(Index), OpBlank), erased ? 1 : 0);
    if (erased) {
        QVERIFY2(FRecorder->Boxes().isEmpty(), qPrintable(FRecorder->Texts().join(u'\n')));
        return;
    }
    const QString Node = QStringLiteral("CdRom%1").arg(Index);
    const QString Text =
        change == QStringLiteral("drive")
            ? QStringLiteral("The drive %1 is now BLANKORA Virtual CD-RW, not the drive BLANKORA "
                             "Virtual Other that you chose: nothing was erased. Go back to the "
                             "device selection and choose the drive again")
                  .arg(Node)
            : QStringLiteral("The disc in drive %1 was changed after you chose it: nothing was "
                             "erased. Put in the disc you want to erase, go back to the device "
                             "selection and choose the drive again")
                  .arg(Node);
    QCOMPARE(LogRows().last(), Text);
    QCOMPARE(FRecorder->Texts(), QStringList{Text + u'.'});
    Next()->click();
    QCOMPARE(LabelText(FWindows.Finish, "DescriptionLabel"),
             QStringLiteral("Blankora Wizard has finished with error"));
    QVERIFY(!Drive(Index).locked());
}

void TestSafety::discSpaceQueryLogsEveryCall_data()
{
    QTest::addColumn<int>("transport");
    QTest::addColumn<QStringList>("lines");
    const QStringList Queries{QStringLiteral("CdvdBurnerGrabber_GetDiscFreeSpace"),
                              QStringLiteral("CdvdBurnerGrabber_GetDiscUsedSpace"),
                              QStringLiteral("Destroy: Grabber")};
    QTest::newRow("spti") << int(ttSpti)
                          << QStringList{QStringLiteral("CdvdBurnerGrabber_CreateEx")} + Queries;
    QTest::newRow("aspi")
        << int(ttAspi)
        << QStringList{QStringLiteral("CdvdBurnerGrabber_Create (before create)")} + Queries;
}

void TestSafety::discSpaceQueryLogsEveryCall()
{
    QFETCH(int, transport);
    QFETCH(QStringList, lines);
    TempConfigStore Store;
    Store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    delete GLogger;
    GLogger = new TsbLogger();
    const QString LogFile = GLogger->GetLogFileName();
    WalkToDevicePage(TsbTransportType(transport), QStringLiteral("Virtual CD-RW"));
    QFile::remove(LogFile);

    TsbDeviceItem Item;
    Item.TransportType = TsbTransportType(transport);
    Item.DeviceName = QStringLiteral("CdRom0");
    Item.Address = TsbDeviceAddress{1, 1, 0, 0, 0};
    const TsbDiscSpace Space = TfrmSelectDevice::QueryDiscSpace(Item);
    QCOMPARE(Space.UsedBytes, uint64_t(10485760));

    QFile Log(LogFile);
    QVERIFY(Log.open(QIODevice::ReadOnly));
    QStringList Logged;
    for (const QString &Line :
         QString::fromUtf8(Log.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        Logged << Line.mid(Line.indexOf(QStringLiteral(": ")) + 2);
    Log.close();
    QFile::remove(LogFile);
    QCOMPARE(Logged, lines);
}

void TestSafety::deviceColumnsShowWholeValues()
{
    WalkToDevicePage(ttSpti, QStringLiteral("Virtual Wide"));
    auto *List = FWindows.Main->DevicePage()->findChild<QTreeWidget *>(QStringLiteral("lvDevices"));
    const QTreeWidgetItem *Row = List->currentItem();
    QVERIFY(Row->text(3).startsWith(QStringLiteral("DVD-RW")));
    QVERIFY(Row->text(4).endsWith(QStringLiteral(" MB")));
    const int Designed[] = {100, 70, 60, 60, 70, 85};
    for (int Column = 0; Column < 6; ++Column) {
        const int Shown = List->columnWidth(Column);
        QVERIFY(Shown >= Designed[Column]);
        // Sized to its contents, the column would not grow.
        List->resizeColumnToContents(Column);
        QVERIFY2(List->columnWidth(Column) <= Shown,
                 qPrintable(QStringLiteral("column %1: %2 shown, %3 needed")
                                .arg(Column)
                                .arg(Shown)
                                .arg(List->columnWidth(Column))));
    }
}

void TestSafety::namedHandlersKeepTheirBehaviour()
{
    TfrmOperationProgress Dialog;
    Dialog.SetInfoText(QStringLiteral("Scanning"));
    Dialog.FormCreate();
    QCOMPARE(LabelText(&Dialog, "lblInfo"), QString());
    QVERIFY(!Dialog.IsShowing());

    TfrmFinalAction Page;
    Page.FormShow();
    QCOMPARE(Page.findChild<QWidget *>(QStringLiteral("pnlTop"))->height(), 36);

    Button(FWindows.Welcome, "ButtonNext")->click();
    FWindows.Main->PageWorkBegin(FWindows.Main->TransportPage());
    QVERIFY(!FWindows.Main->FormClose());
    QVERIFY(FWindows.Welcome->isVisible() || FWindows.Main->isVisible());
    FWindows.Main->PageWorkEnd(FWindows.Main->TransportPage());
    QVERIFY(FWindows.Main->FormClose());
    QVERIFY(!FWindows.Welcome->isVisible());
}

QTEST_MAIN(TestSafety)
#include "tst_safety.moc"
