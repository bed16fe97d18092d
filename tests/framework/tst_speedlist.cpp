#include "framework/sbSpeedList.h"

#include "framework/sbBurner.h"
#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "framework/sbMessageBox.h"
#include "library/StarBurn.h"
#include "support/ScenarioBuilder.h"
#include "support/TempConfigStore.h"

#include <QFile>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTest>

using blankora::test::ScenarioBuilder;
using blankora::virtualbay::VirtualBay;

namespace {

QJsonArray Numbers(std::initializer_list<int> Values)
{
    QJsonArray Result;
    for (int Value : Values)
        Result.append(Value);
    return Result;
}

const std::initializer_list<int> CDLadder{176,  353,  387,  528,  706,  1056, 1400, 1760,
                                          2112, 2800, 3250, 4224, 7040, 7744, 8448, 9152};
const std::initializer_list<int> DVDLadder{1385, 2770, 3324,  4155,  5540,
                                           6925, 8310, 11080, 16620, 22160};

} // namespace

// Builds speed lists against a virtual drive that offers exactly the write
// speeds a case names for its disc.
class TestSpeedList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void ladders_data();
    void ladders();
    void failingFirstSpeedSettingStopsTheBuild();
    void drivesThatSetTheirOwnSpeed_data();
    void drivesThatSetTheirOwnSpeed();

private:
    void OpenDrive(const QString &Model, const QString &Profile, DISC_TYPE DiscType,
                   const QJsonArray &WriteSpeeds, const QJsonObject &Faults = {});

    std::unique_ptr<ScenarioBuilder> FScenario;
    std::shared_ptr<VirtualBay> FBay;
    std::unique_ptr<TsbBurner> FBurner;
    TsbMessageBoxHook FPreviousHook;
    QStringList FBoxes;
};

void TestSpeedList::init()
{
    FBoxes.clear();
    FPreviousHook =
        SetMessageBoxHook([this](const TsbMessageBoxRecord &Record) { FBoxes << Record.Text; });
}

void TestSpeedList::cleanup()
{
    FBurner.reset();
    StarBurn_DownShut();
    VirtualBay::install(nullptr);
    FBay.reset();
    FScenario.reset();
    SetMessageBoxHook(FPreviousHook);
}

void TestSpeedList::OpenDrive(const QString &Model, const QString &Profile, DISC_TYPE DiscType,
                              const QJsonArray &WriteSpeeds, const QJsonObject &Faults)
{
    QJsonObject Extra{{"address", "1:0:0:0"},
                      {"speedRule", "lower"},
                      {"speeds", QJsonObject{{Profile, QJsonObject{{"read", Numbers({1764})},
                                                                   {"write", WriteSpeeds}}}}}};
    if (!Faults.isEmpty())
        Extra.insert("faults", Faults);
    FScenario = std::make_unique<ScenarioBuilder>();
    FScenario->timeFactor(1000).drive(Model, Profile, QStringLiteral("complete"), Extra);
    FBay = FScenario->build();
    QVERIFY2(FBay, FScenario->lastError().c_str());
    VirtualBay::install(FBay);
    QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));

    FBurner = std::make_unique<TsbBurner>();
    FBurner->FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    FBurner->FDiscType = DiscType;
    try {
        FBurner->CreateGrabber();
    } catch (const EsbError &Error) {
        QFAIL(qPrintable(Error.Message()));
    }
}

