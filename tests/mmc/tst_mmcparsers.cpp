#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcParsers.h"
#include "library/mmc/MmcSense.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <map>

using namespace blankora::mmc;

namespace {

using Reply = std::vector<uint8_t>;
// ok and text of any parser, so that all of them fit one table.
using Outcome = std::pair<bool, std::string>;
using AnyParser = std::function<Outcome(Bytes)>;

template <class T> AnyParser wrap(MmcResult<T> (*parse)(Bytes))
{
    return [parse](Bytes d) {
        const auto r = parse(d);
        return Outcome{r.ok, r.text};
    };
}

const std::map<QString, AnyParser> &parsers()
{
    static const std::map<QString, AnyParser> all{
        {"sense", wrap(parseSense)},
        {"inquiry", wrap(parseInquiry)},
        {"configuration", wrap(parseConfiguration)},
        {"discinfo", wrap(parseDiscInformation)},
        {"trackinfo", wrap(parseTrackInformation)},
        {"toc", wrap(parseToc)},
        {"fulltoc", wrap(parseFullToc)},
        {"atip", wrap(parseAtip)},
        {"capacity", wrap(parseCapacity)},
        {"formatcapacities", wrap(parseFormatCapacities)},
        {"page2a", wrap(parseCapabilitiesPage)},
        {"writespeeds", wrap(parseWriteSpeeds)},
        {"performance", wrap(parsePerformance)},
        {"rpc", wrap(parseRpcState)},
    };
    return all;
}

void put16(Reply &r, size_t at, uint32_t v)
{
    r[at] = static_cast<uint8_t>(v >> 8);
    r[at + 1] = static_cast<uint8_t>(v);
}

void put32(Reply &r, size_t at, uint32_t v)
{
    put16(r, at, v >> 16);
    put16(r, at + 2, v);
}

void putText(Reply &r, size_t at, const char *text, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        r[at + i] = text[i] ? static_cast<uint8_t>(text[i]) : ' ';
}

Reply inquiryReply()
{
    Reply r(36, 0);
    r[0] = 0x05;
    r[1] = 0x80;
    r[2] = 0x05;
    r[4] = 31;
    putText(r, 8, "HL-DT-ST\0", 8);
    putText(r, 16, "DVDRAM GH24NSD1\0", 16);
    putText(r, 32, "LG00", 4);
    return r;
}

// Page 2Ah with an 8-byte block descriptor in front, the way some drives send it.
Reply capabilitiesReply(uint16_t descriptors)
{
    const size_t pageLength = 32 + 4 * descriptors;
    Reply r(8 + 8 + pageLength, 0);
    put16(r, 0, static_cast<uint32_t>(r.size() - 2));
    put16(r, 6, 8);
    const size_t p = 16;
    r[p] = 0x2A;
    r[p + 1] = static_cast<uint8_t>(pageLength - 2);
    r[p + 3] = 0x03;        // writes CD-R and CD-RW
    r[p + 6] = 0x2B;        // tray, eject, locked, lock supported
    put16(r, p + 8, 7056);  // max read
    put16(r, p + 12, 2048); // buffer KiB
    put16(r, p + 18, 4234); // obsolete max write
    put16(r, p + 20, 706);  // obsolete current write
    put16(r, p + 28, 1764); // current write
    put16(r, p + 30, descriptors);
    const uint16_t speeds[] = {5645, 0, 2822, 1764};
    for (uint16_t i = 0; i < descriptors; ++i)
        put16(r, p + 32 + 4 * i + 2, speeds[i % 4]);
    return r;
}

// A drive behind a USB bridge with strict lengths (dvd+rw-format.cpp: USB
// units "absolutely insist on accurate" lengths): a data-in command whose
// allocation exceeds the reply fails with 05/24/00 and transfers nothing.
// GET PERFORMANCE replies with as many of its descriptors as asked for.
class StrictBridge : public blankora::transport::ScsiTransport
{
public:
    std::map<uint8_t, Reply> replies;
    std::vector<Reply> performance; // 16-byte descriptors
    std::map<uint8_t, size_t> lastAllocation;

