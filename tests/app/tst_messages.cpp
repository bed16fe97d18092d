#include "app/ufrmFinish.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "app/uProgram.h"
#include "framework/sbBurner.h"
#include "library/virtual/VirtualBay.h"
#include "library/virtual/VirtualDrive.h"
#include "pages/ufrmFinalAction.h"
#include "pages/ufrmOperationProgress.h"
#include "pages/ufrmSelectDevice.h"
#include "pages/ufrmSelectTransport.h"

#include "support/MessageBoxRecorder.h"
#include "support/WizardDriver.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using blankora::virtualbay::VirtualBay;
using blankora::virtualbay::VirtualDrive;

namespace {

constexpr int ColMedia = 3;
const QString CdromAdvice =
    QStringLiteral("add yourself to it with the command sudo adduser $USER cdrom, then log out "
                   "and log in again.");

int CommandCount(const VirtualDrive &Drive, uint8_t Opcode)
{
    int Count = 0;
    for (const auto &Command : Drive.commandLog())
        Count += !Command.cdb.empty() && Command.cdb.front() == Opcode ? 1 : 0;
    return Count;
}

} // namespace

// Drives that cannot be used as they stand: each says why, once, in words
// that name the drive and say what to do.
class TestMessages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void refusedDriveIsListedAndExplained_data();
    void refusedDriveIsListedAndExplained();
    void readOnlyDriveIsExplainedOnce();
    void driveWithoutReadyDiscSaysWhy_data();
    void driveWithoutReadyDiscSaysWhy();
    void spinningDiscIsWaitedFor_data();
    void spinningDiscIsWaitedFor();
    void slowQuietRescanShowsTheWaitDialog();
    void boxAfterQuietRescanIsPainted();
    void mountedDiscIsCaughtOnTheDevicePage();
    void vanishedDriveGivesOneBox();
    void longLogLineIsShownWhole();
    void transportPageSpeaksOfLinux();

private:
    QPushButton *Next() const { return Button(FWindows.Main, "ButtonNext"); }
    QTreeWidget *Devices() const;
    QTreeWidgetItem *Row(const QString &Product) const;
    // Welcome and transport page; ends on the device page.
    void WalkToDevicePage(TsbTransportType Transport = ttSpti);
    void Choose(const QString &Product);

    std::unique_ptr<MessageBoxRecorder> FRecorder;
    std::shared_ptr<VirtualBay> FBay;
    TProgramWindows FWindows;
};

void TestMessages::init()
{
    const QByteArray Function = QTest::currentTestFunction();
    const char *Scenario = Function == "spinningDiscIsWaitedFor" ? BLANKORA_TEST_SCENARIOS
                               "/messages-spinning.json"
                           : Function == "slowQuietRescanShowsTheWaitDialog"
                               ? BLANKORA_TEST_SCENARIOS "/messages-spinning-later.json"
                               : BLANKORA_TEST_SCENARIOS "/messages-bay.json";
    std::string Error;
    FBay = VirtualBay::fromFile(Scenario, Error);
    QVERIFY2(FBay, Error.c_str());
    VirtualBay::install(FBay);
    FRecorder = std::make_unique<MessageBoxRecorder>();
    QVERIFY(OpenProgram(FWindows));
}

void TestMessages::cleanup()
{
    CloseProgram(FWindows);
    VirtualBay::install(nullptr);
    FBay.reset();
    FRecorder.reset();
}

QTreeWidget *TestMessages::Devices() const
{
    return FWindows.Main->DevicePage()->findChild<QTreeWidget *>(QStringLiteral("lvDevices"));
}

QTreeWidgetItem *TestMessages::Row(const QString &Product) const
{
    const QList<QTreeWidgetItem *> Rows = Devices()->findItems(Product, Qt::MatchExactly, 0);
    return Rows.size() == 1 ? Rows.first() : nullptr;
}

void TestMessages::WalkToDevicePage(TsbTransportType Transport)
{
    Button(FWindows.Welcome, "ButtonNext")->click();
    const char *Radio = Transport == ttAspi ? "rbAspi" : "rbSpti";
    FWindows.Main->TransportPage()->findChild<QRadioButton *>(QLatin1String(Radio))->click();
    Next()->click();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
}

