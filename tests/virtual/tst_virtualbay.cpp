#include "support/ScenarioBuilder.h"
#include "library/virtual/VirtualBay.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <blkid/blkid.h>

#include <cerrno>

using namespace blankora;
using blankora::test::Exchange;
using blankora::test::ScenarioBuilder;
using blankora::test::send;
using transport::ResultCategory;
using virtualbay::InjectMode;
using virtualbay::Sense;
using virtualbay::VirtualBay;

namespace {

const std::initializer_list<uint8_t> KTestUnitReady{0x00, 0, 0, 0, 0, 0};
const std::initializer_list<uint8_t> KRequestSense{0x03, 0, 0, 0, 18, 0};
const std::initializer_list<uint8_t> KInquiry{0x12, 0, 0, 0, 36, 0};
const std::initializer_list<uint8_t> KGetConfiguration{0x46, 0, 0, 0, 0, 0, 0, 0x10, 0, 0};
const std::initializer_list<uint8_t> KDiscInformation{0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
const std::initializer_list<uint8_t> KModeSense2A{0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0};
const std::initializer_list<uint8_t> KCurrentWritePerformance{0xAC, 0x04, 0, 0, 0,    0,
                                                              0,    0,    0, 1, 0x00, 0};
const std::initializer_list<uint8_t> KPrevent{0x1E, 0, 0, 0, 1, 0};
const std::initializer_list<uint8_t> KAllow{0x1E, 0, 0, 0, 0, 0};
const std::initializer_list<uint8_t> KEject{0x1B, 0, 0, 0, 2, 0};
const std::initializer_list<uint8_t> KLoad{0x1B, 0, 0, 0, 3, 0};
const std::initializer_list<uint8_t> KFormatUnit{0x04, 0x11, 0, 0, 0, 0};
const std::initializer_list<uint8_t> KWriteZeros{0x2A, 0, 0, 0, 0, 0, 0, 0, 32, 0};
const std::initializer_list<uint8_t> KReadFirst18{0x28, 0, 0, 0, 0, 0, 0, 0, 18, 0};

Sense senseOf(const Exchange &exchange)
{
    return Sense{exchange.result.senseKey, exchange.result.asc, exchange.result.ascq};
}

uint16_t currentProfile(transport::ScsiTransport &drive)
{
    return uint16_t(send(drive, KGetConfiguration, 4096).be16(6));
}

int discStatus(transport::ScsiTransport &drive)
{
    const Exchange info = send(drive, KDiscInformation, 34);
    return info.result.ok() ? info.data[2] & 0x03 : -1;
}

uint16_t progressOf(const Exchange &exchange)
{
    const auto &sense = exchange.result.sense;
    if (sense.size() < 18 || !(sense[15] & 0x80))
        return 0;
    return uint16_t(sense[16] << 8 | sense[17]);
}

std::unique_ptr<transport::ScsiTransport> openDrive(VirtualBay &bay, int systemNumber)
{
    transport::OpenResult opened = bay.openBySystemNumber(systemNumber);
    if (!opened.transport)
        qWarning("%s", opened.text.c_str());
    return std::move(opened.transport);
}

std::string labelOf(const std::string &file)
{
    blkid_probe probe = blkid_new_probe_from_filename(file.c_str());
    if (!probe)
        return "<unreadable>";
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
    std::string label;
    const char *value = nullptr;
    if (blkid_do_safeprobe(probe) == 0 &&
        blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0)
        label = value;
    blkid_free_probe(probe);
    return label;
}

std::vector<uint8_t> formatDescriptor(uint8_t type, uint32_t blocks, bool immediate = true)
{
    return {0,
            uint8_t(immediate ? 0x02 : 0x00),
            0,
            8,
            uint8_t(blocks >> 24),
            uint8_t(blocks >> 16),
            uint8_t(blocks >> 8),
            uint8_t(blocks),
            uint8_t(type << 2),
            0,
            0,
            0};
}

} // namespace

Q_DECLARE_METATYPE(Sense)

// The emulated drives: their answers to raw CDBs, their state, their faults,
// and the scenario files that describe them.
class TestVirtualBay : public QObject
{
    Q_OBJECT

private slots:
    void demoBayDrivesDescribeTheirDiscs_data();
    void demoBayDrivesDescribeTheirDiscs();
    void lengthFieldsReportFullSizeAndResidual();
    void requestedSpeedsRoundDown_data();
    void requestedSpeedsRoundDown();
    void trayLockAndLoading();
    void lockEndsWithTheHandleThatHeldIt();
    void blankRunsWithProgressToABlankDisc_data();
    void blankRunsWithProgressToABlankDisc();
    void blankIsRefusedWithoutStartingAJob_data();
    void blankIsRefusedWithoutStartingAJob();
    void progressReportVariants_data();
    void progressReportVariants();
    void blockingBlankWaitsForTheJob();
    void mediaDetails();
    void formatWriteAndRead();
    void formatDescriptorIsValidated();
    void injectedFaults_data();
    void injectedFaults();
    void blankFailingPartWay();
    void openFaultsExplainWhatToDo();
    void drivesVanishMidScan();
    void labelImageFollowsTheDisc();
};

void TestVirtualBay::demoBayDrivesDescribeTheirDiscs_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("profile");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("erasable");
    QTest::addColumn<QString>("label");
    QTest::newRow("CD-RW") << 0 << 0x0A << 2 << true << "HOLIDAY_2008";
    QTest::newRow("DVD-RW") << 1 << 0x14 << 1 << true << "BACKUP_DVD";
    QTest::newRow("DVD+RW") << 2 << 0x1A << 2 << true << "PHOTOS";
    QTest::newRow("BD-RE") << 3 << 0x43 << 3 << true << "ARCHIVE";
    QTest::newRow("empty") << 4 << 0 << -1 << false << "";
    QTest::newRow("CD-R") << 5 << 0x09 << 2 << false << "MUSIC";
    QTest::newRow("DVD-ROM") << 6 << 0x10 << 2 << false << "MOVIE";
}

