#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcErase.h"
#include "library/mmc/MmcMedia.h"
#include "library/mmc/MmcProfiles.h"

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <set>

using namespace blankora::mmc;
using blankora::transport::ResultCategory;
using blankora::transport::ScsiCommand;
using blankora::transport::ScsiResult;

namespace {

struct Sense3
{
    uint8_t key, asc, ascq;
};

// A scripted drive for the command layer: one disc, one Immed job that moves
// on by a fixed step per TEST UNIT READY, and switches for the odd behaviours
// real drives show (no progress in the TUR sense, failing or refused jobs).
class ScriptedDrive : public blankora::transport::ScsiTransport
{
public:
    uint16_t profile = profile::CdRw;
    uint8_t discStatus = 2;
    uint8_t bgStatus = 0;
    bool discPresent = true;
    uint32_t jobStep = 65536 / 8; // progress per poll
    bool progressInTur = true;
    bool progressInRequestSense = true;
    bool jobNeverEnds = false;
    std::optional<uint32_t> failAt;        // progress at which the job fails
    std::optional<Sense3> refuseStart;     // BLANK/FORMAT answer
    std::optional<Sense3> refuseStreaming; // SET STREAMING answer
    uint16_t selectedWrite = 1764;
    std::optional<uint32_t> job; // running job progress
    std::vector<std::vector<uint8_t>> cdbs;
    std::vector<unsigned> timeouts;
    std::vector<uint8_t> written;
    // Answers given instead of running the command (opcode, commands so far).
    std::function<std::optional<ScsiResult>(uint8_t, size_t)> interpose;
    bool keepsOldState = false;    // the job ends and the disc stays as it was
    uint32_t frozenPolls = 0;      // polls the progress stands still halfway
    uint32_t notReadyPolls = 0;    // 02/04/00 answers to TEST UNIT READY after the job
    std::set<uint32_t> dirty;      // blocks that hold data
    bool writesLost = false;       // WRITE answers GOOD and changes nothing
    bool listsQuickFormat = false; // READ FORMAT CAPACITIES lists 15h

    std::string deviceNode() const override { return "/dev/sr-scripted"; }

    ScsiResult execute(const ScsiCommand &c) override
    {
        cdbs.emplace_back(c.cdb.begin(), c.cdb.end());
        timeouts.push_back(c.timeoutMs);
        if (interpose) {
            if (auto answer = interpose(c.cdb[0], cdbs.size()))
                return *answer;
        }
        switch (c.cdb[0]) {
        case 0x00:
            return testUnitReady();
        case 0x03:
            return reply(c, currentSense());
        case 0x46:
            return configuration(c);
        case 0x51:
            if (!discPresent)
                return check({2, 0x3A, 0});
            return reply(c, discInformation());
        case 0x23:
            return reply(c, formatCapacities());
        case 0x5A:
            return reply(c, capabilities());
        case 0xAC:
            return reply(c, performance(c.cdb[10]));
        case 0xB6:
            if (refuseStreaming)
                return check(*refuseStreaming);
            selectedWrite = static_cast<uint16_t>(c.dataOut[22] << 8 | c.dataOut[23]);
            return {};
        case 0xBB:
            selectedWrite = static_cast<uint16_t>(c.cdb[4] << 8 | c.cdb[5]);
            return {};
        case 0xA1:
        case 0x04:
            if (refuseStart)
                return check(*refuseStart);
            job = 0;
            return {};
        case 0x2A: {
            written.assign(c.dataOut.begin(), c.dataOut.end());
            const uint32_t lba =
                uint32_t(c.cdb[2] << 24 | c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5]);
            for (uint32_t i = 0; !writesLost && i < uint32_t(c.cdb[7] << 8 | c.cdb[8]); ++i)
                dirty.erase(lba + i);
            return {};
        }
        case 0x28: {
            const uint32_t lba =
                uint32_t(c.cdb[2] << 24 | c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5]);
            std::fill(c.dataIn.begin(), c.dataIn.end(), uint8_t(0));
            for (size_t i = 0; i < c.dataIn.size() / 2048; ++i)
                if (dirty.count(lba + uint32_t(i)))
                    c.dataIn[i * 2048 + 7] = 0x55;
            return {};
        }
        case 0x1B:
        case 0x35:
        case 0x5B:
            return {};
        default:
            return check({5, 0x20, 0});
        }
    }

    size_t count(uint8_t opcode) const
    {
        return std::count_if(cdbs.begin(), cdbs.end(),
                             [opcode](const auto &cdb) { return cdb[0] == opcode; });
    }

