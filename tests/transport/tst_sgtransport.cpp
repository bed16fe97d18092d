#include "library/mmc/MmcSense.h"
#include "library/sbErrorBlock.h"
#include "library/transport/DeviceProviders.h"
#include "library/transport/SenseText.h"
#include "library/transport/SgDeviceProvider.h"
#include "library/transport/SgTransport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <scsi/sg_pt.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace blankora::transport;

namespace {

void writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

// A sysfs-like tree: SCSI devices with their type and block node.
void addScsiDevice(const QString &root, const QString &address, const QByteArray &type,
                   const QString &block)
{
    writeText(root + "/" + address + "/type", type + "\n");
    QDir().mkpath(root + "/" + address + "/block/" + block);
}

} // namespace

// The real-drive side: sysfs enumeration, opening nodes, mount lookup and
// the SG_IO transport as far as a machine without drives allows.
class TestSgTransport : public QObject
{
    Q_OBJECT

private slots:
    void enumeratesOpticalDevicesInAddressOrder();
    void thisMachineHasNoDrives();
    void openingFailuresNameTheNode();
    void commandOnANonScsiNodeFailsAsOsError();
    void mountPointFromMountInfo_data();
    void mountPointFromMountInfo();
    void senseIsDecodedIntoText();
    void ptAnswersAreUnpacked_data();
    void ptAnswersAreUnpacked();
    void realDrivesWithoutVirtualBay();
};

void TestSgTransport::enumeratesOpticalDevicesInAddressOrder()
{
    QTemporaryDir sysfs;
    const QString root = sysfs.path();
    addScsiDevice(root, "2:0:1:0", "5", "sr1");
    addScsiDevice(root, "0:0:0:0", "0", "sda");
    addScsiDevice(root, "1:0:0:0", "5", "sr0");
    addScsiDevice(root, "10:0:0:0", "5", "sr12");
    QDir().mkpath(root + "/host0");
    QDir().mkpath(root + "/target1:0:0");
    addScsiDevice(root, "3:0:0:0", "5", ""); // no block node: sr driver not bound

    SgDeviceProvider provider(root.toStdString(), "/devroot", "/nonexistent");
    const std::vector<DeviceEntry> entries = provider.enumerate();
    QCOMPARE(entries.size(), size_t(3));
    QCOMPARE(entries[0].systemNumber, 0);
    QCOMPARE(entries[0].host, uint8_t(1));
    QCOMPARE(entries[0].node, std::string("/devroot/sr0"));
    QCOMPARE(entries[1].systemNumber, 1);
    QCOMPARE(entries[1].target, uint8_t(1));
    QCOMPARE(entries[2].systemNumber, 12);
    QCOMPARE(entries[2].host, uint8_t(10));
}

void TestSgTransport::thisMachineHasNoDrives()
{
    if (QDir("/sys/class/block").entryList({"sr*"}).size() > 0)
        QSKIP("this machine has an optical drive");
    SgDeviceProvider provider;
    QVERIFY(provider.enumerate().empty());
    const OpenResult result = provider.openByAddress(0, 0, 0, 0);
    QVERIFY(!result.transport);
    QCOMPARE(result.osError, ENODEV);
}

void TestSgTransport::openingFailuresNameTheNode()
{
    QTemporaryDir dev;
    SgDeviceProvider provider("/nonexistent", dev.path().toStdString(), "/nonexistent");
    const OpenResult missing = provider.openBySystemNumber(3);
    QVERIFY(!missing.transport);
    QCOMPARE(missing.osError, ENOENT);
    const std::string node = dev.filePath("sr3").toStdString();
    QVERIFY2(missing.text.find("No such device: " + node) == 0, missing.text.c_str());

    writeText(dev.filePath("sr0"), "");
    QFile::setPermissions(dev.filePath("sr0"), QFileDevice::Permissions());
    if (::geteuid() == 0)
        QSKIP("root opens any node");
    const OpenResult denied = provider.openBySystemNumber(0);
    QVERIFY(!denied.transport);
    QCOMPARE(denied.osError, EACCES);
    QCOMPARE(denied.text, "Permission denied: " + dev.filePath("sr0").toStdString() +
                              ". Add your user to the 'cdrom' group (or log in at the local "
                              "seat) to use this drive.");
}

void TestSgTransport::commandOnANonScsiNodeFailsAsOsError()
{
    QTemporaryDir dev;
    writeText(dev.filePath("sr0"), QByteArray(4096, '\0'));
    OpenResult opened = SgTransport::open(dev.filePath("sr0").toStdString());
    QVERIFY2(opened.transport, opened.text.c_str());
    QCOMPARE(opened.transport->deviceNode(), dev.filePath("sr0").toStdString());
    const std::vector<uint8_t> cdb{0x12, 0, 0, 0, 36, 0};
    std::vector<uint8_t> buffer(36);
    ScsiCommand command;
    command.cdb = cdb;
    command.direction = DataDirection::FromDevice;
    command.dataIn = buffer;
    const ScsiResult result = opened.transport->execute(command);
    QVERIFY(!result.ok());
    QCOMPARE(result.category, ResultCategory::OsError);
    QVERIFY(result.osError != 0);
    QVERIFY(!result.text.empty());
}

void TestSgTransport::mountPointFromMountInfo_data()
{
    QTest::addColumn<QByteArray>("mountInfo");
    QTest::addColumn<QString>("expected");
    const QByteArray root = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
    QTest::newRow("mounted") << root + "95 22 11:0 / /media/user/BACKUP ro - iso9660 /dev/sr0 ro\n"
                             << "/media/user/BACKUP";
    QTest::newRow("escaped space")
        << root + "95 22 11:0 / /media/user/MY\\040DISC ro - udf /dev/sr0 ro\n"
        << "/media/user/MY DISC";
    QTest::newRow("other device") << root + "95 22 11:1 / /media/user/X ro - udf /dev/sr1 ro\n"
                                  << "";
    QTest::newRow("not mounted") << root << "";
}

