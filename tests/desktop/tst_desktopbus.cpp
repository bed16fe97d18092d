#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErase.h"
#include "framework/sbLog.h"
#include "framework/sbMessageBox.h"
#include "library/StarBurn.h"
#include "library/virtual/VirtualScenario.h"
#include "pages/ufrmFinalAction.h"
#include "pages/ufrmSelectDevice.h"

#include "support/ChosenDrive.h"
#include "support/ScenarioBuilder.h"
#include "support/TempConfigStore.h"
#include "support/WizardDriver.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

using blankora::test::ScenarioBuilder;
using blankora::virtualbay::DriveSpec;
using blankora::virtualbay::VirtualBay;

namespace {

const QString Logind = QStringLiteral("org.freedesktop.login1");
const QString UDisks = QStringLiteral("org.freedesktop.UDisks2");
const QString NoSleepLine =
    QStringLiteral("The computer will not sleep or shut down until the erase has ended");

// The locks logind holds, as "what|who|why|mode".
QStringList Inhibitors()
{
    const QDBusMessage Reply = QDBusConnection::systemBus().call(QDBusMessage::createMethodCall(
        Logind, QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors")));
    QStringList Locks;
    if (Reply.type() != QDBusMessage::ReplyMessage)
        return {QStringLiteral("error: ") + Reply.errorMessage()};
    const auto List = Reply.arguments().value(0).value<QDBusArgument>();
    List.beginArray();
    while (!List.atEnd()) {
        QString What, Who, Why, Mode;
        uint Uid = 0, Pid = 0;
        List.beginStructure();
        List >> What >> Who >> Why >> Mode >> Uid >> Pid;
        List.endStructure();
        Locks << QStringList{What, Who, Why, Mode}.join(u'|');
    }
    List.endArray();
    return Locks;
}

} // namespace

// The desktop's system services on a private system bus of the test's own,
// with python3-dbusmock standing for logind and UDisks2: the erase holds a
// lock against sleep and shutdown from its start until the drive is released,
// and a mounted disc is unmounted from its message in one click.
class TestDesktopBus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void eraseHoldsTheSleepLock_data();
    void eraseHoldsTheSleepLock();
    void mountedDiscOffersUnmount_data();
    void mountedDiscOffersUnmount();

private:
    // Starts python3-dbusmock with Arguments and waits until Name is on the bus.
    bool StartMock(QProcess &Mock, const QString &Name, const QStringList &Arguments);
    bool StopMock(QProcess &Mock, const QString &Name);
    // Runs an erase through the operation page on one virtual CD-RW drive with
    // a stopped clock; Tick runs on every poll while the blank is in progress.
    void RunErase(const QJsonObject &Faults, const std::function<void(TsbBurner &)> &Tick);
    QStringList OperationLog() const;

    QString FPython;
    QProcess FBus;
    QProcess FLogind;
    QProcess FUDisks;
    std::unique_ptr<ScenarioBuilder> FScenario;
    std::shared_ptr<VirtualBay> FBay;
    std::unique_ptr<TsbCallBackEventer> FEventer;
    std::unique_ptr<TsbBurner> FBurner;
    std::unique_ptr<TsbEraseAction> FAction;
    std::unique_ptr<TsbActionList> FList;
    std::unique_ptr<TfrmFinalAction> FPage;
    TsbMessageBoxHook FPreviousHook;
};

void TestDesktopBus::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
    // The Debian interpreter first: another python3 on the PATH lacks Debian's modules.
    for (const QString &Candidate :
         {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        if (QProcess::execute(Candidate,
                              {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) == 0) {
            FPython = Candidate;
            break;
        }
    }
    if (FPython.isEmpty())
        QSKIP("python3-dbusmock is not installed");
    FBus.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address")});
    QVERIFY(FBus.waitForReadyRead(10000));
    const QByteArray Address = FBus.readLine().trimmed();
    QVERIFY(!Address.isEmpty());
    // Before the first use of the system bus: the connection reads it once.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", Address);
    QVERIFY(QDBusConnection::systemBus().isConnected());
    FPreviousHook = SetMessageBoxHook([](const TsbMessageBoxRecord &) {});
}

void TestDesktopBus::cleanupTestCase()
{
    QVERIFY(StopMock(FLogind, Logind));
    QVERIFY(StopMock(FUDisks, UDisks));
    FBus.terminate();
    FBus.waitForFinished();
    SetMessageBoxHook(FPreviousHook);
}

bool TestDesktopBus::StartMock(QProcess &Mock, const QString &Name, const QStringList &Arguments)
{
    if (Mock.state() != QProcess::NotRunning)
        return true;
    // Its list of calls is not wanted; its failures are.
    Mock.setStandardOutputFile(QProcess::nullDevice());
    Mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Mock.start(FPython, QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                    QStringLiteral("--system")} +
                            Arguments);
    if (!Mock.waitForStarted())
        return false;
    return QTest::qWaitFor(
        [&] { return QDBusConnection::systemBus().interface()->isServiceRegistered(Name); }, 20000);
}

bool TestDesktopBus::StopMock(QProcess &Mock, const QString &Name)
{
    if (Mock.state() == QProcess::NotRunning)
        return true;
    Mock.terminate();
    Mock.waitForFinished();
    return QTest::qWaitFor(
        [&] { return !QDBusConnection::systemBus().interface()->isServiceRegistered(Name); },
        10000);
}

void TestDesktopBus::cleanup()
{
    FPage.reset();
    FList.reset();
    FAction.reset();
    FBurner.reset();
    StarBurn_DownShut();
    VirtualBay::install(nullptr);
    FBay.reset();
    FScenario.reset();
    GCallBackEventer = nullptr;
    FEventer.reset();
}

void TestDesktopBus::RunErase(const QJsonObject &Faults,
                              const std::function<void(TsbBurner &)> &Tick)
{
    QJsonObject Extra{{"address", "1:0:0:0"}, {"timing", QJsonObject{{"blankFastSeconds", 60}}}};
    if (!Faults.isEmpty())
        Extra.insert("faults", Faults);
    FScenario = std::make_unique<ScenarioBuilder>();
    FScenario->timeFactor(0).drive("cd-writer", "CD-RW", "complete", Extra);
    FBay = FScenario->build();
    QVERIFY2(FBay, FScenario->lastError().c_str());
    VirtualBay::install(FBay);
    QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));
    FEventer = std::make_unique<TsbCallBackEventer>();
    GCallBackEventer = FEventer.get();

    FBurner = std::make_unique<TsbBurner>();
    FBurner->FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    FBurner->FDeviceName = QStringLiteral("/dev/sr0");
    FBurner->FDiscType = DISC_TYPE_CDRW;
    FBurner->CreateGrabber();
    ShowChosenDrive(*FBurner);
    FBurner->Lock();
    FBurner->FSucceeded = true;
    FAction = std::make_unique<TsbEraseAction>();
    FList = std::make_unique<TsbActionList>();
    FList->Add()->FAction = FAction.get();
    FPage = std::make_unique<TfrmFinalAction>();
    FPage->FActionList = FList.get();
    FPage->AttachBurner(FBurner.get());

    QTimer Poll;
    connect(&Poll, &QTimer::timeout, this, [this, &Tick] {
        if (FBay->drive(0).busy())
            Tick(*FBurner);
        FBay->clock().advance(100);
    });
    Poll.start(5);
    FPage->RunActions();
}