    std::string deviceNode() const override { return "/dev/sr-bridge"; }

    blankora::transport::ScsiResult execute(const blankora::transport::ScsiCommand &c) override
    {
        const uint8_t op = c.cdb[0];
        Reply reply = op == 0xAC ? performanceReply(size_t(c.cdb[8]) << 8 | c.cdb[9]) : replies[op];
        const size_t allocation = op == 0xAC ? 8 + 16 * (size_t(c.cdb[8]) << 8 | c.cdb[9])
                                             : size_t(c.cdb[7]) << 8 | c.cdb[8];
        lastAllocation[op] = allocation;
        blankora::transport::ScsiResult r;
        if (allocation > reply.size() || allocation != c.dataIn.size()) {
            r.category = blankora::transport::ResultCategory::CheckCondition;
            r.status = 2;
            r.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
            r.residual = c.dataIn.size();
            return r;
        }
        std::copy_n(reply.begin(), allocation, c.dataIn.begin());
        return r;
    }

    Reply performanceReply(size_t asked) const
    {
        const size_t n = std::min(asked, performance.size());
        Reply r(8, 0);
        put32(r, 0, static_cast<uint32_t>(4 + 16 * performance.size()));
        for (size_t i = 0; i < n; ++i)
            r.insert(r.end(), performance[i].begin(), performance[i].end());
        return r;
    }
};

Reply descriptor16(uint32_t endLba, uint32_t speed)
{
    Reply d(16, 0);
    put32(d, 4, endLba);
    put32(d, 8, speed);
    put32(d, 12, speed);
    return d;
}

} // namespace

// Decoding of the drive's answers, and their refusal of anything malformed.
class TestMmcParsers : public QObject
{
    Q_OBJECT

private slots:
    void malformedRepliesFail_data();
    void malformedRepliesFail();
    void randomRepliesNeverCrash();
    void everyTruncationOfAValidReplyIsSafe();

    void inquiryStringsAreTrimmed();
    void configurationProfilesAndFeatures();
    void discInformationFields();
    void trackInformationClampsNegativeNwa();
    void capabilitiesPageSpeedsAndLock();
    void capabilitiesPageOldLayout();
    void writeSpeedDescriptors();
    void formatCapacitiesList();
    void rpcState();
    void atipAndMsf();
    void senseProgress_data();
    void senseProgress();
    void failureTextCarriesUserTextAndTriple();
    void strictBridgeGetsExactLengths_data();
    void strictBridgeGetsExactLengths();
};

