#include "library/mmc/MmcParsers.h"

#include "library/mmc/MmcText.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <optional>

namespace blankora::mmc {

namespace {

// Every read goes through these after the caller has checked the length;
// they still return 0 outside the span so that a missed check cannot read
// out of bounds.
uint8_t at(Bytes d, size_t i)
{
    return i < d.size() ? d[i] : 0;
}

uint16_t be16(Bytes d, size_t i)
{
    return static_cast<uint16_t>(at(d, i) << 8 | at(d, i + 1));
}

uint32_t be24(Bytes d, size_t i)
{
    return static_cast<uint32_t>(at(d, i)) << 16 | static_cast<uint32_t>(at(d, i + 1)) << 8 |
           at(d, i + 2);
}

uint32_t be32(Bytes d, size_t i)
{
    return static_cast<uint32_t>(at(d, i)) << 24 | be24(d, i + 1);
}

std::string tooShort(const char *reply, size_t have, size_t need)
{
    return QCoreApplication::translate("Mmc",
                                       "The drive's %1 answer is too short (%2 bytes, %3 needed).")
        .arg(QString::fromLatin1(reply))
        .arg(have)
        .arg(need)
        .toStdString();
}

std::string malformed(const char *reply, const char *why)
{
    return QCoreApplication::translate("Mmc", "The drive's %1 answer is malformed: %2.")
        .arg(QString::fromLatin1(reply), QCoreApplication::translate("Mmc", why))
        .toStdString();
}

// The bytes a reply's own length field covers, limited to what was transferred.
Bytes announced(Bytes d, size_t lengthFieldSize, uint32_t length)
{
    // In 64 bits: a length near 4 GiB must not wrap where size_t has 32.
    const uint64_t total = uint64_t(length) + lengthFieldSize;
    return d.first(static_cast<size_t>(std::min<uint64_t>(d.size(), total)));
}

// A reply led by a 16-bit length field, cut to the bytes that field covers; a
// reply too short to hold the field is returned as it is.
Bytes lengthLed16(Bytes d)
{
    return d.size() < 2 ? d : announced(d, 2, be16(d, 0));
}

// A GET PERFORMANCE reply cut to what its header announces (16-byte
// descriptors from byte 8), or nothing with the reason in error.
std::optional<Bytes> performanceReply(Bytes d, std::string &error)
{
    if (d.size() < 8) {
        error = tooShort("GET PERFORMANCE", d.size(), 8);
        return std::nullopt;
    }
    const uint32_t length = be32(d, 0);
    if (length < 4) {
        error =
            malformed("GET PERFORMANCE", QT_TRANSLATE_NOOP("Mmc", "the data length is too small"));
        return std::nullopt;
    }
    return announced(d, 4, length);
}

std::string asciiField(Bytes d, size_t offset, size_t length)
{
    std::string s;
    for (size_t i = offset; i < offset + length && i < d.size(); ++i) {
        const char c = static_cast<char>(d[i]);
        s.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '?'))
        s.pop_back();
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}

} // namespace

int32_t msfToLba(uint8_t m, uint8_t s, uint8_t f)
{
    const int32_t frames = (m * 60 + s) * 75 + f;
    return m < 90 ? frames - 150 : frames - 450150;
}

int32_t msfFieldToLba(uint32_t field)
{
    return msfToLba(static_cast<uint8_t>(field >> 16), static_cast<uint8_t>(field >> 8),
                    static_cast<uint8_t>(field));
}

