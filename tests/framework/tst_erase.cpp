#include "framework/sbErase.h"

#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErrors.h"
#include "framework/sbMessageBox.h"
#include "library/StarBurn.h"
#include "support/ChosenDrive.h"
#include "support/ScenarioBuilder.h"

#include <QJsonArray>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <initializer_list>

using blankora::test::ScenarioBuilder;
using blankora::virtualbay::VirtualBay;

namespace {

constexpr uint8_t OpBlank = 0xA1;

struct TLine
{
    QString Text;
    TsbLogItemType Kind;
};

// A burner that runs a step on each of its worker threads as it ends.
class TTestBurner : public TsbBurner
{
public:
    void EraseThreadTerminated() override
    {
        if (FOnThreadEnded)
            FOnThreadEnded();
        TsbBurner::EraseThreadTerminated();
    }

    std::function<void()> FOnThreadEnded;
};

} // namespace

// Runs the erase action the way the operation page does, on one virtual
// CD-RW drive whose blank takes a minute of drive time.
class TestErase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void interval_data();
    void interval();
    void successfulRunLogsInOrderAndEjects();
    void failedBlankGivesOneErrorAndNoEject();
    void failedSpeedSettingRunsNoBlank();
    void failedEjectStillCompletes();
    void driveGoneBeforeEjectIsAnError();
    void stepsBeforeTheBlankRunOnWorkers();
    void releaseAndEjectRunOnWorkers();
    void driveOwnSpeedIsLoggedAsSuch();
    void estimateTimerOnlyWhenAsked_data();
    void estimateTimerOnlyWhenAsked();
    void fastBlankOfSequentialDvdRwIsWarned_data();
    void fastBlankOfSequentialDvdRwIsWarned();

private:
    void OpenDrive(const QJsonObject &Faults = {}, double TimeFactor = 1000,
                   const QString &Profile = QStringLiteral("CD-RW"));
    // Runs the action; returns the raised text, empty when it completed.
    QString Run();
    QStringList Texts() const;
    bool BlankWasSent() const { return WasSent({OpBlank}); }
    bool WasSent(std::initializer_list<uint8_t> Opcodes) const;

    std::unique_ptr<ScenarioBuilder> FScenario;
    std::shared_ptr<VirtualBay> FBay;
    std::unique_ptr<TsbCallBackEventer> FEventer;
    std::unique_ptr<TTestBurner> FBurner;
    std::unique_ptr<TsbEraseAction> FAction;
    std::unique_ptr<TsbActionList> FList;
    QList<TLine> FLines;
    QStringList FBoxes;
    TsbMessageBoxHook FPreviousHook;
};

void TestErase::init()
{
    FLines.clear();
    FBoxes.clear();
    FPreviousHook =
        SetMessageBoxHook([this](const TsbMessageBoxRecord &Record) { FBoxes << Record.Text; });
    FEventer = std::make_unique<TsbCallBackEventer>();
    GCallBackEventer = FEventer.get();
}

void TestErase::cleanup()
{
    FList.reset();
    FAction.reset();
    FBurner.reset();
    StarBurn_DownShut();
    VirtualBay::install(nullptr);
    FBay.reset();
    FScenario.reset();
    GCallBackEventer = nullptr;
    FEventer.reset();
    SetMessageBoxHook(FPreviousHook);
}