void TestSpeedList::ladders_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("discType");
    QTest::addColumn<QJsonArray>("writeSpeeds");
    QTest::addColumn<QList<int>>("factors");
    QTest::addColumn<QList<int>>("sizes");

    QTest::newRow("cd writer takes the whole ladder")
        << "cd-writer"
        << "CD-RW" << int(DISC_TYPE_CDRW) << Numbers(CDLadder)
        << QList<int>{1, 2, 3, 4, 6, 7, 10, 12, 15, 18, 24, 40, 44, 48, 52}
        << QList<int>{176,  353,  528,  706,  1056, 1400, 1760, 2112,
                      2800, 3250, 4224, 7040, 7744, 8448, 9152};
    QTest::newRow("dvd writer takes the whole ladder")
        << "dvd-writer"
        << "DVD+RW" << int(DISC_TYPE_DVDPLUSRW) << Numbers(DVDLadder)
        << QList<int>{1, 2, 3, 4, 5, 6, 8, 12, 16}
        << QList<int>{1385, 2770, 4155, 5540, 6925, 8310, 11080, 16620, 22160};
    QTest::newRow("bd writer counts in bd units")
        << "bd-writer"
        << "BD-RE" << int(DISC_TYPE_BDRE) << Numbers({4495, 8990}) << QList<int>{1, 2}
        << QList<int>{4495, 8990};
    QTest::newRow("constant speed")
        << "cd-writer"
        << "CD-RW" << int(DISC_TYPE_CDRW) << Numbers({1764}) << QList<int>{10} << QList<int>{1764};
    QTest::newRow("below the unit speed")
        << "cd-writer"
        << "CD-RW" << int(DISC_TYPE_CDRW) << Numbers({150}) << QList<int>{0} << QList<int>{150};
    // Not a DVD type for the wizard, so its speeds are counted in CD units.
    QTest::newRow("dvd-r dl counts in cd units")
        << "dvd-writer"
        << "DVD-R DL" << int(DISC_TYPE_DVDR_DL) << Numbers({2770}) << QList<int>{15}
        << QList<int>{2770};
}

void TestSpeedList::ladders()
{
    QFETCH(QString, model);
    QFETCH(QString, profile);
    QFETCH(int, discType);
    QFETCH(QJsonArray, writeSpeeds);
    QFETCH(QList<int>, factors);
    QFETCH(QList<int>, sizes);

    OpenDrive(model, profile, DISC_TYPE(discType), writeSpeeds);
    if (QTest::currentTestFailed())
        return;
    TsbDiscSpeedList List;
    List.BuildSpeedList(FBurner.get());

    QList<int> Factors;
    QList<int> Sizes;
    for (int I = 0; I < List.Count(); ++I) {
        Factors << List.Items(I)->SpeedInPoint;
        Sizes << List.Items(I)->SpeedInSize;
        QCOMPARE(List.Items(I)->StrSpeed, QStringLiteral("%1.0x (%2 KB/sec)")
                                              .arg(List.Items(I)->SpeedInPoint)
                                              .arg(List.Items(I)->SpeedInSize));
    }
    QCOMPARE(Factors, factors);
    QCOMPARE(Sizes, sizes);
    QCOMPARE(List.MaxWriteSpeed, uint32_t(sizes.last()));
}

void TestSpeedList::failingFirstSpeedSettingStopsTheBuild()
{
    const QJsonObject Refuse{{"sense", "05/24/00"}, {"mode", "always"}};
    QJsonObject SetCdSpeed = Refuse;
    SetCdSpeed.insert("opcode", 0xBB);
    QJsonObject SetStreaming = Refuse;
    SetStreaming.insert("opcode", 0xB6);
    OpenDrive("cd-writer", "CD-RW", DISC_TYPE_CDRW, Numbers(CDLadder),
              QJsonObject{{"sense", QJsonArray{SetCdSpeed, SetStreaming}}});
    if (QTest::currentTestFailed())
        return;

    TsbDiscSpeedList List;
    List.Add()->SpeedInPoint = 99;
    QString Raised;
    try {
        List.BuildSpeedList(FBurner.get());
    } catch (const EsbError &Error) {
        Raised = Error.Message();
    }
    QVERIFY2(Raised.startsWith("StarBurn_CdvdBurnerGrabber_SetSpeeds() failed, exception "),
             qPrintable(Raised));
    QCOMPARE(FBurner->FLastMessage, Raised);
    QCOMPARE(List.Count(), 0);
}

