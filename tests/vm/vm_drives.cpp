// The library against the real kernel: QEMU's optical drives seen through
// Linux's sr driver and SG_IO, run inside the VM of tools/vm-test.sh as root,
// as a user in `cdrom` and as a user outside it. What the drives answer beyond
// what the interface promises is printed (QINFO) for the run's artefacts.
#include "QmpLink.h"

#include "framework/sbBurner.h"
#include "framework/sbErrors.h"
#include "framework/sbMessageBox.h"
#include "framework/sbSpeedList.h"
#include "library/StarBurn.h"
#include "library/transport/SgTransport.h"
#include "platform/sbVolumeLabel.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The drives as tools/vm-test.sh gives them to QEMU; virtio-scsi is SCSI host
// 0 and the AHCI port host 1, because the guest loads their drivers in this order.
struct DriveFacts
{
    int Number; // N of CdRomN and /dev/srN
    STARBURN_DEVICE_ADDRESS Address;
    const char *Product;
    DISC_TYPE Disc;
    const char *Medium; // image file in the media folder, "" for none
    const char *Qdev;   // QEMU's device id
};
const DriveFacts Drives[] = {
    {0, {1, 0, 0, 0, 0}, "QEMU CD-ROM", DISC_TYPE_CDROM, "cd.iso", "cdrom0"},
    {1, {1, 0, 0, 1, 0}, "QEMU CD-ROM", DISC_TYPE_NO_MEDIA, "", "cdrom1"},
    {2, {1, 1, 0, 0, 0}, "QEMU DVD-ROM", DISC_TYPE_DVDROM, "dvd.iso", "dvdrom"},
};
const char SwapMedium[] = "swap.iso";

// Size and volume label of one image, from the media folder's "expected" file.
struct Medium
{
    qint64 Bytes = 0;
    QString Label;
};

struct Block
{
    char Text[STARBURN_EXCEPTION_TEXT_SIZE] = {};
    uint32_t Status = 31;
    CDB_FAILURE_INFORMATION Failure{};
};
#define EB(b) (b).Text, uint32_t(sizeof((b).Text)), &(b).Status, &(b).Failure

QString Describe(EXCEPTION_NUMBER Code, const Block &B)
{
    const CDB_FAILURE_INFORMATION &F = B.Failure;
    QString Cdb;
    for (int i = 0; i < F.CdbLength && i < 16; ++i)
        Cdb += QString::asprintf("%02X ", F.Cdb[i]);
    return QString::asprintf("exception %d, status 0x%08X, failure block cdb [%s] sense "
                             "%02X/%02X/%02X scsi status %02X, text \"%s\"",
                             Code, B.Status, qPrintable(Cdb.trimmed()), F.SenseKey, F.Asc, F.Ascq,
                             F.ScsiStatus, B.Text);
}

QString Node(int Number)
{
    return QStringLiteral("/dev/sr%1").arg(Number);
}

std::string SystemName(int Number)
{
    return "CdRom" + std::to_string(Number);
}

struct Found
{
    STARBURN_DEVICE_ADDRESS Address{};
    std::string Name;
};

void FindCallback(uint8_t Reason, void *Context, void *Special1, void *Special2)
{
    if (Reason != CN_DEVICE_FOUND)
        return;
    Found Item;
    if (Special1)
        Item.Address = *static_cast<STARBURN_DEVICE_ADDRESS *>(Special1);
    if (Special2)
        Item.Name = static_cast<const char *>(Special2);
    static_cast<std::vector<Found> *>(Context)->push_back(Item);
}

// A device object that is destroyed however the test function ends.
struct Grabber
{
    void *Handle = nullptr;
    EXCEPTION_NUMBER Code = EN_GENERIC_FAILURE;
    Block Error;
    ~Grabber() { StarBurn_Destroy(&Handle); }
};

enum Transport
{
    ByName,   // the wizard's SPTI: CdRomN
    ByAddress // the wizard's ASPI: the SCSI address from the enumeration
};

