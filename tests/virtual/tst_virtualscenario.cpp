#include "support/ScenarioBuilder.h"
#include "library/transport/DeviceProviders.h"
#include "library/virtual/VirtualBay.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace blankora;
using blankora::test::Exchange;
using blankora::test::ScenarioBuilder;
using blankora::test::send;
using virtualbay::Sense;
using virtualbay::VirtualBay;

namespace {

const std::initializer_list<uint8_t> KTestUnitReady{0x00, 0, 0, 0, 0, 0};
const std::initializer_list<uint8_t> KInquiry{0x12, 0, 0, 0, 36, 0};
const std::initializer_list<uint8_t> KDiscInformation{0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
const std::initializer_list<uint8_t> KPrevent{0x1E, 0, 0, 0, 1, 0};
const std::initializer_list<uint8_t> KEject{0x1B, 0, 0, 0, 2, 0};
const std::initializer_list<uint8_t> KWriteZeros{0x2A, 0, 0, 0, 0, 0, 0, 0, 32, 0};

Sense senseOf(const Exchange &exchange)
{
    return Sense{exchange.result.senseKey, exchange.result.asc, exchange.result.ascq};
}

int discStatus(transport::ScsiTransport &drive)
{
    const Exchange info = send(drive, KDiscInformation, 34);
    return info.result.ok() ? info.data[2] & 0x03 : -1;
}

std::unique_ptr<transport::ScsiTransport> openDrive(VirtualBay &bay, int systemNumber)
{
    return std::move(bay.openBySystemNumber(systemNumber).transport);
}

} // namespace

// Scenario files, images behind the discs, and the bay the whole process shares.
class TestVirtualScenario : public QObject
{
    Q_OBJECT

private slots:
    void malformedScenariosAreRefused_data();
    void malformedScenariosAreRefused();
    void imageFileIsServedAndNeverModified();
    void sharedBayReachesTheLibrary();
    void concurrentHandlesShareOneDrive();
    void shippedScenariosLoad_data();
    void shippedScenariosLoad();
    void documentedExampleLoads();
};

void TestVirtualScenario::malformedScenariosAreRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("mentions");
    QTest::newRow("bad JSON")
        << QByteArray("{\n  \"drives\": [\n    { \"model\": \"cd-writer\" ,, }\n  ]\n}")
        << QStringList{"line 3, column"};
    QTest::newRow("wrong type")
        << QByteArray(R"({"drives": [{}, {"disc": {"profile": "CD-RW", "usedBytes": "lots"}}]})")
        << QStringList{"drives[1].disc.usedBytes", "not a number"};
    QTest::newRow("unknown profile")
        << QByteArray(R"({"drives": [{}, {}, {"disc": {"profile": "CD-RWX"}}]})")
        << QStringList{"drives[2].disc.profile", "unknown profile \"CD-RWX\""};
    QTest::newRow("unsupported by drive")
        << QByteArray(R"({"drives": [{"model": "cd-writer", "disc": {"profile": "BD-RE"}}]})")
        << QStringList{"drives[0].disc.profile", "does not support BD-RE"};
    QTest::newRow("misspelt key") << QByteArray(R"({"drives": [{"disk": {}}]})")
                                  << QStringList{"drives[0].disk", "unknown key"};
    QTest::newRow("no drives") << QByteArray(R"({"timeFactor": 2})")
                               << QStringList{"drives", "missing"};
    QTest::newRow("bad sense")
        << QByteArray(R"({"drives": [{"faults": {"sense": [{"opcode": 0, "sense": "3-51"}]}}]})")
        << QStringList{"drives[0].faults.sense[0].sense", "03/51/00"};
    QTest::newRow("same system number")
        << QByteArray(R"({"drives": [{"systemNumber": 1}, {"systemNumber": 1}]})")
        << QStringList{"drives[1].systemNumber", "already used"};
    QTest::newRow("not virtual") << QByteArray(R"({"drives": [{"product": "Plextor"}]})")
                                 << QStringList{"drives[0].product", "Virtual"};
    QTest::newRow("missing image")
        << QByteArray(
               R"({"drives": [{"disc": {"profile": "DVD+RW", "image": "/nonexistent/disc.iso"}}]})")
        << QStringList{"drives[0].disc", "/nonexistent/disc.iso"};
    QTest::newRow("ready sense not ready")
        << QByteArray(R"({"drives": [{"quirks": {"readySense": "02/04/00"}}]})")
        << QStringList{"drives[0].quirks.readySense", "sense key 0"};
    QTest::newRow("certification unknown")
        << QByteArray(R"({"drives": [{"quirks": {"certification": ["full", "slow"]}}]})")
        << QStringList{"drives[0].quirks.certification[1]", "full, quick"};
    QTest::newRow("no typical erase speed")
        << QByteArray(
               R"({"drives": [{"disc": {"profile": "DVD+RW", "eraseSpeedKBps": "typical"}}]})")
        << QStringList{"drives[0].disc.eraseSpeedKBps", "give a number"};
    QTest::newRow("unknown vanishing")
        << QByteArray(R"({"drives": [{"faults": {"vanishAs": "EPIPE"}}]})")
        << QStringList{"drives[0].faults.vanishAs", "DID_NO_CONNECT"};
    QTest::newRow("two link faults in one answer")
        << QByteArray(
               R"({"drives": [{"faults": {"sense": [{"errno": "EIO", "driverTimeout": true}]}}]})")
        << QStringList{"drives[0].faults.sense[0]", "give one of"};
    QTest::newRow("unknown host status")
        << QByteArray(R"({"drives": [{"faults": {"sense": [{"hostStatus": "DID_OOPS"}]}}]})")
        << QStringList{"drives[0].faults.sense[0].hostStatus", "DID_ERROR"};
    QTest::newRow("answer zero times")
        << QByteArray(R"({"drives": [{"faults": {"sense": [{"sense": "06/29/00", "mode": 0}]}}]})")
        << QStringList{"drives[0].faults.sense[0].mode", "at least once"};
    QTest::newRow("refused certification unknown")
        << QByteArray(R"({"drives": [{"quirks": {"certificationRefused": ["fast"]}}]})")
        << QStringList{"drives[0].quirks.certificationRefused[0]", "full, quick"};
}

