#include "support/ScenarioBuilder.h"
#include "library/virtual/VirtualBay.h"

#include <QTest>

#include <cerrno>
#include <cmath>
#include <sys/stat.h>

using namespace blankora;
using blankora::test::Exchange;
using transport::ResultCategory;
using virtualbay::VirtualBay;
using virtualbay::VirtualDrive;

namespace {

// Commands the scripts below name instead of spelling their bytes.
const std::map<QString, QByteArray> &aliases()
{
    static const std::map<QString, QByteArray> table = {
        {"TUR", "000000000000"},
        {"INQUIRY", "120000002400"},
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
    case 0x12:
        return size_t(cdb[3] << 8 | cdb[4]);
    case 0x25:
        return 8;
    case 0x23:
    case 0x43:
    case 0x46:
    case 0x51:
    case 0x52:
    case 0x5A:
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

QString errnoName(int error)
{
    static const std::map<int, QString> names = {{ENODEV, "ENODEV"}, {ENXIO, "ENXIO"}, {EIO, "EIO"},
                                                 {ENOMEM, "ENOMEM"}, {EBUSY, "EBUSY"}, {0, "ok"}};
    const auto found = names.find(error);
    return found != names.end() ? found->second : QString::number(error);
}

// "good", "timeout", an errno name, "host HH" / "driver HH" for other
// transport errors, or the sense as "[RC ]K/ASC/ASCQ[ progress]": RC is the
// response code (70h..73h), progress that the sense carries a progress field.
QString outcome(const Exchange &exchange)
{
    const transport::ScsiResult &result = exchange.result;
    if (result.category == ResultCategory::Good)
        return QStringLiteral("good");
    if (result.category == ResultCategory::OsError)
        return errnoName(result.osError);
    if (result.category == ResultCategory::TransportError && result.hostStatus == 3)
        return QStringLiteral("timeout");
    if (result.category == ResultCategory::TransportError)
        return result.hostStatus != 0 ? QString::asprintf("host %02X", result.hostStatus)
                                      : QString::asprintf("driver %02X", result.driverStatus);
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

std::shared_ptr<VirtualBay> quirkBay(const char *file = "emu-quirks.json")
{
    std::string error;
    auto bay = VirtualBay::fromFile(std::string(BLANKORA_TEST_SCENARIOS "/") + file, error);
    if (!bay)
        qWarning("%s", error.c_str());
    return bay;
}

std::unique_ptr<transport::ScsiTransport>
openDrive(VirtualBay &bay, int number, transport::OpenMode mode = transport::OpenMode::Shared)
{
    return std::move(bay.openBySystemNumber(number, mode).transport);
}

// Plays a script against one drive of a scenario. A step is "+S" (advance S
// simulated seconds), "bg N" (READ DISC INFORMATION byte 7 shows N),
// "profile N" (hex), "capacity N" (READ FORMAT CAPACITIES descriptor type),
// "node N" (bytes in the disc image), "status N" (disc status), "listed
// yes|no" (in the bay's enumeration), "open ERRNO|ok" (an exclusive open),
// "byte N = 0xXX" (of the last reply's data), "at S" (the bay's clock
// reads S simulated seconds) or "[2: ]COMMAND = OUTCOME"
// (on the first or a second handle opened at the start).
void play(const char *file, int drive, const QStringList &steps)
{
    auto bay = quirkBay(file);
    QVERIFY(bay);
    auto handle = openDrive(*bay, drive);
    auto second = openDrive(*bay, drive);
    QVERIFY(handle && second);
    VirtualDrive &emulated = bay->drive(size_t(drive));
    Exchange last;
    for (const QString &step : steps) {
        const QStringList parts = step.split(QStringLiteral(" = "));
        const QString head = parts[0];
        const QString value = head.section(' ', 1);
        if (step.startsWith('+')) {
            bay->clock().advance(step.mid(1).toDouble());
        } else if (head.startsWith(QLatin1String("bg "))) {
            QCOMPARE(emulated.backgroundFormat(), value.toInt());
        } else if (head.startsWith(QLatin1String("profile "))) {
            QCOMPARE(emulated.currentProfile(), value.toUShort(nullptr, 16));
        } else if (head.startsWith(QLatin1String("status "))) {
            QCOMPARE(emulated.discStatus(), value.toInt());
        } else if (head.startsWith(QLatin1String("node "))) {
            struct stat info = {};
            QCOMPARE(::stat(handle->deviceNode().c_str(), &info), 0);
            QCOMPARE(qint64(info.st_size), value.toLongLong());
        } else if (head.startsWith(QLatin1String("capacity "))) {
            const Exchange caps = run(*handle, QStringLiteral("FORMATCAPS"));
            QVERIFY(caps.result.ok());
            QCOMPARE(caps.data[8] & 0x03, value.toInt());
        } else if (head.startsWith(QLatin1String("listed "))) {
            const auto entries = bay->enumerate();
            const bool listed = std::any_of(entries.begin(), entries.end(),
                                            [&](const auto &e) { return e.systemNumber == drive; });
            QCOMPARE(listed, value == QLatin1String("yes"));
        } else if (head.startsWith(QLatin1String("open "))) {
            const transport::OpenResult opened =
                bay->openBySystemNumber(drive, transport::OpenMode::Exclusive);
            QCOMPARE(errnoName(opened.osError), value);
        } else if (head.startsWith(QLatin1String("at "))) {
            QVERIFY(std::abs(bay->clock().now() - value.toDouble()) < 1e-9);
        } else if (head.startsWith(QLatin1String("byte "))) {
            QCOMPARE(QString::asprintf("0x%02X", last.data.at(value.toUInt())), parts[1]);
        } else {
            const bool onSecond = head.startsWith(QLatin1String("2: "));
            last = run(onSecond ? *second : *handle, onSecond ? head.mid(3) : head);
            QCOMPARE(outcome(last), parts[1]);
        }
    }
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
    void sequential_data();
    void sequential();
    void switches_data();
    void switches();
    void longJobWithoutProgressStaysBusy();
    void eraseFollowsTheDiscsOwnSpeed_data();
    void eraseFollowsTheDiscsOwnSpeed();
    void descriptorSenseCarriesProgress();
    void timeOutAsTheKernelReportsIt();
    void exclusiveOpen();
    void wholeDiscReadsBackAfterZeroFill();
};

void TestVirtualQuirks::scripts_data()
{
    // Steps as play() reads them.
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
    // dvd+rw-format -lead-out: "data is not affected".
    QTest::newRow("restart keeps the data of a partly formatted disc")
        << 17 << QStringList{"bg 1", "node 36864", "RESTART26 = good", "bg 2",
                             "+500", "bg 3",       "node 36864"};
    QTest::newRow("background format runs its full time without a close")
        << 0 << QStringList{"FORMAT26 = good", "+3", "bg 2", "+990", "bg 2", "+10", "bg 3"};
    // MMC as libburn's cookbook reads it: writing a virgin DVD+RW starts the
    // background format; it cannot go on without the disc.
    QTest::newRow("first write starts it, eject stops it")
        << 0
        << QStringList{"2a000000000000000100/" + QString(QLatin1String("00")).repeated(2048) +
                           " = good",
                       "bg 2", "+10", "1b0000000200 = good", "bg 1"};
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
    play("emu-quirks.json", drive, steps);
}

namespace {

// WRITE(10) of `blocks` blocks at `lba`, every byte `fill`.
QString writeAt(unsigned lba, unsigned blocks, const char *fill = "b2")
{
    return QString::asprintf("2a00%08x00%04x00/", lba, blocks) +
           QString(QLatin1String(fill)).repeated(int(blocks) * 2048);
}

// MODE SELECT(10) of page 05h with bytes 2-4 (write type, multi-session and
// track mode, data block type), the page length as given.
QString page05(const char *bytes, unsigned pageLength = 0x32)
{
    const QString page = QString::asprintf("05%02x", pageLength) + QLatin1String(bytes);
    const QString padded =
        page + QString(QLatin1String("00")).repeated(2 + int(pageLength) - int(page.size()) / 2);
    return QString::asprintf("551000000000000%03x00/", 8 + 2 + pageLength) +
           QString(QLatin1String("00")).repeated(8) + padded;
}

} // namespace

void TestVirtualQuirks::sequential_data()
{
    // Steps as play() reads them, against emu-sequential.json.
    QTest::addColumn<int>("drive");
    QTest::addColumn<QStringList>("steps");
    const QString nextTrack = QStringLiteral("5201000000ff00002000");
    const QString firstTrack = QStringLiteral("52010000000100002000");
    // cdrskin -tao: page 05h TAO, Mode 1, single session; WRITE only at the
    // NWA (libburn mmc_get_nwa); SYNCHRONIZE CACHE, CLOSE SESSION.
    QTest::newRow("CD-RW TAO track, closed single-session, read back, blanked")
        << 0
        << QStringList{page05("410408") + " = good",
                       nextTrack + " = good",
                       "byte 7 = 0x01",
                       "byte 15 = 0x00",
                       writeAt(16, 16) + " = 70 05/21/02",
                       writeAt(0, 16) + " = good",
                       nextTrack + " = good",
                       "byte 15 = 0x10",
                       writeAt(0, 16) + " = 70 05/21/02",
                       writeAt(16, 16, "c3") + " = good",
                       "35000000000000000000 = good",
                       "5b010200000000000000 = good",
                       "status 2",
                       "25000000000000000000 = good",
                       "byte 3 = 0x1F",
                       "28000000001000000100 = good",
                       "byte 0 = 0xC3",
                       "43000000000000001400 = good",
                       "byte 11 = 0x00",
                       "byte 19 = 0x20",
                       writeAt(32, 16) + " = 70 05/21/02",
                       "BLANKFAST = good",
                       "+2",
                       "status 0",
                       nextTrack + " = good",
                       "byte 15 = 0x00",
                       "25000000000000000000 = good",
                       "byte 3 = 0x00"};
    // libburn with multi: page 05h multi-session 11b leaves the disc appendable.
    QTest::newRow("CD-RW multi-session: the next track in a second session")
        << 0
        << QStringList{page05("41c408") + " = good",
                       writeAt(0, 16) + " = good",
                       "DISCINFO = good",
                       "byte 2 = 0x15",
                       "5b010200000000000000 = good",
                       "status 1",
                       "DISCINFO = good",
                       "byte 2 = 0x11",
                       "byte 4 = 0x02",
                       "byte 5 = 0x02",
                       nextTrack + " = good",
                       "byte 2 = 0x02",
                       "byte 15 = 0x10",
                       "43000100000000000c00 = good",
                       "byte 3 = 0x01"};
    QTest::newRow("CD-RW page 05h: defaults, malformed pages, session-at-once")
        << 0
        << QStringList{"5a080500000000003c00 = good",
                       "byte 8 = 0x05",
                       "byte 9 = 0x32",
                       "byte 10 = 0x41",
                       "byte 12 = 0x08",
                       "5a08c500000000003c00 = 70 05/39/00",
                       page05("410408", 0x30) + " = 70 05/26/00",
                       page05("450408") + " = 70 05/26/00",
                       page05("418408") + " = 70 05/26/00",
                       "55100000000000000c00/" + QString(QLatin1String("00")).repeated(8) +
                           "05320000 = 70 05/1A/00",
                       page05("420408") + " = good",
                       "5a080500000000003c00 = good",
                       "byte 10 = 0x42",
                       writeAt(0, 16) + " = 70 05/2C/00"};
    // growisofs -Z on a fully blanked DVD-RW: incremental, CLOSE TRACK then
    // CLOSE SESSION (growisofs_mmc.cpp minus_r_finalize).
    QTest::newRow("DVD-RW incremental track, closed")
        << 1
        << QStringList{"5a080500000000003c00 = good",
                       "byte 10 = 0x60",
                       page05("410508") + " = 70 05/26/00",
                       page05("600508") + " = good",
                       writeAt(0, 32) + " = good",
                       "STOPBG = good",
                       firstTrack + " = good",
                       "byte 7 = 0x03",
                       "byte 15 = 0x20",
                       "5b010100000100000000 = good",
                       "status 1",
                       "5b010200000000000000 = good",
                       "status 2",
                       firstTrack + " = good",
                       "byte 7 = 0x02",
                       "byte 27 = 0x20",
                       "25000000000000000000 = good",
                       "byte 3 = 0x1F"};
    // dvd+rw-format -blank (minimal) then growisofs: no feature 21h, so DAO
    // with RESERVE TRACK; the drive closes the disc when the reservation is
    // written and the cache flushed.
    QTest::newRow("DVD-RW minimal blank: DAO into a reservation")
        << 2
        << QStringList{"BLANKFAST = good",
                       "+2",
                       "status 0",
                       page05("400508") + " = good",
                       writeAt(0, 16) + " = 70 05/64/00",
                       page05("420508") + " = good",
                       writeAt(0, 16) + " = 70 05/2C/00",
                       "53000000000001000100 = 70 05/24/00",
                       "53000000000000002000 = good",
                       "53000000000000002000 = 70 05/2C/00",
                       firstTrack + " = good",
                       "byte 6 = 0x81",
                       "byte 7 = 0x03",
                       "byte 27 = 0x20",
                       writeAt(0, 16) + " = good",
                       "35000000000000000000 = good",
                       "status 1",
                       writeAt(16, 32) + " = 70 05/21/02",
                       writeAt(16, 16) + " = good",
                       "35000000000000000000 = good",
                       "status 2",
                       "28000000000000000100 = good",
                       "byte 0 = 0xB2"};
    QTest::newRow("a read-only drive has no write parameters")
        << 3 << QStringList{"5a080500000000003c00 = 70 05/24/00"};
}

void TestVirtualQuirks::sequential()
{
    QFETCH(int, drive);
    QFETCH(QStringList, steps);
    play("emu-sequential.json", drive, steps);
}

void TestVirtualQuirks::switches_data()
{
    // Drives of emu-switches.json; steps as play() reads them.
    QTest::addColumn<int>("drive");
    QTest::addColumn<QStringList>("steps");
    const QString block = QString(QLatin1String("00")).repeated(2048);
    // A drive unplugged mid-blank: the kernel's sr driver answers ENODEV on
    // every handle and the node goes (libburn sg-linux.c: the drive is lost).
    QTest::newRow("vanishes during a blank")
        << 0 << QStringList{"BLANKFAST = good",    "+40",       "TUR = 70 02/04/07 progress",
                            "listed yes",          "+20",       "TUR = ENODEV",
                            "2: INQUIRY = ENODEV", "listed no", "open ENODEV"};
    // SG_IO's host status after a removal: DID_NO_CONNECT (libburn sg-linux.c,
    // sg3_utils sg_lib.c); a blocking blank ends with it.
    QTest::newRow("vanishes as DID_NO_CONNECT during a blocking blank")
        << 1
        << QStringList{"a10100000000000000000000 = host 01", "TUR = host 01", "2: TUR = host 01",
                       "listed no", "open ENODEV"};
    // sr.c sr_block_open: ENXIO once the device has gone.
    QTest::newRow("vanishes during a zero-fill")
        << 2
        << QStringList{"2a000000000000000100/" + block + " = good",
                       "2a000000040000000100/" + block + " = ENXIO", "TUR = ENXIO", "open ENXIO"};
    // Another initiator takes the deferred sense, as the kernel's own TEST
    // UNIT READY does (sr.c sr_media_change): this handle sees GOOD, the disc
    // keeps its content (dvd-rw.html). A blocking blank still gets its own
    // failure.
    QTest::newRow("deferred failure taken elsewhere")
        << 3
        << QStringList{"BLANKFAST = good",
                       "+40",
                       "TUR = 70 02/04/07 progress",
                       "+20",
                       "TUR = good",
                       "SENSE = good",
                       "byte 2 = 0x00",
                       "CONFIG = good",
                       "status 2",
                       "a10100000000000000000000 = 70 03/51/00",
                       "TUR = good",
                       "status 2"};
    // Odd answers while polling leave the drive blanking: the eject button
    // (06/5A/01), a reset (06/29/00), an aborted command, DID_ERROR twice,
    // EIO, ENOMEM, DRIVER_TIMEOUT with host status 0 as older kernels gave it.
    QTest::newRow("odd answers during a job do not stop it")
        << 4
        << QStringList{"TUR = good",
                       "BLANKFAST = good",
                       "TUR = 70 06/5A/01",
                       "TUR = 70 06/29/00",
                       "TUR = 70 0B/00/00",
                       "TUR = host 07",
                       "TUR = host 07",
                       "TUR = EIO",
                       "TUR = ENOMEM",
                       "TUR = driver 06",
                       "+50",
                       "TUR = 70 02/04/07 progress",
                       "+50",
                       "TUR = good",
                       "status 0"};
    QTest::newRow("numeric and permanent modes")
        << 4 << QStringList{"CONFIG = host 04",  "CONFIG = host 04",  "DISCINFO = ENODEV",
                            "DISCINFO = ENODEV", "DISCINFO = ENODEV", "DISCINFO = good",
                            "CONFIG = host 04"};
    // libburn sg-linux.c: udev and UDisks2 hold a new disc's drive; EBUSY on
    // O_EXCL for a while after the disc goes in, then it opens.
    QTest::newRow("busy after a disc change") << 5 << QStringList{"open EBUSY",
                                                                  "open EBUSY",
                                                                  "open ok",
                                                                  "open ok",
                                                                  "1b0000000200 = good",
                                                                  "open ok",
                                                                  "1b0000000300 = good",
                                                                  "open EBUSY",
                                                                  "open EBUSY",
                                                                  "open ok"};
    // dvd+rw-format.cpp: USB units insist on accurate lengths; libburn spc.c:
    // a "clueless" adapter answers 02/04/00 after a job.
    QTest::newRow("bridge: strict lengths, not ready after a job")
        << 6
        << QStringList{"DISCINFO = good",
                       "510000000000000100 00 = 70 05/24/00",
                       "FORMATCAPS = 70 05/24/00",
                       "CONFIG = good",
                       "46000000000000ffff00 = 70 05/24/00",
                       "23000000000000000c00 = good",
                       "BLANKFAST = good",
                       "+59",
                       "TUR = 70 02/04/07 progress",
                       "+2",
                       "TUR = 70 02/04/00",
                       "DISCINFO = good",
                       "+38",
                       "TUR = 70 02/04/00",
                       "+1",
                       "TUR = good"};
    QTest::newRow("bridge: not ready after a failed job too")
        << 12 << QStringList{"BLANKFAST = good",  "+30", "TUR = 70 03/51/00",
                             "TUR = 70 02/04/00", "+40", "TUR = good"};
    // growisofs plus_rw_restart_format: a partly formatted DVD+RW gives its
    // formatted half as current capacity (the 26h descriptor keeps the whole
    // disc) and takes writes beyond it only once the format is resumed.
    QTest::newRow("partly formatted refuses writes beyond its format")
        << 7
        << QStringList{"2a000000000000000100/" + block + " = good",
                       "2a00001182 9f00000100/" + block + " = good",
                       "2a00001182a000000100/" + block + " = 70 05/21/00",
                       "bg 1",
                       "FORMATCAPS = good",
                       "byte 6 = 0x82",
                       "byte 7 = 0xA0",
                       "byte 12 = 0x00",
                       "byte 13 = 0x23",
                       "RESTART26 = good",
                       "bg 2",
                       "2a00001182a000000100/" + block + " = good",
                       "FORMATCAPS = good",
                       "byte 6 = 0x05",
                       "byte 7 = 0x40"};
    // A drive held to the write speed writes its buffer (4 KiB here) out at
    // the rate: a WRITE is answered when its data fits the buffer, SYNCHRONIZE
    // CACHE when it is empty (growisofs reports its speed as the bytes written
    // over the time taken, the flush included); a refused WRITE takes none.
    const auto blocksAt8x = [](int blocks) -> QString {
        return "at " + QString::number(blocks * 2048 / 11080000.0, 'g', 17);
    };
    QTest::newRow("write at the disc's speed")
        << 13
        << QStringList{"2a000000000000000100/" + block + " = good",
                       "at 0",
                       "2a000000010000000100/" + block + " = good",
                       "at 0",
                       "2a000000020000000100/" + block + " = good",
                       blocksAt8x(1),
                       "2a000000080000000100/" + block + " = 70 05/21/00",
                       blocksAt8x(1),
                       "35000000000000000000 = good",
                       blocksAt8x(3)};
    QTest::newRow("write takes no time by default")
        << 7 << QStringList{"2a000000000000000100/" + block + " = good", "at 0"};
    QTest::newRow("STOP UNIT stops a background format")
        << 8 << QStringList{"FORMAT26 = good", "+3", "bg 2", "1b0000000000 = good", "bg 1"};
    // Without the switch STOP UNIT leaves the background format running; a
    // reset reported while it runs (duringJob) does not stop it either.
    QTest::newRow("STOP UNIT and a reset leave it running by default")
        << 9
        << QStringList{
               "DISCINFO = good", "FORMAT26 = good",     "+3",  "bg 2", "DISCINFO = 70 06/29/00",
               "DISCINFO = good", "1b0000000000 = good", "bg 2"};
    // libburn mmc.c: a drive lists quick certification and refuses it.
    QTest::newRow("certification listed but refused")
        << 10
        << QStringList{"46020023000000001000 = good", "byte 12 = 0x03", "CERTQUICK = 70 05/24/00",
                       "CERTFULL = good"};
    // dvd+rw-format.cpp: FORMAT 15h with block count 0; libburn mmc.c: the
    // disc stays intermediate (format descriptor type 3, disc and session
    // incomplete) until CLOSE SESSION.
    QTest::newRow("DVD-RW quick format with block count 0")
        << 11
        << QStringList{"profile 14",
                       "FORMAT15 = good",
                       "+59",
                       "TUR = 70 02/04/04 progress",
                       "+1",
                       "TUR = good",
                       "profile 13",
                       "capacity 3",
                       "DISCINFO = good",
                       "byte 2 = 0x15",
                       "status 1",
                       "CLOSE = good",
                       "capacity 2",
                       "DISCINFO = good",
                       "byte 2 = 0x1E",
                       "status 2"};
}

void TestVirtualQuirks::switches()
{
    QFETCH(int, drive);
    QFETCH(QStringList, steps);
    play("emu-switches.json", drive, steps);
}

// A 4x CD-RW full blank (20 simulated minutes) with no progress under a fast
// clock: it ends, and until then every poll says "long write in progress"
// without a progress field (libburn spc.c and dvd+rw-tools wait_for_unit
// keep polling while the drive says so).
void TestVirtualQuirks::longJobWithoutProgressStaysBusy()
{
    std::string error;
    auto bay = VirtualBay::fromJson(R"({"timeFactor": 2400, "drives": [{"model": "cd-writer",
        "disc": {"profile": "CD-RW", "eraseSpeedKBps": "typical"},
        "faults": {"progress": "none"}}]})",
                                    error);
    QVERIFY2(bay, error.c_str());
    auto handle = openDrive(*bay, 0);
    QCOMPARE(outcome(run(*handle, "BLANKFULL")), QStringLiteral("good"));
    QString answer;
    for (int poll = 0; poll < 100000 && answer != QLatin1String("good"); ++poll) {
        answer = outcome(run(*handle, "TUR"));
        if (answer == QLatin1String("good"))
            break;
        QCOMPARE(answer, QStringLiteral("70 02/04/07"));
        const Exchange sense = run(*handle, "SENSE");
        // The job runs on the steady clock: it may end between the two commands.
        if (sense.data[2] == 0)
            continue;
        QCOMPARE(QString::asprintf("%02X/%02X/%02X SKSV %d", sense.data[2], sense.data[12],
                                   sense.data[13], sense.data[15] >> 7),
                 QStringLiteral("02/04/07 SKSV 0"));
        QTest::qWait(5);
    }
    QCOMPARE(answer, QStringLiteral("good"));
    QVERIFY(bay->clock().now() >= 359849 * 2352.0 / 706000.0);
    QCOMPARE(bay->drive(0).discStatus(), 0);
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