void Open(Grabber &G, int Drive, Transport How)
{
    const DriveFacts &D = Drives[Drive];
    if (How == ByName) {
        G.Code = StarBurn_CdvdBurnerGrabber_CreateEx(&G.Handle, EB(G.Error), nullptr, nullptr,
                                                     SystemName(D.Number).c_str(), 1);
    } else {
        G.Code = StarBurn_CdvdBurnerGrabber_Create(&G.Handle, EB(G.Error), nullptr, nullptr,
                                                   D.Address.PortID, D.Address.BusID,
                                                   D.Address.TargetID, D.Address.LUN, 1);
    }
}

} // namespace

// QSKIP and QVERIFY end only the function they stand in, hence macros.
#define REQUIRE_GRANTED()                                                                          \
    do {                                                                                           \
        if (!FGranted)                                                                             \
            QSKIP("this user may not open the drives");                                            \
    } while (false)
#define REQUIRE_MONITOR()                                                                          \
    do {                                                                                           \
        REQUIRE_GRANTED();                                                                         \
        QVERIFY2(FMonitor && FMonitor->IsOpen(),                                                   \
                 qPrintable(FMonitor ? FMonitor->Error() : QStringLiteral("no monitor")));         \
    } while (false)

class TestVmDrives : public QObject
{
    Q_OBJECT

private:
    bool FGranted = false;
    QString FMediaDir;
    QMap<QString, Medium> FMedia;
    std::unique_ptr<QmpLink> FMonitor;

    // Asks until the drive is ready again after a tray or medium change.
    DISC_TYPE SettledDiscType(int Drive, DISC_TYPE Wanted);

private slots:
    void initTestCase();
    void cleanupTestCase() { StarBurn_DownShut(); }

    void enumeration_data();
    void enumeration();
    void identity_data();
    void identity();
    void blankThroughTheLibrary_data();
    void blankThroughTheLibrary();
    void driveRefusesBlankAndWrite_data();
    void driveRefusesBlankAndWrite();
    void speeds_data();
    void speeds();
    void speedList_data();
    void speedList();
    void trayLockHoldsWhileOpen_data();
    void trayLockHoldsWhileOpen();
    void ejectOpensTheTray_data();
    void ejectOpensTheTray();
    void changedMediumSeenAfterRefresh();
    void wizardScanLog();
    void wizardStartUpLine();
};

void TestVmDrives::initTestCase()
{
    FGranted = qEnvironmentVariable("BLANKORA_VM_ACCESS") == QLatin1String("granted");
    FMediaDir = qEnvironmentVariable("BLANKORA_VM_MEDIA");
    QFile Expected(FMediaDir + QStringLiteral("/expected"));
    QVERIFY2(Expected.open(QIODevice::ReadOnly), qPrintable(Expected.fileName()));
    for (const QByteArray &Line : Expected.readAll().split('\n')) {
        const QList<QByteArray> Fields = Line.simplified().split(' ');
        if (Fields.size() == 3)
            FMedia.insert(QString::fromLatin1(Fields[0]),
                          {Fields[1].toLongLong(), QString::fromLatin1(Fields[2])});
    }
    QCOMPARE(FMedia.size(), 3);
    if (FGranted && qEnvironmentVariableIsSet("BLANKORA_VM_MONITOR"))
        FMonitor = std::make_unique<QmpLink>(qEnvironmentVariable("BLANKORA_VM_MONITOR"));
    QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));
}

void TestVmDrives::enumeration_data()
{
    QTest::addColumn<int>("How");
    QTest::newRow("by name (SPTI)") << int(ByName);
    QTest::newRow("by address (ASPI)") << int(ByAddress);
}