void TestMmcParsers::malformedRepliesFail_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<QByteArray>("reply");

    const auto bytes = [](std::initializer_list<int> values) {
        QByteArray a;
        for (int v : values)
            a.append(static_cast<char>(v));
        return a;
    };
    QTest::newRow("sense empty") << "sense" << QByteArray();
    QTest::newRow("sense unknown response code") << "sense" << QByteArray(18, '\x20');
    QTest::newRow("sense fixed 5 bytes") << "sense" << bytes({0x70, 0, 2, 0, 0});
    QTest::newRow("sense descriptor 3 bytes") << "sense" << bytes({0x72, 2, 0x3A});
    QTest::newRow("inquiry 35 bytes") << "inquiry" << QByteArray(35, 'A');
    QTest::newRow("configuration empty") << "configuration" << QByteArray();
    QTest::newRow("configuration length 0") << "configuration" << QByteArray(8, '\0');
    QTest::newRow("discinfo 23 bytes") << "discinfo" << bytes({0, 32}) + QByteArray(21, '\0');
    QTest::newRow("discinfo announces 10") << "discinfo" << bytes({0, 10}) + QByteArray(32, '\0');
    QTest::newRow("trackinfo 27 bytes") << "trackinfo" << bytes({0, 46}) + QByteArray(25, '\0');
    QTest::newRow("toc 3 bytes") << "toc" << bytes({0, 2, 1});
    QTest::newRow("toc length 0") << "toc" << bytes({0, 0, 1, 1});
    QTest::newRow("fulltoc 1 byte") << "fulltoc" << bytes({0});
    QTest::newRow("atip 14 bytes") << "atip" << bytes({0, 26}) + QByteArray(12, '\0');
    QTest::newRow("capacity 7 bytes") << "capacity" << QByteArray(7, '\0');
    QTest::newRow("formatcapacities list 7")
        << "formatcapacities" << bytes({0, 0, 0, 7}) + QByteArray(8, '\0');
    QTest::newRow("formatcapacities type 0")
        << "formatcapacities" << bytes({0, 0, 0, 8, 0, 1, 0, 0, 0, 0, 8, 0});
    QTest::newRow("page2a header only") << "page2a" << bytes({0, 6, 0, 0, 0, 0, 0, 0});
    QTest::newRow("page2a block descriptor beyond reply")
        << "page2a" << bytes({0, 30, 0, 0, 0, 0, 0xFF, 0xF0}) + QByteArray(24, '\0');
    QTest::newRow("page2a wrong page")
        << "page2a" << bytes({0, 30, 0, 0, 0, 0, 0, 0, 0x05, 20}) + QByteArray(20, '\0');
    QTest::newRow("page2a page of 10 bytes")
        << "page2a" << bytes({0, 16, 0, 0, 0, 0, 0, 0, 0x2A, 8}) + QByteArray(8, '\0');
    QTest::newRow("writespeeds 7 bytes") << "writespeeds" << QByteArray(7, '\0');
    QTest::newRow("performance length 2") << "performance" << bytes({0, 0, 0, 2, 0, 0, 0, 0});
    QTest::newRow("rpc 6 bytes") << "rpc" << bytes({0, 6, 0, 0, 0x45, 0xFF});
}

void TestMmcParsers::malformedRepliesFail()
{
    QFETCH(QString, parser);
    QFETCH(QByteArray, reply);
    const Reply data(reply.begin(), reply.end());
    const auto [ok, text] = parsers().at(parser)(data);
    QVERIFY(!ok);
    QVERIFY2(!text.empty(), "a failed parse must say why");
}

void TestMmcParsers::randomRepliesNeverCrash()
{
    QRandomGenerator random(20261207);
    for (const auto &[name, parse] : parsers()) {
        for (int round = 0; round < 3000; ++round) {
            // Exact-size heap buffers, so that a read past the end is a real overrun.
            Reply data(random.bounded(80) < 60 ? random.bounded(64) : random.bounded(600));
            for (uint8_t &b : data)
                b = static_cast<uint8_t>(random.bounded(256));
            // Plausible length fields reach deeper into the parsers.
            if (data.size() >= 4 && round % 2)
                data[0] = data[1] = 0;
            const auto [ok, text] = parse(data);
            if (!ok)
                QVERIFY2(!text.empty(), qPrintable(name));
        }
    }
}

void TestMmcParsers::everyTruncationOfAValidReplyIsSafe()
{
    const Reply full = capabilitiesReply(4);
    for (size_t n = 0; n < full.size(); ++n) {
        const Reply cut(full.begin(), full.begin() + n);
        const auto page = parseCapabilitiesPage(cut);
        // A cut page never invents descriptors it did not receive.
        if (page.ok)
            QVERIFY(page.value.writeSpeeds.size() <= (n > 48 ? (n - 48) / 4 : 0));
        else
            QVERIFY(!page.text.empty());
    }
    const Reply inquiry = inquiryReply();
    for (size_t n = 0; n < inquiry.size(); ++n)
        QVERIFY(!parseInquiry(Bytes(inquiry.data(), n)).ok);
}