void TestSgTransport::mountPointFromMountInfo()
{
    QFETCH(QByteArray, mountInfo);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(findMountPoint(mountInfo.toStdString(), 11, 0)), expected);
    // A node that is not a block device is never reported mounted.
    QTemporaryDir dir;
    writeText(dir.filePath("mountinfo"), mountInfo);
    writeText(dir.filePath("sr0"), "");
    SgDeviceProvider provider("/nonexistent", dir.path().toStdString(),
                              dir.filePath("mountinfo").toStdString());
    QCOMPARE(provider.mountPoint(dir.filePath("sr0").toStdString()), std::string());
}

void TestSgTransport::senseIsDecodedIntoText()
{
    // libsgutils2's names without its "Additional sense: " lead-in, in one form.
    QCOMPARE(describeSense(0x02, 0x3A, 0x01),
             std::string("[02/3A/01 Not Ready: Medium not present - tray closed]"));
    QCOMPARE(describeSense(0x05, 0x20, 0x00),
             std::string("[05/20/00 Illegal Request: Invalid command operation code]"));
    QCOMPARE(describeSense(0x02, 0x53, 0x02),
             std::string("[02/53/02 Not Ready: Medium removal prevented]"));
}

// As sg3_utils' sg_pt_linux.c fills its object: the transport error is the
// host status alone, a time-out is DID_TIME_OUT, the data-out residual of
// /dev/srN means nothing.
void TestSgTransport::ptAnswersAreUnpacked_data()
{
    QTest::addColumn<int>("started");
    QTest::addColumn<int>("category");
    QTest::addColumn<int>("transportError");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("residual");
    QTest::addColumn<int>("result");
    QTest::addColumn<uint>("systemStatus"); // of the library's error block
    QTest::addColumn<int>("resultResidual");
    QTest::addColumn<QString>("text");

    const int none = int(DataDirection::None), in = int(DataDirection::FromDevice);
    const int out = int(DataDirection::ToDevice);
    const int transportError = int(ResultCategory::TransportError);
    const int osError = int(ResultCategory::OsError), good = int(ResultCategory::Good);
    QTest::newRow("time-out") << 0 << SCSI_PT_RESULT_TRANSPORT_ERR << 3 << none << 0
                              << transportError << 0x02000300u << 0 << "DID_TIME_OUT";
    // Older kernels: host status 0, driver status 6 (DRIVER_TIMEOUT), sg3_utils sg_pt_linux.c.
    QTest::newRow("driver time-out") << 0 << SCSI_PT_RESULT_TRANSPORT_ERR << 0x600 << none << 0
                                     << transportError << 0x02000006u << 0 << "DRIVER_TIMEOUT";
    QTest::newRow("bus reset") << 0 << SCSI_PT_RESULT_TRANSPORT_ERR << 8 << none << 0
                               << transportError << 0x02000800u << 0 << "DID_RESET";
    QTest::newRow("no pass-through") << SCSI_PT_DO_NOT_SUPPORTED << 0 << 0 << none << 0 << osError
                                     << uint(EOPNOTSUPP) << 0 << "SG_IO";
    QTest::newRow("open failure") << -EBUSY << 0 << 0 << none << 0 << osError << uint(EBUSY) << 0
                                  << "";
    QTest::newRow("data-out residual")
        << 0 << SCSI_PT_RESULT_GOOD << 0 << out << 4096 << good << 0u << 0 << "";
    QTest::newRow("data-in residual")
        << 0 << SCSI_PT_RESULT_GOOD << 0 << in << 4096 << good << 0u << 4096 << "";
}

void TestSgTransport::ptAnswersAreUnpacked()
{
    QFETCH(int, started);
    QFETCH(int, category);
    QFETCH(int, transportError);
    QFETCH(int, direction);
    QFETCH(int, residual);
    QFETCH(int, result);
    QFETCH(uint, systemStatus);
    QFETCH(int, resultResidual);
    QFETCH(QString, text);

    PtAnswer answer;
    answer.started = started;
    answer.category = category;
    answer.transportError = transportError & 0xFF;
    answer.driverStatus = transportError >> 8;
    answer.direction = DataDirection(direction);
    answer.residual = residual;
    answer.requested = 65536;
    const ScsiResult unpacked = resultFromPt(answer);
    QCOMPARE(int(unpacked.category), result);
    QCOMPARE(unpacked.residual, size_t(resultResidual));
    QCOMPARE(blankora::library::statusForResult(unpacked), uint32_t(systemStatus));
    QVERIFY2(QString::fromStdString(unpacked.text).contains(text), unpacked.text.c_str());
    QCOMPARE(blankora::mmc::isTimeout(unpacked), QString(text).contains("TIME"));
    // The text goes into one log line and one error block text.
    QVERIFY2(unpacked.text.find('\n') == std::string::npos, unpacked.text.c_str());
}

void TestSgTransport::realDrivesWithoutVirtualBay()
{
    qunsetenv("BLANKORA_VIRTUAL_DRIVES");
    std::string error;
    auto provider = CreateDeviceProvider(error);
    QVERIFY(provider);
    QVERIFY(error.empty());
    QVERIFY(dynamic_cast<SgDeviceProvider *>(provider.get()));
}

QTEST_MAIN(TestSgTransport)
#include "tst_sgtransport.moc"