void TestMessages::Choose(const QString &Product)
{
    QTreeWidgetItem *Found = Row(Product);
    QVERIFY2(Found != nullptr, qPrintable(Product));
    Devices()->setCurrentItem(Found);
}

void TestMessages::refusedDriveIsListedAndExplained_data()
{
    QTest::addColumn<int>("transport");
    QTest::addColumn<int>("drive");
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    const QString Locked = QStringLiteral("You have no access to the drive Virtual Locked (");
    const QString Busy = QStringLiteral("The drive Virtual Busy (");
    const QString BusyEnd = QStringLiteral(") is in use by another program. Close that program "
                                           "or unmount its disc, then click Refresh.");
    QTest::newRow("spti, EACCES") << int(ttSpti) << 0 << "No access" << Locked << CdromAdvice;
    QTest::newRow("aspi, EACCES") << int(ttAspi) << 0 << "No access" << Locked << CdromAdvice;
    QTest::newRow("spti, EBUSY") << int(ttSpti) << 1 << "In use" << Busy << BusyEnd;
    QTest::newRow("aspi, EBUSY") << int(ttAspi) << 1 << "In use" << Busy << BusyEnd;
}

void TestMessages::refusedDriveIsListedAndExplained()
{
    QFETCH(int, transport);
    QFETCH(int, drive);
    QFETCH(QString, media);
    QFETCH(QString, start);
    QFETCH(QString, end);
    WalkToDevicePage(TsbTransportType(transport));
    const QString Node = QString::fromStdString(FBay->drive(size_t(drive)).node());
    const QList<QTreeWidgetItem *> Rows = Devices()->findItems(media, Qt::MatchExactly, ColMedia);
    QCOMPARE(Rows.size(), 1);
    // Named as the system lists it, although it cannot be opened.
    QCOMPARE(Rows.first()->text(0),
             QString::fromStdString(FBay->drive(size_t(drive)).declared().product));
    QCOMPARE(Rows.first()->text(1), QStringLiteral("BLANKORA"));

    // A double click explains, and so does Next.
    emit Devices()->itemDoubleClicked(Rows.first(), 0);
    Devices()->setCurrentItem(Rows.first());
    Next()->click();
    QCOMPARE(FRecorder->Texts().size(), 2);
    QCOMPARE(FRecorder->Texts().at(0), FRecorder->Texts().at(1));
    const QString Text = FRecorder->Texts().first();
    QVERIFY2(Text.startsWith(start + Node) && Text.endsWith(end), qPrintable(Text));
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
}

void TestMessages::readOnlyDriveIsExplainedOnce()
{
    WalkToDevicePage();
    Choose(QStringLiteral("Virtual Reader"));
    Next()->click();
    QCOMPARE(FRecorder->Texts(),
             QStringList{QStringLiteral("The drive Virtual Reader (CdRom2) can be read but not "
                                        "written by your user, so its disc cannot be erased. On "
                                        "Linux, optical drives belong to the group \"cdrom\": ") +
                         CdromAdvice});
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    QVERIFY(FWindows.Main->Burner()->FGrabber == nullptr);
    QCOMPARE(FBay->drive(2).openHandles(), 0);
}

void TestMessages::driveWithoutReadyDiscSaysWhy_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<int>("drive");
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << "Virtual Empty" << 3 << "Empty"
                           << "There is no disc in the drive Virtual Empty (%1). Put in the "
                              "rewritable disc you want to erase, then click Next again.";
    QTest::newRow("tray open") << "Virtual Open" << 4 << "Tray open"
                               << "The tray of the drive Virtual Open (%1) is open. Put in the "
                                  "rewritable disc you want to erase, close the tray, then click "
                                  "Next again.";
    QTest::newRow("not ready") << "Virtual Stuck" << 7 << "Not ready"
                               << "The disc in the drive Virtual Stuck (%1) did not become ready. "
                                  "Take it out, put it in again, wait until the drive is quiet, "
                                  "then click Refresh.";
}