void TestMmcParsers::inquiryStringsAreTrimmed()
{
    Reply r = inquiryReply();
    r[20] = 0x07; // a control byte inside the product name
    const auto q = parseInquiry(r);
    QVERIFY(q.ok);
    QCOMPARE(q.value.deviceType, uint8_t(5));
    QVERIFY(q.value.removable);
    QCOMPARE(q.value.vendor, std::string("HL-DT-ST"));
    QCOMPARE(q.value.product, std::string("DVDR?M GH24NSD1"));
    QCOMPARE(q.value.revision, std::string("LG00"));
}

void TestMmcParsers::configurationProfilesAndFeatures()
{
    Reply r(8, 0);
    put16(r, 6, 0x000A);
    // Profile list: CD-RW (current), CD-R, CD-ROM.
    r.insert(r.end(),
             {0x00, 0x00, 0x03, 12, 0x00, 0x0A, 0x01, 0, 0x00, 0x09, 0x00, 0, 0x00, 0x08, 0x00, 0});
    r.insert(r.end(), {0x00, 0x2D, 0x09, 4, 0x42, 0, 0, 0}); // CD TAO, current
    r.insert(r.end(), {0x01, 0x07, 0x0A, 4, 0x0A, 0, 0, 0}); // RTS: SCS + WSPD
    r.insert(r.end(), {0x00, 0x2F, 0x08, 8, 0x40, 0, 0, 0}); // cut off by the allocation
    put32(r, 0, static_cast<uint32_t>(r.size()));            // announces 4 bytes more than sent

    const auto c = parseConfiguration(r);
    QVERIFY(c.ok);
    QCOMPARE(c.value.currentProfile, uint16_t(0x0A));
    QCOMPARE(c.value.profiles.size(), size_t(3));
    QVERIFY(c.value.profiles[0].current);
    QVERIFY(!c.value.profiles[1].current);
    QVERIFY(c.value.supportsProfile(0x09));
    QVERIFY(!c.value.supportsProfile(0x1A));
    QVERIFY(c.value.isCurrent(0x002D));
    QVERIFY(!c.value.has(0x002F));
    QVERIFY(c.value.canWrite());
    QVERIFY(c.value.setCdSpeedSupported());
    QVERIFY(c.value.getPerformanceSupported());
    QVERIFY(!c.value.writeSpeedDescriptorsInPage());

    // A read-only drive: only a CD-ROM profile and no write feature.
    Reply rom(8, 0);
    rom.insert(rom.end(), {0x00, 0x00, 0x03, 4, 0x00, 0x08, 0x00, 0});
    put32(rom, 0, static_cast<uint32_t>(rom.size() - 4));
    const auto romConfig = parseConfiguration(rom);
    QVERIFY(romConfig.ok);
    QCOMPARE(romConfig.value.currentProfile, uint16_t(0));
    QVERIFY(!romConfig.value.canWrite());
}

void TestMmcParsers::discInformationFields()
{
    Reply r(34, 0);
    put16(r, 0, 32);
    r[2] = 0x10 | 0x0C | 0x01; // erasable, last session complete, appendable
    r[3] = 1;
    r[4] = 0x02;              // sessions LSB
    r[9] = 0x01;              // sessions MSB
    r[6] = 0x05;              // last track LSB
    r[7] = 0x23;              // URU, BG status 3
    put32(r, 20, 0x004F3B4A); // 79:59:74
    const auto d = parseDiscInformation(r);
    QVERIFY(d.ok);
    QVERIFY(d.value.erasable);
    QCOMPARE(d.value.discStatus, uint8_t(1));
    QCOMPARE(d.value.lastSessionState, uint8_t(3));
    QCOMPARE(d.value.sessions, uint16_t(0x0102));
    QCOMPARE(d.value.lastTrackInLastSession, uint16_t(5));
    QCOMPARE(d.value.bgFormatStatus, uint8_t(3));
    QVERIFY(d.value.unrestrictedUse);
    QCOMPARE(msfFieldToLba(d.value.lastPossibleLeadOut), 359849);
}