void TestVmDrives::enumeration()
{
    QFETCH(int, How);
    QStringList Seen, Wanted;
    for (const DriveFacts &D : Drives)
        Wanted << QString::fromStdString(SystemName(D.Number));
    if (How == ByAddress) {
        // The enumeration reads sysfs: every user sees the drives.
        std::vector<Found> List;
        QCOMPARE(int(StarBurn_FindDevice(STARBURN_DEVICE_TYPE_CDROM, 0, FindCallback, &List)),
                 int(EN_SUCCESS));
        QCOMPARE(int(List.size()), 3);
        for (size_t i = 0; i < List.size(); ++i) {
            const STARBURN_DEVICE_ADDRESS &A = List[i].Address, &E = Drives[i].Address;
            QCOMPARE(A.IsValid, uint8_t(1));
            QCOMPARE(QList<int>({A.PortID, A.BusID, A.TargetID, A.LUN}),
                     QList<int>({E.PortID, E.BusID, E.TargetID, E.LUN}));
            Seen << QString::fromStdString(List[i].Name);
        }
        QCOMPARE(Seen, Wanted);
        return;
    }
    // Probing CdRom0 to CdRom20 finds what the user may open.
    for (int N = 0; N <= 20; ++N) {
        Grabber G;
        G.Code = StarBurn_CdvdBurnerGrabber_CreateEx(&G.Handle, EB(G.Error), nullptr, nullptr,
                                                     SystemName(N).c_str(), 1);
        if (G.Code == EN_SUCCESS)
            Seen << QString::fromStdString(SystemName(N));
        else if (N <= 2)
            qInfo("CreateEx(%s): %s", SystemName(N).c_str(), qPrintable(Describe(G.Code, G.Error)));
    }
    QCOMPARE(Seen, FGranted ? Wanted : QStringList());
}

void TestVmDrives::identity_data()
{
    QTest::addColumn<int>("How");
    QTest::addColumn<int>("Drive");
    for (int Drive = 0; Drive < 3; ++Drive) {
        QTest::addRow("sr%d by name", Drive) << int(ByName) << Drive;
        QTest::addRow("sr%d by address", Drive) << int(ByAddress) << Drive;
    }
}

void TestVmDrives::identity()
{
    QFETCH(int, How);
    QFETCH(int, Drive);
    const DriveFacts &D = Drives[Drive];

    char Name[STARBURN_NAME_BUFFER_SIZE] = {};
    const EXCEPTION_NUMBER NameCode =
        How == ByName
            ? StarBurn_GetDeviceNameBySystemName(SystemName(D.Number).c_str(), Name)
            : StarBurn_GetDeviceNameByDeviceAddress(D.Address.PortID, D.Address.BusID,
                                                    D.Address.TargetID, D.Address.LUN, Name);
    QCOMPARE(int(NameCode), int(EN_SUCCESS));
    QCOMPARE(QString::fromLatin1(Name), QStringLiteral("\\\\.\\") + Node(D.Number));

    Grabber G;
    Open(G, Drive, Transport(How));
    if (!FGranted) {
        // Refused by the node's permissions, with a text that names the node.
        QCOMPARE(int(G.Code), int(EN_ACCESS_DENIED));
        QCOMPARE(G.Error.Status, uint32_t(EACCES));
        QVERIFY2(QString::fromLocal8Bit(G.Error.Text).contains(Node(D.Number)), G.Error.Text);
        QVERIFY(G.Handle == nullptr);
        return;
    }
    QVERIFY2(G.Code == EN_SUCCESS, qPrintable(Describe(G.Code, G.Error)));

    char Vendor[STARBURN_NAME_BUFFER_SIZE] = {}, Product[STARBURN_NAME_BUFFER_SIZE] = {},
         Revision[STARBURN_NAME_BUFFER_SIZE] = {};
    uint32_t Buffer = 0;
    QCOMPARE(int(StarBurn_CdvdBurnerGrabber_GetDeviceInformation(G.Handle, Vendor, Product,
                                                                 Revision, &Buffer)),
             int(EN_SUCCESS));
    QCOMPARE(QString::fromLatin1(Vendor), QStringLiteral("QEMU"));
    QCOMPARE(QString::fromLatin1(Product), QString::fromLatin1(D.Product));
    QVERIFY(Revision[0] != 0);
    qInfo("sr%d: revision \"%s\", buffer %u bytes", D.Number, Revision, Buffer);

    QCOMPARE(int(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(G.Handle)), int(D.Disc));
    const Medium M = FMedia.value(QString::fromLatin1(D.Medium));
    uint64_t Used = 0;
    Block B;
    const EXCEPTION_NUMBER UsedCode =
        StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(G.Handle, EB(B), &Used);
    if (D.Disc == DISC_TYPE_NO_MEDIA) {
        QVERIFY(UsedCode != EN_SUCCESS);
        qInfo("sr%d: used space without a disc: %s", D.Number, qPrintable(Describe(UsedCode, B)));
    } else {
        QVERIFY2(UsedCode == EN_SUCCESS, qPrintable(Describe(UsedCode, B)));
        QCOMPARE(qint64(Used), M.Bytes);
    }
    QCOMPARE(ReadVolumeLabel(Node(D.Number)), M.Label);
}