void TestMessages::driveWithoutReadyDiscSaysWhy()
{
    QFETCH(QString, product);
    QFETCH(int, drive);
    QFETCH(QString, media);
    QFETCH(QString, message);
    WalkToDevicePage();
    Choose(product);
    QCOMPARE(Row(product)->text(ColMedia), media);
    Next()->click();
    const QString Node = QString::fromStdString(FBay->drive(size_t(drive)).node());
    QCOMPARE(FRecorder->Texts(), QStringList{message.arg(Node)});
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
}

void TestMessages::spinningDiscIsWaitedFor_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("the disc becomes ready") << false;
    QTest::newRow("the user cancels") << true;
}

void TestMessages::spinningDiscIsWaitedFor()
{
    QFETCH(bool, cancel);
    QString Shown;
    QTimer Watch;
    connect(&Watch, &QTimer::timeout, this, [&] {
        for (QWidget *Window : QApplication::topLevelWidgets()) {
            auto *Dialog = qobject_cast<TfrmOperationProgress *>(Window);
            if (Dialog == nullptr || !Dialog->isVisible())
                continue;
            const QString Info = LabelText(Dialog, "lblInfo");
            if (!Info.startsWith(QStringLiteral("Waiting")) || !Shown.isEmpty())
                continue;
            Shown = Info;
            if (cancel)
                Button(Dialog, "btnCancel")->click();
            else
                FBay->clock().advance(10);
        }
    });
    Watch.start(5);
    Button(FWindows.Welcome, "ButtonNext")->click();
    Next()->click();
    Watch.stop();

    QCOMPARE(Shown, QStringLiteral("Waiting up to 20 seconds for the disc in Virtual Spinning to "
                                   "become ready."));
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    if (cancel) {
        QCOMPARE(Devices()->topLevelItemCount(), 0);
        return;
    }
    QCOMPARE(Row(QStringLiteral("Virtual Spinning"))->text(ColMedia), QStringLiteral("CD-RW"));
}

// The disc was not ready at the scan and spins up when Next looks again.
void TestMessages::slowQuietRescanShowsTheWaitDialog()
{
    WalkToDevicePage();
    Choose(QStringLiteral("Virtual Spinning"));
    FBay->drive(0).setNotReady(false);
    QString Shown;
    bool CancelShown = false;
    QTimer Watch;
    connect(&Watch, &QTimer::timeout, this, [&] {
        for (QWidget *Window : QApplication::topLevelWidgets()) {
            auto *Dialog = qobject_cast<TfrmOperationProgress *>(Window);
            if (Dialog == nullptr || !Dialog->isVisible() || !Shown.isEmpty())
                continue;
            const QString Info = LabelText(Dialog, "lblInfo");
            if (!Info.startsWith(QStringLiteral("Waiting")))
                continue;
            Shown = Info;
            CancelShown = Button(Dialog, "btnCancel")->isVisible();
            FBay->clock().advance(10);
        }
    });
    Watch.start(5);
    Next()->click();
    Watch.stop();

    QCOMPARE(Shown, QStringLiteral("Waiting up to 20 seconds for the disc in Virtual Spinning to "
                                   "become ready."));
    QVERIFY(CancelShown);
    QVERIFY2(FRecorder->Texts().isEmpty(), qPrintable(FRecorder->Texts().join(u'\n')));
    QCOMPARE(FWindows.Main->ActivePageIndex(), 3);
}

