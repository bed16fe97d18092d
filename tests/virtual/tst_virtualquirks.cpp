#include "support/ScenarioBuilder.h"
#include "library/virtual/VirtualBay.h"

#include <QTest>

#include <cerrno>
#include <sys/stat.h>

using namespace blankora;
using blankora::test::Exchange;
using transport::ResultCategory;
using virtualbay::VirtualBay;

namespace {

// Commands the scripts below name instead of spelling their bytes.
const std::map<QString, QByteArray> &aliases()
{
    static const std::map<QString, QByteArray> table = {
        {"TUR", "000000000000"},
        {"SENSE", "030000001200"},
        {"STOP", "1b0100000000"},
        {"CONFIG", "460000000000000008 00"},
        {"DISCINFO", "510000000000000022 00"},
        {"FORMATCAPS", "2300000000000000fc00"},
        {"BLANKFAST", "a11100000000000000000000"},
        {"BLANKFULL", "a11000000000000000000000"},
        {"FORMAT26", "041100000000/00020008ffffffff98000000"},
        {"RESTART26", "041100000000/00020008ffffffff98000001"},
        {"STOPBG", "5b0100000000000000 00"},
        {"CLOSE", "5b0102000000000000 00"},
        {"FORMAT15", "041100000000/0002000800000000 54000010"},
        {"FORMATRAM", "041100000000/00820008 00222120 00000800"},
        {"CERTFULL", "041100000000/00820008 00b47400 c2003000"},
        {"CERTQUICK", "041100000000/00820008 00b47400 c3003000"},
    };
    return table;
}

// Data-in length the CDB asks for.
size_t allocation(const std::vector<uint8_t> &cdb)
{
    switch (cdb[0]) {
    case 0x03:
        return cdb[4];
    case 0x23:
    case 0x46:
    case 0x51:
        return size_t(cdb[7] << 8 | cdb[8]);
    case 0x28:
        return size_t(cdb[7] << 8 | cdb[8]) * 2048;
    default:
        return 0;
    }
}

Exchange run(transport::ScsiTransport &drive, const QString &command)
{
    const auto alias = aliases().find(command);
    const QByteArray spelled = alias != aliases().end() ? alias->second : command.toLatin1();
    const QList<QByteArray> parts = spelled.split('/');
    const QByteArray cdbHex = QByteArray(parts[0]).replace(' ', "");
    const QByteArray cdbBytes = QByteArray::fromHex(cdbHex);
    const std::vector<uint8_t> cdb(cdbBytes.begin(), cdbBytes.end());
    std::vector<uint8_t> dataOut;
    if (parts.size() > 1) {
        const QByteArray out = QByteArray::fromHex(QByteArray(parts[1]).replace(' ', ""));
        dataOut.assign(out.begin(), out.end());
    }
    Exchange exchange;
    exchange.data.assign(allocation(cdb), 0);
    transport::ScsiCommand scsi;
    scsi.cdb = cdb;
    if (!exchange.data.empty()) {
        scsi.direction = transport::DataDirection::FromDevice;
        scsi.dataIn = exchange.data;
    } else if (!dataOut.empty()) {
        scsi.direction = transport::DataDirection::ToDevice;
        scsi.dataOut = dataOut;
    }
    exchange.result = drive.execute(scsi);
    return exchange;
}

// "good", "timeout", or the sense as "[RC ]K/ASC/ASCQ[ progress]": RC is the
// response code (70h..73h), progress that the sense carries a progress field.
QString outcome(const Exchange &exchange)
{
    const transport::ScsiResult &result = exchange.result;
    if (result.category == ResultCategory::Good)
        return QStringLiteral("good");
    if (result.category == ResultCategory::TransportError && result.hostStatus == 3)
        return QStringLiteral("timeout");
    if (result.category != ResultCategory::CheckCondition || result.sense.empty())
        return QStringLiteral("other");
    const std::vector<uint8_t> &sense = result.sense;
    const uint8_t code = sense[0] & 0x7F;
    bool progress = false;
    if (code >= 0x72)
        progress = sense.size() >= 16 && sense[8] == 0x02 && (sense[12] & 0x80);
    else
        progress = sense.size() >= 18 && (sense[15] & 0x80);
    return QString::asprintf("%02X %02X/%02X/%02X%s", code, result.senseKey, result.asc,
                             result.ascq, progress ? " progress" : "");
}

std::shared_ptr<VirtualBay> quirkBay()
{
    std::string error;
    auto bay = VirtualBay::fromFile(BLANKORA_TEST_SCENARIOS "/emu-quirks.json", error);
    if (!bay)
        qWarning("%s", error.c_str());
    return bay;
}

std::unique_ptr<transport::ScsiTransport>
openDrive(VirtualBay &bay, int number, transport::OpenMode mode = transport::OpenMode::Shared)
{
    return std::move(bay.openBySystemNumber(number, mode).transport);
}

} // namespace