void TestMmcParsers::trackInformationClampsNegativeNwa()
{
    Reply r(36, 0);
    put16(r, 0, 34);
    r[2] = 1;
    r[3] = 1;
    r[6] = 0x40; // blank
    r[7] = 0x01; // NWA valid
    put32(r, 12, static_cast<uint32_t>(-150));
    put32(r, 16, 359849);
    const auto t = parseTrackInformation(r);
    QVERIFY(t.ok);
    QVERIFY(t.value.blank);
    QVERIFY(t.value.nwaValid);
    QCOMPARE(t.value.nextWritable, uint32_t(0));
    QCOMPARE(t.value.freeBlocks, uint32_t(359849));
    QCOMPARE(t.value.track, uint16_t(1));

    put32(r, 12, 1200);
    QCOMPARE(parseTrackInformation(r).value.nextWritable, uint32_t(1200));
}

void TestMmcParsers::capabilitiesPageSpeedsAndLock()
{
    const auto c = parseCapabilitiesPage(capabilitiesReply(4));
    QVERIFY2(c.ok, c.text.c_str());
    QCOMPARE(c.value.writeBits, uint8_t(0x03));
    QVERIFY(c.value.lockSupported);
    QVERIFY(c.value.locked);
    QVERIFY(c.value.ejectSupported);
    QCOMPARE(c.value.loadingMechanism, uint8_t(1));
    QCOMPARE(c.value.bufferSizeKiB, uint16_t(2048));
    QCOMPARE(c.value.currentWriteSpeed, uint16_t(1764)); // bytes 28-29 win over 20-21
    QCOMPARE(c.value.writeSpeeds.size(), size_t(3));     // the zero entry is dropped
    QCOMPARE(c.value.maxWriteSpeed, uint16_t(5645));     // faster than the old field
}

void TestMmcParsers::capabilitiesPageOldLayout()
{
    // MMC-2 page: 20 bytes, no bytes 28-29, no descriptors, no block descriptor.
    Reply r(8 + 20, 0);
    put16(r, 0, static_cast<uint32_t>(r.size() - 2));
    r[8] = 0x2A;
    r[9] = 18;
    put16(r, 8 + 18, 2822);
    const auto c = parseCapabilitiesPage(r);
    QVERIFY2(c.ok, c.text.c_str());
    QCOMPARE(c.value.maxWriteSpeed, uint16_t(2822));
    QCOMPARE(c.value.currentWriteSpeed, uint16_t(0));
    QVERIFY(c.value.writeSpeeds.empty());
}

void TestMmcParsers::writeSpeedDescriptors()
{
    Reply r(8 + 3 * 16, 0);
    put32(r, 0, 4 + 2 * 16 + 8); // announces two and a half descriptors
    r[8] = 0x08 | 0x02;          // CAV, exact
    put32(r, 8 + 4, 2295103);
    put32(r, 8 + 8, 22160);
    put32(r, 8 + 12, 11080);
    put32(r, 24 + 12, 70000);
    put32(r, 40 + 12, 99999);
    const auto w = parseWriteSpeeds(r);
    QVERIFY(w.ok);
    QCOMPARE(w.value.size(), size_t(2));
    QCOMPARE(w.value[0].rotation, uint8_t(1));
    QVERIFY(w.value[0].exact);
    QCOMPARE(w.value[0].endLba, uint32_t(2295103));
    QCOMPARE(w.value[0].writeSpeed, uint32_t(11080));
    QCOMPARE(w.value[1].writeSpeed, uint32_t(70000)); // above 16 bits (BD)
}