private:
    static ScsiResult check(Sense3 s)
    {
        ScsiResult r;
        r.category = ResultCategory::CheckCondition;
        r.status = 2;
        r.sense = senseRecord(s, false, 0);
        r.senseKey = s.key;
        r.asc = s.asc;
        r.ascq = s.ascq;
        return r;
    }

    static std::vector<uint8_t> senseRecord(Sense3 s, bool withProgress, uint32_t progress = 0)
    {
        std::vector<uint8_t> r(18, 0);
        r[0] = 0x70;
        r[2] = s.key;
        r[7] = 10;
        r[12] = s.asc;
        r[13] = s.ascq;
        if (withProgress) {
            r[15] = 0x80;
            r[16] = static_cast<uint8_t>(progress >> 8);
            r[17] = static_cast<uint8_t>(progress);
        }
        return r;
    }

    // REQUEST SENSE data: the running job, or NO SENSE.
    std::vector<uint8_t> currentSense() const
    {
        const Sense3 s = job ? Sense3{2, 0x04, 0x07} : Sense3{0, 0, 0};
        return senseRecord(s, progressInRequestSense && job, job.value_or(0));
    }

    static ScsiResult reply(const ScsiCommand &c, const std::vector<uint8_t> &data)
    {
        const size_t n = std::min(c.dataIn.size(), data.size());
        std::copy_n(data.begin(), n, c.dataIn.begin());
        ScsiResult r;
        r.residual = c.dataIn.size() - n;
        return r;
    }

    ScsiResult testUnitReady()
    {
        if (!discPresent)
            return check({2, 0x3A, 0});
        if (!job) {
            if (notReadyPolls == 0)
                return {};
            --notReadyPolls;
            return check({2, 0x04, 0x00});
        }
        const uint32_t now = *job;
        if (frozenPolls && now >= 32768) {
            --frozenPolls;
            ScsiResult r = check({2, 0x04, 0x07});
            r.sense = senseRecord({2, 0x04, 0x07}, progressInTur, now);
            return r;
        }
        if (failAt && now >= *failAt) {
            job.reset();
            return check({3, 0x51, 0});
        }
        if (now >= 65536 && !jobNeverEnds) {
            job.reset();
            if (keepsOldState)
                return {};
            discStatus = 0;
            if (profile == profile::DvdRwRestricted)
                profile = profile::DvdRwSequential;
            return {};
        }
        job = std::min<uint32_t>(now + jobStep, jobNeverEnds ? 60000 : 65536);
        ScsiResult r = check({2, 0x04, 0x07});
        r.sense = senseRecord({2, 0x04, 0x07}, progressInTur, std::min<uint32_t>(now, 65535));
        return r;
    }

    ScsiResult configuration(const ScsiCommand &c)
    {
        // Header plus a profile list, so that the full reply exceeds the first 8 bytes.
        std::vector<uint8_t> r(8, 0);
        r[6] = static_cast<uint8_t>(discPresent ? profile >> 8 : 0);
        r[7] = static_cast<uint8_t>(discPresent ? profile : 0);
        r.insert(r.end(), {0, 0, 3, 8, 0, 0x0A, 1, 0, 0, 0x1A, 0, 0});
        r[3] = static_cast<uint8_t>(r.size() - 4);
        return reply(c, r);
    }

    std::vector<uint8_t> discInformation() const
    {
        std::vector<uint8_t> r(34, 0);
        r[1] = 32;
        r[2] = static_cast<uint8_t>((isBlankable(profile) ? 0x10 : 0) | discStatus);
        r[7] = bgStatus;
        return r;
    }

    std::vector<uint8_t> formatCapacities() const
    {
        std::vector<uint8_t> r{0,    0, 0,    16,   0x00, 0x23, 0x05,      0x40, 0x02, 0,
                               0x08, 0, 0x00, 0x23, 0x05, 0x40, 0x26 << 2, 0,    0,    0};
        if (listsQuickFormat) {
            r.insert(r.end(), {0x00, 0x23, 0x05, 0x40, 0x15 << 2, 0, 0, 0x10});
            r[3] = 24;
        }
        return r;
    }

    std::vector<uint8_t> capabilities() const
    {
        std::vector<uint8_t> r(8 + 32, 0);
        r[1] = static_cast<uint8_t>(r.size() - 2);
        r[8] = 0x2A;
        r[9] = 30;
        r[8 + 28] = static_cast<uint8_t>(selectedWrite >> 8);
        r[8 + 29] = static_cast<uint8_t>(selectedWrite);
        return r;
    }

    std::vector<uint8_t> performance(uint8_t type) const
    {
        std::vector<uint8_t> r(8, 0);
        const auto entry = [&r](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
            for (uint32_t v : {a, b, c, d})
                r.insert(r.end(),
                         {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        };
        if (type == 0x03) {
            entry(0, 2295103, 16620, 11080);
            entry(0, 2295103, 16620, 5540);
        } else {
            entry(0, selectedWrite, 2295103, selectedWrite);
        }
        r[3] = static_cast<uint8_t>(r.size() - 4);
        return r;
    }
};

ScsiResult senseAnswer(uint8_t key, uint8_t asc, uint8_t ascq)
{
    ScsiResult r;
    r.category = ResultCategory::CheckCondition;
    r.status = 2;
    r.sense = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq, 0, 0, 0, 0};
    r.senseKey = key;
    r.asc = asc;
    r.ascq = ascq;
    return r;
}

ScsiResult osAnswer(int error)
{
    ScsiResult r;
    r.category = ResultCategory::OsError;
    r.osError = error;
    r.text = "os error";
    return r;
}

ScsiResult hostAnswer(int host, int driver = 0)
{
    ScsiResult r;
    r.category = ResultCategory::TransportError;
    r.hostStatus = host;
    r.driverStatus = driver;
    r.text = "transport error";
    return r;
}

// Answers by name, for tables: "06/29/00", "ENODEV", "EIO", "ENOMEM", "ENXIO",
// "host N" and "driver-timeout".
ScsiResult answerNamed(const QString &name)
{
    if (name == "ENODEV")
        return osAnswer(ENODEV);
    if (name == "ENXIO")
        return osAnswer(ENXIO);
    if (name == "EIO")
        return osAnswer(EIO);
    if (name == "ENOMEM")
        return osAnswer(ENOMEM);
    if (name == "driver-timeout")
        return hostAnswer(0, 6);
    if (name.startsWith("host "))
        return hostAnswer(name.mid(5).toInt());
    const QStringList parts = name.split('/');
    return senseAnswer(uint8_t(parts[0].toUInt(nullptr, 16)), uint8_t(parts[1].toUInt(nullptr, 16)),
                       uint8_t(parts[2].toUInt(nullptr, 16)));
}