void TestVirtualBay::demoBayDrivesDescribeTheirDiscs()
{
    QFETCH(int, number);
    QFETCH(int, profile);
    QFETCH(int, status);
    QFETCH(bool, erasable);
    QFETCH(QString, label);
    std::string error;
    auto bay = VirtualBay::fromFile(BLANKORA_SOURCE_DIR "/resources/demo-bay.json", error);
    QVERIFY2(bay, error.c_str());
    QCOMPARE(bay->enumerate().size(), size_t(7));
    auto drive = openDrive(*bay, number);
    QVERIFY(drive);

    const Exchange inquiry = send(*drive, KInquiry, 36);
    QVERIFY(inquiry.result.ok());
    QCOMPARE(inquiry.data[0], uint8_t(0x05));
    QVERIFY(inquiry.data[1] & 0x80);
    const std::string product(inquiry.data.begin() + 16, inquiry.data.begin() + 32);
    QVERIFY2(product.find("Virtual") != std::string::npos, product.c_str());

    QCOMPARE(currentProfile(*drive), uint16_t(profile));
    const Exchange info = send(*drive, KDiscInformation, 34);
    if (status < 0) {
        QCOMPARE(info.result.category, ResultCategory::CheckCondition);
        QCOMPARE(senseOf(info), (Sense{0x02, 0x3A, 0x01}));
    } else {
        QVERIFY(info.result.ok());
        QCOMPARE(info.be16(0), 32u);
        QCOMPARE(info.data[2] & 0x03, status);
        QCOMPARE(bool(info.data[2] & 0x10), erasable);
    }
    QCOMPARE(QString::fromStdString(labelOf(drive->deviceNode())), label);
}