void TestMmcParsers::formatCapacitiesList()
{
    Reply r{0, 0, 0, 24};
    r.insert(r.end(), {0x00, 0xB4, 0x80, 0x00, 0x01, 0x00, 0x08, 0x00}); // unformatted
    r.insert(r.end(), {0x00, 0xB4, 0x80, 0x00, 0x00, 0x00, 0x08, 0x00}); // type 00h
    r.insert(r.end(), {0x00, 0xB4, 0x80, 0x00, 0xC0, 0x00, 0x30, 0x00}); // type 30h
    const auto f = parseFormatCapacities(r);
    QVERIFY(f.ok);
    QCOMPARE(f.value.currentType, CapacityType::Unformatted);
    QCOMPARE(f.value.currentBlocks, uint32_t(0xB48000));
    QCOMPARE(f.value.formats.size(), size_t(2));
    QVERIFY(f.value.find(0x30));
    QCOMPARE(f.value.find(0x30)->parameter, uint32_t(0x3000));
    QVERIFY(!f.value.find(0x26));
}

void TestMmcParsers::rpcState()
{
    const Reply r{0, 6, 0, 0, 0x40 | 0x20 | 0x05, 0xFD, 0x01, 0};
    const auto s = parseRpcState(r);
    QVERIFY(s.ok);
    QCOMPARE(s.value.typeCode, uint8_t(1));
    QCOMPARE(s.value.vendorResets, uint8_t(4));
    QCOMPARE(s.value.userChanges, uint8_t(5));
    QCOMPARE(s.value.regionMask, uint8_t(0xFD));
    QCOMPARE(s.value.rpcScheme, uint8_t(1));
}

void TestMmcParsers::atipAndMsf()
{
    Reply r(28, 0);
    put16(r, 0, 26);
    r[6] = 0x40 | 0x08; // CD-RW, sub-type 1
    r[8] = 97;
    r[9] = 26;
    r[10] = 66;
    r[12] = 79;
    r[13] = 59;
    r[14] = 74;
    const auto a = parseAtip(r);
    QVERIFY(a.ok);
    QVERIFY(a.value.rewritable);
    QCOMPARE(a.value.subType, uint8_t(1));
    QCOMPARE(a.value.lastPossibleLeadOut, 359849);
    QVERIFY(a.value.leadInStart < 0);
    QCOMPARE(msfToLba(0, 2, 0), 0);
}

void TestMmcParsers::senseProgress_data()
{
    QTest::addColumn<QByteArray>("sense");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("asc");
    QTest::addColumn<int>("ascq");
    QTest::addColumn<bool>("deferred");
    QTest::addColumn<int>("progress"); // -1 = none

    QByteArray fixed(18, '\0');
    fixed[0] = char(0x70);
    fixed[2] = 0x02;
    fixed[7] = 10;
    fixed[12] = 0x04;
    fixed[13] = 0x07;
    fixed[15] = char(0x80);
    fixed[16] = char(0x80);
    QTest::newRow("fixed, blank running at 50 %") << fixed << 2 << 0x04 << 0x07 << false << 0x8000;

    QByteArray noSksv = fixed;
    noSksv[15] = 0;
    QTest::newRow("fixed without SKSV") << noSksv << 2 << 0x04 << 0x07 << false << -1;

    QByteArray illegal = fixed;
    illegal[2] = 0x05;
    illegal[12] = 0x24;
    illegal[13] = 0;
    QTest::newRow("SKSV on ILLEGAL REQUEST is a field pointer")
        << illegal << 5 << 0x24 << 0 << false << -1;

    QByteArray deferred = fixed;
    deferred[0] = char(0x71);
    deferred[2] = 0x03;
    deferred[12] = 0x51;
    deferred[13] = 0;
    QTest::newRow("deferred erase failure") << deferred << 3 << 0x51 << 0 << true << -1;

    QByteArray shortAdditional = fixed;
    shortAdditional[7] = 6; // record ends before the progress bytes
    QTest::newRow("fixed, additional length 6")
        << shortAdditional << 2 << 0x04 << 0x07 << false << -1;

    const QByteArray descriptor("\x72\x02\x04\x04\0\0\0\x08\x02\x06\0\0\x80\x40\x00\0", 16);
    QTest::newRow("descriptor, sense-key specific")
        << descriptor << 2 << 0x04 << 0x04 << false << 0x4000;

    const QByteArray progressDesc("\x72\x00\x00\x00\0\0\0\x08\x0A\x06\x02\x04\x07\0\x20\x00", 16);
    QTest::newRow("descriptor, progress indication")
        << progressDesc << 0 << 0 << 0 << false << 0x2000;

    const QByteArray brokenDesc("\x73\x02\x04\x07\0\0\0\x40\x02\x30", 10);
    QTest::newRow("descriptor running past the record")
        << brokenDesc << 2 << 0x04 << 0x07 << true << -1;
}

