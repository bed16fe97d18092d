#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcErase.h"
#include "library/mmc/MmcMedia.h"
#include "library/mmc/MmcParsers.h"
#include "library/mmc/MmcProfiles.h"
#include "library/mmc/MmcSense.h"
#include "library/virtual/VirtualBay.h"

#include <QTest>

#include <algorithm>

using namespace blankora::mmc;
using blankora::virtualbay::VirtualBay;

namespace {

// One drive in a bay whose clock stands still: the erase's sleep hook moves
// it on, so a full blank of simulated minutes takes no real time.
struct Bay
{
    std::shared_ptr<VirtualBay> bay;
    std::unique_ptr<blankora::transport::ScsiTransport> transport;
    std::vector<uint32_t> progress;
    std::atomic<bool> cancel{false};
    EraseHooks hooks;
    std::string error;

    Bay()
    {
        hooks.sleep = [this](unsigned ms) { bay->clock().advance(ms / 1000.0); };
        hooks.progress = [this](uint32_t done, uint32_t) { progress.push_back(done); };
    }

    // False with `error` set when the scenario is refused or the drive does not open.
    bool open(const QString &model, const QString &disc, const QString &faults = "{}")
    {
        const QString json = QStringLiteral(R"({"timeFactor": 0, "drives": [{"model": "%1",
            "product": "Virtual Eraser", "systemNumber": 0, "address": "0:0:0:0", "disc": %2,
            "faults": %3}]})")
                                 .arg(model, disc, faults);
        bay = VirtualBay::fromJson(json.toStdString(), error);
        if (!bay)
            return false;
        auto opened = bay->openBySystemNumber(0);
        transport = std::move(opened.transport);
        error = opened.text;
        return transport != nullptr;
    }

    EraseResult erase(EraseKind kind) { return eraseDisc(*transport, kind, hooks, cancel); }

    bool sent(uint8_t opcode) const
    {
        const auto log = bay->drive(0).commandLog();
        return std::any_of(log.begin(), log.end(), [opcode](const auto &c) {
            return !c.cdb.empty() && c.cdb[0] == opcode;
        });
    }
};

} // namespace

// The command layer and the erase against the emulated drives of the virtual bay.
class TestMmcVirtual : public QObject
{
    Q_OBJECT

private slots:
    void eraseEveryRewritableMedium_data();
    void eraseEveryRewritableMedium();
    void failingBlankReportsTheDrivesSense();
    void writeOnceDiscIsRefusedWithoutCommand();
    void driveDescriptionAndSpace();
    void spaceOfSequentialMedia_data();
    void spaceOfSequentialMedia();
    void writtenCdTocAndAtip();
};

void TestMmcVirtual::eraseEveryRewritableMedium_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("disc");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<QString>("progressMode");
    QTest::addColumn<int>("method");

    const QString cdrw = R"({"profile": "CD-RW", "state": "complete", "usedBytes": 100000000})";
    const int blankMin = int(EraseMethod::BlankMinimal), blankFull = int(EraseMethod::BlankFull);
    const int format = int(EraseMethod::Format), zero = int(EraseMethod::ZeroStart);
    QTest::newRow("CD-RW fast") << "cd-writer" << cdrw << true << "testUnitReady" << blankMin;
    QTest::newRow("CD-RW full") << "cd-writer" << cdrw << false << "testUnitReady" << blankFull;
    QTest::newRow("CD-RW, progress in REQUEST SENSE")
        << "cd-writer" << cdrw << true << "requestSense" << blankMin;
    QTest::newRow("CD-RW, no progress") << "cd-writer" << cdrw << false << "none" << blankFull;
    QTest::newRow("DVD-RW full") << "dvd-writer"
                                 << R"({"profile": "DVD-RW", "state": "appendable"})" << false
                                 << "testUnitReady" << blankFull;
    QTest::newRow("DVD+RW fast") << "dvd-writer"
                                 << R"({"profile": "DVD+RW", "state": "complete",
        "usedBytes": 700000000})" << true
                                 << "testUnitReady" << zero;
    // Full erases of formatted discs write zeros over the whole (small) disc.
    const int zeroFill = int(EraseMethod::ZeroFill);
    QTest::newRow("DVD+RW full") << "dvd-writer"
                                 << R"({"profile": "DVD+RW", "capacityBytes": 4194304})" << false
                                 << "testUnitReady" << zeroFill;
    QTest::newRow("DVD-RAM full") << "dvd-writer"
                                  << R"({"profile": "DVD-RAM", "capacityBytes": 4194304})" << false
                                  << "testUnitReady" << zeroFill;
    QTest::newRow("BD-RE full") << "bd-writer"
                                << R"({"profile": "BD-RE", "capacityBytes": 4194304})" << false
                                << "testUnitReady" << zeroFill;
    QTest::newRow("unformatted BD-RE fast")
        << "bd-writer"
        << R"({"profile": "BD-RE", "formatted": false})" << true << "testUnitReady" << format;
}