// Behaviours of real drives that a scenario switches on (quirks), each
// replayed as a script of commands against one drive of emu-quirks.json.
class TestVirtualQuirks : public QObject
{
    Q_OBJECT

private slots:
    void scripts_data();
    void scripts();
    void eraseFollowsTheDiscsOwnSpeed_data();
    void eraseFollowsTheDiscsOwnSpeed();
    void descriptorSenseCarriesProgress();
    void timeOutAsTheKernelReportsIt();
    void exclusiveOpen();
    void wholeDiscReadsBackAfterZeroFill();
};

void TestVirtualQuirks::scripts_data()
{
    // A step is "+S" (advance S simulated seconds), "bg N" (READ DISC
    // INFORMATION byte 7 shows N), "profile N" (hex), "capacity N" (READ FORMAT
    // CAPACITIES descriptor type), "node N" (bytes in the disc image) or
    // "COMMAND = OUTCOME".
    QTest::addColumn<int>("drive");
    QTest::addColumn<QStringList>("steps");
    // dvd+rw-format: FORMAT 26h, wait, "stop de-icing", "close session".
    QTest::newRow("background format stopped, then closed")
        << 0
        << QStringList{"FORMAT26 = good",
                       "TUR = 70 02/04/04 progress",
                       "+3",
                       "TUR = good",
                       "bg 2",
                       "+100",
                       "STOPBG = good",
                       "bg 1",
                       "CLOSE = good",
                       "TUR = 70 02/04/07 progress",
                       "+3",
                       "TUR = good",
                       "bg 1"};
    // growisofs with -dvd-compat and dvd+rw-format -lead-out close without
    // stopping: the drive formats to the end first.
    QTest::newRow("closing a running background format finishes it")
        << 0
        << QStringList{"FORMAT26 = good",
                       "+3",
                       "bg 2",
                       "CLOSE = good",
                       "+500",
                       "TUR = 70 02/04/04 progress",
                       "bg 2",
                       "+500",
                       "TUR = good",
                       "bg 3"};
    QTest::newRow("restart resumes a stopped background format")
        << 0 << QStringList{"FORMAT26 = good", "+3",   "STOPBG = good", "bg 1", "RESTART26 = good",
                            "TUR = good",      "bg 2", "+1000",         "bg 3"};
    QTest::newRow("background format runs its full time without a close")
        << 0 << QStringList{"FORMAT26 = good", "+3", "bg 2", "+990", "bg 2", "+10", "bg 3"};
    // transport.hxx pioneer_stop: TUR passes, the STOP barrier is still refused.
    QTest::newRow("early ready after a blank") << 1
                                               << QStringList{"BLANKFAST = good",
                                                              "+45",
                                                              "TUR = 70 02/04/07 progress",
                                                              "+6",
                                                              "TUR = good",
                                                              "STOP = 70 02/04/07 progress",
                                                              "DISCINFO = 70 02/04/07 progress",
                                                              "+10",
                                                              "STOP = good"};
    QTest::newRow("ready unit answers with recovered error")
        << 2 << QStringList{"TUR = 70 01/17/01", "CONFIG = good", "TUR = 70 01/17/01"};
    QTest::newRow("deferred error in descriptor format")
        << 3
        << QStringList{"BLANKFAST = good", "TUR = 72 02/04/07 progress", "+60",
                       "CONFIG = 73 03/51/00", "TUR = good"};
    QTest::newRow("deferred error goes to the next command")
        << 4 << QStringList{"BLANKFAST = good", "+60", "CONFIG = 71 03/51/00", "TUR = good"};
    QTest::newRow("unit attention after an erase")
        << 5 << QStringList{"BLANKFAST = good", "+61", "TUR = 70 06/29/00", "TUR = good",
                            "BLANKFAST = good", "+61", "SENSE = good",      "TUR = good"};
    // A blank without Immed outlasting its 30 s: SG_IO gives up, the drive does not.
    QTest::newRow("kernel time-out of a blocking blank")
        << 16
        << QStringList{"a10100000000000000000000 = timeout", "TUR = 70 02/04/07 progress", "+31",
                       "TUR = good"};
    // libburn mmc.c: an LG drive refuses 30h with a certification it lacks.
    QTest::newRow("certification the drive does not offer")
        << 6 << QStringList{"CERTFULL = 70 05/26/00", "TUR = good", "CERTQUICK = good"};
    // K3b / dvd+rw-format -force on 13h: quick format 15h keeps overwrite mode;
    // libburn cookbook: the session stays intermediate until CLOSE SESSION.
    QTest::newRow("quick format keeps restricted overwrite")
        << 8 << QStringList{"FORMAT15 = good", "+60",        "TUR = good",   "profile 13",
                            "node 0",          "capacity 3", "CLOSE = good", "capacity 2"};
    QTest::newRow("minimal blank turns restricted overwrite sequential")
        << 8 << QStringList{"BLANKFAST = good", "+60", "profile 14", "capacity 1"};
}