MmcResult<SenseInfo> parseSense(Bytes d)
{
    if (d.empty())
        return failed<SenseInfo>(
            trText(QT_TRANSLATE_NOOP("Mmc", "The drive returned no sense data.")));
    SenseInfo s;
    s.responseCode = d[0] & 0x7F;
    s.deferred = s.responseCode == 0x71 || s.responseCode == 0x73;
    if (s.responseCode == 0x70 || s.responseCode == 0x71) {
        if (d.size() < 8)
            return failed<SenseInfo>(tooShort("sense", d.size(), 8));
        const Bytes rec = d.first(std::min(d.size(), size_t(8) + d[7]));
        s.senseKey = at(rec, 2) & 0x0F;
        if (rec.size() >= 14) {
            s.asc = rec[12];
            s.ascq = rec[13];
        }
        if (rec.size() >= 18 && (rec[15] & 0x80) && (s.senseKey == 0 || s.senseKey == 2)) {
            s.progressValid = true;
            s.progress = be16(rec, 16);
        }
        return succeeded(s);
    }
    if (s.responseCode == 0x72 || s.responseCode == 0x73) {
        if (d.size() < 4)
            return failed<SenseInfo>(tooShort("sense", d.size(), 4));
        s.senseKey = d[1] & 0x0F;
        s.asc = d[2];
        s.ascq = d[3];
        const Bytes rec = d.first(std::min(d.size(), size_t(8) + at(d, 7)));
        for (size_t off = 8; off + 2 <= rec.size();) {
            const uint8_t type = rec[off];
            const size_t length = size_t(2) + rec[off + 1];
            if (off + length > rec.size())
                break;
            const Bytes desc = rec.subspan(off, length);
            if (type == 0x02 && length >= 7 && (desc[4] & 0x80) &&
                (s.senseKey == 0 || s.senseKey == 2)) {
                s.progressValid = true;
                s.progress = be16(desc, 5);
            } else if (type == 0x0A && length >= 8) {
                s.progressValid = true;
                s.progress = be16(desc, 6);
            }
            off += length;
        }
        return succeeded(s);
    }
    return failed<SenseInfo>(QCoreApplication::translate("Mmc", "Unknown sense data format %1h.")
                                 .arg(s.responseCode, 2, 16, QLatin1Char('0'))
                                 .toUpper()
                                 .toStdString());
}

MmcResult<InquiryData> parseInquiry(Bytes d)
{
    if (d.size() < 36)
        return failed<InquiryData>(tooShort("INQUIRY", d.size(), 36));
    InquiryData q;
    q.peripheralQualifier = d[0] >> 5;
    q.deviceType = d[0] & 0x1F;
    q.removable = (d[1] & 0x80) != 0;
    q.version = d[2];
    q.vendor = asciiField(d, 8, 8);
    q.product = asciiField(d, 16, 16);
    q.revision = asciiField(d, 32, 4);
    return succeeded(std::move(q));
}

MmcResult<Configuration> parseConfiguration(Bytes d)
{
    if (d.size() < 8)
        return failed<Configuration>(tooShort("GET CONFIGURATION", d.size(), 8));
    const uint32_t length = be32(d, 0);
    if (length < 4)
        return failed<Configuration>(malformed(
            "GET CONFIGURATION", QT_TRANSLATE_NOOP("Mmc", "the data length is too small")));
    const Bytes r = announced(d, 4, length);
    Configuration c;
    c.currentProfile = be16(r, 6);
    // A descriptor cut off by the allocation length ends the list.
    for (size_t off = 8; off + 4 <= r.size();) {
        const size_t payload = r[off + 3];
        if (off + 4 + payload > r.size())
            break;
        Feature f;
        f.code = be16(r, off);
        f.version = (r[off + 2] >> 2) & 0x0F;
        f.persistent = (r[off + 2] & 0x02) != 0;
        f.current = (r[off + 2] & 0x01) != 0;
        const Bytes data = r.subspan(off + 4, payload);
        if (f.code == feature::ProfileList) {
            for (size_t i = 0; i + 4 <= data.size(); i += 4)
                c.profiles.push_back({be16(data, i), (data[i + 2] & 0x01) != 0});
        } else {
            f.data.assign(data.begin(), data.end());
            c.features.push_back(std::move(f));
        }
        off += 4 + payload;
    }
    return succeeded(std::move(c));
}