uint64_t total(const std::vector<unsigned> &sleeps)
{
    uint64_t sum = 0;
    for (unsigned ms : sleeps)
        sum += ms;
    return sum;
}

struct Run
{
    std::vector<uint32_t> progress;
    std::vector<unsigned> sleeps;
    std::atomic<bool> cancel{false};
    EraseHooks hooks;

    Run()
    {
        hooks.sleep = [this](unsigned ms) { sleeps.push_back(ms); };
        hooks.progress = [this](uint32_t done, uint32_t total) {
            QCOMPARE(total, ProgressTotal);
            progress.push_back(done);
        };
    }
};

} // namespace

// The erase sequence per medium and its polling, against a scripted drive.
class TestMmcErase : public QObject
{
    Q_OBJECT

private slots:
    void planPerMedium_data();
    void planPerMedium();
    void blankRunsToCompletion_data();
    void blankRunsToCompletion();
    void failingBlankCarriesSenseText();
    void refusedBlankIsNotPolled();
    void cancelStopsPollingAtOnce();
    void stalledJobTimesOut();
    void eraseIsCheckedOnTheDisc_data();
    void eraseIsCheckedOnTheDisc();
    void vanishedDriveIsReported_data();
    void vanishedDriveIsReported();
    void busyDriveIsLeftToWork_data();
    void busyDriveIsLeftToWork();
    void oddAnswersArePolledThrough_data();
    void oddAnswersArePolledThrough();
    void pollsAtMostTwiceASecond();
    void quickFormatIsClosed();
    void commandsWithoutImmedGetFiveHours_data();
    void commandsWithoutImmedGetFiveHours();
    void zeroStartOverwritesFileSystemArea();
    void noDiscAndWriteOnceAreRefused();
    void variableLengthReplyIsReadInFull();
    void dvdSpeedUsesStreamingThenFallsBack();
};

void TestMmcErase::planPerMedium_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<int>("discStatus");
    QTest::addColumn<int>("bgStatus");
    QTest::addColumn<int>("capacityType"); // 0 = no format list
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("formatType");
    QTest::addColumn<int>("subType");
    QTest::addColumn<int>("certification"); // feature 0023h byte 4

    const int blankMin = int(EraseMethod::BlankMinimal), blankFull = int(EraseMethod::BlankFull);
    const int zero = int(EraseMethod::ZeroStart), format = int(EraseMethod::Format);
    const int zeroFill = int(EraseMethod::ZeroFill),
              background = int(EraseMethod::FormatBackground);
    const int refuse = int(EraseMethod::Refuse);
    QTest::newRow("CD-RW fast") << 0x0A << true << 2 << 0 << 0 << blankMin << 0 << 0 << 0;
    QTest::newRow("CD-RW full") << 0x0A << false << 0 << 0 << 0 << blankFull << 0 << 0 << 0;
    QTest::newRow("DDCD-RW fast") << 0x22 << true << 2 << 0 << 0 << blankMin << 0 << 0 << 0;
    QTest::newRow("DVD-RW seq full") << 0x14 << false << 1 << 0 << 0 << blankFull << 0 << 0 << 0;
    // K3b: a quick format keeps restricted overwrite; BLANK would make it DAO-only.
    QTest::newRow("DVD-RW RO fast") << 0x13 << true << 3 << 0 << 2 << format << 0x15 << 0 << 0;
    // dvd-rw.html: a restricted-overwrite disc is overwritten, never blanked to sequential.
    QTest::newRow("DVD-RW RO fast, no format list")
        << 0x13 << true << 3 << 0 << 0 << zero << 0 << 0 << 0;
    QTest::newRow("DVD-RW RO full") << 0x13 << false << 3 << 0 << 2 << blankFull << 0 << 0 << 0;
    QTest::newRow("virgin DVD+RW fast")
        << 0x1A << true << 0 << 0 << 1 << int(EraseMethod::AlreadyBlank) << 0 << 0 << 0;
    QTest::newRow("formatted DVD+RW fast") << 0x1A << true << 2 << 3 << 2 << zero << 0 << 0 << 0;
    // Full erases overwrite; FORMAT only for a virgin disc, never with Restart.
    QTest::newRow("DVD+RW full") << 0x1A << false << 2 << 3 << 2 << zeroFill << 0 << 0 << 0;
    // growisofs plus_rw_restart_format: a stopped format is resumed before the zeros.
    QTest::newRow("partly formatted DVD+RW full")
        << 0x1A << false << 2 << 1 << 2 << zeroFill << 0x26 << 0 << 0;
    QTest::newRow("partly formatted DVD+RW fast")
        << 0x1A << true << 2 << 1 << 2 << zero << 0 << 0 << 0;
    QTest::newRow("virgin DVD+RW full")
        << 0x1A << false << 0 << 0 << 1 << background << 0x26 << 0 << 0;
    QTest::newRow("DVD+RW DL full") << 0x2A << false << 2 << 3 << 0 << zeroFill << 0 << 0 << 0;
    QTest::newRow("DVD-RAM fast") << 0x12 << true << 3 << 0 << 2 << zero << 0 << 0 << 0;
    QTest::newRow("DVD-RAM full") << 0x12 << false << 3 << 0 << 2 << zeroFill << 0 << 0 << 0;
    QTest::newRow("unformatted DVD-RAM full")
        << 0x12 << false << 0 << 0 << 1 << format << 0x00 << 0 << 0;
    QTest::newRow("formatted BD-RE fast") << 0x43 << true << 3 << 0 << 2 << zero << 0 << 0 << 3;
    QTest::newRow("formatted BD-RE full")
        << 0x43 << false << 3 << 0 << 2 << zeroFill << 0 << 0 << 3;
    QTest::newRow("unformatted BD-RE fast")
        << 0x43 << true << 0 << 0 << 1 << format << 0x00 << 0 << 3;
    // libburn: full certification only where feature 0023h offers it.
    QTest::newRow("unformatted BD-RE full, Cert")
        << 0x43 << false << 0 << 0 << 1 << format << 0x30 << 2 << 3;
    QTest::newRow("unformatted BD-RE full, QCert only")
        << 0x43 << false << 0 << 0 << 1 << format << 0x30 << 3 << 2;
    QTest::newRow("unformatted BD-RE full, no certification")
        << 0x43 << false << 0 << 0 << 1 << format << 0x00 << 0 << 0;
    QTest::newRow("CD-R") << 0x09 << true << 0 << 0 << 0 << refuse << 0 << 0 << 0;
    QTest::newRow("DVD+R") << 0x1B << false << 0 << 0 << 0 << refuse << 0 << 0 << 0;
    QTest::newRow("BD-R") << 0x41 << true << 0 << 0 << 0 << refuse << 0 << 0 << 0;
    QTest::newRow("DVD-ROM") << 0x10 << true << 2 << 0 << 0 << refuse << 0 << 0 << 0;
}