void TestErase::OpenDrive(const QJsonObject &Faults, double TimeFactor, const QString &Profile)
{
    const bool Cd = Profile == QStringLiteral("CD-RW");
    QJsonObject Extra{
        {"address", "1:0:0:0"},
        {"speedRule", "lower"},
        {"speeds", QJsonObject{{"CD-RW", QJsonObject{{"read", QJsonArray{1764}},
                                                     {"write", QJsonArray{706, 1764}}}}}},
        {"timing", QJsonObject{{"blankFastSeconds", 60}}}};
    if (!Faults.isEmpty())
        Extra.insert("faults", Faults);
    FScenario = std::make_unique<ScenarioBuilder>();
    FScenario->timeFactor(TimeFactor)
        .drive(Cd ? QStringLiteral("cd-writer") : QStringLiteral("dvd-writer"), Profile,
               QStringLiteral("complete"), Extra);
    FBay = FScenario->build();
    QVERIFY2(FBay, FScenario->lastError().c_str());
    VirtualBay::install(FBay);
    QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));

    FBurner = std::make_unique<TTestBurner>();
    FBurner->FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    FBurner->FDiscType = Cd ? DISC_TYPE_CDRW : DISC_TYPE_DVDRWSR;
    try {
        FBurner->CreateGrabber();
    } catch (const EsbError &Error) {
        QFAIL(qPrintable(Error.Message()));
    }
    ShowChosenDrive(*FBurner);
    FBurner->Lock();
    FBurner->FEraseOptions = TsbEraseOptions{};
    FBurner->FEraseOptions.SpeedInPoint = 10;
    FBurner->FEraseOptions.SpeedInSize = 1764;
    FBurner->FSucceeded = true;

    FAction = std::make_unique<TsbEraseAction>();
    FList = std::make_unique<TsbActionList>();
    FList->Add()->FAction = FAction.get();
    FList->FOnMessage = [this](QObject *, const QString &Text, TsbLogItemType Kind) {
        FLines << TLine{Text, Kind};
    };
    FList->BindActions();
    FList->FBurner = FBurner.get();
}

QString TestErase::Run()
{
    try {
        FAction->Execute(FList->Items(0));
    } catch (const EsbError &Error) {
        return Error.Message();
    }
    return QString();
}

QStringList TestErase::Texts() const
{
    QStringList Result;
    for (const TLine &Line : FLines)
        Result << Line.Text;
    return Result;
}

bool TestErase::WasSent(std::initializer_list<uint8_t> Opcodes) const
{
    for (const auto &Command : FBay->drive(0).commandLog()) {
        if (!Command.cdb.empty() &&
            std::find(Opcodes.begin(), Opcodes.end(), Command.cdb[0]) != Opcodes.end())
            return true;
    }
    return false;
}

void TestErase::interval_data()
{
    QTest::addColumn<bool>("full");
    QTest::addColumn<quint64>("totalBytes");
    QTest::addColumn<int>("discType");
    QTest::addColumn<quint32>("writeSpeed");
    QTest::addColumn<int>("interval");

    QTest::newRow("full") << true << quint64(737280000) << int(DISC_TYPE_CDRW) << quint32(1764)
                          << 4081;
    QTest::newRow("fast cd") << false << quint64(0) << int(DISC_TYPE_CDRW) << quint32(1764) << 261;
    QTest::newRow("fast dvd") << false << quint64(0) << int(DISC_TYPE_DVDPLUSRW) << quint32(2770)
                              << 1663;
    QTest::newRow("fast bd-re") << false << quint64(0) << int(DISC_TYPE_BDRE) << quint32(8990)
                                << 583;
    QTest::newRow("fast dvd-r dl counts as cd")
        << false << quint64(0) << int(DISC_TYPE_DVDR_DL) << quint32(1764) << 261;
    QTest::newRow("no write speed, no estimate")
        << true << quint64(737280000) << int(DISC_TYPE_CDRW) << quint32(0) << 0;
    QTest::newRow("empty disc, full")
        << true << quint64(0) << int(DISC_TYPE_CDRW) << quint32(1764) << 0;
}

void TestErase::interval()
{
    QFETCH(bool, full);
    QFETCH(quint64, totalBytes);
    QFETCH(int, discType);
    QFETCH(quint32, writeSpeed);
    QFETCH(int, interval);

    QCOMPARE(EraseProgressInterval(full, totalBytes, DISC_TYPE(discType), writeSpeed), interval);
}

namespace {

// Faults that answer both speed commands, SET CD SPEED and SET STREAMING, with Sense.
QJsonObject SpeedCommandsAnswered(const char *Sense)
{
    QJsonArray Faults;
    for (int Opcode : {0xBB, 0xB6})
        Faults.append(QJsonObject{{"sense", Sense}, {"mode", "always"}, {"opcode", Opcode}});
    return QJsonObject{{"sense", Faults}};
}

} // namespace