void TestMmcVirtual::eraseEveryRewritableMedium()
{
    QFETCH(QString, model);
    QFETCH(QString, disc);
    QFETCH(bool, fast);
    QFETCH(QString, progressMode);
    QFETCH(int, method);

    Bay bay;
    QVERIFY2(bay.open(model, disc, QStringLiteral(R"({"progress": "%1"})").arg(progressMode)),
             bay.error.c_str());
    const EraseResult result = bay.erase(fast ? EraseKind::Fast : EraseKind::Full);
    QVERIFY2(result.ok, result.text.c_str());
    QCOMPARE(int(result.method), method);
    QVERIFY(!bay.bay->drive(0).busy());
    QVERIFY(bay.progress.size() >= 2);
    QVERIFY(std::is_sorted(bay.progress.begin(), bay.progress.end()));
    QCOMPARE(bay.progress.back(), ProgressTotal);
    QVERIFY(result.stateRead);
    if (isBlankable(result.profileBefore)) {
        QVERIFY(bay.bay->drive(0).discBlank());
        QCOMPARE(result.discAfter.discStatus, uint8_t(0));
        const auto disc = readDiscInformation(*bay.transport);
        QVERIFY2(disc.ok, disc.text.c_str());
        QCOMPARE(disc.value.discStatus, uint8_t(0));
    } else {
        QVERIFY(!bay.sent(0xA1)); // no BLANK on overwritable media
    }
    if (method == int(EraseMethod::ZeroStart)) {
        std::vector<uint8_t> block(BlockSize, 0xFF);
        QVERIFY(read10(*bay.transport, 16, 1, block).ok);
        QVERIFY(std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }));
    }
}

void TestMmcVirtual::failingBlankReportsTheDrivesSense()
{
    Bay bay;
    QVERIFY2(bay.open("cd-writer", R"({"profile": "CD-RW", "state": "complete"})",
                      R"({"blankFailsAt": 0.4, "blankFailSense": "03/51/00"})"),
             bay.error.c_str());
    const EraseResult result = bay.erase(EraseKind::Full);
    QCOMPARE(result.outcome, EraseOutcome::Failed);
    QVERIFY2(result.text.find("Erasing failed.") != std::string::npos, result.text.c_str());
    QVERIFY2(result.text.find("[03/51/00 ") != std::string::npos, result.text.c_str());
    QVERIFY(!bay.progress.empty());
    QVERIFY(bay.progress.back() < ProgressTotal);
    QVERIFY(!bay.bay->drive(0).discBlank());
}

void TestMmcVirtual::writeOnceDiscIsRefusedWithoutCommand()
{
    Bay bay;
    QVERIFY2(bay.open("cd-writer", R"({"profile": "CD-R", "state": "complete"})"),
             bay.error.c_str());
    const EraseResult result = bay.erase(EraseKind::Fast);
    QCOMPARE(result.outcome, EraseOutcome::Refused);
    QVERIFY(result.text.find("CD-R") != std::string::npos);
    QVERIFY(!bay.sent(0xA1));

    // Sent anyway, the drive's own refusal comes back decoded.
    const auto refused = blank(*bay.transport, BlankType::Minimal);
    QVERIFY(!refused.ok);
    QVERIFY2(refused.text.find("[05/30/05 ") != std::string::npos, refused.text.c_str());
}