QStringList TestDesktopBus::OperationLog() const
{
    QStringList Lines;
    const auto *List = FPage->findChild<QTreeWidget *>(QStringLiteral("lvLog"));
    for (int I = 0; I < List->topLevelItemCount(); ++I)
        Lines << List->topLevelItem(I)->text(0);
    return Lines;
}

void TestDesktopBus::eraseHoldsTheSleepLock_data()
{
    QTest::addColumn<bool>("logind");
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("succeeded");
    const QJsonObject Failing{{"blankFailsAt", 0.4}, {"blankFailSense", "03/51/00"}};
    QTest::newRow("erased") << true << QJsonObject() << false << true;
    QTest::newRow("blank fails") << true << Failing << false << false;
    QTest::newRow("cancelled") << true << QJsonObject() << true << false;
    QTest::newRow("without logind the erase goes on") << false << QJsonObject() << false << true;
}

void TestDesktopBus::eraseHoldsTheSleepLock()
{
    QFETCH(bool, logind);
    QFETCH(QJsonObject, faults);
    QFETCH(bool, cancel);
    QFETCH(bool, succeeded);
    if (logind)
        QVERIFY(
            StartMock(FLogind, Logind, {QStringLiteral("--template"), QStringLiteral("logind")}));
    else
        QVERIFY(StopMock(FLogind, Logind));
    TempConfigStore Store;
    Store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    GLogger = new TsbLogger();
    const QString LogFile = GLogger->GetLogFileName();
    QFile::remove(LogFile);

    QStringList DuringBlank;
    bool Seen = false;
    RunErase(faults, [&](TsbBurner &Burner) {
        if (!Seen && logind)
            DuringBlank = Inhibitors();
        Seen = true;
        if (cancel && !Burner.FCancelled)
            Burner.Cancel();
    });
    delete GLogger;
    GLogger = nullptr;
    QFile Log(LogFile);
    QVERIFY(Log.open(QIODevice::ReadOnly));
    const QString Diagnostics = QString::fromUtf8(Log.readAll());

    QVERIFY(Seen);
    QCOMPARE(FBurner->FSucceeded, succeeded);
    QCOMPARE(OperationLog().contains(NoSleepLine), logind);
    QCOMPARE(Diagnostics.contains(QStringLiteral("Inhibit: no lock against sleep and shutdown")),
             !logind);
    if (!logind)
        return;
    QCOMPARE(DuringBlank, QStringList{QStringLiteral(
                              "sleep:shutdown:idle|Blankora|Erasing the disc in /dev/sr0|block")});
    // Closed with the drive's release: logind sees the descriptor's end.
    QTRY_COMPARE_WITH_TIMEOUT(Inhibitors(), QStringList(), 10000);
}

