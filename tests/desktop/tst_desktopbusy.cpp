#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "library/virtual/VirtualBay.h"
#include "pages/ufrmSelectDevice.h"

#include "support/MessageBoxRecorder.h"
#include "support/WizardDriver.h"

#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <memory>
#include <vector>

using blankora::virtualbay::VirtualBay;

// A drive that refuses to open (EBUSY) while other processes hold its node:
// the message names them, at most three, so the user knows what to close.
class TestDesktopBusy : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void holdersAreNamed_data();
    void holdersAreNamed();

private:
    // Starts a process that keeps Node open until it is killed; returns its id,
    // 0 when it did not come to hold the node.
    qint64 HoldNode(const QString &Node);

    std::shared_ptr<VirtualBay> FBay;
    std::unique_ptr<MessageBoxRecorder> FRecorder;
    std::vector<std::unique_ptr<QProcess>> FHolders;
    TProgramWindows FWindows;
};

void TestDesktopBusy::init()
{
    std::string Error;
    FBay = VirtualBay::fromFile(BLANKORA_SOURCE_DIR "/tests/desktop/busy-bay.json", Error);
    QVERIFY2(FBay, Error.c_str());
    VirtualBay::install(FBay);
    FRecorder = std::make_unique<MessageBoxRecorder>();
    QVERIFY(OpenProgram(FWindows));
}

void TestDesktopBusy::cleanup()
{
    for (auto &Holder : FHolders) {
        Holder->kill();
        Holder->waitForFinished();
    }
    FHolders.clear();
    CloseProgram(FWindows);
    VirtualBay::install(nullptr);
    FBay.reset();
    FRecorder.reset();
}

qint64 TestDesktopBusy::HoldNode(const QString &Node)
{
    auto Holder = std::make_unique<QProcess>();
    Holder->start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), QStringLiteral("exec 3<\"$1\"; exec sleep 600"),
                   QStringLiteral("sh"), Node});
    if (!Holder->waitForStarted())
        return 0;
    const qint64 Pid = Holder->processId();
    const QString Comm = QStringLiteral("/proc/%1/comm").arg(Pid);
    // Held once the shell has become sleep with the node as its descriptor 3.
    const bool Held = QTest::qWaitFor(
        [&] {
            QFile File(Comm);
            return File.open(QIODevice::ReadOnly) && File.readAll().trimmed() == "sleep" &&
                   QFile::exists(QStringLiteral("/proc/%1/fd/3").arg(Pid));
        },
        10000);
    FHolders.push_back(std::move(Holder));
    return Held ? Pid : 0;
}

void TestDesktopBusy::holdersAreNamed_data()
{
    QTest::addColumn<int>("holders");
    QTest::newRow("none visible: today's words") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("four: the first three") << 4;
}

void TestDesktopBusy::holdersAreNamed()
{
    QFETCH(int, holders);
    const QString Node = QString::fromStdString(FBay->drive(0).node());
    std::vector<qint64> Pids;
    for (int I = 0; I < holders; ++I)
        Pids.push_back(HoldNode(Node));
    QVERIFY(std::find(Pids.begin(), Pids.end(), 0) == Pids.end());
    std::sort(Pids.begin(), Pids.end());

    Button(FWindows.Welcome, "ButtonNext")->click();
    QPushButton *Next = Button(FWindows.Main, "ButtonNext");
    Next->click();
    auto *Devices =
        FWindows.Main->DevicePage()->findChild<QTreeWidget *>(QStringLiteral("lvDevices"));
    QCOMPARE(Devices->topLevelItemCount(), 1);
    Devices->setCurrentItem(Devices->topLevelItem(0));
    Next->click();

    QStringList Named;
    for (size_t I = 0; I < std::min<size_t>(Pids.size(), 3); ++I)
        Named << QStringLiteral("sleep (process %1)").arg(Pids[I]);
    const QString Drive = QStringLiteral("Virtual Busy (") + Node + u')';
    const QString Expected =
        Named.isEmpty()
            ? QStringLiteral("The drive %1 is in use by another program. Close that program or "
                             "unmount its disc, then click Refresh.")
                  .arg(Drive)
            : QStringLiteral("The drive %1 is in use by %2. Close that program or unmount its "
                             "disc, then click Refresh.")
                  .arg(Drive, Named.join(QStringLiteral(", ")));
    QCOMPARE(FRecorder->Texts(), QStringList{Expected});
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
}

QTEST_MAIN(TestDesktopBusy)
#include "tst_desktopbusy.moc"