void TestErase::successfulRunLogsInOrderAndEjects()
{
    OpenDrive();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(Run(), QString());

    QCOMPARE(Texts(),
             (QStringList{"Erase started", "Erase speed: 10.0x", "Eject disc", "Erase completed"}));
    for (const TLine &Line : FLines)
        QCOMPARE(Line.Kind, litInfo);
    QVERIFY(FBurner->FSucceeded);
    QVERIFY(FBay->drive(0).discBlank());
    QCOMPARE(int(FBay->drive(0).trayState()), int(blankora::virtualbay::TrayState::Open));
    QVERIFY(FBoxes.isEmpty());
}

void TestErase::failedBlankGivesOneErrorAndNoEject()
{
    OpenDrive(QJsonObject{{"blankFailsAt", 0.5}});
    if (QTest::currentTestFailed())
        return;
    const QString Raised = Run();

    QVERIFY2(Raised.startsWith("StarBurn_CdvdBurnerGrabber_Blank failed, exception "),
             qPrintable(Raised));
    QCOMPARE(FBurner->FLastMessage, Raised);
    QVERIFY(!FBurner->FSucceeded);
    QCOMPARE(Texts(), (QStringList{"Erase started", "Erase speed: 10.0x"}));
    QCOMPARE(int(FBay->drive(0).trayState()), int(blankora::virtualbay::TrayState::Closed));
}

void TestErase::failedSpeedSettingRunsNoBlank()
{
    OpenDrive(SpeedCommandsAnswered("05/24/00"));
    if (QTest::currentTestFailed())
        return;

    const QString Raised = Run();

    QVERIFY2(Raised.startsWith("StarBurn_CdvdBurnerGrabber_SetSpeeds() failed, exception "),
             qPrintable(Raised));
    QCOMPARE(FBurner->FLastMessage, Raised);
    // A run that stopped before the blank must not end in the success text.
    QVERIFY(!FBurner->FSucceeded);
    QVERIFY(!BlankWasSent());
    QVERIFY(!FBay->drive(0).discBlank());
}

void TestErase::driveOwnSpeedIsLoggedAsSuch()
{
    OpenDrive(SpeedCommandsAnswered("05/20/00"));
    if (QTest::currentTestFailed())
        return;
    // The speed list's one item for such a drive.
    FBurner->FEraseOptions.SpeedInPoint = 0;
    FBurner->FEraseOptions.SpeedInSize = 0;

    QCOMPARE(Run(), QString());
    QCOMPARE(Texts(), (QStringList{"Erase started", "Erase speed: The drive chooses its own speed",
                                   "Eject disc", "Erase completed"}));
    QVERIFY(FBay->drive(0).discBlank());
}

void TestErase::driveGoneBeforeEjectIsAnError()
{
    OpenDrive();
    if (QTest::currentTestFailed())
        return;
    FBurner->FDeviceName = QStringLiteral("CdRom0");
    FBurner->FOnThreadEnded = [this] {
        if (BlankWasSent())
            FBay->drive(0).setVanishAfter(0);
    };

    QCOMPARE(Run(), QString());

    QCOMPARE(FLines.size(), 4);
    QCOMPARE(FLines.at(2).Text, QStringLiteral("The drive CdRom0 is no longer available: the disc "
                                               "was not ejected"));
    QCOMPARE(FLines.at(2).Kind, litError);
    QVERIFY(FBurner->FGrabber == nullptr);
    QVERIFY(FBoxes.isEmpty());
}

// The disc check, the speed step and the blank each end on a worker of their
// own, in this order, while the window is served.
void TestErase::stepsBeforeTheBlankRunOnWorkers()
{
    OpenDrive();
    if (QTest::currentTestFailed())
        return;
    QList<QPair<bool, bool>> Ended;
    FBurner->FOnThreadEnded = [this, &Ended] {
        Ended << qMakePair(WasSent({0xBB, 0xB6}), BlankWasSent());
    };

    QCOMPARE(Run(), QString());

    // The release and the eject after the blank add two more.
    QCOMPARE(Ended, (QList<QPair<bool, bool>>{
                        {false, false}, {true, false}, {true, true}, {true, true}, {true, true}}));
    QCOMPARE(Texts(),
             (QStringList{"Erase started", "Erase speed: 10.0x", "Eject disc", "Erase completed"}));
}

