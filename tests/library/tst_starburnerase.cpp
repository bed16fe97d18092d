#include "library/StarBurn.h"
#include "library/virtual/VirtualBay.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <string>

using blankora::virtualbay::TrayState;
using blankora::virtualbay::VirtualBay;

namespace {

struct Block
{
    char text[STARBURN_EXCEPTION_TEXT_SIZE] = {};
    uint32_t status = 0;
    CDB_FAILURE_INFORMATION failure{};
};
#define EB(b) (b).text, uint32_t(sizeof((b).text)), &(b).status, &(b).failure

} // namespace

// The library's erase as seen by a real drive: how often it is polled, and
// what the device object does while the drive is still erasing.
class TestStarBurnErase : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<VirtualBay> FBay;
    void *FHandle = nullptr;

    bool start(const char *scenario)
    {
        std::string error;
        FBay = VirtualBay::fromFile(std::string(BLANKORA_TEST_SCENARIOS "/") + scenario, error);
        if (!FBay)
            qWarning("%s", error.c_str());
        VirtualBay::install(FBay);
        Block block;
        return FBay && StarBurn_UpStartEx() == EN_SUCCESS &&
               StarBurn_CdvdBurnerGrabber_CreateEx(&FHandle, EB(block), nullptr, nullptr, "CdRom0",
                                                   0) == EN_SUCCESS;
    }