void TestMessages::boxAfterQuietRescanIsPainted()
{
    WalkToDevicePage();
    Choose(QStringLiteral("Virtual Empty"));
    // The real box this time, grabbed from the screen as it is shown.
    FRecorder.reset();
    QImage Shown;
    QString Text;
    QTimer Poll;
    int Ticks = 0;
    connect(&Poll, &QTimer::timeout, this, [&] {
        auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (Box == nullptr || !Box->isVisible())
            return;
        // What reached the screen; nothing at all until the first paint is flushed.
        Shown = Box->screen()->grabWindow(Box->winId()).toImage();
        if (Shown.isNull() && ++Ticks < 500)
            return;
        Poll.stop();
        Text = Box->text();
        Box->accept();
    });
    Poll.start(10);
    Next()->click();

    QVERIFY(Text.startsWith(QStringLiteral("There is no disc in the drive Virtual Empty (")));
    QVERIFY(!Shown.isNull());
    int Dark = 0;
    for (int Y = 0; Y < Shown.height(); ++Y)
        for (int X = 0; X < Shown.width(); ++X)
            Dark += qGray(Shown.pixel(X, Y)) < 32 ? 1 : 0;
    QVERIFY2(
        Dark * 4 < Shown.width() * Shown.height(),
        qPrintable(
            QStringLiteral("%1 of %2 pixels dark").arg(Dark).arg(Shown.width() * Shown.height())));
}

void TestMessages::mountedDiscIsCaughtOnTheDevicePage()
{
    WalkToDevicePage();
    Choose(QStringLiteral("Virtual Mounted"));
    Next()->click();
    QCOMPARE(FRecorder->Texts(),
             QStringList{QStringLiteral(
                 "The disc in the drive Virtual Mounted (CdRom5) is mounted at /media/user/BACKUP, "
                 "so it cannot be erased. Unmount it (for example with the eject button of your "
                 "file manager, or with the command umount \"/media/user/BACKUP\"), then click "
                 "Next again.")});
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    QVERIFY(!FBay->drive(5).locked());
    QCOMPARE(FBay->drive(5).openHandles(), 0);
    QCOMPARE(CommandCount(FBay->drive(5), 0xA1), 0);
}

void TestMessages::vanishedDriveGivesOneBox()
{
    WalkToDevicePage();
    Choose(QStringLiteral("Virtual Vanish"));
    Next()->click();
    Next()->click();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 4);
    // The drive goes while the erase waits for it.
    FBay->drive(6).setVanishAfter(20);

    Next()->click();
    QCOMPARE(FRecorder->Texts().size(), 1);
    QVERIFY2(FRecorder->Texts().first().startsWith(
                 QStringLiteral("StarBurn_CdvdBurnerGrabber_Blank failed")),
             qPrintable(FRecorder->Texts().first()));
    Next()->click();
    QCOMPARE(LabelText(FWindows.Finish, "DescriptionLabel"),
             QStringLiteral("Blankora Wizard has finished with error"));
    DestroyProgramWindows(FWindows);
    QCOMPARE(FRecorder->Texts().size(), 1);
}

void TestMessages::longLogLineIsShownWhole()
{
    WalkToDevicePage();
    Choose(QStringLiteral("Virtual Sticky"));
    Next()->click();
    Next()->click();
    Next()->click();
    auto *Log = FWindows.Main->OperationPage()->findChild<QTreeWidget *>(QStringLiteral("lvLog"));
    QTreeWidgetItem *Failed = nullptr;
    for (int I = 0; I < Log->topLevelItemCount(); ++I)
        if (Log->topLevelItem(I)->text(0).contains(QStringLiteral("Eject() failed")))
            Failed = Log->topLevelItem(I);
    QVERIFY(Failed != nullptr);
    QCOMPARE(Failed->toolTip(0), Failed->text(0));
}

void TestMessages::transportPageSpeaksOfLinux()
{
    TSelectTransportForm Page;
    QCOMPARE(Page.findChild<QRadioButton *>(QStringLiteral("rbSpti"))->text(),
             QStringLiteral("SPTI - SCSI Pass Through Interface"));
    QCOMPARE(Page.findChild<QRadioButton *>(QStringLiteral("rbAspi"))->text(),
             QStringLiteral("ASPI - Advanced SCSI Programming Interface"));
    const QString Spti = LabelText(&Page, "Label2");
    const QString Aspi = LabelText(&Page, "Label3");
    QVERIFY2(Spti.contains(QStringLiteral("/dev/srN")) && !Spti.contains(QStringLiteral("Windows")),
             qPrintable(Spti));
    QVERIFY2(Aspi.contains(QStringLiteral("sysfs")) && !Aspi.contains(QStringLiteral("Windows")),
             qPrintable(Aspi));
}

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
