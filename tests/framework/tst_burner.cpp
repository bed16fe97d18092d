#include "framework/sbBurner.h"

#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "framework/sbMessageBox.h"
#include "library/StarBurn.h"
#include "support/ScenarioBuilder.h"
#include "support/TempConfigStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QTest>

#include <cstring>

class TestBurner : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void versionCheck_data();
    void versionCheck();
    void failureText_data();
    void failureText();
    void releaseWithoutGrabberDoesNothing();
    void secondGrabberReplacesTheFirst_data();
    void secondGrabberReplacesTheFirst();
    void failedCreateRaisesItsText();
    void failedLockInformsAndGoesOn_data();
    void failedLockInformsAndGoesOn();
    void destructionWithUnwritableLogFreesTheDrive();
    void stepsWithUnwritableLogStillCallTheLibrary_data();
    void stepsWithUnwritableLogStillCallTheLibrary();
    void goneDriveIsClosedOnce();

private:
    bool OpenBay(const QJsonObject &Faults = {});

    std::unique_ptr<blankora::test::ScenarioBuilder> FScenario;
    std::shared_ptr<blankora::virtualbay::VirtualBay> FBay;
    QList<TsbMessageBoxRecord> FBoxes;
    TsbMessageBoxHook FPreviousHook;
};

void TestBurner::init()
{
    FBoxes.clear();
    FPreviousHook =
        SetMessageBoxHook([this](const TsbMessageBoxRecord &Record) { FBoxes << Record; });
}

void TestBurner::cleanup()
{
    StarBurn_DownShut();
    blankora::virtualbay::VirtualBay::install(nullptr);
    FBay.reset();
    FScenario.reset();
    SetMessageBoxHook(FPreviousHook);
}

void TestBurner::versionCheck_data()
{
    QTest::addColumn<quint32>("version");
    QTest::addColumn<QString>("warning");

    QTest::newRow("expected") << quint32(0x20080820) << QString();
    QTest::newRow("older") << quint32(0x20070101)
                           << "StarBurn : Invalid %1 version : 0x20070101. Expected : 0x20080820";
    QTest::newRow("hex letters upper case")
        << quint32(0xABCDEF) << "StarBurn : Invalid %1 version : 0x00ABCDEF. Expected : 0x20080820";
}

// The lines name the shared object this program loaded, as the linker found it.
void TestBurner::versionCheck()
{
    QFETCH(quint32, version);
    QFETCH(QString, warning);

    const QString Library =
        QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/libStarBurn.so"))
            .canonicalFilePath();
    QVERIFY(!Library.isEmpty());
    QTest::ignoreMessage(
        QtDebugMsg,
        qPrintable(warning.isEmpty()
                       ? QStringLiteral("StarBurn : %1 version : 0x20080820").arg(Library)
                       : warning.arg(Library)));
    QCOMPARE(CheckLibraryVersion(version), warning.isEmpty());
    if (warning.isEmpty()) {
        QVERIFY(FBoxes.isEmpty());
    } else {
        QCOMPARE(FBoxes.size(), 1);
        QCOMPARE(FBoxes.first().Kind, TsbMessageBoxRecord::mbkWarning);
        QCOMPARE(FBoxes.first().Text, warning.arg(Library));
    }
}

void TestBurner::failureText_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("code");
    QTest::addColumn<quint32>("status");
    QTest::addColumn<QString>("expected");

    QTest::newRow("with parentheses")
        << "StarBurn_CdvdBurnerGrabber_Lock()" << 7 << quint32(5)
        << "StarBurn_CdvdBurnerGrabber_Lock() failed, exception 7, status 5, text \"NOT READY\"";
    QTest::newRow("blank form")
        << "StarBurn_CdvdBurnerGrabber_Blank" << 11 << quint32(0)
        << "StarBurn_CdvdBurnerGrabber_Blank failed, exception 11, status 0, text \"NOT READY\"";
    QTest::newRow("status is signed, code up to 255")
        << "StarBurn_CdvdBurnerGrabber_Eject()" << 255 << quint32(0xFFFFFFFE)
        << "StarBurn_CdvdBurnerGrabber_Eject() failed, exception 255, status -2, text "
           "\"NOT READY\"";
}