private slots:
    void cleanup()
    {
        StarBurn_Destroy(&FHandle);
        StarBurn_DownShut();
        VirtualBay::install(nullptr);
        FBay.reset();
    }

    // libburn sleeps 1 s between polls, dvd+rw-format 1000 ms; the kernel's sr.c
    // warns of devices that hang on repeated TUR: never more than 2 a second.
    void pollsAtMostTwiceASecond()
    {
        QVERIFY(start("mmc-library-polling.json"));
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Blank(FHandle, EB(block), ERASE_TYPE_BLANK_DISC_FAST),
                 EN_SUCCESS);
        const auto log = FBay->drive(0).commandLog();
        auto command =
            std::find_if(log.begin(), log.end(), [](const auto &c) { return c.cdb[0] == 0xA1; });
        QVERIFY(command != log.end());
        double last = command->simSeconds;
        int polls = 0;
        for (++command; command != log.end(); ++command) {
            if (command->cdb[0] != 0x00)
                continue;
            QVERIFY2(command->simSeconds - last >= 0.499,
                     qPrintable(QString::number(command->simSeconds - last)));
            last = command->simSeconds;
            ++polls;
        }
        QVERIFY(polls > 10);
    }

    // A unit attention means the command did not run: it goes again (libburn);
    // RECOVERED ERROR is a success (sg3_utils sg_cmds_basic.c).
    void answersThatAreNotFailures_data()
    {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("asc");
        QTest::newRow("reset before the eject") << 0x1B << 0x06 << 0x29;
        QTest::newRow("disc change before the lock") << 0x1E << 0x06 << 0x28;
        QTest::newRow("recovered lock") << 0x1E << 0x01 << 0x17;
        QTest::newRow("recovered eject") << 0x1B << 0x01 << 0x17;
    }
    void answersThatAreNotFailures()
    {
        QFETCH(int, opcode);
        QFETCH(int, key);
        QFETCH(int, asc);
        QVERIFY(start("mmc-library-polling.json"));
        FBay->drive(0).injectSense(opcode, {uint8_t(key), uint8_t(asc), 0},
                                   blankora::virtualbay::InjectMode::Once);
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Lock(FHandle, EB(block)), EN_SUCCESS);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Release(FHandle, EB(block)), EN_SUCCESS);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Eject(FHandle, EB(block)), EN_SUCCESS);
        // The bay answers an injected sense instead of running the command;
        // only a retried command has really run.
        if (key == 0x06)
            QCOMPARE(FBay->drive(0).trayState(), TrayState::Open);
    }

    // libburn opens with O_EXCL: another program holding the drive stops the
    // erase before any command, while the scan's shared handles still open.
    void driveHeldByAnotherProgramIsNotErased()
    {
        QVERIFY(start("mmc-library-polling.json"));
        auto other = FBay->openBySystemNumber(0, blankora::transport::OpenMode::Exclusive);
        QVERIFY(other.transport);
        Block block;
        void *scan = nullptr;
        QCOMPARE(
            StarBurn_CdvdBurnerGrabber_CreateEx(&scan, EB(block), nullptr, nullptr, "CdRom0", 0),
            EN_SUCCESS);
        StarBurn_Destroy(&scan);
        FBay->drive(0).clearCommandLog();
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Blank(FHandle, EB(block), ERASE_TYPE_BLANK_DISC_FAST),
                 EN_DEVICE_BUSY);
        QCOMPARE(block.status, uint32_t(EBUSY));
        const std::string text = block.text;
        QVERIFY2(text.find(FBay->drive(0).node() + " is in use: another program or a mount holds "
                                                   "it. ") != std::string::npos,
                 block.text);
        QVERIFY(FBay->drive(0).commandLog().empty());

        other.transport.reset();
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Blank(FHandle, EB(block), ERASE_TYPE_BLANK_DISC_FAST),
                 EN_SUCCESS);
    }

    // The error block of a failed erase names the command the drive refused
    // and its sense, as for every other call.
    void failedEraseKeepsCommandAndSense_data()
    {
        QTest::addColumn<int>("drive");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("cdb"); // opcode and length
        QTest::addColumn<uint>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("BLANK refused")
            << 0 << int(EN_NOT_SUPPORTED) << QByteArray("\xA1\x0C", 2) << 0x052400u
            << "BLANK: The drive rejected the request. "
               "[05/24/00 Illegal Request: ";
        QTest::newRow("WRITE(10) fails")
            << 1 << int(EN_SCSI_FAILURE) << QByteArray("\x2A\x0A", 2) << 0x030C00u
            << "Write error: the disc may be damaged or incompatible. [03/0C/00 Medium Error: ";
        QTest::newRow("WRITE(10) on a protected disc")
            << 2 << int(EN_SCSI_FAILURE) << QByteArray("\x2A\x0A", 2) << 0x072700u
            << "The disc is write-protected. [07/27/00 Data Protect: ";
        // The failure comes with the poll after the drive took the BLANK.
        QTest::newRow("erase fails on the way")
            << 3 << int(EN_SCSI_FAILURE) << QByteArray("\x00\x06", 2) << 0x035100u
            << "Erasing failed. [03/51/00 Medium Error: Erase failure]";
    }
    void failedEraseKeepsCommandAndSense()
    {
        QFETCH(int, drive);
        QFETCH(int, code);
        QFETCH(QByteArray, cdb);
        QFETCH(uint, status);
        QFETCH(QString, text);
        QVERIFY(start("vmfix-erase-faults.json"));
        StarBurn_Destroy(&FHandle);
        Block block;
        const std::string name = "CdRom" + std::to_string(drive);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_CreateEx(&FHandle, EB(block), nullptr, nullptr,
                                                     name.c_str(), 0),
                 EN_SUCCESS);
        QCOMPARE(
            int(StarBurn_CdvdBurnerGrabber_Blank(FHandle, EB(block), ERASE_TYPE_BLANK_DISC_FAST)),
            code);
        QVERIFY2(QString::fromLatin1(block.text).contains(text), block.text);
        QCOMPARE(block.status, uint32_t(status));
        QCOMPARE(block.failure.Cdb[0], uint8_t(cdb[0]));
        QCOMPARE(block.failure.CdbLength, uint8_t(cdb[1]));
        QCOMPARE(block.failure.SenseKey, uint8_t(status >> 16));
        QCOMPARE(block.failure.Asc, uint8_t(status >> 8));
        QCOMPARE(block.failure.Ascq, uint8_t(status));
        QCOMPARE(block.failure.ScsiStatus, uint8_t(0x02));
    }

    // What ends an erase on drives as the references describe them: the disc
    // read again after a deferred failure went elsewhere (dvd-rw.html), a
    // drive that vanishes (libburn drive.c), a long blank with no progress
    // (dvd+rw-tools wait_for_unit), odd answers while polling, a bridge's
    // endless 02/04/00 (libburn spc.c), udev's EBUSY after a disc change
    // (libburn sg-linux.c); and no eject to a drive that is gone or still busy.
    void eraseOutcomes_data()
    {
        QTest::addColumn<int>("drive");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("ejectCode"); // -1: not tried
        QTest::addColumn<QString>("ejectText");
        const int ok = int(EN_SUCCESS), gone = int(EN_NO_DEVICE), busy = int(EN_DEVICE_BUSY);
        QTest::newRow("deferred failure taken elsewhere")
            << 0 << false << int(EN_SCSI_FAILURE)
            << "The drive reported success, but the disc is not erased: READ DISC INFORMATION "
               "shows the disc as not blank (disc status 2)."
            << -1 << "";
        QTest::newRow("vanishes, ENODEV")
            << 1 << false << gone << "disappeared while the disc was being erased" << gone
            << "disappeared during the erase; nothing was sent to it";
        QTest::newRow("vanishes, DID_BAD_TARGET")
            << 2 << false << gone << "DID_BAD_TARGET" << gone << "";
        QTest::newRow("DVD-RW vanishes, DID_NO_CONNECT")
            << 3 << false << gone << "disappeared" << gone << "";
        QTest::newRow("20-minute blank, no progress") << 4 << false << ok << "" << ok << "";
        QTest::newRow("eject button pressed") << 5 << false << ok << "" << ok << "";
        QTest::newRow("reset while blanking") << 6 << true << ok << "" << ok << "";
        QTest::newRow("EIO while blanking") << 7 << true << ok << "" << ok << "";
        QTest::newRow("DID_ERROR while blanking") << 8 << true << ok << "" << ok << "";
        QTest::newRow("driver time-out while blanking") << 9 << true << ok << "" << ok << "";
        QTest::newRow("hardware error while the drive blanks on")
            << 10 << false << int(EN_SCSI_FAILURE) << "[04/44/00 " << busy
            << "still reports an erase in progress";
        QTest::newRow("USB bridge") << 11 << false << ok << "" << ok << "";
        QTest::newRow("EBUSY twice after the disc went in") << 12 << true << ok << "" << ok << "";
        QTest::newRow("EBUSY for good") << 13 << true << busy << "is in use" << ok << "";
        QTest::newRow("aborted commands for good")
            << 14 << false << int(EN_SCSI_FAILURE) << "no sensible answer for 30 seconds" << busy
            << "";
    }
    void eraseOutcomes()
    {
        QFETCH(int, drive);
        QFETCH(bool, fast);
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(int, ejectCode);
        QFETCH(QString, ejectText);
        QVERIFY(start("erase-outcomes.json"));
        StarBurn_Destroy(&FHandle);
        Block block;
        const std::string name = "CdRom" + std::to_string(drive);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_CreateEx(&FHandle, EB(block), nullptr, nullptr,
                                                     name.c_str(), 0),
                 EN_SUCCESS);
        const int erased = int(StarBurn_CdvdBurnerGrabber_Blank(
            FHandle, EB(block), fast ? ERASE_TYPE_BLANK_DISC_FAST : ERASE_TYPE_BLANK_DISC_FULL));
        QVERIFY2(erased == code, block.text);
        QVERIFY2(QString::fromLatin1(block.text).contains(text), block.text);
        if (ejectCode < 0)
            return;
        FBay->drive(drive).clearCommandLog();
        QVERIFY2(int(StarBurn_CdvdBurnerGrabber_Eject(FHandle, EB(block))) == ejectCode,
                 block.text);
        QVERIFY2(QString::fromLatin1(block.text).contains(ejectText), block.text);
        const auto log = FBay->drive(drive).commandLog();
        const bool ejectSent =
            std::any_of(log.begin(), log.end(), [](const auto &c) { return c.cdb[0] == 0x1B; });
        QCOMPARE(ejectSent, ejectCode == int(EN_SUCCESS));
    }

    // A drive busy for three times what the whole disc needs at 1x is given
    // up, but it is still busy: the disc is neither released nor ejected
    // until it is done.
    void stalledEraseKeepsTheDriveBusy()
    {
        QVERIFY(start("mmc-library-stalled.json"));
        Block block;
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Lock(FHandle, EB(block)), EN_SUCCESS);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Blank(FHandle, EB(block), ERASE_TYPE_BLANK_DISC_FULL),
                 EN_TRANSPORT_FAILURE);
        QVERIFY2(std::strstr(block.text, "still reported the erase in progress after 241 minutes"),
                 block.text);
        for (auto call : {StarBurn_CdvdBurnerGrabber_Eject, StarBurn_CdvdBurnerGrabber_Release}) {
            QCOMPARE(call(FHandle, EB(block)), EN_DEVICE_BUSY);
            QVERIFY2(std::strstr(block.text, "still reports an erase in progress"), block.text);
        }
        QVERIFY(FBay->drive(0).locked());
        QCOMPARE(FBay->drive(0).trayState(), TrayState::Closed);

        FBay->clock().advance(24 * 3600);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Release(FHandle, EB(block)), EN_SUCCESS);
        QCOMPARE(StarBurn_CdvdBurnerGrabber_Eject(FHandle, EB(block)), EN_SUCCESS);
        QCOMPARE(FBay->drive(0).trayState(), TrayState::Open);
    }
};

QTEST_MAIN(TestStarBurnErase)
#include "tst_starburnerase.moc"