void TestVirtualQuirks::scripts()
{
    QFETCH(int, drive);
    QFETCH(QStringList, steps);
    auto bay = quirkBay();
    QVERIFY(bay);
    auto handle = openDrive(*bay, drive);
    QVERIFY(handle);
    for (const QString &step : steps) {
        if (step.startsWith('+')) {
            bay->clock().advance(step.mid(1).toDouble());
        } else if (step.startsWith(QLatin1String("bg "))) {
            QCOMPARE(bay->drive(size_t(drive)).backgroundFormat(), step.mid(3).toInt());
        } else if (step.startsWith(QLatin1String("profile "))) {
            QCOMPARE(bay->drive(size_t(drive)).currentProfile(), step.mid(8).toUShort(nullptr, 16));
        } else if (step.startsWith(QLatin1String("node "))) {
            struct stat info = {};
            QCOMPARE(::stat(handle->deviceNode().c_str(), &info), 0);
            QCOMPARE(qint64(info.st_size), step.mid(5).toLongLong());
        } else if (step.startsWith(QLatin1String("capacity "))) {
            const Exchange caps = run(*handle, QStringLiteral("FORMATCAPS"));
            QVERIFY(caps.result.ok());
            QCOMPARE(caps.data[8] & 0x03, step.mid(9).toInt());
        } else {
            const QStringList parts = step.split(QStringLiteral(" = "));
            QCOMPARE(outcome(run(*handle, parts[0])), parts[1]);
        }
    }
}

void TestVirtualQuirks::eraseFollowsTheDiscsOwnSpeed_data()
{
    QTest::addColumn<int>("drive");
    QTest::addColumn<QString>("command");
    QTest::addColumn<double>("seconds");
    // capacity / erase speed; CD speeds count 2352-byte sectors (4x: 20 min).
    QTest::newRow("CD-RW full blank at 4x") << 11 << "BLANKFULL" << 359849 * 2352.0 / 706000.0;
    QTest::newRow("DVD-RAM certification") << 12 << "FORMATRAM" << 2236704 * 2048.0 / 1385000.0;
    QTest::newRow("BD-RE full certification") << 13 << "CERTFULL" << 11826176 * 2048.0 / 2248000.0;
    QTest::newRow("DVD-RW full blank") << 14 << "BLANKFULL" << 2295104 * 2048.0 / 5540000.0;
    QTest::newRow("timing overrides") << 15 << "CERTQUICK" << 500.0;
}

void TestVirtualQuirks::eraseFollowsTheDiscsOwnSpeed()
{
    QFETCH(int, drive);
    QFETCH(QString, command);
    QFETCH(double, seconds);
    auto bay = quirkBay();
    QVERIFY(bay);
    auto handle = openDrive(*bay, drive);
    QCOMPARE(outcome(run(*handle, command)), QStringLiteral("good"));
    bay->clock().advance(seconds * 0.99);
    QVERIFY(bay->drive(size_t(drive)).busy());
    bay->clock().advance(seconds * 0.02);
    QVERIFY(!bay->drive(size_t(drive)).busy());
}

void TestVirtualQuirks::descriptorSenseCarriesProgress()
{
    auto bay = quirkBay();
    QVERIFY(bay);
    auto handle = openDrive(*bay, 3);
    QVERIFY(run(*handle, "BLANKFAST").result.ok());
    bay->clock().advance(25);
    // SPC: 72h header, then the sense-key specific descriptor 02h with SKSV
    // and the progress, as sg_get_sense_progress_fld() reads it.
    const Exchange polled = run(*handle, "TUR");
    const std::vector<uint8_t> expected{0x72, 0x02, 0x04, 0x07, 0,    0,    0,    8,
                                        0x02, 0x06, 0,    0,    0x80, 0x40, 0x00, 0};
    QCOMPARE(polled.result.sense, expected);
    const Exchange requested = run(*handle, "SENSE");
    QCOMPARE(std::vector<uint8_t>(requested.data.begin(), requested.data.begin() + 16), expected);
    QCOMPARE(requested.result.residual, size_t(2));
}