void TestVmDrives::blankThroughTheLibrary_data()
{
    QTest::addColumn<int>("Drive");
    QTest::addColumn<int>("Erase");
    QTest::newRow("sr0 CD-ROM fast") << 0 << int(ERASE_TYPE_BLANK_DISC_FAST);
    QTest::newRow("sr0 CD-ROM full") << 0 << int(ERASE_TYPE_BLANK_DISC_FULL);
    QTest::newRow("sr1 empty fast") << 1 << int(ERASE_TYPE_BLANK_DISC_FAST);
    QTest::newRow("sr2 DVD-ROM fast") << 2 << int(ERASE_TYPE_BLANK_DISC_FAST);
    QTest::newRow("sr2 DVD-ROM full") << 2 << int(ERASE_TYPE_BLANK_DISC_FULL);
}

void TestVmDrives::blankThroughTheLibrary()
{
    REQUIRE_GRANTED();
    QFETCH(int, Drive);
    QFETCH(int, Erase);
    Grabber G;
    Open(G, Drive, ByName);
    QVERIFY2(G.Code == EN_SUCCESS, qPrintable(Describe(G.Code, G.Error)));
    Block B;
    const EXCEPTION_NUMBER Code = StarBurn_CdvdBurnerGrabber_Blank(G.Handle, EB(B), Erase);
    qInfo("Blank: %s", qPrintable(Describe(Code, B)));
    QVERIFY(Code != EN_SUCCESS);
    QVERIFY(B.Text[0] != 0);
    if (Drives[Drive].Disc == DISC_TYPE_NO_MEDIA) {
        // The drive's own answer, with the command that got it.
        QCOMPARE(B.Status, uint32_t(0x023A00));
        QCOMPARE(QString::fromLatin1(B.Text),
                 QStringLiteral("TEST UNIT READY: There is no disc in the drive. [02/3A/00 Not "
                                "Ready: Medium not present]"));
        QCOMPARE(B.Failure.CdbLength, uint8_t(6));
        QCOMPARE(B.Failure.Cdb[0], uint8_t(0x00));
        QCOMPARE(QList<int>({B.Failure.SenseKey, B.Failure.Asc, B.Failure.Ascq}),
                 QList<int>({0x02, 0x3A, 0x00}));
    } else {
        // A pressed disc: refused before any command reaches the drive.
        QCOMPARE(int(Code), int(EN_NOT_SUPPORTED));
        QCOMPARE(B.Failure.CdbLength, uint8_t(0));
    }
}

void TestVmDrives::driveRefusesBlankAndWrite_data()
{
    QTest::addColumn<int>("Drive");
    QTest::addColumn<QByteArray>("Cdb");
    const QByteArray Blank = QByteArray::fromHex("a1110000000000000000000000");
    const QByteArray Write = QByteArray::fromHex("2a000000000000000100");
    QTest::newRow("sr0 BLANK") << 0 << Blank.left(12);
    QTest::newRow("sr0 WRITE(10)") << 0 << Write;
    QTest::newRow("sr2 BLANK") << 2 << Blank.left(12);
    QTest::newRow("sr2 WRITE(10)") << 2 << Write;
}