void TestVirtualBay::lengthFieldsReportFullSizeAndResidual()
{
    ScenarioBuilder scenario;
    auto bay = scenario.drive("dvd-writer", "DVD-RW").build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);

    const Exchange full = send(*drive, KGetConfiguration, 4096);
    const size_t total = full.be32(0) + 4;
    QVERIFY(total > 8 && total < 4096);
    QCOMPARE(full.transferred(), total);
    QCOMPARE(full.result.residual, 4096 - total);

    const Exchange header = send(*drive, {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 8);
    QVERIFY(header.result.ok());
    QCOMPARE(header.be32(0) + 4, total);
    QCOMPARE(header.result.residual, size_t(0));

    const Exchange nothing = send(*drive, {0x46, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QVERIFY(nothing.result.ok());

    // Asking for one feature gives just that one, with its current bit.
    const Exchange one = send(*drive, {0x46, 0x02, 0x00, 0x21, 0, 0, 0, 0x01, 0, 0}, 256);
    QCOMPARE(one.be32(0), 4u + 4u + 8u);
    QCOMPARE(one.be16(8), 0x0021u);
    QVERIFY(one.data[10] & 0x01);

    const Exchange unknown = send(*drive, {0xD9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QCOMPARE(senseOf(unknown), (Sense{0x05, 0x20, 0x00}));
    QCOMPARE(unknown.result.sense.size(), size_t(18));
    QCOMPARE(unknown.result.sense[0], uint8_t(0x70));
    QVERIFY(!unknown.result.text.empty());

    // A data phase the command does not have is refused like the kernel does.
    transport::ScsiCommand wrong;
    const std::vector<uint8_t> cdb{0x00, 0, 0, 0, 0, 0};
    std::vector<uint8_t> buffer(16);
    wrong.cdb = cdb;
    wrong.direction = transport::DataDirection::FromDevice;
    wrong.dataIn = buffer;
    const transport::ScsiResult refused = drive->execute(wrong);
    QCOMPARE(refused.category, ResultCategory::OsError);
    QCOMPARE(refused.osError, EINVAL);
}

void TestVirtualBay::requestedSpeedsRoundDown_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("selected");
    QTest::newRow("CD-RW between steps") << "CD-RW" << 4000 << 2822;
    QTest::newRow("CD-RW exact") << "CD-RW" << 1764 << 1764;
    QTest::newRow("CD-RW maximum") << "CD-RW" << 0xFFFF << 4234;
    QTest::newRow("CD-RW below minimum") << "CD-RW" << 100 << 706;
    QTest::newRow("DVD+RW above maximum") << "DVD+RW" << 30000 << 11080;
    QTest::newRow("BD-RE between") << "BD-RE" << 8000 << 4496;
}

void TestVirtualBay::requestedSpeedsRoundDown()
{
    QFETCH(QString, profile);
    QFETCH(int, requested);
    QFETCH(int, selected);
    ScenarioBuilder scenario;
    auto bay = scenario.drive("bd-writer", profile).build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);

    const Exchange set = send(*drive, {0xBB, 0, 0xFF, 0xFF, uint8_t(requested >> 8),
                                       uint8_t(requested), 0, 0, 0, 0, 0, 0});
    QVERIFY(set.result.ok());
    QCOMPARE(bay->drive(0).currentWriteSpeed(), unsigned(selected));
    const Exchange page = send(*drive, KModeSense2A, 256);
    QVERIFY(page.result.ok());
    QCOMPARE(page.be16(8 + 28), unsigned(selected));
    const Exchange performance = send(*drive, KCurrentWritePerformance, 24);
    QVERIFY(performance.result.ok());
    QCOMPARE(performance.be32(8 + 12), uint32_t(selected));

    // SET STREAMING gives the same rounding: size / time in kB/s.
    std::vector<uint8_t> descriptor(28, 0);
    for (size_t at : {12u, 20u}) {
        descriptor[at + 2] = uint8_t(requested >> 8);
        descriptor[at + 3] = uint8_t(requested);
        descriptor[at + 6] = 0x03;
        descriptor[at + 7] = 0xE8;
    }
    send(*drive, {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0});
    const Exchange streaming =
        send(*drive, {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, 0, descriptor);
    QVERIFY(streaming.result.ok());
    QCOMPARE(bay->drive(0).currentWriteSpeed(), unsigned(selected));
}

void TestVirtualBay::trayLockAndLoading()
{
    ScenarioBuilder scenario;
    auto bay = scenario.drive("cd-writer", "CD-RW").build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    virtualbay::VirtualDrive &state = bay->drive(0);

    QVERIFY(send(*drive, KPrevent).result.ok());
    QVERIFY(state.locked());
    QVERIFY(send(*drive, KModeSense2A, 256).data[8 + 6] & 0x02);
    const Exchange refused = send(*drive, KEject);
    QCOMPARE(senseOf(refused), (Sense{0x05, 0x53, 0x02}));
    QCOMPARE(state.trayState(), virtualbay::TrayState::Closed);

    QVERIFY(send(*drive, KAllow).result.ok());
    QVERIFY(send(*drive, KEject).result.ok());
    QCOMPARE(state.trayState(), virtualbay::TrayState::Open);
    QCOMPARE(senseOf(send(*drive, KTestUnitReady)), (Sense{0x02, 0x3A, 0x02}));
    QCOMPARE(currentProfile(*drive), uint16_t(0));
    QCOMPARE(state.discProfile(), uint16_t(0x0A));

    QVERIFY(send(*drive, KLoad).result.ok());
    QCOMPARE(senseOf(send(*drive, KTestUnitReady)), (Sense{0x06, 0x28, 0x00}));
    QVERIFY(send(*drive, KTestUnitReady).result.ok());
    QCOMPARE(currentProfile(*drive), uint16_t(0x0A));
}

void TestVirtualBay::lockEndsWithTheHandleThatHeldIt()
{
    ScenarioBuilder scenario;
    auto bay = scenario.drive("dvd-writer", "DVD+RW").build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto first = openDrive(*bay, 0);
    auto second = openDrive(*bay, 0);
    QCOMPARE(bay->drive(0).openHandles(), 2);
    QVERIFY(send(*first, KPrevent).result.ok());
    QCOMPARE(senseOf(send(*second, KEject)), (Sense{0x05, 0x53, 0x02}));
    first.reset();
    QVERIFY(!bay->drive(0).locked());
    QVERIFY(send(*second, KEject).result.ok());
}

void TestVirtualBay::blankRunsWithProgressToABlankDisc_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("full");
    QTest::addColumn<int>("profileAfter");
    QTest::newRow("CD-RW fast") << "cd-writer"
                                << "CD-RW" << false << 0x0A;
    QTest::newRow("CD-RW full") << "cd-writer"
                                << "CD-RW" << true << 0x0A;
    QTest::newRow("DVD-RW fast") << "dvd-writer"
                                 << "DVD-RW" << false << 0x14;
    QTest::newRow("DVD-RW full") << "dvd-writer"
                                 << "DVD-RW" << true << 0x14;
    QTest::newRow("DVD-RW restricted overwrite") << "dvd-writer"
                                                 << "DVD-RW RO" << false << 0x14;
}

void TestVirtualBay::blankRunsWithProgressToABlankDisc()
{
    QFETCH(QString, model);
    QFETCH(QString, profile);
    QFETCH(bool, full);
    QFETCH(int, profileAfter);
    ScenarioBuilder scenario;
    QJsonObject disc{{"label", "OLD_DATA"}};
    auto bay = scenario.drive(model, profile, "complete", {{"disc", disc}}).build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    QCOMPARE(labelOf(drive->deviceNode()), std::string("OLD_DATA"));

    const Exchange started =
        send(*drive, {0xA1, uint8_t(full ? 0x10 : 0x11), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QVERIFY2(started.result.ok(), started.result.text.c_str());
    QVERIFY(bay->drive(0).busy());

    uint16_t last = 0;
    for (int step = 1; step <= 4; ++step) {
        bay->clock().advance(full ? 40 : 12);
        const Exchange poll = send(*drive, KTestUnitReady);
        QCOMPARE(senseOf(poll), (Sense{0x02, 0x04, 0x07}));
        QVERIFY(poll.result.sense[15] & 0x80);
        QVERIFY(progressOf(poll) > last);
        last = progressOf(poll);
        // Anything but polling is turned away while the drive works.
        QCOMPARE(senseOf(send(*drive, KDiscInformation, 34)), (Sense{0x02, 0x04, 0x07}));
    }
    const Exchange requested = send(*drive, KRequestSense, 18);
    QVERIFY(requested.result.ok());
    QCOMPARE(requested.data[2], uint8_t(0x02));
    QVERIFY(requested.data[15] & 0x80);

    bay->clock().advance(1e6);
    QVERIFY(send(*drive, KTestUnitReady).result.ok());
    QCOMPARE(discStatus(*drive), 0);
    QCOMPARE(currentProfile(*drive), uint16_t(profileAfter));
    QCOMPARE(labelOf(drive->deviceNode()), std::string());
    QVERIFY(bay->drive(0).discBlank());
    const Exchange toc = send(*drive, {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, 804);
    QCOMPARE(senseOf(toc), (Sense{0x05, 0x24, 0x00}));
    if (profileAfter == 0x14) {
        // A minimal blank leaves a DVD-RW writable in one go only.
        const Exchange incremental =
            send(*drive, {0x46, 0x02, 0x00, 0x21, 0, 0, 0, 0x01, 0, 0}, 256);
        QCOMPARE(bool(incremental.data[10] & 0x01), full);
    }
}

void TestVirtualBay::blankIsRefusedWithoutStartingAJob_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QByteArray>("cdb");
    QTest::addColumn<Sense>("expected");
    const QByteArray fast("\xA1\x11\0\0\0\0\0\0\0\0\0\0", 12);
    QTest::newRow("CD-R") << "cd-writer"
                          << "CD-R" << fast << Sense{0x05, 0x30, 0x05};
    QTest::newRow("DVD+RW") << "dvd-writer"
                            << "DVD+RW" << fast << Sense{0x05, 0x30, 0x05};
    QTest::newRow("BD-RE") << "bd-writer"
                           << "BD-RE" << fast << Sense{0x05, 0x30, 0x05};
    QTest::newRow("empty drive") << "dvd-writer"
                                 << "" << fast << Sense{0x02, 0x3A, 0x01};
    QTest::newRow("track blank") << "cd-writer"
                                 << "CD-RW" << QByteArray("\xA1\x12\0\0\0\0\0\0\0\0\0\0", 12)
                                 << Sense{0x05, 0x24, 0x00};
}

void TestVirtualBay::blankIsRefusedWithoutStartingAJob()
{
    QFETCH(QString, model);
    QFETCH(QString, profile);
    QFETCH(QByteArray, cdb);
    QFETCH(Sense, expected);
    ScenarioBuilder scenario;
    auto bay = scenario.drive(model, profile).build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    transport::ScsiCommand command;
    const std::vector<uint8_t> bytes(cdb.begin(), cdb.end());
    command.cdb = bytes;
    const transport::ScsiResult result = drive->execute(command);
    QCOMPARE(result.category, ResultCategory::CheckCondition);
    QCOMPARE((Sense{result.senseKey, result.asc, result.ascq}), expected);
    QVERIFY(!bay->drive(0).busy());
}

void TestVirtualBay::progressReportVariants_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("inTestUnitReady");
    QTest::addColumn<bool>("inRequestSense");
    QTest::newRow("test unit ready") << "testUnitReady" << true << true;
    QTest::newRow("request sense only") << "requestSense" << false << true;
    QTest::newRow("none") << "none" << false << false;
}

void TestVirtualBay::progressReportVariants()
{
    QFETCH(QString, mode);
    QFETCH(bool, inTestUnitReady);
    QFETCH(bool, inRequestSense);
    ScenarioBuilder scenario;
    auto bay = scenario
                   .drive("dvd-writer", "DVD-RW", "complete",
                          {{"faults", QJsonObject{{"progress", mode}}}})
                   .build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    QVERIFY(send(*drive, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).result.ok());
    bay->clock().advance(30);
    const Exchange poll = send(*drive, KTestUnitReady);
    QCOMPARE(senseOf(poll), (Sense{0x02, 0x04, 0x07}));
    QCOMPARE(bool(poll.result.sense[15] & 0x80), inTestUnitReady);
    const Exchange sense = send(*drive, KRequestSense, 18);
    QVERIFY(sense.result.ok());
    QCOMPARE(sense.data[12], uint8_t(0x04));
    QCOMPARE(bool(sense.data[15] & 0x80), inRequestSense);
    if (inRequestSense)
        QVERIFY(sense.be16(16) > 0);
}

void TestVirtualBay::blockingBlankWaitsForTheJob()
{
    ScenarioBuilder scenario;
    auto bay = scenario.drive("cd-writer", "CD-RW").drive("cd-writer", "CD-RW").build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    QVERIFY(send(*drive, {0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).result.ok());
    QCOMPARE(discStatus(*drive), 0);

    bay->drive(1).setBlankFailure(0.5, Sense{0x03, 0x0C, 0x00});
    auto failing = openDrive(*bay, 1);
    QCOMPARE(senseOf(send(*failing, {0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
             (Sense{0x03, 0x0C, 0x00}));
    QCOMPARE(discStatus(*failing), 2);
}

void TestVirtualBay::mediaDetails()
{
    ScenarioBuilder scenario;
    auto bay = scenario.drive("cd-writer", "CD-RW")
                   .drive("cd-writer", "CD-R", "blank")
                   .drive("dvd-writer", "DVD-RW", "appendable",
                          {{"disc", QJsonObject{{"usedBytes", 204800}, {"freeBytes", 2048000}}}})
                   .drive(QJsonObject{{"model", "cd-writer"}})
                   .build();
    QVERIFY2(bay, scenario.lastError().c_str());
    const std::initializer_list<uint8_t> atip{0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 0x1C, 0};
    auto cdrw = openDrive(*bay, 0);
    const Exchange rewritable = send(*cdrw, atip, 28);
    QVERIFY(rewritable.result.ok());
    QVERIFY(rewritable.data[6] & 0x40);
    QCOMPARE(rewritable.data[12], uint8_t(79));
    auto cdr = openDrive(*bay, 1);
    QVERIFY(!(send(*cdr, atip, 28).data[6] & 0x40));
    QCOMPARE(discStatus(*cdr), 0);

    // The incomplete track of an appendable disc: next writable address and free blocks.
    auto dvd = openDrive(*bay, 2);
    const Exchange info = send(*dvd, KDiscInformation, 34);
    QCOMPARE(info.data[2] & 0x03, 1);
    const uint8_t last = info.data[6];
    const Exchange track = send(*dvd, {0x52, 0x01, 0, 0, 0, last, 0, 0, 48, 0}, 48);
    QVERIFY(track.result.ok());
    QVERIFY(track.data[7] & 0x01);
    QCOMPARE(track.be32(12), 100u);
    QCOMPARE(track.be32(16), 1000u);

    // Region state: DVD drives answer REPORT KEY, CD drives do not know it.
    const std::initializer_list<uint8_t> rpc{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0x08, 0};
    const Exchange region = send(*dvd, rpc, 8);
    QVERIFY(region.result.ok());
    QCOMPARE(region.data[5], uint8_t(0xFF));
    QCOMPARE(region.data[6], uint8_t(0x01));
    QCOMPARE(senseOf(send(*cdrw, rpc, 8)), (Sense{0x05, 0x20, 0x00}));

    // An empty drive still answers identity and configuration.
    auto empty = openDrive(*bay, 3);
    QCOMPARE(senseOf(send(*empty, KTestUnitReady)), (Sense{0x02, 0x3A, 0x01}));
    QVERIFY(send(*empty, KInquiry, 36).result.ok());
    QVERIFY(send(*empty, KModeSense2A, 256).result.ok());
    const Exchange configuration = send(*empty, KGetConfiguration, 4096);
    QCOMPARE(configuration.be16(6), 0u);
    QCOMPARE(configuration.be16(8), 0x0000u);
    QCOMPARE(configuration.data[11], uint8_t(3 * 4));
}

void TestVirtualBay::formatWriteAndRead()
{
    ScenarioBuilder scenario;
    auto bay =
        scenario.drive("dvd-writer", "DVD+RW", "", {{"disc", QJsonObject{{"label", "PHOTOS"}}}})
            .drive("bd-writer", "BD-RE", "", {{"disc", QJsonObject{{"formatted", false}}}})
            .build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto dvd = openDrive(*bay, 0);

    // The fast erase of overwritable media: zeros over the start.
    const Exchange written = send(*dvd, KWriteZeros, 0, std::vector<uint8_t>(32 * 2048, 0));
    QVERIFY2(written.result.ok(), written.result.text.c_str());
    QCOMPARE(labelOf(dvd->deviceNode()), std::string());
    const Exchange readBack = send(*dvd, KReadFirst18, 18 * 2048);
    QVERIFY(readBack.result.ok());
    QCOMPARE(readBack.data[16 * 2048 + 1], uint8_t(0));
    const Exchange outside =
        send(*dvd, {0x2A, 0, 0x7F, 0, 0, 0, 0, 0, 1, 0}, 0, std::vector<uint8_t>(2048, 0));
    QCOMPARE(senseOf(outside), (Sense{0x05, 0x21, 0x00}));

    const Exchange format = send(*dvd, KFormatUnit, 0, formatDescriptor(0x26, 0xFFFFFFFF));
    QVERIFY2(format.result.ok(), format.result.text.c_str());
    bay->clock().advance(60);
    const Exchange poll = send(*dvd, KTestUnitReady);
    QCOMPARE(senseOf(poll), (Sense{0x02, 0x04, 0x04}));
    QVERIFY(progressOf(poll) > 0);
    bay->clock().advance(1e6);
    QVERIFY(send(*dvd, KTestUnitReady).result.ok());
    QCOMPARE(send(*dvd, KDiscInformation, 34).data[7] & 0x03, 3);

    // An unformatted BD-RE lists type 1 and formats into type 2.
    auto bd = openDrive(*bay, 1);
    const Exchange capacities = send(*bd, {0x23, 0, 0, 0, 0, 0, 0, 0, 0xFC, 0}, 252);
    QCOMPARE(capacities.data[8] & 0x03, 1);
    QVERIFY(send(*bd, KFormatUnit, 0, formatDescriptor(0x00, 11826176)).result.ok());
    bay->clock().advance(1e6);
    QVERIFY(send(*bd, KTestUnitReady).result.ok());
    QCOMPARE(send(*bd, {0x23, 0, 0, 0, 0, 0, 0, 0, 0xFC, 0}, 252).data[8] & 0x03, 2);
    QCOMPARE(discStatus(*bd), 3);
}

void TestVirtualBay::formatDescriptorIsValidated()
{
    ScenarioBuilder scenario;
    auto bay = scenario.drive("dvd-writer", "DVD-RW RO").drive("cd-writer", "CD-RW").build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto dvd = openDrive(*bay, 0);
    QCOMPARE(senseOf(send(*dvd, KFormatUnit, 0, formatDescriptor(0x26, 0xFFFFFFFF))),
             (Sense{0x05, 0x26, 0x00}));
    QCOMPARE(senseOf(send(*dvd, KFormatUnit, 0, formatDescriptor(0x10, 2295105))),
             (Sense{0x05, 0x26, 0x00}));
    // Restricted overwrite writes whole 16-block packets only.
    QCOMPARE(senseOf(send(*dvd, {0x2A, 0, 0, 0, 0, 8, 0, 0, 16, 0}, 0,
                          std::vector<uint8_t>(16 * 2048, 0))),
             (Sense{0x05, 0x21, 0x02}));
    QVERIFY(send(*dvd, KWriteZeros, 0, std::vector<uint8_t>(32 * 2048, 0)).result.ok());
    QVERIFY(!bay->drive(0).busy());

    auto cd = openDrive(*bay, 1);
    QCOMPARE(senseOf(send(*cd, KFormatUnit, 0, formatDescriptor(0x00, 1000))),
             (Sense{0x05, 0x30, 0x06}));
}

void TestVirtualBay::injectedFaults_data()
{
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<QByteArray>("cdb");
    // Expected outcome of the first four sends, as "good", "K/AS/AQ", "timeout" or "errno N".
    QTest::addColumn<QStringList>("outcomes");
    const QByteArray info("\x51\0\0\0\0\0\0\0\x22\0", 10);
    const QByteArray tur("\0\0\0\0\0\0", 6);
    const auto inject = [](const char *mode, int after) {
        return QJsonObject{
            {"sense",
             QJsonArray{QJsonObject{
                 {"opcode", "0x51"}, {"sense", "03/11/00"}, {"mode", mode}, {"after", after}}}}};
    };
    QTest::newRow("once") << inject("once", 0) << info
                          << QStringList{"03/11/00", "good", "good", "good"};
    QTest::newRow("always") << inject("always", 0) << info
                            << QStringList{"03/11/00", "03/11/00", "03/11/00", "03/11/00"};
    QTest::newRow("after two") << inject("always", 2) << info
                               << QStringList{"good", "good", "03/11/00", "03/11/00"};
    QTest::newRow("other opcodes untouched")
        << inject("always", 0) << tur << QStringList{"good", "good", "good", "good"};
    QTest::newRow("time-out") << QJsonObject{{"sense", QJsonArray{QJsonObject{{"opcode", 0},
                                                                              {"timeout", true}}}}}
                              << tur << QStringList{"timeout", "good", "good", "good"};
    QTest::newRow("not ready") << QJsonObject{{"notReady", true}} << info
                               << QStringList{"02/04/00", "02/04/00", "02/04/00", "02/04/00"};
    QTest::newRow("read-only handle")
        << QJsonObject{{"readOnly", true}} << QByteArray("\xBB\0\xFF\xFF\xFF\xFF\0\0\0\0\0\0", 12)
        << QStringList{"errno 1", "errno 1", "errno 1", "errno 1"};
    QTest::newRow("vanishes after two") << QJsonObject{{"vanishAfter", 2}} << tur
                                        << QStringList{"good", "good", "errno 19", "errno 19"};
    QTest::newRow("eject fails") << QJsonObject{{"ejectFails", true}}
                                 << QByteArray("\x1B\0\0\0\x02\0", 6)
                                 << QStringList{"04/53/00", "04/53/00", "04/53/00", "04/53/00"};
    QTest::newRow("lock fails") << QJsonObject{{"lockFails", "02/53/00"}}
                                << QByteArray("\x1E\0\0\0\x01\0", 6)
                                << QStringList{"02/53/00", "02/53/00", "02/53/00", "02/53/00"};
}

void TestVirtualBay::injectedFaults()
{
    QFETCH(QJsonObject, faults);
    QFETCH(QByteArray, cdb);
    QFETCH(QStringList, outcomes);
    ScenarioBuilder scenario;
    auto bay = scenario.drive("cd-writer", "CD-RW", "complete", {{"faults", faults}}).build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    const std::vector<uint8_t> bytes(cdb.begin(), cdb.end());
    std::vector<uint8_t> buffer(bytes[0] == 0x51 ? 34 : 0);
    for (const QString &expected : outcomes) {
        transport::ScsiCommand command;
        command.cdb = bytes;
        if (!buffer.empty()) {
            command.direction = transport::DataDirection::FromDevice;
            command.dataIn = buffer;
        }
        const transport::ScsiResult result = drive->execute(command);
        QString seen = QStringLiteral("good");
        if (result.category == ResultCategory::CheckCondition)
            seen = QString::asprintf("%02X/%02X/%02X", result.senseKey, result.asc, result.ascq);
        else if (result.category == ResultCategory::TransportError && result.hostStatus == 3)
            seen = QStringLiteral("timeout");
        else if (result.category == ResultCategory::OsError)
            seen = QStringLiteral("errno %1").arg(result.osError);
        QCOMPARE(seen, expected);
    }
}

void TestVirtualBay::blankFailingPartWay()
{
    ScenarioBuilder scenario;
    auto bay = scenario
                   .drive("cd-writer", "CD-RW", "complete",
                          {{"faults", QJsonObject{{"blankFailsAt", 0.4}}}})
                   .build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    QVERIFY(send(*drive, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).result.ok());
    bay->clock().advance(12);
    const Exchange rising = send(*drive, KTestUnitReady);
    QCOMPARE(senseOf(rising), (Sense{0x02, 0x04, 0x07}));
    QVERIFY(progressOf(rising) > 0);
    bay->clock().advance(30);
    QCOMPARE(senseOf(send(*drive, KTestUnitReady)), (Sense{0x03, 0x51, 0x00}));
    QVERIFY(send(*drive, KTestUnitReady).result.ok());
    QCOMPARE(discStatus(*drive), 2);
    QVERIFY(!bay->drive(0).discBlank());

    // Scripted from the test side: a garbled answer is still well framed.
    bay->drive(0).injectSense(0x46, Sense{0x0B, 0x00, 0x00}, InjectMode::Once);
    QCOMPARE(senseOf(send(*drive, KGetConfiguration, 4096)), (Sense{0x0B, 0x00, 0x00}));
    QCOMPARE(currentProfile(*drive), uint16_t(0x0A));
}

void TestVirtualBay::openFaultsExplainWhatToDo()
{
    ScenarioBuilder scenario;
    auto bay =
        scenario
            .drive("cd-writer", "CD-RW", "complete", {{"faults", QJsonObject{{"open", "EACCES"}}}})
            .drive(QJsonObject{{"model", "dvd-writer"}, {"faults", QJsonObject{{"garbage", true}}}})
            .build();
    QVERIFY2(bay, scenario.lastError().c_str());
    const transport::OpenResult denied = bay->openBySystemNumber(0);
    QVERIFY(!denied.transport);
    QCOMPARE(denied.osError, EACCES);
    QVERIFY2(denied.text.find("Permission denied: " + bay->drive(0).node()) == 0,
             denied.text.c_str());
    QVERIFY(denied.text.find("'cdrom' group") != std::string::npos);
    const transport::OpenResult missing = bay->openBySystemNumber(9);
    QCOMPARE(missing.osError, ENODEV);
    QVERIFY(missing.text.find("No such device") == 0);

    auto garbled = openDrive(*bay, 1);
    const Exchange inquiry = send(*garbled, KInquiry, 36);
    QVERIFY(inquiry.result.ok());
    QCOMPARE(inquiry.transferred(), size_t(36));
    QVERIFY(inquiry.data[0] != 0x05 || inquiry.data[8] != 'B');
}

void TestVirtualBay::drivesVanishMidScan()
{
    ScenarioBuilder scenario;
    auto bay = scenario.drive("cd-writer", "CD-RW").drive("dvd-writer", "DVD-RW").build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 1);
    bay->drive(1).setVanishAfter(1);
    QVERIFY(send(*drive, KInquiry, 36).result.ok());
    const Exchange gone = send(*drive, KInquiry, 36);
    QCOMPARE(gone.result.category, ResultCategory::OsError);
    QCOMPARE(gone.result.osError, ENODEV);
    QCOMPARE(bay->enumerate().size(), size_t(1));
    QCOMPARE(bay->openBySystemNumber(1).osError, ENODEV);
}

void TestVirtualBay::labelImageFollowsTheDisc()
{
    ScenarioBuilder scenario;
    auto bay =
        scenario
            .drive("cd-writer", "CD-RW", "complete", {{"disc", QJsonObject{{"label", "HOLIDAY"}}}})
            .drive("cd-writer", "")
            .build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    const std::string node = drive->deviceNode();
    QCOMPARE(labelOf(node), std::string("HOLIDAY"));
    const Exchange pvd = send(*drive, {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, 2048);
    QVERIFY(pvd.result.ok());
    QCOMPARE(std::string(pvd.data.begin() + 1, pvd.data.begin() + 6), std::string("CD001"));

    QVERIFY(send(*drive, KEject).result.ok());
    QCOMPARE(QFileInfo(QString::fromStdString(node)).size(), 0);
    QVERIFY(send(*drive, KLoad).result.ok());
    QCOMPARE(labelOf(node), std::string("HOLIDAY"));

    QCOMPARE(QFileInfo(QString::fromStdString(bay->drive(1).node())).size(), 0);
    const std::string directory = bay->directory();
    drive.reset();
    bay.reset();
    QVERIFY(!QFileInfo::exists(QString::fromStdString(directory)));
}

QTEST_MAIN(TestVirtualBay)
#include "tst_virtualbay.moc"