void TestMmcErase::planPerMedium()
{
    QFETCH(int, profile);
    QFETCH(bool, fast);
    QFETCH(int, discStatus);
    QFETCH(int, bgStatus);
    QFETCH(int, capacityType);
    QFETCH(int, method);
    QFETCH(int, formatType);
    QFETCH(int, subType);
    QFETCH(int, certification);

    DiscInfo disc;
    disc.discStatus = static_cast<uint8_t>(discStatus);
    disc.bgFormatStatus = static_cast<uint8_t>(bgStatus);
    FormatCapacities formats;
    formats.currentBlocks = 12219392;
    formats.currentType = static_cast<CapacityType>(capacityType);
    formats.formats = {{12219392, 0x00, 0x800},
                       {11826176, 0x30, 0x60000},
                       {2295104, 0x26, 0x000001}, // as listed: the Restart bit set
                       {2295104, 0x15, 0x10}};
    const ErasePlan plan =
        planErase(static_cast<uint16_t>(profile), fast ? EraseKind::Fast : EraseKind::Full, &disc,
                  capacityType ? &formats : nullptr, static_cast<uint8_t>(certification));
    QCOMPARE(int(plan.method), method);
    QCOMPARE(plan.resumeFormat, plan.method == EraseMethod::ZeroFill && formatType == 0x26);
    if (plan.resumeFormat) { // the listed block count and the Restart bit
        QCOMPARE(plan.format.descriptor.parameter, 1u);
        QCOMPARE(plan.format.descriptor.blocks, formats.find(0x26)->blocks);
        QCOMPARE(plan.blocks, formats.find(0x26)->blocks);
    } else if (plan.method == EraseMethod::ZeroFill && capacityType) {
        QCOMPARE(plan.blocks, formats.currentBlocks);
    }
    if (plan.method == EraseMethod::Format || plan.method == EraseMethod::FormatBackground) {
        QCOMPARE(plan.format.descriptor.parameter & 0x01, 0u); // never Restart
        if (formatType == 0x26) // growisofs plus_rw_format: only the block count
            QCOMPARE(plan.format.descriptor.parameter, 0u);
        QCOMPARE(int(plan.format.descriptor.type), formatType);
        QCOMPARE(int(plan.format.subType), subType);
        QVERIFY(plan.format.immed);
        if (capacityType)
            // dvd+rw-format.cpp: a quick format 15h with a block count of 0.
            QCOMPARE(plan.format.descriptor.blocks,
                     formatType == 0x15 ? 0u : formats.find(uint8_t(formatType))->blocks);
    }
    if (plan.method == EraseMethod::Refuse) {
        QVERIFY(plan.text.find("cannot be erased") != std::string::npos);
        QVERIFY(plan.text.find(profileName(uint16_t(profile))) != std::string::npos);
    }
}

void TestMmcErase::blankRunsToCompletion_data()
{
    QTest::addColumn<bool>("fast");
    QTest::addColumn<bool>("progressInTur");
    QTest::addColumn<bool>("progressInRequestSense");
    QTest::addColumn<int>("profile");

    QTest::newRow("CD-RW fast") << true << true << true << 0x0A;
    QTest::newRow("CD-RW full") << false << true << true << 0x0A;
    QTest::newRow("progress only in REQUEST SENSE") << true << false << true << 0x0A;
    QTest::newRow("no progress anywhere") << false << false << false << 0x0A;
    // Without a quick format in the list, BLANK is all that is left.
    QTest::newRow("DVD-RW RO without quick format") << true << true << true << 0x13;
}