void TestVmDrives::driveRefusesBlankAndWrite()
{
    // No pressed disc lets the library send these, so they go straight
    // through its SG_IO transport: the answer is the drive's and the kernel's.
    REQUIRE_GRANTED();
    QFETCH(int, Drive);
    QFETCH(QByteArray, Cdb);
    using namespace blankora::transport;
    OpenResult Opened = SgTransport::open(Node(Drives[Drive].Number).toStdString());
    QVERIFY2(Opened.transport, Opened.text.c_str());
    std::vector<uint8_t> Bytes(Cdb.begin(), Cdb.end());
    std::vector<uint8_t> Zeros(2048);
    ScsiCommand Command;
    Command.cdb = Bytes;
    if (Bytes[0] == 0x2A) {
        Command.direction = DataDirection::ToDevice;
        Command.dataOut = Zeros;
    }
    const ScsiResult R = Opened.transport->execute(Command);
    qInfo("%s: category %d, status %02X, sense %02X/%02X/%02X, os error %d, host %d, driver %d, "
          "text \"%s\"",
          QTest::currentDataTag(), int(R.category), R.status, R.senseKey, R.asc, R.ascq, R.osError,
          R.hostStatus, R.driverStatus, R.text.c_str());
    QCOMPARE(int(R.category), int(ResultCategory::CheckCondition));
    // ILLEGAL REQUEST or DATA PROTECT: a refusal, not a failure of the drive.
    QVERIFY2(R.senseKey == 0x05 || R.senseKey == 0x07, qPrintable(QString::number(R.senseKey)));
    // libsgutils2's names in the one bracketed form, on one line.
    const QRegularExpression Form(QStringLiteral(
        "^\\[0[57]/[0-9A-F]{2}/[0-9A-F]{2} (Illegal Request|Data Protect): [^\\]\n]+\\]$"));
    QVERIFY2(Form.match(QString::fromStdString(R.text)).hasMatch(), R.text.c_str());
}

void TestVmDrives::speeds_data()
{
    QTest::addColumn<int>("Drive");
    QTest::newRow("sr0 CD-ROM") << 0;
    QTest::newRow("sr2 DVD-ROM") << 2;
}

void TestVmDrives::speeds()
{
    REQUIRE_GRANTED();
    QFETCH(int, Drive);
    Grabber G;
    Open(G, Drive, ByName);
    QVERIFY2(G.Code == EN_SUCCESS, qPrintable(Describe(G.Code, G.Error)));
    uint32_t Read = 0, MaxRead = 0, Write = 0, MaxWrite = 0;
    Block B;
    const EXCEPTION_NUMBER Got =
        StarBurn_CdvdBurnerGrabber_GetSpeeds(G.Handle, EB(B), &Read, &MaxRead, &Write, &MaxWrite);
    qInfo("GetSpeeds: read %u of %u, write %u of %u KB/s; %s", Read, MaxRead, Write, MaxWrite,
          qPrintable(Describe(Got, B)));
    QVERIFY2(Got == EN_SUCCESS, qPrintable(Describe(Got, B)));
    Block S;
    const EXCEPTION_NUMBER Set = StarBurn_CdvdBurnerGrabber_SetSpeeds(
        G.Handle, EB(S), STARBURN_SPEED_MAX, STARBURN_SPEED_MAX);
    qInfo("SetSpeeds(max, max): %s", qPrintable(Describe(Set, S)));
    if (Drive == 0) {
        // virtio-scsi's scsi-cd has no SET CD SPEED: it works at its own speed.
        QCOMPARE(int(Set), int(EN_NOT_SUPPORTED));
        QCOMPARE(S.Status, uint32_t(0x052000));
        QVERIFY2(QString::fromLatin1(S.Text).endsWith(
                     QStringLiteral(" [05/20/00 Illegal Request: Invalid command operation code]")),
                 S.Text);
        QCOMPARE(S.Failure.Cdb[0], uint8_t(0xBB));
    } else {
        // AHCI's ide-cd takes SET CD SPEED and reports no write speed.
        QVERIFY2(Set == EN_SUCCESS, qPrintable(Describe(Set, S)));
        QCOMPARE(QList<uint32_t>({Write, MaxWrite}), QList<uint32_t>({0, 0}));
    }
}

void TestVmDrives::speedList_data()
{
    speeds_data();
}