MmcResult<DiscInfo> parseDiscInformation(Bytes d)
{
    constexpr size_t need = 24;
    const Bytes r = lengthLed16(d);
    if (r.size() < need)
        return failed<DiscInfo>(tooShort("READ DISC INFORMATION", r.size(), need));
    DiscInfo i;
    i.erasable = (r[2] & 0x10) != 0;
    i.lastSessionState = (r[2] >> 2) & 0x03;
    i.discStatus = r[2] & 0x03;
    i.firstTrack = r[3];
    i.sessions = static_cast<uint16_t>(r[9] << 8 | r[4]);
    i.firstTrackInLastSession = static_cast<uint16_t>(r[10] << 8 | r[5]);
    i.lastTrackInLastSession = static_cast<uint16_t>(r[11] << 8 | r[6]);
    i.unrestrictedUse = (r[7] & 0x20) != 0;
    i.bgFormatStatus = r[7] & 0x03;
    i.discType = r[8];
    i.lastSessionLeadIn = be32(r, 16);
    i.lastPossibleLeadOut = be32(r, 20);
    return succeeded(i);
}

MmcResult<TrackInfo> parseTrackInformation(Bytes d)
{
    constexpr size_t need = 28;
    const Bytes r = lengthLed16(d);
    if (r.size() < need)
        return failed<TrackInfo>(tooShort("READ TRACK INFORMATION", r.size(), need));
    TrackInfo t;
    t.track = static_cast<uint16_t>(at(r, 32) << 8 | r[2]);
    t.session = static_cast<uint16_t>(at(r, 33) << 8 | r[3]);
    t.damage = (r[5] & 0x20) != 0;
    t.copy = (r[5] & 0x10) != 0;
    t.trackMode = r[5] & 0x0F;
    t.reserved = (r[6] & 0x80) != 0;
    t.blank = (r[6] & 0x40) != 0;
    t.packet = (r[6] & 0x20) != 0;
    t.fixedPacket = (r[6] & 0x10) != 0;
    t.dataMode = r[6] & 0x0F;
    t.lraValid = (r[7] & 0x02) != 0;
    t.nwaValid = (r[7] & 0x01) != 0;
    t.start = be32(r, 8);
    t.nextWritable = be32(r, 12);
    // Some drives report -150 on a blank CD.
    if (static_cast<int32_t>(t.nextWritable) < static_cast<int32_t>(t.start))
        t.nextWritable = t.start;
    t.freeBlocks = be32(r, 16);
    t.fixedPacketSize = be32(r, 20);
    t.size = be32(r, 24);
    t.lastRecorded = r.size() >= 32 ? be32(r, 28) : 0;
    return succeeded(t);
}

MmcResult<Toc> parseToc(Bytes d)
{
    if (d.size() < 4)
        return failed<Toc>(tooShort("READ TOC", d.size(), 4));
    const uint16_t length = be16(d, 0);
    if (length < 2)
        return failed<Toc>(
            malformed("READ TOC", QT_TRANSLATE_NOOP("Mmc", "the data length is too small")));
    const Bytes r = announced(d, 2, length);
    Toc t;
    t.firstTrack = r[2];
    t.lastTrack = r[3];
    for (size_t off = 4; off + 8 <= r.size(); off += 8)
        t.entries.push_back({r[off + 1], r[off + 2], be32(r, off + 4)});
    return succeeded(std::move(t));
}

MmcResult<FullToc> parseFullToc(Bytes d)
{
    if (d.size() < 4)
        return failed<FullToc>(tooShort("READ TOC (full)", d.size(), 4));
    const uint16_t length = be16(d, 0);
    if (length < 2)
        return failed<FullToc>(
            malformed("READ TOC (full)", QT_TRANSLATE_NOOP("Mmc", "the data length is too small")));
    const Bytes r = announced(d, 2, length);
    FullToc t;
    t.firstSession = r[2];
    t.lastSession = r[3];
    for (size_t off = 4; off + 11 <= r.size(); off += 11) {
        FullTocEntry e;
        e.session = r[off];
        e.adrControl = r[off + 1];
        e.tno = r[off + 2];
        e.point = r[off + 3];
        e.min = r[off + 4];
        e.sec = r[off + 5];
        e.frame = r[off + 6];
        e.pmin = r[off + 8];
        e.psec = r[off + 9];
        e.pframe = r[off + 10];
        t.entries.push_back(e);
    }
    return succeeded(std::move(t));
}