void TestBurner::failureText()
{
    QFETCH(QString, call);
    QFETCH(int, code);
    QFETCH(quint32, status);
    QFETCH(QString, expected);

    TsbBurner Burner;
    Burner.FExceptionCode = EXCEPTION_NUMBER(code);
    Burner.FSystemError = status;
    // Stale bytes after the terminating NUL must not show.
    std::memset(Burner.FExceptionText, 'x', sizeof(Burner.FExceptionText));
    std::strcpy(Burner.FExceptionText, "NOT READY");
    QCOMPARE(Burner.FailureText(call), expected);
}

void TestBurner::releaseWithoutGrabberDoesNothing()
{
    TsbBurner Burner;
    Burner.FExceptionCode = 9;
    Burner.Release();
    QCOMPARE(Burner.FExceptionCode, EXCEPTION_NUMBER(0));
    Burner.Lock();
    Burner.DestroyGrabber();
    QVERIFY(FBoxes.isEmpty());
}

bool TestBurner::OpenBay(const QJsonObject &Faults)
{
    QJsonObject Extra{{"address", "1:0:0:0"}, {"systemNumber", 0}};
    if (!Faults.isEmpty())
        Extra.insert("faults", Faults);
    FScenario = std::make_unique<blankora::test::ScenarioBuilder>();
    FScenario->timeFactor(1000).drive("cd-writer", "CD-RW", "complete", Extra);
    FBay = FScenario->build();
    if (!FBay) {
        qWarning("%s", FScenario->lastError().c_str());
        return false;
    }
    blankora::virtualbay::VirtualBay::install(FBay);
    return StarBurn_UpStartEx() == EN_SUCCESS;
}

void TestBurner::secondGrabberReplacesTheFirst_data()
{
    QTest::addColumn<int>("transport");
    QTest::newRow("by address") << int(ttAspi);
    QTest::newRow("by name") << int(ttSpti);
}

void TestBurner::secondGrabberReplacesTheFirst()
{
    QFETCH(int, transport);
    QVERIFY(OpenBay());
    TsbBurner Burner;
    Burner.FTransportType = TsbTransportType(transport);
    Burner.FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    Burner.FDeviceName = QStringLiteral("CdRom0");
    auto &Drive = FBay->drive(0);

    Burner.CreateGrabber();
    Burner.Lock();
    void *First = Burner.FGrabber;
    QVERIFY(First != nullptr);
    QVERIFY(Drive.locked());

    Burner.CreateGrabber();
    QVERIFY(Burner.FGrabber != nullptr);
    QVERIFY(Burner.FGrabber != First);
    // The first device object let go of the tray and of the drive.
    QVERIFY(!Drive.locked());
    QCOMPARE(Drive.openHandles(), 1);

    Burner.DestroyGrabber();
    QCOMPARE(Burner.FGrabber, nullptr);
    QCOMPARE(Drive.openHandles(), 0);
    QVERIFY(FBoxes.isEmpty());
}

void TestBurner::failedCreateRaisesItsText()
{
    QVERIFY(OpenBay());
    TsbBurner Burner;
    Burner.FDeviceAddress = TsbDeviceAddress{1, 7, 0, 0, 0};
    QString Raised;
    try {
        Burner.CreateGrabber();
    } catch (const EsbError &Error) {
        Raised = Error.Message();
    }
    QVERIFY2(Raised.startsWith("StarBurn_CdvdBurnerGrabber_Create() failed, exception "),
             qPrintable(Raised));
    QCOMPARE(Burner.FLastMessage, Raised);
    QCOMPARE(Burner.FGrabber, nullptr);
}

void TestBurner::failedLockInformsAndGoesOn_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("drive refuses the lock") << "lockFails";
    // A node this user may only read refuses the lock with EPERM.
    QTest::newRow("node opened read-only") << "readOnly";
}