void TestVmDrives::speedList()
{
    // The options page's list on QEMU's drives: neither sets a write speed.
    REQUIRE_GRANTED();
    QFETCH(int, Drive);
    QStringList Boxes;
    const TsbMessageBoxHook Previous =
        SetMessageBoxHook([&Boxes](const TsbMessageBoxRecord &Record) { Boxes << Record.Text; });
    QStringList Texts;
    QString Raised;
    {
        TsbBurner Burner;
        Burner.FTransportType = ttSpti;
        Burner.FDeviceName = QString::fromStdString(SystemName(Drives[Drive].Number));
        Burner.FDiscType = Drives[Drive].Disc;
        try {
            Burner.CreateGrabber();
            TsbDiscSpeedList List;
            List.BuildSpeedList(&Burner);
            for (int I = 0; I < List.Count(); ++I)
                Texts << List.Items(I)->StrSpeed;
            // The erase's speed step with that item.
            TsbDriveSpeeds Speeds;
            Burner.ApplyWriteSpeed(uint32_t(List.Items(0)->SpeedInSize), Speeds);
        } catch (const EsbError &Error) {
            Raised = Error.Message();
        }
    }
    SetMessageBoxHook(Previous);
    QVERIFY2(Raised.isEmpty(), qPrintable(Raised));
    QCOMPARE(Texts, QStringList{QStringLiteral("The drive chooses its own speed")});
    QVERIFY2(Boxes.isEmpty(), qPrintable(Boxes.join(u'\n')));
}

DISC_TYPE TestVmDrives::SettledDiscType(int Drive, DISC_TYPE Wanted)
{
    DISC_TYPE Type = DISC_TYPE_UNKNOWN;
    for (int Attempt = 0; Attempt < 40 && Type != Wanted; ++Attempt) {
        if (Attempt > 0)
            QTest::qWait(250);
        Grabber G;
        Open(G, Drive, ByName);
        if (G.Code == EN_SUCCESS)
            Type = StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(G.Handle);
    }
    return Type;
}

void TestVmDrives::trayLockHoldsWhileOpen_data()
{
    QTest::addColumn<int>("Drive");
    QTest::newRow("sr0 virtio-scsi") << 0;
    QTest::newRow("sr2 AHCI") << 2;
}

void TestVmDrives::trayLockHoldsWhileOpen()
{
    REQUIRE_MONITOR();
    QFETCH(int, Drive);
    const QString Qdev = QString::fromLatin1(Drives[Drive].Qdev);
    const QJsonObject Eject{{QStringLiteral("id"), Qdev}};
    {
        Grabber G;
        Open(G, Drive, ByName);
        QVERIFY2(G.Code == EN_SUCCESS, qPrintable(Describe(G.Code, G.Error)));
        Block B;
        const EXCEPTION_NUMBER Code = StarBurn_CdvdBurnerGrabber_Lock(G.Handle, EB(B));
        QVERIFY2(Code == EN_SUCCESS, qPrintable(Describe(Code, B)));
        QCOMPARE(FMonitor->BlockState(Qdev).value(QStringLiteral("locked")).toBool(), true);
        const QJsonObject Refused = FMonitor->Execute(QStringLiteral("eject"), Eject);
        qInfo("monitor eject while locked: %s",
              QJsonDocument(Refused).toJson(QJsonDocument::Compact).constData());
        QVERIFY(Refused.contains(QStringLiteral("error")));
        QCOMPARE(FMonitor->BlockState(Qdev).value(QStringLiteral("tray_open")).toBool(), false);
    }
    QCOMPARE(FMonitor->BlockState(Qdev).value(QStringLiteral("locked")).toBool(), false);
    QCOMPARE(SettledDiscType(Drive, Drives[Drive].Disc), Drives[Drive].Disc);
}

void TestVmDrives::ejectOpensTheTray_data()
{
    trayLockHoldsWhileOpen_data();
}

void TestVmDrives::ejectOpensTheTray()
{
    REQUIRE_MONITOR();
    QFETCH(int, Drive);
    const QString Qdev = QString::fromLatin1(Drives[Drive].Qdev);
    {
        Grabber G;
        Open(G, Drive, ByName);
        QVERIFY2(G.Code == EN_SUCCESS, qPrintable(Describe(G.Code, G.Error)));
        Block B;
        const EXCEPTION_NUMBER Code = StarBurn_CdvdBurnerGrabber_Eject(G.Handle, EB(B));
        QVERIFY2(Code == EN_SUCCESS, qPrintable(Describe(Code, B)));
        QCOMPARE(FMonitor->BlockState(Qdev).value(QStringLiteral("tray_open")).toBool(), true);
        QCOMPARE(int(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(G.Handle)),
                 int(DISC_TYPE_NO_MEDIA));
    }
    // Put the disc back for the next user.
    const QJsonObject Closed = FMonitor->Execute(QStringLiteral("blockdev-close-tray"),
                                                 QJsonObject{{QStringLiteral("id"), Qdev}});
    QVERIFY2(Closed.contains(QStringLiteral("return")),
             QJsonDocument(Closed).toJson(QJsonDocument::Compact).constData());
    QCOMPARE(SettledDiscType(Drive, Drives[Drive].Disc), Drives[Drive].Disc);
}