// The release and the eject after the blank each end on a worker of their own.
void TestErase::releaseAndEjectRunOnWorkers()
{
    OpenDrive();
    if (QTest::currentTestFailed())
        return;
    // The last command each worker sent: PREVENT ALLOW MEDIUM REMOVAL, then START STOP UNIT.
    QList<int> Ended;
    FBurner->FOnThreadEnded = [this, &Ended] {
        const auto &Log = FBay->drive(0).commandLog();
        Ended << (Log.empty() || Log.back().cdb.empty() ? -1 : int(Log.back().cdb[0]));
    };

    QCOMPARE(Run(), QString());

    QCOMPARE(Ended.size(), 5);
    QCOMPARE(Ended.mid(3), (QList<int>{0x1E, 0x1B}));
    QCOMPARE(Texts(),
             (QStringList{"Erase started", "Erase speed: 10.0x", "Eject disc", "Erase completed"}));
}

void TestErase::failedEjectStillCompletes()
{
    OpenDrive(QJsonObject{{"ejectFails", true}});
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(Run(), QString());

    QCOMPARE(FLines.size(), 4);
    QCOMPARE(FLines.at(2).Kind, litError);
    QVERIFY2(FLines.at(2).Text.startsWith("StarBurn_CdvdBurnerGrabber_Eject() failed, exception "),
             qPrintable(FLines.at(2).Text));
    QCOMPARE(FLines.at(3).Text, QStringLiteral("Erase completed"));
    QCOMPARE(FLines.at(3).Kind, litInfo);
    QVERIFY(FBoxes.isEmpty());
}

void TestErase::estimateTimerOnlyWhenAsked_data()
{
    QTest::addColumn<bool>("estimate");
    QTest::newRow("estimate") << true;
    QTest::newRow("no estimate") << false;
}

void TestErase::estimateTimerOnlyWhenAsked()
{
    QFETCH(bool, estimate);

    // Slow enough that the wait loop serves events several times.
    OpenDrive({}, 200);
    if (QTest::currentTestFailed())
        return;
    FBurner->FEraseOptions.EstimateProgress = estimate;
    int Served = 0;
    bool SawTimer = false;
    QTimer Probe;
    Probe.setInterval(0);
    connect(&Probe, &QTimer::timeout, this, [&] {
        if (!FBurner->IsEraseThreadRunning())
            return;
        ++Served;
        SawTimer = SawTimer || FAction->findChild<QTimer *>() != nullptr;
    });
    Probe.start();
    QCOMPARE(Run(), QString());
    Probe.stop();

    // The user interface kept serving events while the blank ran.
    QVERIFY(Served > 0);
    QCOMPARE(SawTimer, estimate);
    QCOMPARE(FAction->findChild<QTimer *>(), nullptr);
}

QTEST_MAIN(TestErase)
// libburn mmc.c: a minimal blank leaves a sequential DVD-RW without incremental
// writing (feature 0021h), so it takes one session only until a full blank.
void TestErase::fastBlankOfSequentialDvdRwIsWarned_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("full");
    QTest::addColumn<bool>("warned");
    QTest::newRow("DVD-RW fast") << QStringLiteral("DVD-RW") << false << true;
    QTest::newRow("DVD-RW full") << QStringLiteral("DVD-RW") << true << false;
    QTest::newRow("CD-RW fast") << QStringLiteral("CD-RW") << false << false;
}

void TestErase::fastBlankOfSequentialDvdRwIsWarned()
{
    QFETCH(QString, profile);
    QFETCH(bool, full);
    QFETCH(bool, warned);
    OpenDrive({}, 1000, profile);
    if (QTest::currentTestFailed())
        return;
    FBurner->FEraseOptions.FullErase = full;
    QCOMPARE(Run(), QString());
    int Warnings = 0;
    for (const TLine &Line : FLines)
        Warnings += Line.Kind == litWarning && Line.Text.contains(QStringLiteral("one session"));
    QCOMPARE(Warnings, warned ? 1 : 0);
    QVERIFY(FBurner->FSucceeded);
}

#include "tst_erase.moc"