void TestBurner::failedLockInformsAndGoesOn()
{
    QFETCH(QString, fault);
    QVERIFY(OpenBay(QJsonObject{{fault, true}}));
    TsbBurner Burner;
    Burner.FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    Burner.CreateGrabber();

    Burner.Lock();

    QCOMPARE(FBoxes.size(), 1);
    QCOMPARE(FBoxes.first().Kind, TsbMessageBoxRecord::mbkError);
    QVERIFY2(FBoxes.first().Text.startsWith("StarBurn_CdvdBurnerGrabber_Lock() failed, exception "),
             qPrintable(FBoxes.first().Text));
    QCOMPARE(Burner.FLastMessage, FBoxes.first().Text);
    QVERIFY(Burner.FGrabber != nullptr);
}

// Every call on the way out logs; a log that cannot be written any more (a
// full disk) must neither end the program nor leave the tray locked.
void TestBurner::destructionWithUnwritableLogFreesTheDrive()
{
    QVERIFY(OpenBay());
    TempConfigStore Store;
    Store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    GLogger = new TsbLogger();
    const QString LogFile = GLogger->GetLogFileName();
    auto Burner = std::make_unique<TsbBurner>();
    Burner->FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    Burner->CreateGrabber();
    Burner->Lock();
    QVERIFY(FBay->drive(0).locked());
    QFile::remove(LogFile);
    QVERIFY(QDir().mkdir(LogFile));

    Burner.reset();

    QDir().rmdir(LogFile);
    delete GLogger;
    GLogger = nullptr;
    QVERIFY(!FBay->drive(0).locked());
    QCOMPARE(FBay->drive(0).openHandles(), 0);
}

namespace {

// Turns the diagnostic log on; the log file then becomes a directory, so that
// every further line fails.
class TUnwritableLog
{
public:
    TUnwritableLog()
    {
        FStore.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
        GLogger = new TsbLogger();
        FFile = GLogger->GetLogFileName();
        QFile::remove(FFile);
    }
    ~TUnwritableLog()
    {
        QDir().rmdir(FFile);
        QFile::remove(FFile);
        delete GLogger;
        GLogger = nullptr;
    }
    bool Break() { return QFile::remove(FFile) && QDir().mkdir(FFile); }
    QStringList Lines() const
    {
        QFile Log(FFile);
        QStringList Texts;
        if (!Log.open(QIODevice::ReadOnly))
            return Texts;
        for (const QString &Line :
             QString::fromUtf8(Log.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            Texts << Line.mid(Line.indexOf(QStringLiteral(": ")) + 2);
        return Texts;
    }

private:
    TempConfigStore FStore;
    QString FFile;
};

} // namespace

void TestBurner::stepsWithUnwritableLogStillCallTheLibrary_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("release") << false;
    QTest::newRow("destroy grabber") << true;
}

// The log failure is raised once, after the drive has been freed.
void TestBurner::stepsWithUnwritableLogStillCallTheLibrary()
{
    QFETCH(bool, destroy);
    QVERIFY(OpenBay());
    TUnwritableLog Log;
    TsbBurner Burner;
    Burner.FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    Burner.CreateGrabber();
    Burner.Lock();
    QVERIFY(FBay->drive(0).locked());
    QVERIFY(Log.Break());

    int Raised = 0;
    try {
        if (destroy)
            Burner.DestroyGrabber();
        else
            Burner.Release();
    } catch (const EsbError &) {
        ++Raised;
    }

    QCOMPARE(Raised, 1);
    QVERIFY(FBoxes.isEmpty());
    QVERIFY(!FBay->drive(0).locked());
    QCOMPARE(Burner.FGrabber == nullptr, destroy);
    QCOMPARE(FBay->drive(0).openHandles(), destroy ? 0 : 1);
}

void TestBurner::goneDriveIsClosedOnce()
{
    QVERIFY(OpenBay());
    TUnwritableLog Log;
    TsbBurner Burner;
    Burner.FDeviceAddress = TsbDeviceAddress{1, 1, 0, 0, 0};
    Burner.CreateGrabber();
    Burner.Lock();
    FBay->drive(0).setVanishAfter(0);

    Burner.DestroyGrabber();

    QVERIFY(Burner.FGrabber == nullptr);
    QVERIFY(FBoxes.isEmpty());
    QCOMPARE(Log.Lines().count(QStringLiteral("Destroy: Grabber")), 1);
}

QTEST_MAIN(TestBurner)
#include "tst_burner.moc"