// As QEMU's drives on Linux: one refuses SET CD SPEED, one reports no write
// speed, and both refuse GET PERFORMANCE and SET STREAMING (05/20/00).
void TestSpeedList::drivesThatSetTheirOwnSpeed_data()
{
    QTest::addColumn<int>("drive");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("performanceQueries"); // GET PERFORMANCE 03h
    QTest::addColumn<int>("streamingCommands");
    QTest::addColumn<int>("cdSpeedCommands");
    QTest::addColumn<QString>("logLine");

    const QString Own = QStringLiteral("The drive chooses its own speed");
    QTest::newRow("refuses SET CD SPEED")
        << 0 << QStringList{Own} << 1 << 0 << 1
        << "CdvdBurnerGrabber_SetSpeeds: the drive takes no speed command and works at its own "
           "speed";
    QTest::newRow("reports no write speed")
        << 1 << QStringList{Own} << 1 << 1 << 1
        << "CdvdBurnerGrabber_GetSpeeds: the drive reports no write speed and works at its own "
           "speed";
    QTest::newRow("speeds without GET PERFORMANCE")
        << 2 << QStringList{"2.0x (2770 KB/sec)", "4.0x (5540 KB/sec)", "8.0x (11080 KB/sec)"} << 1
        << 1 << 11 << QString();
    QTest::newRow("speeds from GET PERFORMANCE")
        << 3 << QStringList{"2.0x (2770 KB/sec)", "4.0x (5540 KB/sec)", "8.0x (11080 KB/sec)"} << 1
        << 11 << 0 << QString();
}

void TestSpeedList::drivesThatSetTheirOwnSpeed()
{
    QFETCH(int, drive);
    QFETCH(QStringList, texts);
    QFETCH(int, performanceQueries);
    QFETCH(int, streamingCommands);
    QFETCH(int, cdSpeedCommands);
    QFETCH(QString, logLine);

    TempConfigStore Store;
    Store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    GLogger = new TsbLogger();
    QFile::remove(GLogger->GetLogFileName());
    const auto Logger = qScopeGuard([] {
        QFile::remove(GLogger->GetLogFileName());
        delete GLogger;
        GLogger = nullptr;
    });
    std::string Error;
    FBay = VirtualBay::fromFile(BLANKORA_TEST_SCENARIOS "/vmfix-speeds.json", Error);
    QVERIFY2(FBay, Error.c_str());
    VirtualBay::install(FBay);
    QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));
    FBurner = std::make_unique<TsbBurner>();
    FBurner->FTransportType = ttSpti;
    FBurner->FDeviceName = QStringLiteral("CdRom%1").arg(drive);
    FBurner->FDiscType = drive == 0 ? DISC_TYPE_CDRW : DISC_TYPE_DVDPLUSRW;
    FBurner->CreateGrabber();
    auto &Drive = FBay->drive(size_t(drive));
    Drive.clearCommandLog();

    TsbDiscSpeedList List;
    List.BuildSpeedList(FBurner.get());
    QStringList Texts;
    for (int I = 0; I < List.Count(); ++I)
        Texts << List.Items(I)->StrSpeed;
    QCOMPARE(Texts, texts);
    QFile Log(GLogger->GetLogFileName());
    QVERIFY(Log.open(QIODevice::ReadOnly));
    const QString Logged = QString::fromLocal8Bit(Log.readAll());
    if (logLine.isEmpty())
        QVERIFY2(!Logged.contains(QStringLiteral("works at its own speed")), qPrintable(Logged));
    else
        QVERIFY2(Logged.contains(QStringLiteral(": ") + logLine + QStringLiteral("\r\n")),
                 qPrintable(Logged));

    int Performance = 0, Streaming = 0, CdSpeed = 0;
    for (const auto &Command : Drive.commandLog()) {
        // One query: its first pass asks for the header alone (0 descriptors).
        Performance += Command.cdb[0] == 0xAC && Command.cdb[10] == 0x03 &&
                       (Command.cdb[8] | Command.cdb[9]) == 0;
        Streaming += Command.cdb[0] == 0xB6;
        CdSpeed += Command.cdb[0] == 0xBB;
    }
    QCOMPARE(Performance, performanceQueries);
    QCOMPARE(Streaming, streamingCommands);
    QCOMPARE(CdSpeed, cdSpeedCommands);

    // The erase's speed step with the chosen item goes on either way.
    TsbDriveSpeeds Speeds;
    FBurner->FLastMessage.clear();
    FBurner->ApplyWriteSpeed(uint32_t(List.Items(List.Count() - 1)->SpeedInSize), Speeds);
    QVERIFY2(FBurner->FLastMessage.isEmpty(), qPrintable(FBurner->FLastMessage));
    QVERIFY(FBoxes.isEmpty());
}

QTEST_MAIN(TestSpeedList)
#include "tst_speedlist.moc"