void TestMmcErase::blankRunsToCompletion()
{
    QFETCH(bool, fast);
    QFETCH(bool, progressInTur);
    QFETCH(bool, progressInRequestSense);
    QFETCH(int, profile);

    ScriptedDrive drive;
    drive.profile = static_cast<uint16_t>(profile);
    drive.progressInTur = progressInTur;
    drive.progressInRequestSense = progressInRequestSense;
    Run run;
    const EraseResult result =
        eraseDisc(drive, fast ? EraseKind::Fast : EraseKind::Full, run.hooks, run.cancel);

    QVERIFY2(result.ok, result.text.c_str());
    QCOMPARE(result.outcome, EraseOutcome::Erased);
    QCOMPARE(drive.count(0xA1), size_t(1));
    const auto blankCdb = *std::find_if(drive.cdbs.begin(), drive.cdbs.end(),
                                        [](const auto &c) { return c[0] == 0xA1; });
    QCOMPARE(blankCdb[1], uint8_t(fast ? 0x11 : 0x10)); // Immed + type
    // Progress rises monotonically and ends complete.
    QVERIFY(run.progress.size() >= 2);
    QVERIFY(std::is_sorted(run.progress.begin(), run.progress.end()));
    QCOMPARE(run.progress.back(), ProgressTotal);
    if (progressInTur || progressInRequestSense)
        QVERIFY(std::adjacent_find(run.progress.begin(), run.progress.end()) == run.progress.end());
    // Polls wait between each other instead of spinning.
    QVERIFY(!run.sleeps.empty());
    QVERIFY(std::all_of(run.sleeps.begin(), run.sleeps.end(), [](unsigned ms) { return ms > 0; }));
    QCOMPARE(drive.count(0x03) > 0, !progressInTur);
    // The medium is read again afterwards.
    QVERIFY(result.stateRead);
    QCOMPARE(result.discAfter.discStatus, uint8_t(0));
    QCOMPARE(result.profileAfter, uint16_t(profile == 0x13 ? profile::DvdRwSequential : profile));
}

void TestMmcErase::failingBlankCarriesSenseText()
{
    ScriptedDrive drive;
    drive.failAt = 65536 * 4 / 10;
    Run run;
    const EraseResult result = eraseDisc(drive, EraseKind::Full, run.hooks, run.cancel);
    QVERIFY(!result.ok);
    QCOMPARE(result.outcome, EraseOutcome::Failed);
    QVERIFY2(result.text.find("Erasing failed.") != std::string::npos, result.text.c_str());
    QVERIFY2(result.text.find("[03/51/00 ") != std::string::npos, result.text.c_str());
    QVERIFY(!run.progress.empty() && run.progress.back() < ProgressTotal);
    QCOMPARE(result.scsi.category, ResultCategory::CheckCondition);
}

void TestMmcErase::refusedBlankIsNotPolled()
{
    ScriptedDrive drive;
    drive.refuseStart = Sense3{5, 0x24, 0};
    Run run;
    const EraseResult result = eraseDisc(drive, EraseKind::Fast, run.hooks, run.cancel);
    QCOMPARE(result.outcome, EraseOutcome::Refused);
    QVERIFY2(result.text.find("[05/24/00 ") != std::string::npos, result.text.c_str());
    QCOMPARE(drive.count(0x00), size_t(0));
    QVERIFY(run.sleeps.empty());
}

void TestMmcErase::cancelStopsPollingAtOnce()
{
    ScriptedDrive drive;
    drive.jobStep = 1000;
    Run run;
    run.hooks.progress = [&run](uint32_t done, uint32_t) {
        if (done > 2000)
            run.cancel = true;
    };
    const EraseResult result = eraseDisc(drive, EraseKind::Full, run.hooks, run.cancel);
    QCOMPARE(result.outcome, EraseOutcome::Cancelled);
    QVERIFY(!result.ok);
    QVERIFY(result.text.find("may go on") != std::string::npos);
    QVERIFY(drive.job.has_value()); // the drive is still working
    QVERIFY(drive.count(0x00) <= 5);
}

// A drive that says it is busy is given up only after three times what the
// whole disc needs at 1x (a CD-RW: 4 hours), not after a stall limit
// (libburn burn_disc_erase_sync and dvd+rw-tools wait_for_unit set none).
void TestMmcErase::stalledJobTimesOut()
{
    ScriptedDrive drive;
    drive.jobNeverEnds = true;
    drive.jobStep = 200; // 300 polls until the progress stops at 60000
    Run run;
    const EraseResult result = eraseDisc(drive, EraseKind::Fast, run.hooks, run.cancel);
    QCOMPARE(result.outcome, EraseOutcome::TimedOut);
    QVERIFY2(result.text.find("after 241 minutes") != std::string::npos, result.text.c_str());
    QVERIFY(total(run.sleeps) >= 3ull * 360000 * 2352 / 176);
    QVERIFY(drive.job.has_value());
}

// After the job the disc is read again: a deferred failure taken by another
// program leaves GOOD to this handle and the old disc (dvd-rw.html in
// dvd+rw-tools; libburn drive.c reads the medium again after an erase).
void TestMmcErase::eraseIsCheckedOnTheDisc_data()
{
    QTest::addColumn<int>("profile");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<bool>("keepsOldState");
    QTest::addColumn<bool>("writesLost");
    QTest::addColumn<uint>("dirtyBlock");
    QTest::addColumn<QString>("failure"); // empty: erased

    QTest::newRow("CD-RW blank") << 0x0A << true << false << false << 0u << "";
    QTest::newRow("CD-RW left complete")
        << 0x0A << false << true << false << 0u << "not blank (disc status 2)";
    QTest::newRow("DVD-RW left complete")
        << 0x14 << true << true << false << 0u << "not blank (disc status 2)";
    QTest::newRow("DVD+RW fast") << 0x1A << true << false << false << 16u << "";
    QTest::newRow("DVD+RW fast, writes lost")
        << 0x1A << true << false << true << 16u << "block 16 does not read back as zeros";
    QTest::newRow("DVD+RW full, last block lost")
        << 0x1A << false << false << true << 2295103u << "block 2295103 does not read back";
    QTest::newRow("DVD+RW full, spread block lost")
        << 0x1A << false << false << true << 2295104u / 2 << "does not read back as zeros";
}