void TestVirtualQuirks::timeOutAsTheKernelReportsIt()
{
    auto bay = quirkBay();
    QVERIFY(bay);
    auto handle = openDrive(*bay, 10);
    // SG_IO succeeds; the kernel reports host status DID_TIME_OUT, no driver
    // status (scsi_ioctl.c since 5.14), no sense; sg_pt names it so.
    const transport::ScsiResult result = run(*handle, "CONFIG").result;
    QCOMPARE(result.category, ResultCategory::TransportError);
    QCOMPARE(result.hostStatus, 3);
    QCOMPARE(result.driverStatus, 0);
    QCOMPARE(result.osError, 0);
    QCOMPARE(result.status, uint8_t(0));
    QVERIFY(result.sense.empty());
    QCOMPARE(result.text, std::string("Host_status=0x03 [DID_TIME_OUT]"));
    QVERIFY(run(*handle, "CONFIG").result.ok());
}

void TestVirtualQuirks::exclusiveOpen()
{
    using transport::OpenMode;
    auto bay = quirkBay();
    QVERIFY(bay);
    // Mounted: O_EXCL is refused, shared opens work.
    const transport::OpenResult refused = bay->openBySystemNumber(7, OpenMode::Exclusive);
    QVERIFY(!refused.transport);
    QCOMPARE(refused.osError, EBUSY);
    auto shared = openDrive(*bay, 7);
    QVERIFY(shared);
    QVERIFY(run(*shared, "1b0000000200").result.ok()); // eject: nothing mounted any more
    auto exclusive = openDrive(*bay, 7, OpenMode::Exclusive);
    QVERIFY(exclusive);
    // One exclusive holder at a time; shared opens still pass.
    QCOMPARE(bay->openBySystemNumber(7, OpenMode::Exclusive).osError, EBUSY);
    QVERIFY(openDrive(*bay, 7));
    exclusive.reset();
    QVERIFY(openDrive(*bay, 7, OpenMode::Exclusive));
}

void TestVirtualQuirks::wholeDiscReadsBackAfterZeroFill()
{
    auto bay = quirkBay();
    QVERIFY(bay);
    auto handle = openDrive(*bay, 9);
    const uint32_t blocks = 4194304 / 2048;
    for (uint32_t lba = 0; lba < blocks; lba += 32) {
        const QString write = QString::asprintf("2a00%08x00002000/", lba) +
                              QString(QLatin1String("00")).repeated(32 * 2048);
        QVERIFY(run(*handle, write).result.ok());
    }
    QVERIFY(run(*handle, "35000000000000000000").result.ok());
    for (uint32_t lba = 0; lba < blocks; lba += 256) {
        const Exchange read = run(*handle, QString::asprintf("2800%08x00010000", lba));
        QVERIFY(read.result.ok());
        QVERIFY(std::all_of(read.data.begin(), read.data.end(), [](uint8_t b) { return b == 0; }));
    }
    // The node file is the store: all zeros, and held as holes.
    struct stat info = {};
    QCOMPARE(::stat(handle->deviceNode().c_str(), &info), 0);
    QCOMPARE(uint64_t(info.st_size), uint64_t(4194304));
    QVERIFY(uint64_t(info.st_blocks) * 512 < 4194304 / 4);
    // Other data round-trips, and the log keeps only the head of a write.
    const QString pattern = QString(QLatin1String("a5")).repeated(32 * 2048);
    QVERIFY(run(*handle, "2a000000010000002000/" + pattern).result.ok());
    const Exchange back = run(*handle, "28000000010000002000");
    QVERIFY(std::all_of(back.data.begin(), back.data.end(), [](uint8_t b) { return b == 0xA5; }));
    QCOMPARE(bay->drive(9).commandLog().back().dataOut.size(), size_t(0));
    QCOMPARE(bay->drive(9).commandLog().rbegin()[1].dataOut.size(), size_t(64));
}

QTEST_GUILESS_MAIN(TestVirtualQuirks)
#include "tst_virtualquirks.moc"