void TestMmcParsers::senseProgress()
{
    QFETCH(QByteArray, sense);
    QFETCH(int, key);
    QFETCH(int, asc);
    QFETCH(int, ascq);
    QFETCH(bool, deferred);
    QFETCH(int, progress);
    const Reply data(sense.begin(), sense.end());
    const auto s = parseSense(data);
    QVERIFY2(s.ok, s.text.c_str());
    QCOMPARE(int(s.value.senseKey), key);
    QCOMPARE(int(s.value.asc), asc);
    QCOMPARE(int(s.value.ascq), ascq);
    QCOMPARE(s.value.deferred, deferred);
    QCOMPARE(s.value.progressValid, progress >= 0);
    if (progress >= 0)
        QCOMPARE(int(s.value.progress), progress);
}

void TestMmcParsers::failureTextCarriesUserTextAndTriple()
{
    blankora::transport::ScsiResult r;
    r.category = blankora::transport::ResultCategory::CheckCondition;
    r.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00, 0, 0, 0, 0};
    QCOMPARE(
        describeFailure(r),
        std::string("There is no disc in the drive. [02/3A/00 Not Ready: Medium not present]"));

    // The transport's text (its own format) is not repeated.
    r.sense = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x51, 0x00, 0, 0, 0, 0};
    r.text = "[03/51/00 Medium Error: Erase failure]";
    QCOMPARE(describeFailure(r, "BLANK"),
             std::string("BLANK: Erasing failed. [03/51/00 Medium Error: Erase failure]"));

    r.sense = {0x70, 0, 0x04, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x44, 0x00, 0, 0, 0, 0};
    QCOMPARE(describeFailure(r), std::string("The drive reported a hardware error. [04/44/00 "
                                             "Hardware Error: Internal target failure]"));

    // A locked tray without a disc is NOT READY on QEMU's drives, not a drive
    // that is not ready.
    r.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x53, 0x02, 0, 0, 0, 0};
    QCOMPARE(describeFailure(r, "START STOP UNIT"),
             std::string("START STOP UNIT: The tray is locked. [02/53/02 Not Ready: Medium "
                         "removal prevented]"));
    r.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x53, 0x00, 0, 0, 0, 0};
    QCOMPARE(describeFailure(r), std::string("The drive could not load or eject the disc. "
                                             "[02/53/00 Not Ready: Media load or eject failed]"));

    blankora::transport::ScsiResult lost;
    lost.category = blankora::transport::ResultCategory::OsError;
    lost.text = "The device /dev/sr0 is gone.";
    QCOMPARE(describeFailure(lost), lost.text);
}

