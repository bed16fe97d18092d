// What the kernel's sr driver and the burning programs send to a served drive
// beyond the command layer's needs, answered by the virtual drive in process:
// READ BUFFER CAPACITY and READ DVD STRUCTURE as growisofs_mmc.cpp
// (xrg/pkg-dvd-rw-tools) reads them, MODE SENSE(6) as the kernel's
// scsi_mode_sense falls back to it, MODE SELECT(6) and MECHANISM STATUS.
#include "library/virtual/VirtualBay.h"

#include <QtTest>

using namespace blankora;

namespace {

const char Bay[] = R"({ "timeFactor": 0, "drives": [
    { "model": "dvd-writer", "disc": { "profile": "DVD+RW", "capacityBytes": 268435456 } },
    { "model": "cd-writer", "disc": { "profile": "CD-RW", "state": "complete" } } ] })";

} // namespace

class TestServedPeers : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
};

void TestServedPeers::answers_data()
{
    QTest::addColumn<int>("Drive");
    QTest::addColumn<QByteArray>("Cdb");
    QTest::addColumn<int>("DataIn"); // bytes asked for; 0 with data out
    QTest::addColumn<QByteArray>("DataOut");
    QTest::addColumn<QString>("Sense"); // "" for GOOD
    QTest::addColumn<int>("At");        // where Expected lies in the answer
    QTest::addColumn<QByteArray>("Expected");

    const QByteArray none;
    QTest::newRow("READ BUFFER CAPACITY: 2 MiB, all free")
        << 0 << QByteArray::fromHex("5c000000000000000c00") << 12 << none << QString() << 0
        << QByteArray::fromHex("000a000000200000"
                               "00200000");
    QTest::newRow("READ DVD STRUCTURE 00h: DVD+RW book type, data zone end")
        << 0 << QByteArray::fromHex("ad0000000000000008040000") << 2052 << none << QString() << 0
        << QByteArray::fromHex("0802000092"
                               "0f04"
                               "00"
                               "00030000"
                               "0004ffff");
    QTest::newRow("READ DVD STRUCTURE on a CD: invalid field")
        << 1 << QByteArray::fromHex("ad0000000000000008040000") << 2052 << none
        << QStringLiteral("05/24/00") << 0 << none;
    QTest::newRow("MODE SENSE(6) 2Ah: four-byte header, then the page")
        << 1 << QByteArray::fromHex("1a002a00ff00") << 255 << none << QString() << 4
        << QByteArray::fromHex("2a");
    QTest::newRow("MODE SELECT(6): taken")
        << 0 << QByteArray::fromHex("151000000c00") << 0
        << QByteArray::fromHex("000000000502000000000000") << QString() << 0 << none;
    QTest::newRow("MECHANISM STATUS: no changer, tray closed")
        << 0 << QByteArray::fromHex("bd0000000000000000080000") << 8 << none << QString() << 0
        << QByteArray::fromHex("0000000000000000");
    QTest::newRow("an unknown opcode stays invalid")
        << 0 << QByteArray::fromHex("e00000000000") << 0 << none << QStringLiteral("05/20/00") << 0
        << none;
}

void TestServedPeers::answers()
{
    QFETCH(int, Drive);
    QFETCH(QByteArray, Cdb);
    QFETCH(int, DataIn);
    QFETCH(QByteArray, DataOut);
    QFETCH(QString, Sense);
    QFETCH(int, At);
    QFETCH(QByteArray, Expected);

    std::string error;
    auto bay = virtualbay::VirtualBay::fromJson(Bay, error);
    QVERIFY2(bay, error.c_str());
    auto opened = bay->openBySystemNumber(bay->enumerate().at(Drive).systemNumber);
    QVERIFY(opened.transport);

    std::vector<uint8_t> in(DataIn, 0xEE);
    transport::ScsiCommand command;
    command.cdb = std::span(reinterpret_cast<const uint8_t *>(Cdb.constData()), Cdb.size());
    if (DataIn > 0) {
        command.direction = transport::DataDirection::FromDevice;
        command.dataIn = in;
    } else if (!DataOut.isEmpty()) {
        command.direction = transport::DataDirection::ToDevice;
        command.dataOut =
            std::span(reinterpret_cast<const uint8_t *>(DataOut.constData()), DataOut.size());
    }
    const transport::ScsiResult result = opened.transport->execute(command);
    if (!Sense.isEmpty()) {
        QCOMPARE(QString::asprintf("%02X/%02X/%02X", result.senseKey, result.asc, result.ascq),
                 Sense);
        return;
    }
    QVERIFY2(result.ok(), result.text.c_str());
    const QByteArray answer(reinterpret_cast<const char *>(in.data()),
                            qsizetype(result.transferred(in.size())));
    QCOMPARE(answer.mid(At, Expected.size()).toHex(), Expected.toHex());
}

QTEST_GUILESS_MAIN(TestServedPeers)
#include "tst_servedpeers.moc"