void TestMmcErase::eraseIsCheckedOnTheDisc()
{
    QFETCH(int, profile);
    QFETCH(bool, fast);
    QFETCH(bool, keepsOldState);
    QFETCH(bool, writesLost);
    QFETCH(uint, dirtyBlock);
    QFETCH(QString, failure);

    ScriptedDrive drive;
    drive.profile = uint16_t(profile);
    drive.bgStatus = 3;
    drive.keepsOldState = keepsOldState;
    drive.writesLost = writesLost;
    drive.dirty = {uint32_t(dirtyBlock)};
    Run run;
    const EraseResult result =
        eraseDisc(drive, fast ? EraseKind::Fast : EraseKind::Full, run.hooks, run.cancel);
    QCOMPARE(result.ok, failure.isEmpty());
    if (failure.isEmpty())
        return;
    QCOMPARE(result.outcome, EraseOutcome::Failed);
    const QString text = QString::fromStdString(result.text);
    QVERIFY2(text.startsWith("The drive reported success, but the disc is not erased: "),
             result.text.c_str());
    QVERIFY2(text.contains(failure), result.text.c_str());
    QVERIFY(run.progress.empty() || run.progress.back() < ProgressTotal);
}

// A drive that is gone fails as gone, whichever command noticed it; no more
// polling of a node that is not there.
void TestMmcErase::vanishedDriveIsReported_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("profile");
    QTest::newRow("ENODEV, CD-RW") << "ENODEV" << 0x0A;
    QTest::newRow("ENXIO, CD-RW") << "ENXIO" << 0x0A;
    QTest::newRow("DID_NO_CONNECT, CD-RW") << "host 1" << 0x0A;
    QTest::newRow("DID_BAD_TARGET, DVD+RW zero-fill") << "host 4" << 0x1A;
}

void TestMmcErase::vanishedDriveIsReported()
{
    QFETCH(QString, answer);
    QFETCH(int, profile);
    ScriptedDrive drive;
    drive.profile = uint16_t(profile);
    drive.bgStatus = 3;
    size_t goneAt = 0;
    drive.interpose = [&](uint8_t opcode, size_t index) -> std::optional<ScsiResult> {
        if (!goneAt && (opcode == 0x00 || opcode == 0x2A) && index > 12)
            goneAt = index;
        return goneAt ? std::optional(answerNamed(answer)) : std::nullopt;
    };
    Run run;
    const EraseResult result = eraseDisc(drive, EraseKind::Full, run.hooks, run.cancel);
    QCOMPARE(result.outcome, EraseOutcome::DriveGone);
    QVERIFY2(result.text.find("The drive /dev/sr-scripted disappeared while the disc was being "
                              "erased") != std::string::npos,
             result.text.c_str());
    QCOMPARE(drive.cdbs.size(), goneAt);
}

// Busy for longer than any old limit, with no progress or a progress that
// stands still: the erase waits it out and the bar keeps moving by the
// estimate from the slowest speed (dvd+rw-tools wait_for_unit).
void TestMmcErase::busyDriveIsLeftToWork_data()
{
    QTest::addColumn<bool>("progress");
    QTest::addColumn<uint>("frozenPolls");
    QTest::addColumn<uint>("notReadyPolls");
    QTest::addColumn<uint>("jobStep");
    // 65536 / 16 polls of 0.5 s: about 34 minutes
    QTest::newRow("no progress, 34 minutes") << false << 0u << 0u << 16u;
    QTest::newRow("progress frozen 20 minutes") << true << 2400u << 0u << 4096u;
    // libburn spc.c: a bridge that keeps answering 02/04/00 is ready after a while.
    QTest::newRow("02/04/00 for good after the job") << true << 0u << 1000000u << 4096u;
}

void TestMmcErase::busyDriveIsLeftToWork()
{
    QFETCH(bool, progress);
    QFETCH(uint, frozenPolls);
    QFETCH(uint, notReadyPolls);
    QFETCH(uint, jobStep);
    ScriptedDrive drive;
    drive.progressInTur = drive.progressInRequestSense = progress;
    drive.frozenPolls = frozenPolls;
    drive.notReadyPolls = notReadyPolls;
    drive.jobStep = jobStep;
    Run run;
    run.hooks.pollIntervalMs = 500;
    const EraseResult result = eraseDisc(drive, EraseKind::Full, run.hooks, run.cancel);
    QVERIFY2(result.ok, result.text.c_str());
    std::vector<uint32_t> shown = run.progress;
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    QVERIFY2(shown.size() > 12, qPrintable(QString::number(shown.size())));
    if (notReadyPolls)
        QVERIFY(drive.notReadyPolls >= notReadyPolls - 61);
}