void TestVirtualScenario::malformedScenariosAreRefused()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, mentions);
    QTemporaryDir directory;
    const QString path = directory.filePath("broken.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();
    std::string error;
    QVERIFY(!VirtualBay::fromFile(path.toStdString(), error));
    const QString message = QString::fromStdString(error);
    QVERIFY2(message.startsWith(path + ": "), qPrintable(message));
    for (const QString &mention : mentions)
        QVERIFY2(message.contains(mention), qPrintable(message));
}

void TestVirtualScenario::imageFileIsServedAndNeverModified()
{
    QTemporaryDir directory;
    const QString image = directory.filePath("disc.img");
    QByteArray content(40 * 2048, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 7);
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    ScenarioBuilder scenario;
    auto bay = scenario.drive("dvd-writer", "DVD+RW", "", {{"disc", QJsonObject{{"image", image}}}})
                   .build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto drive = openDrive(*bay, 0);
    const Exchange read = send(*drive, {0x28, 0, 0, 0, 0, 3, 0, 0, 1, 0}, 2048);
    QVERIFY(read.result.ok());
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(read.data.data()), 2048),
             content.mid(3 * 2048, 2048));
    QVERIFY(send(*drive, KWriteZeros, 0, std::vector<uint8_t>(32 * 2048, 0)).result.ok());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void TestVirtualScenario::sharedBayReachesTheLibrary()
{
    ScenarioBuilder scenario;
    scenario.drive("cd-writer", "CD-RW", "complete", {{"mounted", "/media/user/HOLIDAY"}});
    const QString path = scenario.writeFile();
    qputenv("BLANKORA_VIRTUAL_DRIVES", path.toUtf8());
    std::string error;
    auto provider = transport::CreateDeviceProvider(error);
    QVERIFY2(provider, error.c_str());
    auto again = transport::CreateDeviceProvider(error);
    const std::vector<transport::DeviceEntry> entries = provider->enumerate();
    QCOMPARE(entries.size(), size_t(1));
    // Both providers reach the same drive state.
    auto first = provider->openBySystemNumber(0);
    QVERIFY(first.transport);
    QVERIFY(send(*first.transport, KPrevent).result.ok());
    auto second = again->openByAddress(entries[0].host, entries[0].channel, entries[0].target,
                                       entries[0].lun);
    QVERIFY(second.transport);
    QCOMPARE(senseOf(send(*second.transport, KEject)), (Sense{0x05, 0x53, 0x02}));
    QCOMPARE(provider->mountPoint(entries[0].node), std::string("/media/user/HOLIDAY"));

    qputenv("BLANKORA_VIRTUAL_DRIVES", QByteArray("/nonexistent/bay.json"));
    QVERIFY(!transport::CreateDeviceProvider(error));
    QVERIFY2(error.find("/nonexistent/bay.json") == 0, error.c_str());

    // An installed bay wins over the environment.
    ScenarioBuilder other;
    auto installed = other.drive("bd-writer", "BD-RE").drive("bd-writer", "").build();
    VirtualBay::install(installed);
    provider = transport::CreateDeviceProvider(error);
    QVERIFY2(provider, error.c_str());
    QCOMPARE(provider->enumerate().size(), size_t(2));
    VirtualBay::install(nullptr);
    qunsetenv("BLANKORA_VIRTUAL_DRIVES");
}