// Each variable-length query over a strict bridge: read in two passes, the last
// one with exactly the length the reply announces (dvd+rw-format.cpp for READ
// FORMAT CAPACITIES, growisofs_mmc.cpp and libburn mmc.c for GET PERFORMANCE).
// Garbage lengths end in a failure with a text, never a read past the reply.
void TestMmcParsers::strictBridgeGetsExactLengths_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("descriptors"); // GET PERFORMANCE descriptors the drive holds
    QTest::addColumn<QString>("expected");

    QTest::newRow("READ FORMAT CAPACITIES") << "formats" << 0 << "ok 2 formats, allocation 28";
    QTest::newRow("READ DISC INFORMATION 32 bytes")
        << "discinfo" << 0 << "ok status 3, allocation 32";
    QTest::newRow("GET CONFIGURATION") << "config" << 0 << "ok 1 features, allocation 28";
    QTest::newRow("GET PERFORMANCE write speeds") << "speeds" << 3 << "ok 3 speeds, allocation 56";
    QTest::newRow("GET PERFORMANCE no write speeds")
        << "speeds" << 0 << "ok 0 speeds, allocation 8";
    QTest::newRow("GET PERFORMANCE current of 2")
        << "current" << 2 << "ok 11080 kB/s, allocation 24";
    QTest::newRow("GET PERFORMANCE no current") << "current" << 0 << "failed";
    QTest::newRow("READ DISC INFORMATION length overflows") << "discinfo-huge" << 0 << "failed";
    QTest::newRow("READ FORMAT CAPACITIES list of 7") << "formats-odd" << 0 << "failed";
}

void TestMmcParsers::strictBridgeGetsExactLengths()
{
    QFETCH(QString, query);
    QFETCH(int, descriptors);
    QFETCH(QString, expected);
    StrictBridge drive;
    Reply formats{0, 0, 0, 24};
    formats.insert(formats.end(), {0x00, 0x23, 0x0F, 0x50, 0x02, 0x00, 0x08, 0x00});
    formats.insert(formats.end(), {0x00, 0x23, 0x0F, 0x50, 0x98, 0x00, 0x00, 0x00}); // 26h
    formats.insert(formats.end(), {0x00, 0x23, 0x0F, 0x50, 0x00, 0x00, 0x08, 0x00}); // 00h
    if (query == "formats-odd")
        formats[3] = 7;
    drive.replies[0x23] = formats;
    Reply disc(32, 0);
    put16(disc, 0, query == "discinfo-huge" ? 0xFFFF : 30);
    disc[2] = 0x13;
    drive.replies[0x51] = disc;
    Reply config(8, 0);
    put16(config, 6, 0x002A);
    config.insert(config.end(), {0x00, 0x00, 0x03, 4, 0x00, 0x2A, 0x01, 0});       // profile list
    config.insert(config.end(), {0x00, 0x23, 0x05, 8, 0x03, 0, 0, 0, 0, 0, 0, 0}); // 0023h
    put32(config, 0, static_cast<uint32_t>(config.size() - 4));
    drive.replies[0x46] = config;
    for (int i = 0; i < descriptors; ++i)
        drive.performance.push_back(descriptor16(2295103, 11080 * (i + 1)));

    QString got;
    const auto outcome = [&](const auto &r, uint8_t op, const QString &what) {
        got = r.ok ? QString("ok %1, allocation %2").arg(what).arg(drive.lastAllocation[op])
                   : QString("failed");
        if (!r.ok)
            QVERIFY2(!r.text.empty(), "a failure must say why");
    };
    if (query.startsWith("formats")) {
        const auto r = readFormatCapacities(drive);
        outcome(r, 0x23, QString("%1 formats").arg(r.value.formats.size()));
    } else if (query.startsWith("discinfo")) {
        const auto r = readDiscInformation(drive);
        outcome(r, 0x51, QString("status %1").arg(r.value.discStatus));
    } else if (query == "config") {
        const auto r = getConfiguration(drive);
        outcome(r, 0x46, QString("%1 features").arg(r.value.features.size()));
    } else if (query == "speeds") {
        const auto r = getWriteSpeeds(drive);
        outcome(r, 0xAC, QString("%1 speeds").arg(r.value.size()));
    } else {
        const auto r = getCurrentWritePerformance(drive);
        outcome(r, 0xAC, QString("%1 kB/s").arg(r.value.endPerformance));
    }
    QCOMPARE(got, expected);
}

QTEST_MAIN(TestMmcParsers)
#include "tst_mmcparsers.moc"
