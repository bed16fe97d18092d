#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcErase.h"
#include "library/mmc/MmcProfiles.h"
#include "library/virtual/VirtualBay.h"

#include <QTest>

#include <algorithm>

using namespace blankora::mmc;
using blankora::virtualbay::VirtualBay;

// The erase against drives that behave as real ones do rather than as a tidy
// emulator would: one drive per behaviour in mmc-real-drives.json. The bay's
// clock stands still; the erase's sleeps move it.
class TestMmcRealDrives : public QObject
{
    Q_OBJECT

private slots:
    void eraseCopesWithTheDrive_data();
    void eraseCopesWithTheDrive();
};

void TestMmcRealDrives::eraseCopesWithTheDrive_data()
{
    QTest::addColumn<int>("drive");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("method");
    // What else must hold: "zeros" (the whole disc reads back as zeros),
    // "resumed" (zeros, after FORMAT 26h with Restart, the format complete),
    // "idle" (the drive has finished), "closed" (background format done,
    // session closed), "profile:N", "format:N" (FORMAT descriptor byte 8),
    // or a text the failure must contain.
    QTest::addColumn<QString>("check");

    const int erased = int(EraseOutcome::Erased), failed = int(EraseOutcome::Failed);
    const int zeroFill = int(EraseMethod::ZeroFill), format = int(EraseMethod::Format);
    const int blankMin = int(EraseMethod::BlankMinimal), blankFull = int(EraseMethod::BlankFull);
    // dvd+rw-format and libisoburn: full erase of formatted media writes zeros.
    QTest::newRow("DVD+RW full") << 0 << false << erased << zeroFill << "zeros";
    QTest::newRow("DVD-RAM full") << 1 << false << erased << zeroFill << "zeros";
    QTest::newRow("BD-RE full") << 2 << false << erased << zeroFill << "zeros";
    // growisofs plus_rw_restart_format: the stopped format is resumed, then overwritten.
    QTest::newRow("partly formatted DVD+RW full") << 14 << false << erased << zeroFill << "resumed";
    // dvd+rw-format: FORMAT 26h, background format to its end, CLOSE TRACK/SESSION.
    QTest::newRow("virgin DVD+RW, background format")
        << 3 << false << erased << int(EraseMethod::FormatBackground) << "closed";
    // dvd+rw-tools transport.hxx: STOP UNIT as a barrier after TEST UNIT READY.
    QTest::newRow("early ready") << 4 << true << erased << blankMin << "idle";
    // libburn spc.c, sg3_utils sg_cmds_basic.c: sense key 0 or 1 is ready.
    QTest::newRow("ready with NO SENSE") << 5 << true << erased << blankMin << "idle";
    QTest::newRow("ready with RECOVERED ERROR") << 6 << true << erased << blankMin << "idle";
    QTest::newRow("descriptor sense") << 7 << true << erased << blankMin << "idle";
    QTest::newRow("deferred error") << 8 << false << failed << blankFull << "[03/51/00 ";
    QTest::newRow("unit attention after the erase") << 9 << true << erased << blankMin << "idle";
    // libburn: no time limit while the drive is busy and its progress moves.
    QTest::newRow("slow disc erase speed") << 10 << false << erased << blankFull << "idle";
    // libburn mmc.c: certification as feature 0023h offers it.
    QTest::newRow("BD-RE with quick certification only")
        << 11 << false << erased << format << "format:195";
    QTest::newRow("BD-RE without certification") << 12 << false << erased << format << "format:0";
    // libburn mmc.c: a drive may refuse the certification it lists.
    QTest::newRow("BD-RE refusing its certification")
        << 15 << false << erased << format << "format:0";
    // K3b: a quick format keeps a restricted-overwrite DVD-RW overwritable.
    QTest::newRow("DVD-RW restricted overwrite fast")
        << 13 << true << erased << format << "profile:19";
}

void TestMmcRealDrives::eraseCopesWithTheDrive()
{
    QFETCH(int, drive);
    QFETCH(bool, fast);
    QFETCH(int, outcome);
    QFETCH(int, method);
    QFETCH(QString, check);

    std::string error;
    const auto bay = VirtualBay::fromFile(BLANKORA_TEST_SCENARIOS "/mmc-real-drives.json", error);
    QVERIFY2(bay, error.c_str());
    auto opened = bay->openBySystemNumber(drive);
    QVERIFY2(opened.transport, opened.text.c_str());
    auto &transport = *opened.transport;

    const bool zeros = check == "zeros" || check == "resumed";
    if (zeros) { // the label's volume descriptor is there to be erased
        std::vector<uint8_t> descriptor(BlockSize, 0);
        QVERIFY(read10(transport, 16, 1, descriptor).ok);
        QVERIFY(std::any_of(descriptor.begin(), descriptor.end(), [](uint8_t b) { return b; }));
    }
    std::vector<uint32_t> progress;
    std::atomic<bool> cancel{false};
    EraseHooks hooks;
    hooks.sleep = [&bay](unsigned ms) { bay->clock().advance(ms / 1000.0); };
    hooks.progress = [&progress](uint32_t done, uint32_t) { progress.push_back(done); };
    const EraseResult result =
        eraseDisc(transport, fast ? EraseKind::Fast : EraseKind::Full, hooks, cancel);

    QVERIFY2(int(result.outcome) == outcome, result.text.c_str());
    QCOMPARE(int(result.method), method);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    if (result.ok) {
        QVERIFY(!bay->drive(drive).busy());
        QCOMPARE(progress.back(), ProgressTotal);
        QVERIFY(result.stateRead);
    } else {
        QVERIFY2(result.text.find(check.toStdString()) != std::string::npos, result.text.c_str());
    }
    const auto log = bay->drive(drive).commandLog();
    const auto formatsSent = [&log] {
        std::vector<std::vector<uint8_t>> sent;
        for (const auto &c : log)
            if (c.cdb[0] == 0x04)
                sent.push_back(c.dataOut);
        return sent;
    }();
    if (zeros) {
        const uint32_t blocks = 4194304 / BlockSize;
        std::vector<uint8_t> data(32 * BlockSize, 0xFF);
        for (uint32_t lba = 0; lba < blocks; lba += 32) {
            QVERIFY(read10(transport, lba, 32, data).ok);
            QVERIFY(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; }));
        }
        QCOMPARE(formatsSent.size(), size_t(check == "resumed"));
        if (check == "resumed") {
            QCOMPARE(formatsSent[0].size(), size_t(12));
            QCOMPARE(int(formatsSent[0][8]), 0x26 << 2);
            QCOMPARE(int(formatsSent[0][11]), 1);
            QVERIFY(result.discAfter.bgFormatStatus >= 2);
        }
    } else if (check == "closed") {
        QCOMPARE(result.discAfter.bgFormatStatus, uint8_t(3));
        QVERIFY(std::any_of(log.begin(), log.end(),
                            [](const auto &c) { return c.cdb[0] == 0x5B && c.cdb[2] == 0x02; }));
    } else if (check.startsWith("profile:")) {
        QCOMPARE(int(result.profileAfter), check.mid(8).toInt());
    } else if (check.startsWith("format:")) {
        // The format the drive accepted: the last one sent.
        QVERIFY(!formatsSent.empty() && formatsSent.back().size() == 12);
        QCOMPARE(int(formatsSent.back()[8]), check.mid(7).toInt());
    }
}

QTEST_MAIN(TestMmcRealDrives)
#include "tst_mmcrealdrives.moc"
