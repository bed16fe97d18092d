#include "library/StarBurn.h"
#include "library/virtual/VirtualBay.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using blankora::virtualbay::TrayState;
using blankora::virtualbay::VirtualBay;

namespace {

// Scenario order of the drives in library-drives.json.
enum Drive
{
    DvdPlusRw,
    CdRw,
    CdR,
    Empty,
    Mounted,
    DvdRw,
    CdRom,
    Denied,
    BlankCdRw
};
// Their system numbers (CdRomN).
const int SystemNumber[] = {1, 0, 2, 3, 4, 5, 6, 7, 8};

// One call's error block.
struct Block
{
    char text[STARBURN_EXCEPTION_TEXT_SIZE];
    uint32_t status = 31;
    CDB_FAILURE_INFORMATION failure{};
    Block() { std::memset(text, 'x', sizeof(text)); }
};
#define EB(b) (b).text, uint32_t(sizeof((b).text)), &(b).status, &(b).failure

struct Progress
{
    std::vector<std::pair<uint64_t, uint64_t>> events; // (done, total)
    std::vector<std::thread::id> threads;
    std::atomic<bool> seen{false};
    void *cancelHandle = nullptr;
};

void progressCallback(uint8_t reason, void *context, void *special1, void *special2)
{
    if (reason != CN_CDVD_WRITE_PROGRESS)
        return;
    auto *progress = static_cast<Progress *>(context);
    progress->events.emplace_back(*static_cast<uint64_t *>(special2),
                                  *static_cast<uint64_t *>(special1));
    progress->threads.push_back(std::this_thread::get_id());
    progress->seen.store(true);
}

struct Found
{
    uint8_t reason;
    STARBURN_DEVICE_ADDRESS address;
    std::string name;
};

void findCallback(uint8_t reason, void *context, void *special1, void *special2)
{
    auto *found = static_cast<std::vector<Found> *>(context);
    Found item{reason, {}, special2 ? static_cast<const char *>(special2) : ""};
    if (special1)
        item.address = *static_cast<STARBURN_DEVICE_ADDRESS *>(special1);
    found->push_back(item);
}

} // namespace

// The StarBurn C interface against the virtual drive bay.
class TestStarBurn : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<VirtualBay> FBay;

    void *open(Drive drive, PCALLBACK callback = nullptr, void *context = nullptr)
    {
        Block block;
        void *handle = nullptr;
        const std::string name = "CdRom" + std::to_string(SystemNumber[drive]);
        const EXCEPTION_NUMBER code = StarBurn_CdvdBurnerGrabber_CreateEx(
            &handle, EB(block), callback, context, name.c_str(), 0);
        if (code != EN_SUCCESS)
            qWarning("CreateEx(%s): %d %s", name.c_str(), code, block.text);
        return handle;
    }

    // An ISO 9660 volume descriptor in block 16 of the disc's image.
    bool hasFileSystem(Drive drive)
    {
        QFile image(QString::fromStdString(FBay->drive(drive).node()));
        if (!image.open(QIODevice::ReadOnly) || !image.seek(16 * 2048))
            return false;
        return image.read(6).mid(1) == "CD001";
    }