MmcResult<Atip> parseAtip(Bytes d)
{
    constexpr size_t need = 15;
    const Bytes r = lengthLed16(d);
    if (r.size() < need)
        return failed<Atip>(tooShort("ATIP", r.size(), need));
    Atip a;
    a.rewritable = (r[6] & 0x40) != 0;
    a.subType = (r[6] >> 3) & 0x07;
    a.leadInStart = msfToLba(r[8], r[9], r[10]);
    a.lastPossibleLeadOut = msfToLba(r[12], r[13], r[14]);
    return succeeded(a);
}

MmcResult<Capacity> parseCapacity(Bytes d)
{
    if (d.size() < 8)
        return failed<Capacity>(tooShort("READ CAPACITY", d.size(), 8));
    return succeeded(Capacity{be32(d, 0), be32(d, 4)});
}

MmcResult<FormatCapacities> parseFormatCapacities(Bytes d)
{
    if (d.size() < 12)
        return failed<FormatCapacities>(tooShort("READ FORMAT CAPACITIES", d.size(), 12));
    const uint8_t listLength = d[3];
    if (listLength < 8 || listLength % 8 != 0)
        return failed<FormatCapacities>(
            malformed("READ FORMAT CAPACITIES",
                      QT_TRANSLATE_NOOP("Mmc", "the capacity list length is not a multiple of 8")));
    const Bytes r = announced(d, 4, listLength);
    FormatCapacities f;
    f.currentBlocks = be32(r, 4);
    const uint8_t type = r[8] & 0x03;
    if (type == 0)
        return failed<FormatCapacities>(malformed(
            "READ FORMAT CAPACITIES", QT_TRANSLATE_NOOP("Mmc", "the descriptor type is 0")));
    f.currentType = static_cast<CapacityType>(type);
    f.currentBlockLength = be24(r, 9);
    for (size_t off = 12; off + 8 <= r.size(); off += 8)
        f.formats.push_back(
            {be32(r, off), static_cast<uint8_t>(r[off + 4] >> 2), be24(r, off + 5)});
    return succeeded(std::move(f));
}

MmcResult<CapabilitiesPage> parseCapabilitiesPage(Bytes d)
{
    if (d.size() < 8)
        return failed<CapabilitiesPage>(tooShort("MODE SENSE", d.size(), 8));
    const Bytes r = announced(d, 2, be16(d, 0));
    const size_t pageStart = size_t(8) + be16(d, 6);
    if (r.size() < pageStart + 2)
        return failed<CapabilitiesPage>(tooShort("MODE SENSE", r.size(), pageStart + 2));
    if ((r[pageStart] & 0x3F) != 0x2A)
        return failed<CapabilitiesPage>(
            malformed("MODE SENSE", QT_TRANSLATE_NOOP("Mmc", "it does not hold page 2Ah")));
    // MMC-1/2 pages are 20 bytes (page length 18): the speeds up to byte 19.
    const Bytes p =
        r.subspan(pageStart, std::min(r.size() - pageStart, size_t(2) + r[pageStart + 1]));
    if (p.size() < 20)
        return failed<CapabilitiesPage>(tooShort("MODE SENSE page 2Ah", p.size(), 20));
    CapabilitiesPage c;
    c.readBits = p[2];
    c.writeBits = p[3];
    c.underrunProtection = (p[4] & 0x80) != 0;
    c.lockSupported = (p[6] & 0x01) != 0;
    c.locked = (p[6] & 0x02) != 0;
    c.preventJumper = (p[6] & 0x04) != 0;
    c.ejectSupported = (p[6] & 0x08) != 0;
    c.loadingMechanism = p[6] >> 5;
    c.maxReadSpeed = be16(p, 8);
    c.bufferSizeKiB = be16(p, 12);
    c.currentReadSpeed = be16(p, 14);
    c.maxWriteSpeed = be16(p, 18);
    if (p.size() >= 30)
        c.currentWriteSpeed = be16(p, 28);
    if (c.currentWriteSpeed == 0 && p.size() >= 22)
        c.currentWriteSpeed = be16(p, 20);
    if (p.size() >= 32) {
        const size_t count = be16(p, 30);
        for (size_t i = 0; i < count && 32 + 4 * i + 4 <= p.size(); ++i) {
            const WriteSpeedDescriptor w{static_cast<uint8_t>(p[32 + 4 * i + 1] & 0x07),
                                         be16(p, 32 + 4 * i + 2)};
            if (w.speed == 0)
                continue;
            c.writeSpeeds.push_back(w);
            c.maxWriteSpeed = std::max(c.maxWriteSpeed, w.speed);
        }
    }
    return succeeded(std::move(c));
}