void TestVmDrives::changedMediumSeenAfterRefresh()
{
    REQUIRE_MONITOR();
    const int Drive = 1;
    const QString Qdev = QString::fromLatin1(Drives[Drive].Qdev);
    QCOMPARE(SettledDiscType(Drive, DISC_TYPE_NO_MEDIA), DISC_TYPE_NO_MEDIA);

    const QJsonObject Changed = FMonitor->Execute(
        QStringLiteral("blockdev-change-medium"),
        QJsonObject{
            {QStringLiteral("id"), Qdev},
            {QStringLiteral("filename"), QString(FMediaDir + u'/' + QLatin1String(SwapMedium))},
            {QStringLiteral("format"), QStringLiteral("raw")},
            {QStringLiteral("read-only-mode"), QStringLiteral("read-only")}});
    QVERIFY2(Changed.contains(QStringLiteral("return")),
             QJsonDocument(Changed).toJson(QJsonDocument::Compact).constData());

    // What a Refresh does: a new device object on the drive.
    QCOMPARE(SettledDiscType(Drive, DISC_TYPE_CDROM), DISC_TYPE_CDROM);
    {
        Grabber G;
        Open(G, Drive, ByName);
        QVERIFY2(G.Code == EN_SUCCESS, qPrintable(Describe(G.Code, G.Error)));
        uint64_t Used = 0;
        Block B;
        const EXCEPTION_NUMBER Code =
            StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(G.Handle, EB(B), &Used);
        QVERIFY2(Code == EN_SUCCESS, qPrintable(Describe(Code, B)));
        QCOMPARE(qint64(Used), FMedia.value(QLatin1String(SwapMedium)).Bytes);
        QCOMPARE(ReadVolumeLabel(Node(Drives[Drive].Number)),
                 FMedia.value(QLatin1String(SwapMedium)).Label);
    }

    // Empty again, tray closed, for the next user.
    const QJsonObject Removed =
        FMonitor->Execute(QStringLiteral("eject"), QJsonObject{{QStringLiteral("id"), Qdev},
                                                               {QStringLiteral("force"), true}});
    QVERIFY(Removed.contains(QStringLiteral("return")));
    FMonitor->Execute(QStringLiteral("blockdev-close-tray"),
                      QJsonObject{{QStringLiteral("id"), Qdev}});
    QCOMPARE(SettledDiscType(Drive, DISC_TYPE_NO_MEDIA), DISC_TYPE_NO_MEDIA);
}