// Answers that say nothing about the job are polled through; only when they
// persist (30 s, a drive that does not answer 5 minutes) the erase ends.
void TestMmcErase::oddAnswersArePolledThrough_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("times"); // -1: for ever
    QTest::addColumn<uint>("limitMs");
    QTest::addColumn<bool>("gone"); // the end says the drive disappeared
    for (const char *name : {"06/5A/01", "06/28/00", "06/29/00", "0B/00/00", "0B/47/00", "host 3",
                             "driver-timeout", "host 7", "EIO", "ENOMEM", "host 14", "host 15"})
        QTest::newRow(name) << QString(name) << 3 << 0u << false;
    QTest::newRow("06/29/00 for ever") << "06/29/00" << -1 << 30000u << false;
    QTest::newRow("EIO for ever") << "EIO" << -1 << 30000u << false;
    QTest::newRow("time-outs for ever") << "host 3" << -1 << 300000u << false;
    QTest::newRow("driver time-outs for ever") << "driver-timeout" << -1 << 300000u << false;
    // The kernel's scsi_error.c retries DID_TRANSPORT_DISRUPTED while the
    // transport recovers; a link that stays lost is a drive pulled.
    QTest::newRow("transport disrupted for ever") << "host 14" << -1 << 30000u << true;
}

void TestMmcErase::oddAnswersArePolledThrough()
{
    QFETCH(QString, answer);
    QFETCH(int, times);
    QFETCH(uint, limitMs);
    QFETCH(bool, gone);
    ScriptedDrive drive;
    int polls = 0;
    uint64_t firstOddMs = 0;
    Run run;
    drive.interpose = [&](uint8_t opcode, size_t) -> std::optional<ScsiResult> {
        if (opcode != 0x00 || ++polls < 3 || (times >= 0 && polls >= 3 + times))
            return std::nullopt;
        if (polls == 3)
            firstOddMs = total(run.sleeps);
        return answerNamed(answer);
    };
    const EraseResult result = eraseDisc(drive, EraseKind::Full, run.hooks, run.cancel);
    if (times >= 0) {
        QVERIFY2(result.ok, result.text.c_str());
        return;
    }
    QCOMPARE(result.outcome, gone ? EraseOutcome::DriveGone : EraseOutcome::Failed);
    const std::string expected =
        gone ? "The drive /dev/sr-scripted disappeared"
             : "no sensible answer for " + std::to_string(limitMs / 1000) + " seconds";
    QVERIFY2(result.text.find(expected) != std::string::npos, result.text.c_str());
    QVERIFY(total(run.sleeps) - firstOddMs >= limitMs);
    QVERIFY(total(run.sleeps) - firstOddMs < limitMs + 2000);
}

// At most 2 polls a second, each one TEST UNIT READY, with REQUEST SENSE only
// when its sense lacks the progress (the kernel's sr.c: some devices hang on
// repeated TEST UNIT READY; the references poll once a second).
void TestMmcErase::pollsAtMostTwiceASecond()
{
    for (bool progressInTur : {true, false}) {
        ScriptedDrive drive;
        drive.progressInTur = progressInTur;
        drive.jobStep = 1000;
        Run run;
        run.hooks.pollIntervalMs = 100;
        const EraseResult result = eraseDisc(drive, EraseKind::Full, run.hooks, run.cancel);
        QVERIFY2(result.ok, result.text.c_str());
        QVERIFY(std::all_of(run.sleeps.begin(), run.sleeps.end(),
                            [](unsigned ms) { return ms >= 500; }));
        QVERIFY(drive.count(0x00) <= run.sleeps.size() + 1);
        QCOMPARE(drive.count(0x03) >= drive.count(0x00) - 2, !progressInTur);
        QCOMPARE(drive.count(0x03) == 0, progressInTur);
    }
}

// libburn gives commands that run a whole job 18 000 s.
void TestMmcErase::commandsWithoutImmedGetFiveHours_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("BLANK") << 0xA1;
    QTest::newRow("FORMAT UNIT") << 0x04;
    QTest::newRow("SYNCHRONIZE CACHE") << 0x35;
    QTest::newRow("CLOSE TRACK/SESSION") << 0x5B;
}

void TestMmcErase::commandsWithoutImmedGetFiveHours()
{
    QFETCH(int, command);
    ScriptedDrive drive;
    FormatRequest request;
    for (bool immed : {true, false}) {
        request.immed = immed;
        switch (command) {
        case 0xA1:
            blank(drive, BlankType::Full, immed);
            break;
        case 0x04:
            formatUnit(drive, request);
            break;
        case 0x35:
            synchronizeCache(drive, immed);
            break;
        default:
            closeTrackSession(drive, CloseFunction::CloseSession, immed);
        }
    }
    QCOMPARE(drive.cdbs.size(), size_t(2));
    QCOMPARE(drive.timeouts[0], ImmedTimeoutMs);
    QVERIFY(drive.timeouts[1] >= 5u * 3600 * 1000);
}