MmcResult<std::vector<WriteSpeedEntry>> parseWriteSpeeds(Bytes d)
{
    using List = std::vector<WriteSpeedEntry>;
    std::string error;
    const std::optional<Bytes> r = performanceReply(d, error);
    if (!r)
        return failed<List>(std::move(error));
    List list;
    for (size_t off = 8; off + 16 <= r->size(); off += 16) {
        WriteSpeedEntry e;
        e.rotation = ((*r)[off] >> 3) & 0x03;
        e.restoreDefaults = ((*r)[off] & 0x04) != 0;
        e.exact = ((*r)[off] & 0x02) != 0;
        e.mrw = ((*r)[off] & 0x01) != 0;
        e.endLba = be32(*r, off + 4);
        e.readSpeed = be32(*r, off + 8);
        e.writeSpeed = be32(*r, off + 12);
        list.push_back(e);
    }
    return succeeded(std::move(list));
}

MmcResult<std::vector<PerformanceEntry>> parsePerformance(Bytes d)
{
    using List = std::vector<PerformanceEntry>;
    std::string error;
    const std::optional<Bytes> r = performanceReply(d, error);
    if (!r)
        return failed<List>(std::move(error));
    List list;
    for (size_t off = 8; off + 16 <= r->size(); off += 16)
        list.push_back({be32(*r, off), be32(*r, off + 4), be32(*r, off + 8), be32(*r, off + 12)});
    return succeeded(std::move(list));
}

MmcResult<RpcState> parseRpcState(Bytes d)
{
    constexpr size_t need = 7;
    const Bytes r = lengthLed16(d);
    if (r.size() < need)
        return failed<RpcState>(tooShort("REPORT KEY", r.size(), need));
    RpcState s;
    s.typeCode = r[4] >> 6;
    s.vendorResets = (r[4] >> 3) & 0x07;
    s.userChanges = r[4] & 0x07;
    s.regionMask = r[5];
    s.rpcScheme = r[6];
    return succeeded(s);
}

MmcResult<uint64_t> parseIsoVolumeBlocks(Bytes d)
{
    constexpr size_t need = 132;
    constexpr uint32_t discBlock = 2048;
    static constexpr uint8_t id[] = {1, 'C', 'D', '0', '0', '1', 1};
    if (d.size() < need)
        return failed<uint64_t>(tooShort("ISO 9660 volume descriptor", d.size(), need));
    if (!std::equal(std::begin(id), std::end(id), d.begin()))
        return failed<uint64_t>(
            malformed("ISO 9660 volume descriptor",
                      QT_TRANSLATE_NOOP("Mmc", "it holds no primary volume descriptor")));
    const uint32_t blocks = static_cast<uint32_t>(d[80]) | static_cast<uint32_t>(d[81]) << 8 |
                            static_cast<uint32_t>(d[82]) << 16 | static_cast<uint32_t>(d[83]) << 24;
    const uint32_t blockSize = static_cast<uint32_t>(d[128]) | static_cast<uint32_t>(d[129]) << 8;
    if (blocks != be32(d, 84) || blockSize != be16(d, 130) || blockSize == 0 ||
        discBlock % blockSize != 0)
        return failed<uint64_t>(malformed("ISO 9660 volume descriptor",
                                          QT_TRANSLATE_NOOP("Mmc", "its size fields disagree")));
    return succeeded((uint64_t(blocks) * blockSize + discBlock - 1) / discBlock);
}

} // namespace blankora::mmc