private slots:
    void init()
    {
        std::string error;
        FBay = VirtualBay::fromFile(BLANKORA_TEST_SCENARIOS "/library-drives.json", error);
        QVERIFY2(FBay, error.c_str());
        VirtualBay::install(FBay);
        QCOMPARE(StarBurn_UpStartEx(), EN_SUCCESS);
    }

    void cleanup()
    {
        StarBurn_DownShut();
        VirtualBay::install(nullptr);
        FBay.reset();
        unsetenv("BLANKORA_VIRTUAL_DRIVES");
    }

    void versionIsTheExpectedOne() { QCOMPARE(StarBurn_GetVersion(), 0x20080820u); }

    void startUpWithBadScenarioFailsNamingTheFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("malformed") << QByteArray("{ \"drives\": [ { \"model\": ");
        QTest::newRow("unknown key") << QByteArray("{ \"drives\": [], \"speed\": 1 }");
    }
    void startUpWithBadScenarioFailsNamingTheFile()
    {
        QFETCH(QByteArray, content);
        StarBurn_DownShut();
        VirtualBay::install(nullptr);
        QTemporaryDir dir;
        const QString path = dir.filePath("library-bad.json");
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        setenv("BLANKORA_VIRTUAL_DRIVES", path.toLocal8Bit().constData(), 1);

        QVERIFY(StarBurn_UpStartEx() != EN_SUCCESS);
        QVERIFY2(
            QString::fromLocal8Bit(StarBurn_GetLastStartUpError()).contains("library-bad.json"),
            StarBurn_GetLastStartUpError());
        std::vector<Found> found;
        QCOMPARE(StarBurn_FindDevice(STARBURN_DEVICE_TYPE_CDROM, 0, findCallback, &found),
                 EN_NOT_STARTED);
    }

    void startUpTwiceKeepsTheSessionAndItsHandles()
    {
        void *handle = open(CdRw);
        QVERIFY(handle);
        QCOMPARE(StarBurn_UpStartEx(), EN_SUCCESS);
        QCOMPARE(StarBurn_GetLastStartUpError(), "");
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(handle, EB(block)), EN_SUCCESS);
        StarBurn_Destroy(&handle);
    }

    void callsAfterShutDownAreRefused()
    {
        void *handle = open(CdRw);
        QVERIFY(handle);
        StarBurn_DownShut();
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(handle, EB(block)), EN_INVALID_PARAMETER);
        void *other = nullptr;
        Block create;
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_CreateEx(&other, EB(create), nullptr, nullptr, "CdRom0", 0),
            EN_NOT_STARTED);
        QVERIFY(QByteArray(create.text).contains("StarBurn_UpStartEx"));
        QVERIFY(other == nullptr);
        StarBurn_Destroy(&handle);
        QVERIFY(handle == nullptr);
    }

    void findDeviceReportsEveryDriveInAddressOrder()
    {
        std::vector<Found> found;
        QCOMPARE(StarBurn_FindDevice(STARBURN_DEVICE_TYPE_CDROM, 0, findCallback, &found),
                 EN_SUCCESS);
        QCOMPARE(found.size(), size_t(9));
        const std::vector<std::pair<std::string, int>> expected = {
            {"CdRom0", 0x01000000}, {"CdRom1", 0x01000100}, {"CdRom2", 0x02000000},
            {"CdRom3", 0x02000100}, {"CdRom4", 0x03000000}, {"CdRom5", 0x03000100},
            {"CdRom6", 0x04000000}, {"CdRom7", 0x04000100}, {"CdRom8", 0x05000000}};
        for (size_t i = 0; i < found.size(); ++i) {
            const Found &item = found[i];
            QCOMPARE(item.reason, uint8_t(CN_DEVICE_FOUND));
            QCOMPARE(item.name, expected[i].first);
            QCOMPARE(item.address.IsValid, uint8_t(1));
            const int packed = item.address.PortID << 24 | item.address.BusID << 16 |
                               item.address.TargetID << 8 | item.address.LUN;
            QCOMPARE(packed, expected[i].second);
        }

        found.clear();
        QCOMPARE(StarBurn_FindDevice(0, 0, findCallback, &found), EN_SUCCESS);
        QVERIFY(found.empty());
        QCOMPARE(StarBurn_FindDevice(STARBURN_DEVICE_TYPE_CDROM, 0, nullptr, nullptr),
                 EN_INVALID_PARAMETER);
    }

    void createOpensTheAddressedDrive()
    {
        Block block;
        void *handle = nullptr;
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_Create(&handle, EB(block), nullptr, nullptr, 1, 0, 1, 0, 0),
            EN_SUCCESS);
        QCOMPARE(block.text[0], '\0');
        QCOMPARE(block.status, 0u);
        char vendor[STARBURN_NAME_BUFFER_SIZE], product[STARBURN_NAME_BUFFER_SIZE],
            revision[STARBURN_NAME_BUFFER_SIZE];
        uint32_t buffer = 0;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDeviceInformation(handle, vendor, product, revision,
                                                                 &buffer),
                 EN_SUCCESS);
        QCOMPARE(QByteArray(product), QByteArray("Virtual DVD+RW"));
        QVERIFY(buffer > 0);
        StarBurn_Destroy(&handle);

        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_Create(&handle, EB(block), nullptr, nullptr, 9, 9, 9, 9, 0),
            EN_NO_DEVICE);
        QVERIFY(handle == nullptr);
        QVERIFY(std::strlen(block.text) > 0);
    }

    void createExAcceptsSystemNamesAndPaths_data()
    {
        QTest::addColumn<QString>("name"); // %1 = the node of CdRom0
        QTest::addColumn<int>("code");
        QTest::newRow("system name") << "CdRom0" << int(EN_SUCCESS);
        QTest::newRow("any case") << "cdrom0" << int(EN_SUCCESS);
        QTest::newRow("node") << "%1" << int(EN_SUCCESS);
        QTest::newRow("prefixed node") << "\\\\.\\%1" << int(EN_SUCCESS);
        QTest::newRow("unknown number") << "CdRom19" << int(EN_NO_DEVICE);
        QTest::newRow("garbage") << "no such drive" << int(EN_NO_DEVICE);
        QTest::newRow("empty") << "" << int(EN_NO_DEVICE);
    }
    void createExAcceptsSystemNamesAndPaths()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        char device[STARBURN_NAME_BUFFER_SIZE];
        QCOMPARE(StarBurn_GetDeviceNameBySystemName("CdRom0", device), EN_SUCCESS);
        const QString node = QString::fromLocal8Bit(device + 4);
        const QByteArray full = QString(name).replace("%1", node).toLocal8Bit();

        Block block;
        void *handle = reinterpret_cast<void *>(1);
        QCOMPARE(int(StarBurn_CdvdBurnerGrabber_CreateEx(&handle, EB(block), nullptr, nullptr,
                                                         full.constData(), 0)),
                 code);
        if (code == EN_SUCCESS) {
            QVERIFY(handle != nullptr);
            QCOMPARE(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(handle),
                     DISC_TYPE(DISC_TYPE_CDRW));
        } else {
            QVERIFY(handle == nullptr);
            QVERIFY(std::strlen(block.text) > 0);
        }
        StarBurn_Destroy(&handle);
    }

    void openingWithoutPermissionSaysSo()
    {
        Block block;
        void *handle = nullptr;
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_CreateEx(&handle, EB(block), nullptr, nullptr, "CdRom7", 0),
            EN_ACCESS_DENIED);
        QCOMPARE(block.status, uint32_t(EACCES));
        QVERIFY(handle == nullptr);
        QVERIFY2(std::strlen(block.text) > 0, block.text);
    }

    void deviceNamesCarryThePrefixAndTheNode()
    {
        char byAddress[STARBURN_NAME_BUFFER_SIZE], bySystem[STARBURN_NAME_BUFFER_SIZE];
        QCOMPARE(StarBurn_GetDeviceNameByDeviceAddress(2, 0, 0, 0, byAddress), EN_SUCCESS);
        QCOMPARE(StarBurn_GetDeviceNameBySystemName("CdRom2", bySystem), EN_SUCCESS);
        QCOMPARE(QByteArray(byAddress), QByteArray(bySystem));
        QCOMPARE(QByteArray(byAddress), "\\\\.\\" + QByteArray(FBay->drive(CdR).node().c_str()));

        QCOMPARE(StarBurn_GetDeviceNameByDeviceAddress(7, 7, 7, 7, byAddress), EN_NO_DEVICE);
        QCOMPARE(byAddress[0], '\0');
        QCOMPARE(StarBurn_GetDeviceNameBySystemName("CdRom42", bySystem), EN_NO_DEVICE);
        QCOMPARE(StarBurn_GetDeviceNameBySystemName("sr0", bySystem), EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_GetDeviceNameBySystemName(nullptr, bySystem), EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_GetDeviceNameByDeviceAddress(2, 0, 0, 0, nullptr), EN_INVALID_PARAMETER);
    }

    void testUnitReadyOnEmptyDriveNamesTheCause()
    {
        void *handle = open(Empty);
        QVERIFY(handle);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(handle, EB(block)), EN_SCSI_FAILURE);
        QCOMPARE(QByteArray(block.text),
                 QByteArray("TEST UNIT READY: There is no disc in the drive. [02/3A/01 Not Ready: "
                            "Medium not present - tray closed]"));
        QCOMPARE(block.status >> 8, 0x023Au); // sense key 2, ASC 3Ah
        QCOMPARE(block.failure.CdbLength, uint8_t(6));
        QCOMPARE(block.failure.Cdb[0], uint8_t(0x00));
        StarBurn_Destroy(&handle);
    }

    void insertedDiscTypePerDisc_data()
    {
        QTest::addColumn<int>("drive");
        QTest::addColumn<int>("type");
        QTest::newRow("CD-RW") << int(CdRw) << int(DISC_TYPE_CDRW);
        QTest::newRow("CD-R") << int(CdR) << int(DISC_TYPE_CDR);
        QTest::newRow("DVD+RW") << int(DvdPlusRw) << int(DISC_TYPE_DVDPLUSRW);
        QTest::newRow("DVD-RW") << int(DvdRw) << int(DISC_TYPE_DVDRWSR);
        QTest::newRow("empty") << int(Empty) << int(DISC_TYPE_NO_MEDIA);
    }
    void insertedDiscTypePerDisc()
    {
        QFETCH(int, drive);
        QFETCH(int, type);
        void *handle = open(Drive(drive));
        QVERIFY(handle);
        QCOMPARE(int(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(handle)), type);
        StarBurn_Destroy(&handle);
    }

    void speedsAreSetAndReadBack_data()
    {
        QTest::addColumn<uint>("requested");
        QTest::addColumn<uint>("current");
        QTest::newRow("maximum") << uint(STARBURN_SPEED_MAX) << 4234u;
        QTest::newRow("exact") << 1764u << 1764u;
        QTest::newRow("rounded down") << 2000u << 1764u;
        QTest::newRow("slowest") << 706u << 706u;
        QTest::newRow("zero means maximum") << 0u << 4234u;
    }
    void speedsAreSetAndReadBack()
    {
        QFETCH(uint, requested);
        QFETCH(uint, current);
        void *handle = open(CdRw);
        QVERIFY(handle);
        Block block;
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_SetSpeeds(handle, EB(block), STARBURN_SPEED_MAX, requested),
            EN_SUCCESS);
        uint32_t currentRead = 0, maximumRead = 0, currentWrite = 0, maximumWrite = 0;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetSpeeds(handle, EB(block), &currentRead, &maximumRead,
                                                      &currentWrite, &maximumWrite),
                 EN_SUCCESS);
        QCOMPARE(currentWrite, uint32_t(current));
        QCOMPARE(maximumWrite, 4234u);
        QCOMPARE(maximumRead, 7056u);
        QCOMPARE(currentRead, 7056u);
        StarBurn_Destroy(&handle);
    }

    void lockedTrayRefusesEjectUntilReleased()
    {
        void *handle = open(CdRw);
        QVERIFY(handle);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Lock(handle, EB(block)), EN_SUCCESS);
        QVERIFY(FBay->drive(CdRw).locked());
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Eject(handle, EB(block)), EN_SCSI_FAILURE);
        QVERIFY(std::strlen(block.text) > 0);
        QCOMPARE(FBay->drive(CdRw).trayState(), TrayState::Closed);

        QCOMPARE(StarBurn_CdvdBurnerGrabber_Release(handle, EB(block)), EN_SUCCESS);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Eject(handle, EB(block)), EN_SUCCESS);
        QCOMPARE(FBay->drive(CdRw).trayState(), TrayState::Open);
        StarBurn_Destroy(&handle);
    }

    void destroyingTheHandleUnlocksTheTray()
    {
        void *handle = open(CdRw);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Lock(handle, EB(block)), EN_SUCCESS);
        StarBurn_Destroy(&handle);
        QVERIFY(!FBay->drive(CdRw).locked());
    }

    void fastBlankReportsProgressToTheEndAndLeavesTheDiscBlank_data()
    {
        QTest::addColumn<int>("drive");
        // Blanked media read as blank; overwritable ones lose their file system.
        QTest::addColumn<bool>("overwritable");
        QTest::newRow("CD-RW") << int(CdRw) << false;
        QTest::newRow("DVD+RW") << int(DvdPlusRw) << true;
        QTest::newRow("DVD-RW") << int(DvdRw) << false;
    }
    void fastBlankReportsProgressToTheEndAndLeavesTheDiscBlank()
    {
        QFETCH(int, drive);
        QFETCH(bool, overwritable);
        Progress progress;
        void *handle = open(Drive(drive), progressCallback, &progress);
        QVERIFY(handle);
        QVERIFY(!FBay->drive(drive).discBlank());
        if (overwritable)
            QVERIFY(hasFileSystem(Drive(drive)));

        Block block;
        const EXCEPTION_NUMBER code =
            StarBurn_CdvdBurnerGrabber_Blank(handle, EB(block), ERASE_TYPE_BLANK_DISC_FAST);
        QVERIFY2(code == EN_SUCCESS, block.text);
        QCOMPARE(block.text[0], '\0');
        QVERIFY(!progress.events.empty());
        for (size_t i = 0; i < progress.events.size(); ++i) {
            QVERIFY(progress.events[i].second > 0);
            QVERIFY(progress.events[i].first <= progress.events[i].second);
            if (i > 0)
                QVERIFY(progress.events[i].first >= progress.events[i - 1].first);
            QCOMPARE(progress.threads[i], std::this_thread::get_id());
        }
        QCOMPARE(progress.events.back().first, progress.events.back().second);
        QVERIFY(!hasFileSystem(Drive(drive)));
        if (!overwritable)
            QVERIFY(FBay->drive(drive).discBlank());
        StarBurn_Destroy(&handle);
    }

    void fullBlankOfCdRw()
    {
        void *handle = open(CdRw);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Blank(handle, EB(block), ERASE_TYPE_BLANK_DISC_FULL),
                 EN_SUCCESS);
        QVERIFY(FBay->drive(CdRw).discBlank());
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Blank(handle, EB(block), ERASE_TYPE(7)),
                 EN_INVALID_PARAMETER);
        StarBurn_Destroy(&handle);
    }

    void blankRefusesWhatItCannotErase_data()
    {
        QTest::addColumn<int>("drive");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("CD-R") << int(CdR) << int(EN_NOT_SUPPORTED) << "CD-R";
        QTest::newRow("no disc") << int(Empty) << int(EN_SCSI_FAILURE)
                                 << "Not Ready: Medium not present";
        // The erase opens with O_EXCL (libburn does); the mount table names the mount.
        QTest::newRow("mounted") << int(Mounted) << int(EN_DEVICE_BUSY)
                                 << "sr4 is in use: another program or a mount holds it (the disc "
                                    "is mounted at /media/user/HOLIDAY)";
    }
    void blankRefusesWhatItCannotErase()
    {
        QFETCH(int, drive);
        QFETCH(int, code);
        QFETCH(QString, text);
        void *handle = open(Drive(drive));
        QVERIFY(handle);
        const bool blankBefore = FBay->drive(drive).discBlank();
        Block block;
        QCOMPARE(
            int(StarBurn_CdvdBurnerGrabber_Blank(handle, EB(block), ERASE_TYPE_BLANK_DISC_FAST)),
            code);
        QVERIFY2(QString::fromLocal8Bit(block.text).contains(text, Qt::CaseInsensitive),
                 block.text);
        QCOMPARE(FBay->drive(drive).discBlank(), blankBefore);
        StarBurn_Destroy(&handle);
    }

    void cancelFromAnotherThreadEndsTheBlank()
    {
        Progress progress;
        void *handle = open(CdRw, progressCallback, &progress);
        QVERIFY(handle);
        Block block;
        std::atomic<int> code{-1};
        std::thread worker([&] {
            code = StarBurn_CdvdBurnerGrabber_Blank(handle, EB(block), ERASE_TYPE_BLANK_DISC_FULL);
        });
        QTRY_VERIFY_WITH_TIMEOUT(progress.seen.load(), 20000);
        StarBurn_CdvdBurnerGrabber_Cancel(handle);
        worker.join();
        QCOMPARE(code.load(), int(EN_CANCELLED));
        QVERIFY(std::strlen(block.text) > 0);
        QVERIFY(!FBay->drive(CdRw).discBlank() || FBay->drive(CdRw).busy());
        StarBurn_Destroy(&handle);
    }

    void badHandlesAndNullPointersAreRefused()
    {
        int garbage = 0;
        void *handles[] = {nullptr, &garbage, reinterpret_cast<void *>(0x5B010)};
        for (void *handle : handles) {
            Block block;
            QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(handle, EB(block)),
                     EN_INVALID_PARAMETER);
            QVERIFY(std::strlen(block.text) > 0);
            QCOMPARE(
                StarBurn_CdvdBurnerGrabber_Blank(handle, EB(block), ERASE_TYPE_BLANK_DISC_FAST),
                EN_INVALID_PARAMETER);
            QCOMPARE(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(handle),
                     DISC_TYPE(DISC_TYPE_UNKNOWN));
            uint32_t extra = 0;
            uint64_t free = 0;
            QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(handle, 3, &extra, &free),
                     EN_INVALID_PARAMETER);
            StarBurn_CdvdBurnerGrabber_Cancel(handle);
        }

        void *stale = open(CdRw);
        void *copy = stale;
        StarBurn_Destroy(&stale);
        QVERIFY(stale == nullptr);
        void *fresh = open(CdRw);
        QVERIFY(fresh != copy);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Eject(copy, EB(block)), EN_INVALID_PARAMETER);
        StarBurn_Destroy(&copy);
        StarBurn_Destroy(nullptr);

        // A live handle with missing pieces of the error block or outputs.
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(fresh, nullptr, 1024, &block.status,
                                                          &block.failure),
                 EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(fresh, block.text, 0, &block.status,
                                                          &block.failure),
                 EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(fresh, block.text, 1024, nullptr,
                                                          &block.failure),
                 EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(fresh, block.text, 1024, &block.status,
                                                          nullptr),
                 EN_SUCCESS);
        uint32_t speed = 0;
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_GetSpeeds(fresh, EB(block), &speed, &speed, nullptr, &speed),
            EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscInformation(fresh, EB(block), nullptr),
                 EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(fresh, EB(block), nullptr),
                 EN_INVALID_PARAMETER);
        uint8_t flag = 0;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(fresh, &flag, &flag, &flag,
                                                                         nullptr, &flag, &flag),
                 EN_INVALID_PARAMETER);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetRPC(fresh, EB(block), &flag, &flag, &flag, &flag,
                                                   nullptr),
                 EN_INVALID_PARAMETER);
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_CreateEx(nullptr, EB(block), nullptr, nullptr, "CdRom0", 0),
            EN_INVALID_PARAMETER);
        void *none = nullptr;
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_CreateEx(&none, EB(block), nullptr, nullptr, nullptr, 0),
            EN_INVALID_PARAMETER);
        StarBurn_Destroy(&fresh);
    }

    void exceptionTextIsCutToTheGivenSize_data()
    {
        QTest::addColumn<uint>("size");
        QTest::newRow("one byte") << 1u;
        QTest::newRow("eight bytes") << 8u;
        QTest::newRow("full") << uint(STARBURN_EXCEPTION_TEXT_SIZE);
    }
    void exceptionTextIsCutToTheGivenSize()
    {
        QFETCH(uint, size);
        void *handle = open(Empty);
        char text[STARBURN_EXCEPTION_TEXT_SIZE + 16];
        std::memset(text, 'x', sizeof(text));
        uint32_t status = 0;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(handle, text, size, &status, nullptr),
                 EN_SCSI_FAILURE);
        const size_t length = std::strlen(text);
        QVERIFY(length < size);
        QVERIFY(size == 1 || length > 0);
        for (size_t i = size; i < sizeof(text); ++i)
            QCOMPARE(text[i], 'x');
        StarBurn_Destroy(&handle);
    }

    void scanQueriesDescribeDrivesAndDiscs()
    {
        // Media-format flag 7 (writer) and flag 3 (DVD) per drive.
        const std::vector<std::tuple<Drive, uint8_t, uint8_t>> drives = {
            {CdRw, 1, 0}, {DvdPlusRw, 1, 1}, {CdRom, 0, 0}, {Empty, 1, 1}};
        for (const auto &[drive, writer, dvd] : drives) {
            void *handle = open(drive);
            uint8_t f[10];
            QCOMPARE(
                StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(
                    handle, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9]),
                EN_SUCCESS);
            QCOMPARE(f[6], writer);
            QCOMPARE(f[2], dvd);
            Block block;
            uint8_t rpc[5] = {};
            const EXCEPTION_NUMBER code = StarBurn_CdvdBurnerGrabber_GetRPC(
                handle, EB(block), &rpc[0], &rpc[1], &rpc[2], &rpc[3], &rpc[4]);
            QCOMPARE(code == EN_SUCCESS, dvd == 1);
            if (dvd) {
                QCOMPARE(rpc[3], uint8_t(0xFF)); // virgin drive: no region playable yet
                QCOMPARE(rpc[4], uint8_t(1));
            }
            StarBurn_Destroy(&handle);
        }

        void *handle = open(CdRw);
        Block block;
        STARBURN_DISC_INFORMATION disc;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscInformation(handle, EB(block), &disc),
                 EN_SUCCESS);
        QCOMPARE(disc.Bytes[0], uint8_t(1));
        QCOMPARE(disc.Bytes[3], uint8_t(1)); // erasable
        QCOMPARE(disc.Bytes[4], uint8_t(DISC_TYPE_CDRW));
        STARBURN_TRACK_INFORMATION track;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetTrackInformation(handle, EB(block), 1, &track),
                 EN_SUCCESS);
        QCOMPARE(track.Bytes[0], uint8_t(1));
        auto toc = std::make_unique<STARBURN_TOC_INFORMATION>();
        StarBurn_SetFastReadTOC(1);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetTOCInformation(handle, EB(block), toc.get()),
                 EN_SUCCESS);
        QCOMPARE(toc->Bytes[0], uint8_t(1));
        QVERIFY(toc->Bytes[3] >= 2); // a track and the lead-out
        uint8_t modes[6];
        QCOMPARE(StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(
                     handle, EB(block), &modes[0], &modes[1], &modes[2], &modes[3]),
                 EN_SUCCESS);
        QCOMPARE(modes[0], uint8_t(1)); // track at once
        QCOMPARE(StarBurn_CdvdBurnerGrabber_ProbeSupportedReadModes(handle, EB(block), &modes[0],
                                                                    &modes[1], &modes[2], &modes[3],
                                                                    &modes[4], &modes[5]),
                 EN_SUCCESS);
        QCOMPARE(modes[0], uint8_t(1)); // reads CD
        StarBurn_Destroy(&handle);

        handle = open(Empty);
        std::memset(&disc, 0xEE, sizeof(disc));
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscInformation(handle, EB(block), &disc),
                 EN_SCSI_FAILURE);
        QCOMPARE(disc.Bytes[0], uint8_t(0));
        StarBurn_Destroy(&handle);
    }

    void discSpaceOfBlankAndWrittenDiscs_data()
    {
        QTest::addColumn<int>("drive");
        QTest::addColumn<quint64>("used");
        QTest::addColumn<bool>("blank");
        QTest::newRow("blank CD-RW") << int(BlankCdRw) << quint64(0) << true;
        QTest::newRow("written CD-RW") << int(CdRw) << quint64(104857600) << false;
        QTest::newRow("finalized CD-R") << int(CdR) << quint64(52428800) << false;
        QTest::newRow("DVD+RW with a file system") << int(DvdPlusRw) << quint64(734003200) << false;
    }
    void discSpaceOfBlankAndWrittenDiscs()
    {
        QFETCH(int, drive);
        QFETCH(quint64, used);
        QFETCH(bool, blank);
        void *handle = open(Drive(drive));
        uint32_t extra = 0;
        uint64_t freeBytes = 0, usedBytes = 1;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(handle, STARBURN_FREE_SPACE_BYTES,
                                                             &extra, &freeBytes),
                 EN_SUCCESS);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(handle, EB(block), &usedBytes),
                 EN_SUCCESS);
        QCOMPARE(quint64(usedBytes), used);
        QCOMPARE(uint64_t(extra) * 2048, freeBytes);
        if (blank)
            QVERIFY(freeBytes > 600000000ull);
        uint64_t blocks = 0;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(handle, STARBURN_FREE_SPACE_BLOCKS,
                                                             &extra, &blocks),
                 EN_SUCCESS);
        QCOMPARE(blocks, uint64_t(extra));
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(handle, 0, &extra, &blocks),
                 EN_INVALID_PARAMETER);
        StarBurn_Destroy(&handle);
    }

    void erasedDvdPlusRwCountsAsBlank()
    {
        void *handle = open(DvdPlusRw);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Blank(handle, EB(block), ERASE_TYPE_BLANK_DISC_FAST),
                 EN_SUCCESS);
        uint32_t extra = 0;
        uint64_t freeBytes = 0, usedBytes = 1;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscFreeSpace(handle, STARBURN_FREE_SPACE_BYTES,
                                                             &extra, &freeBytes),
                 EN_SUCCESS);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_GetDiscUsedSpace(handle, EB(block), &usedBytes),
                 EN_SUCCESS);
        QCOMPARE(usedBytes, uint64_t(0));
        QVERIFY(freeBytes > 4000000000ull);
        StarBurn_Destroy(&handle);
    }

    void scanAndQueriesRunConcurrently()
    {
        // A scan thread opens and closes devices while this thread works on a
        // handle of its own: the session and the handle registry are shared.
        void *mine = open(DvdPlusRw);
        std::atomic<bool> stop{false};
        std::atomic<int> scans{0};
        std::thread scanner([&] {
            while (!stop.load()) {
                std::vector<Found> found;
                StarBurn_FindDevice(STARBURN_DEVICE_TYPE_CDROM, 0, findCallback, &found);
                for (const Found &item : found) {
                    Block block;
                    void *handle = nullptr;
                    if (StarBurn_CdvdBurnerGrabber_Create(&handle, EB(block), nullptr, nullptr,
                                                          item.address.PortID, item.address.BusID,
                                                          item.address.TargetID, item.address.LUN,
                                                          1) == EN_SUCCESS)
                        StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(handle);
                    StarBurn_Destroy(&handle);
                }
                ++scans;
            }
        });
        for (int i = 0; i < 20 || scans.load() < 2; ++i) {
            Block block;
            QCOMPARE(StarBurn_CdvdBurnerGrabber_TestUnitReady(mine, EB(block)), EN_SUCCESS);
            QCOMPARE(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(mine),
                     DISC_TYPE(DISC_TYPE_DVDPLUSRW));
        }
        stop = true;
        scanner.join();
        StarBurn_Destroy(&mine);
    }
};

QTEST_MAIN(TestStarBurn)
#include "tst_starburn.moc"