void TestMmcVirtual::driveDescriptionAndSpace()
{
    Bay bay;
    QVERIFY2(
        bay.open(
            "dvd-writer",
            R"({"profile": "DVD+RW", "state": "complete", "usedBytes": 734003200, "label": "BACKUP"})"),
        bay.error.c_str());
    auto &t = *bay.transport;
    const auto q = inquiry(t);
    QVERIFY2(q.ok, q.text.c_str());
    QCOMPARE(q.value.deviceType, uint8_t(5));
    QVERIFY(!q.value.product.empty() && q.value.product.back() != ' ');

    const auto config = getConfiguration(t);
    QVERIFY2(config.ok, config.text.c_str());
    QCOMPARE(config.value.currentProfile, profile::DvdPlusRw);
    QVERIFY(config.value.canWrite());
    QCOMPARE(discTypeForProfile(config.value.currentProfile), DISC_TYPE(DISC_TYPE_DVDPLUSRW));

    const auto space = readDiscSpace(t, config.value.currentProfile);
    QVERIFY2(space.ok, space.text.c_str());
    QCOMPARE(space.value.usedBytes, uint64_t(734003200));
    QVERIFY(space.value.freeBytes > 0);

    const auto speeds = readSpeeds(t, config.value.currentProfile);
    QVERIFY2(speeds.ok, speeds.text.c_str());
    QVERIFY(!speeds.value.writeSpeedsKBps.empty());
    const uint32_t slowest = speeds.value.writeSpeedsKBps.back();
    const auto selected = setSpeeds(t, config.value.currentProfile, SpeedMax, slowest);
    QVERIFY2(selected.ok, selected.text.c_str());
    QCOMPARE(readSpeeds(t, config.value.currentProfile).value.currentWriteKBps, slowest);

    QVERIFY(preventAllowMediumRemoval(t, true).ok);
    QVERIFY(modeSenseCapabilities(t).value.locked);
    const auto eject = startStopUnit(t, StartStop::Eject);
    QVERIFY(!eject.ok);
    QVERIFY2(eject.text.find("The tray is locked.") != std::string::npos, eject.text.c_str());
    QVERIFY(preventAllowMediumRemoval(t, false).ok);
    QVERIFY(startStopUnit(t, StartStop::Eject).ok);
    const auto tur = testUnitReady(t);
    QVERIFY(!tur.ok);
    QVERIFY(isNoMedium(tur.value));
}

void TestMmcVirtual::spaceOfSequentialMedia_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("disc");
    QTest::addColumn<qulonglong>("used");
    QTest::addColumn<bool>("full");

    QTest::newRow("blank CD-RW") << "cd-writer"
                                 << R"({"profile": "CD-RW", "state": "blank"})" << 0ull << false;
    QTest::newRow("appendable CD-R")
        << "cd-writer"
        << R"({"profile": "CD-R", "state": "appendable", "usedBytes": 204800000})" << 204800000ull
        << false;
    QTest::newRow("finalized CD-R")
        << "cd-writer"
        << R"({"profile": "CD-R", "state": "complete", "usedBytes": 204800000})" << 204800000ull
        << true;
    QTest::newRow("appendable DVD-RW, two tracks")
        << "dvd-writer"
        << R"({"profile": "DVD-RW", "state": "appendable", "tracks": 2, "usedBytes": 409600000})"
        << 409600000ull << false;
}

void TestMmcVirtual::spaceOfSequentialMedia()
{
    QFETCH(QString, model);
    QFETCH(QString, disc);
    QFETCH(qulonglong, used);
    QFETCH(bool, full);

    Bay bay;
    QVERIFY2(bay.open(model, disc), bay.error.c_str());
    const auto profile = currentProfile(*bay.transport);
    QVERIFY(profile.ok);
    const auto space = readDiscSpace(*bay.transport, profile.value);
    QVERIFY2(space.ok, space.text.c_str());
    QCOMPARE(space.value.usedBytes, uint64_t(used));
    QCOMPARE(space.value.freeBytes == 0, full);
}

void TestMmcVirtual::writtenCdTocAndAtip()
{
    Bay bay;
    QVERIFY2(bay.open("cd-writer", R"({"profile": "CD-RW", "state": "complete", "tracks": 2,
        "usedBytes": 204800000})"),
             bay.error.c_str());
    const auto toc = readToc(*bay.transport);
    QVERIFY2(toc.ok, toc.text.c_str());
    QCOMPARE(toc.value.lastTrack, uint8_t(2));
    QCOMPARE(toc.value.entries.back().track, uint8_t(0xAA));
    QCOMPARE(toc.value.entries.back().address, uint32_t(204800000 / BlockSize));

    const auto full = readFullToc(*bay.transport);
    QVERIFY2(full.ok, full.text.c_str());
    const auto leadOut = std::find_if(full.value.entries.begin(), full.value.entries.end(),
                                      [](const FullTocEntry &e) { return e.point == 0xA2; });
    QVERIFY(leadOut != full.value.entries.end());
    QCOMPARE(msfToLba(leadOut->pmin, leadOut->psec, leadOut->pframe),
             int32_t(204800000 / BlockSize));

    const auto atip = readAtip(*bay.transport);
    QVERIFY2(atip.ok, atip.text.c_str());
    QVERIFY(atip.value.rewritable);
    QVERIFY(atip.value.lastPossibleLeadOut > 300000);
}

QTEST_MAIN(TestMmcVirtual)
#include "tst_mmcvirtual.moc"