void TestDesktopBus::mountedDiscOffersUnmount_data()
{
    QTest::addColumn<bool>("udisks");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("page");
    const QString Mounted = QStringLiteral(
        "The disc in the drive Virtual Mounted (CdRom0) is mounted at /media/user/BACKUP, so it "
        "cannot be erased. Unmount it (for example with the eject button of your file manager, "
        "or with the command umount \"/media/user/BACKUP\"), then click Next again.");
    const QString Busy = QStringLiteral("Error unmounting /dev/sr0: target is busy");
    QTest::newRow("without UDisks2: OK only") << false << "" << QStringList{Mounted + u'|'} << 2;
    QTest::newRow("unmounted: on to the erase page")
        << true << "" << QStringList{Mounted + QStringLiteral("|Unmount")} << 3;
    QTest::newRow("UDisks2 refuses: its reason")
        << true << Busy
        << QStringList{Mounted + QStringLiteral("|Unmount"),
                       QStringLiteral("The disc could not be unmounted: ") + Busy + u'.' + u'|'}
        << 2;
}

void TestDesktopBus::mountedDiscOffersUnmount()
{
    QFETCH(bool, udisks);
    QFETCH(QString, error);
    QFETCH(QStringList, boxes);
    QFETCH(int, page);
    QVERIFY(StopMock(FUDisks, UDisks));
    std::string Failure;
    FBay = VirtualBay::fromFile(BLANKORA_SOURCE_DIR "/tests/desktop/mounted-bay.json", Failure);
    QVERIFY2(FBay, Failure.c_str());
    VirtualBay::install(FBay);
    const QString Node = QString::fromStdString(FBay->drive(0).node());
    if (udisks) {
        QJsonObject Parameters{{"device", QFileInfo(Node).fileName()}};
        if (!error.isEmpty())
            Parameters.insert("error", error);
        QVERIFY(StartMock(FUDisks, UDisks,
                          {QStringLiteral("--template"),
                           QStringLiteral(BLANKORA_SOURCE_DIR "/tests/desktop/udisks2.py"),
                           QStringLiteral("--parameters"),
                           QString::fromUtf8(QJsonDocument(Parameters).toJson())}));
    }
    QStringList Shown;
    SetMessageBoxOfferTaken(true);
    SetMessageBoxHook([&](const TsbMessageBoxRecord &Box) {
        Shown << Box.Text + u'|' + Box.Offer;
        // The bay has no unmount of its own: here it follows UDisks2's answer.
        if (!Box.Offer.isEmpty() && error.isEmpty())
            const_cast<DriveSpec &>(FBay->drive(0).declared()).mountPoint.clear();
    });
    TProgramWindows Windows;
    QVERIFY(OpenProgram(Windows));
    Button(Windows.Welcome, "ButtonNext")->click();
    QPushButton *Next = Button(Windows.Main, "ButtonNext");
    Next->click();
    auto *Devices =
        Windows.Main->DevicePage()->findChild<QTreeWidget *>(QStringLiteral("lvDevices"));
    Devices->setCurrentItem(Devices->topLevelItem(0));
    Next->click();
    const int Reached = Windows.Main->ActivePageIndex();
    CloseProgram(Windows);
    SetMessageBoxHook([](const TsbMessageBoxRecord &) {});
    SetMessageBoxOfferTaken(false);

    QCOMPARE(Shown, boxes);
    QCOMPARE(Reached, page);
}

QTEST_MAIN(TestDesktopBus)
#include "tst_desktopbus.moc"