void TestVirtualScenario::concurrentHandlesShareOneDrive()
{
    ScenarioBuilder scenario;
    auto bay = scenario.timeFactor(1000).drive("cd-writer", "CD-RW").build();
    QVERIFY2(bay, scenario.lastError().c_str());
    auto eraser = openDrive(*bay, 0);
    QVERIFY(send(*eraser, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).result.ok());
    std::atomic<int> answered = 0;
    std::thread scanner([&] {
        for (int i = 0; i < 200; ++i) {
            auto handle = bay->openBySystemNumber(0).transport;
            if (handle && send(*handle, KInquiry, 36).result.ok())
                ++answered;
        }
    });
    // Polls like the erase loop until the shared drive reports the job done
    // (60 simulated seconds at 1000x).
    for (int polls = 0; polls < 10000 && !send(*eraser, KTestUnitReady).result.ok(); ++polls)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    scanner.join();
    QCOMPARE(answered.load(), 200);
    QCOMPARE(discStatus(*eraser), 0);
}

void TestVirtualScenario::shippedScenariosLoad_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("demo-bay.json") << BLANKORA_SOURCE_DIR "/resources/demo-bay.json";
    const QDir scenarios(BLANKORA_TEST_SCENARIOS);
    for (const QString &name : scenarios.entryList({"*.json"}, QDir::Files))
        QTest::newRow(qPrintable(name)) << scenarios.filePath(name);
}

void TestVirtualScenario::shippedScenariosLoad()
{
    QFETCH(QString, path);
    std::string error;
    auto bay = VirtualBay::fromFile(path.toStdString(), error);
    QVERIFY2(bay, error.c_str());
    for (size_t i = 0; i < bay->driveCount(); ++i)
        QVERIFY(bay->drive(i).declared().product.find("Virtual") != std::string::npos);
}

void TestVirtualScenario::documentedExampleLoads()
{
    QFile document(BLANKORA_SOURCE_DIR "/docs/virtual-drives.md");
    QVERIFY(document.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(document.readAll());
    const qsizetype start = text.indexOf("## Complete example");
    QVERIFY(start >= 0);
    const qsizetype open = text.indexOf("```json\n", start);
    const qsizetype close = text.indexOf("```", open + 8);
    QVERIFY(open > 0 && close > open);
    std::string error;
    auto bay = VirtualBay::fromJson(text.mid(open + 8, close - open - 8).toStdString(), error);
    QVERIFY2(bay, error.c_str());
    QCOMPARE(bay->driveCount(), size_t(4));
}

QTEST_MAIN(TestVirtualScenario)
#include "tst_virtualscenario.moc"