void TestMmcErase::zeroStartOverwritesFileSystemArea()
{
    ScriptedDrive drive;
    drive.profile = profile::DvdPlusRw;
    drive.bgStatus = 3;
    drive.written.assign(10, 0xFF);
    Run run;
    const EraseResult result = eraseDisc(drive, EraseKind::Fast, run.hooks, run.cancel);
    QVERIFY2(result.ok, result.text.c_str());
    QCOMPARE(result.method, EraseMethod::ZeroStart);
    QCOMPARE(drive.count(0xA1), size_t(0)); // never BLANK on DVD+RW
    QVERIFY(std::all_of(drive.written.begin(), drive.written.end(), [](uint8_t b) { return !b; }));
    // Blocks 0-99 (recognition, and where the kernel's isofs searches) and
    // the UDF anchors at 256, 512, N-256 and N-1,
    // as the fast-erase block list gives them; then each is read back.
    std::vector<std::pair<uint32_t, uint32_t>> writes, reads;
    bool synced = false;
    for (const auto &c : drive.cdbs) {
        const uint32_t lba = uint32_t(c[2] << 24 | c[3] << 16 | c[4] << 8 | c[5]);
        synced = synced || c[0] == 0x35;
        if (c[0] == 0x2A)
            writes.emplace_back(lba, uint32_t(c[7] << 8 | c[8]));
        else if (c[0] == 0x28 && synced)
            reads.emplace_back(lba, uint32_t(c[7] << 8 | c[8]));
    }
    const uint32_t n = 2295104;
    const std::vector<std::pair<uint32_t, uint32_t>> anchors{
        {0, 32}, {32, 32}, {64, 32}, {96, 4}, {256, 1}, {512, 1}, {n - 256, 1}, {n - 1, 1}};
    QCOMPARE(writes, anchors);
    QCOMPARE(reads, anchors);
    // growisofs plus_rw_finalize: flush with Immed, then without, then stop
    // de-icing and close the session.
    std::vector<std::pair<uint8_t, uint8_t>> finish;
    for (const auto &c : drive.cdbs) {
        if (c[0] == 0x35 || c[0] == 0x5B)
            finish.emplace_back(c[0], c[0] == 0x35 ? c[1] : c[2]);
    }
    QCOMPARE(finish, (std::vector<std::pair<uint8_t, uint8_t>>{
                         {0x35, 0x02}, {0x35, 0x00}, {0x5B, 0x00}, {0x5B, 0x02}}));
    QCOMPARE(run.progress.back(), ProgressTotal);
}

void TestMmcErase::noDiscAndWriteOnceAreRefused()
{
    Run run;
    ScriptedDrive empty;
    empty.discPresent = false;
    EraseResult result = eraseDisc(empty, EraseKind::Fast, run.hooks, run.cancel);
    QCOMPARE(result.outcome, EraseOutcome::Refused);
    QCOMPARE(result.text, std::string("There is no disc in the drive."));

    ScriptedDrive cdr;
    cdr.profile = profile::CdR;
    result = eraseDisc(cdr, EraseKind::Full, run.hooks, run.cancel);
    QCOMPARE(result.outcome, EraseOutcome::Refused);
    QVERIFY(result.text.find("CD-R") != std::string::npos);
    QCOMPARE(cdr.count(0xA1) + cdr.count(0x04) + cdr.count(0x2A), size_t(0));
}

void TestMmcErase::variableLengthReplyIsReadInFull()
{
    ScriptedDrive drive;
    const auto config = getConfiguration(drive);
    QVERIFY2(config.ok, config.text.c_str());
    QCOMPARE(config.value.profiles.size(), size_t(2));
    QCOMPARE(drive.count(0x46), size_t(2));
    QCOMPARE(drive.cdbs.back()[8], uint8_t(20)); // second pass asks for the announced size
}

void TestMmcErase::dvdSpeedUsesStreamingThenFallsBack()
{
    ScriptedDrive drive;
    drive.profile = profile::DvdPlusRw;
    auto selected = setSpeeds(drive, drive.profile, SpeedMax, 5540);
    QVERIFY2(selected.ok, selected.text.c_str());
    QCOMPARE(readSpeeds(drive, drive.profile).value.currentWriteKBps, uint32_t(5540));
    QCOMPARE(drive.count(0xB6), size_t(1));
    QCOMPARE(drive.count(0xBB), size_t(0));

    drive.refuseStreaming = Sense3{5, 0x24, 0};
    selected = setSpeeds(drive, drive.profile, SpeedMax, 11080);
    QVERIFY2(selected.ok, selected.text.c_str());
    QCOMPARE(readSpeeds(drive, drive.profile).value.currentWriteKBps, uint32_t(11080));
    QCOMPARE(drive.count(0xBB), size_t(1));

    const auto speeds = readSpeeds(drive, drive.profile);
    QVERIFY(speeds.ok);
    QCOMPARE(speeds.value.writeSpeedsKBps, (std::vector<uint32_t>{11080, 5540}));
    QCOMPARE(speeds.value.maxWriteKBps, uint32_t(11080));
}

// dvd+rw-format.cpp: quick format 15h with a block count of 0; libburn mmc.c
// then closes the session, which ends the intermediate state.
void TestMmcErase::quickFormatIsClosed()
{
    ScriptedDrive drive;
    drive.profile = profile::DvdRwRestricted;
    drive.listsQuickFormat = true;
    Run run;
    const EraseResult result = eraseDisc(drive, EraseKind::Fast, run.hooks, run.cancel);
    QVERIFY2(result.ok, result.text.c_str());
    QCOMPARE(result.method, EraseMethod::Format);
    const auto format = std::find_if(drive.cdbs.begin(), drive.cdbs.end(),
                                     [](const auto &c) { return c[0] == 0x04; });
    const auto close = std::find_if(format, drive.cdbs.end(),
                                    [](const auto &c) { return c[0] == 0x5B && c[2] == 0x02; });
    QVERIFY(format != drive.cdbs.end());
    QVERIFY(close != drive.cdbs.end());
    QCOMPARE(drive.count(0xA1), size_t(0));
}

QTEST_MAIN(TestMmcErase)
#include "tst_mmcerase.moc"