void TestVmDrives::wizardScanLog()
{
    // The diagnostic log of the wizard's device scan on these drives.
    const QString Path = qEnvironmentVariable("BLANKORA_VM_WIZARD_LOG");
    if (Path.isEmpty())
        QSKIP("no wizard log given");
    REQUIRE_GRANTED();
    const bool Aspi = qEnvironmentVariable("BLANKORA_VM_WIZARD_TRANSPORT") == QLatin1String("aspi");
    QFile File(Path);
    QVERIFY2(File.open(QIODevice::ReadOnly), qPrintable(Path));
    const QByteArray Contents = File.readAll();
    QVERIFY(Contents.endsWith("\r\n"));
    const QRegularExpression Form(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: \\S"));
    QStringList Lines;
    for (const QByteArray &Raw : Contents.split('\n')) {
        if (Raw.isEmpty())
            continue;
        const QString Line = QString::fromLocal8Bit(Raw);
        QVERIFY2(Line.endsWith(u'\r') && Form.match(Line).hasMatch(), qPrintable(Line));
        Lines << Line.mid(14).chopped(1);
    }
    QCOMPARE(Lines.value(0), QStringLiteral("UpStartEx"));
    QCOMPARE(Lines.count(QStringLiteral("UpStartEx")), 1);
    if (Aspi)
        QCOMPARE(Lines.value(1), QStringLiteral("FindDevice"));
    // One device object per drive, one more per disc for its space.
    QCOMPARE(Lines.count(QStringLiteral("Destroy: Grabber")), 5);
    QCOMPARE(Lines.count(QStringLiteral("CdvdBurnerGrabber_GetDeviceInformation")), 3);
    QCOMPARE(Lines.count(QStringLiteral("CdvdBurnerGrabber_TestUnitReady")), 3);
    // Only the two drives with a disc are asked about it.
    QCOMPARE(Lines.count(QStringLiteral("CdvdBurnerGrabber_GetInsertedDiscType")), 2);
    QCOMPARE(Lines.count(QStringLiteral("CdvdBurnerGrabber_GetDiscInformation")), 2);
    // Each device's queries in their order, closed by its release.
    const QStringList Queries = {QStringLiteral("CdvdBurnerGrabber_GetDeviceInformation"),
                                 QStringLiteral("CdvdBurnerGrabber_GetSupportedMediaFormats"),
                                 QStringLiteral("CdvdBurnerGrabber_GetSupportedMediaFormatsExEx"),
                                 QStringLiteral("CdvdBurnerGrabber_ProbeSupportedWriteModes"),
                                 QStringLiteral("CdvdBurnerGrabber_ProbeSupportedReadModes"),
                                 QStringLiteral("CdvdBurnerGrabber_TestUnitReady"),
                                 QStringLiteral("Destroy: Grabber")};
    qsizetype From = 0;
    for (const DriveFacts &D : Drives) {
        const STARBURN_DEVICE_ADDRESS &A = D.Address;
        const QStringList Opened =
            Aspi ? QStringList{QStringLiteral("CdvdBurnerGrabber_Create (before create)"),
                               QStringLiteral("CdvdBurnerGrabber_Create (after create): "
                                              "PortID:%1,BusID:%2,TargetID:%3,LUN:%4")
                                   .arg(A.PortID)
                                   .arg(A.BusID)
                                   .arg(A.TargetID)
                                   .arg(A.LUN),
                               QStringLiteral("GetDeviceNameByDeviceAddress")}
                 : QStringList{QStringLiteral("GetDeviceNameBySystemName")};
        const QStringList Space =
            QString::fromLatin1(D.Medium).isEmpty()
                ? QStringList{}
                : QStringList{QStringLiteral("CdvdBurnerGrabber_GetDiscFreeSpace"),
                              QStringLiteral("CdvdBurnerGrabber_GetDiscUsedSpace"),
                              QStringLiteral("Destroy: Grabber")};
        for (const QString &Step : Opened + Queries + Space) {
            const qsizetype At = Lines.indexOf(Step, From);
            QVERIFY2(At >= From, qPrintable(QStringLiteral("sr%1: %2").arg(D.Number).arg(Step)));
            From = At + 1;
        }
    }
    // Every drive opened; a name without a drive may be reported as missing.
    const QRegularExpression Failure(QStringLiteral("failed, exception (\\d+)"));
    for (const QString &Line : Lines) {
        const QRegularExpressionMatch Match = Failure.match(Line);
        QVERIFY2(!Match.hasMatch() || Match.captured(1).toInt() == EN_NO_DEVICE, qPrintable(Line));
    }
}

void TestVmDrives::wizardStartUpLine()
{
    // The wizard's debug output names the shared object it loaded.
    const QString Path = qEnvironmentVariable("BLANKORA_VM_WIZARD_OUTPUT");
    if (Path.isEmpty())
        QSKIP("no wizard output given");
    QFile File(Path);
    QVERIFY2(File.open(QIODevice::ReadOnly), qPrintable(Path));
    const QString Output = QString::fromLocal8Bit(File.readAll());
    const QRegularExpression Line(
        QStringLiteral("^StarBurn : /\\S+/libStarBurn\\.so version : 0x20080820$"),
        QRegularExpression::MultilineOption);
    QVERIFY2(Line.match(Output).hasMatch(), qPrintable(Output.left(2000)));
}

QTEST_GUILESS_MAIN(TestVmDrives)
#include "vm_drives.moc"
