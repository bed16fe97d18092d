#include "library/mmc/MmcCommands.h"
#include "library/mmc/MmcFastErase.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace blankora::mmc;
using blankora::transport::ResultCategory;
using blankora::transport::ScsiCommand;
using blankora::transport::ScsiResult;

namespace {

// A formatted disc of `blocks` blocks that answers READ(10) from an image and
// zeros beyond it; past the disc 05/21/00 (LBA out of range).
class ImageDrive : public blankora::transport::ScsiTransport
{
public:
    QByteArray image;
    uint32_t blocks = 0;

    std::string deviceNode() const override { return "/dev/sr-image"; }

    ScsiResult execute(const ScsiCommand &c) override
    {
        ScsiResult r;
        const uint32_t lba = uint32_t(c.cdb[2]) << 24 | c.cdb[3] << 16 | c.cdb[4] << 8 | c.cdb[5];
        const uint32_t count = uint32_t(c.cdb[7]) << 8 | c.cdb[8];
        if (c.cdb[0] != 0x28 || uint64_t(lba) + count > blocks) {
            r.category = ResultCategory::CheckCondition;
            r.status = 2;
            r.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x21, 0x00};
            r.senseKey = 0x05;
            r.asc = 0x21;
            return r;
        }
        std::fill(c.dataIn.begin(), c.dataIn.end(), 0);
        const qsizetype at = qsizetype(lba) * BlockSize;
        if (at < image.size())
            std::copy_n(image.constData() + at,
                        std::min<qsizetype>(image.size() - at, c.dataIn.size()), c.dataIn.data());
        return r;
    }
};

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

Ranges asPairs(const std::vector<BlockRange> &ranges)
{
    Ranges out;
    for (const BlockRange &r : ranges)
        out.emplace_back(r.first, r.count);
    return out;
}

// An ISO 9660 + UDF image as genisoimage -udf writes it: its primary volume
// descriptor gives the whole image (padding included), its UDF partition
// ends earlier, with an anchor at the partition's end and in the padding.
QByteArray makeImage(const QString &dir)
{
    QDir(dir).mkpath("files");
    QFile file(dir + "/files/readme.txt");
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QByteArray(300000, 'x'));
    file.close();
    QProcess p;
    p.start("genisoimage",
            {"-quiet", "-udf", "-V", "ERASEME", "-o", dir + "/disc.iso", dir + "/files"});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    QFile iso(dir + "/disc.iso");
    return iso.open(QIODevice::ReadOnly) ? iso.readAll() : QByteArray();
}

uint32_t le32(const QByteArray &image, qsizetype at)
{
    const auto *p = reinterpret_cast<const uint8_t *>(image.constData() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool isAnchor(const QByteArray &image, uint32_t block)
{
    const qsizetype at = qsizetype(block) * BlockSize;
    return at + 16 <= image.size() && image[at] == 2 && image[at + 1] == 0 &&
           le32(image, at + 12) == block;
}

} // namespace

class TestMmcFastErase : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray image;
    uint32_t isoBlocks = 0;
    uint32_t udfBlocks = 0;

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable("genisoimage").isEmpty(),
                 "genisoimage is missing (tools/deps.sh installs it)");
        image = makeImage(dir.path());
        QVERIFY(image.size() > 600 * 1024);
        isoBlocks = le32(image, 16 * BlockSize + 80);
        QCOMPARE(qsizetype(isoBlocks) * BlockSize, image.size());
        // The partition descriptor (tag 5) of the main sequence: start + length.
        for (uint32_t b = 32; b < 48 && udfBlocks == 0; ++b)
            if (image[qsizetype(b) * BlockSize] == 5)
                udfBlocks = le32(image, b * BlockSize + 188) + le32(image, b * BlockSize + 192);
        QVERIFY(udfBlocks > 300 && udfBlocks < isoBlocks);
        QVERIFY(isAnchor(image, 256) && isAnchor(image, udfBlocks - 1) &&
                isAnchor(image, isoBlocks - 1));
    }

    // Which blocks are listed, for the image as written and for damaged or
    // missing descriptors (both-endian fields disagreeing, a tag checksum
    // wrong, a volume larger than the disc). Reference: ECMA-119 and
    // ECMA-167 descriptors as growisofs.c reads the volume size; the anchor
    // points 256, N-256 and N-1 of UDF.
    void ranges_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<uint32_t>("discBlocks");
        QTest::addColumn<QString>("expected"); // "first+count" items; I/U/D = iso, udf, disc end

        QTest::newRow("iso+udf image on a DVD+RW")
            << "" << 2295104u << "0+100 U-256 256 I-256 U-1 512 I-1 D-256 D-1";
        QTest::newRow("no file system") << "blank" << 2295104u << "0+100 256 512 D-256 D-1";
        QTest::newRow("pvd byte orders disagree")
            << "pvd-endian" << 2295104u << "0+100 U-256 256 U-1 512 D-256 D-1";
        QTest::newRow("anchor checksum wrong")
            << "anchor-sum" << 2295104u << "0+100 256 I-256 512 I-1 D-256 D-1";
        QTest::newRow("volume larger than the disc")
            << "pvd-huge" << 2295104u << "0+100 U-256 256 U-1 512 D-256 D-1";
        QTest::newRow("small disc, ranges clipped") << "blank" << 300u << "0+100 256 299";
        QTest::newRow("disc ends inside the first blocks") << "blank" << 20u << "0+20";
        QTest::newRow("disc size unknown") << "" << 0u << "";
    }

    void ranges()
    {
        QFETCH(QString, damage);
        QFETCH(uint32_t, discBlocks);
        QFETCH(QString, expected);
        ImageDrive drive;
        drive.image = image;
        drive.blocks = discBlocks;
        if (damage == "blank")
            drive.image.clear();
        else if (damage == "pvd-endian")
            drive.image[16 * BlockSize + 87] = char(drive.image[16 * BlockSize + 87] ^ 1);
        else if (damage == "anchor-sum")
            drive.image[256 * BlockSize + 4] = char(drive.image[256 * BlockSize + 4] ^ 0x40);
        else if (damage == "pvd-huge")
            for (int i = 0; i < 4; ++i)
                drive.image[16 * BlockSize + 80 + i] = drive.image[16 * BlockSize + 87 - i] =
                    char(0x7f);

        Ranges want;
        for (const QString &item : expected.split(' ', Qt::SkipEmptyParts)) {
            const QStringList parts = item.split('+');
            QString first = parts[0];
            uint32_t base = 0;
            const std::map<QChar, uint32_t> ends{
                {'I', isoBlocks}, {'U', udfBlocks}, {'D', discBlocks}};
            if (ends.count(first[0])) {
                base = ends.at(first[0]);
                first = first.mid(1);
            }
            want.emplace_back(base + first.toInt(), parts.size() > 1 ? parts[1].toUInt() : 1);
        }
        QCOMPARE(asPairs(fastEraseRanges(drive, discBlocks)), want);
    }

    // The listed blocks zeroed in a copy: blkid -p finds no file system and
    // no anchor is left where readers look for one.
    void zeroedCopyHoldsNoFileSystem()
    {
        ImageDrive drive;
        drive.image = image;
        drive.blocks = isoBlocks + 1000;
        QByteArray copy = image + QByteArray(qsizetype(1000) * BlockSize, 0);
        for (const BlockRange &r : fastEraseRanges(drive, drive.blocks))
            std::fill_n(copy.data() + qsizetype(r.first) * BlockSize,
                        qsizetype(r.count) * BlockSize, 0);
        for (const uint32_t n : {isoBlocks, udfBlocks, drive.blocks})
            for (const uint32_t block : {256u, 512u, n - 256, n - 1})
                QVERIFY2(!isAnchor(copy, block), qPrintable(QString::number(block)));

        if (QStandardPaths::findExecutable("blkid", {"/usr/sbin", "/sbin", "/usr/bin"}).isEmpty())
            QSKIP("blkid is missing");
        const QString path = dir.path() + "/erased.img";
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(copy);
        out.close();
        const QString blkid =
            QStandardPaths::findExecutable("blkid", {"/usr/sbin", "/sbin", "/usr/bin"});
        QProcess before;
        before.start(blkid, {"-p", dir.path() + "/disc.iso"});
        QVERIFY(before.waitForFinished(30000));
        QVERIFY2(before.readAllStandardOutput().contains("TYPE="), "blkid sees the image");
        QProcess after;
        after.start(blkid, {"-p", path});
        QVERIFY(after.waitForFinished(30000));
        QCOMPARE(QString(after.readAllStandardOutput()), QString());
        QCOMPARE(after.exitCode(), 2);
    }

    // libisoburn writes the first session of an overwritable disc at block
    // 32 and a copy of its descriptors at 16; the kernel's isofs searches
    // blocks 16-99 for a primary descriptor (fs/isofs/inode.c). After the
    // zeros none of them holds one.
    void sessionAtBlock32IsNotFound()
    {
        ImageDrive drive;
        drive.image = QByteArray(32 * BlockSize, 0) + image;
        drive.image.replace(16 * BlockSize, 16 * BlockSize,
                            image.mid(16 * BlockSize, 16 * BlockSize));
        drive.blocks = isoBlocks + 32;
        QByteArray copy = drive.image;
        for (const BlockRange &r : fastEraseRanges(drive, drive.blocks))
            std::fill_n(copy.data() + qsizetype(r.first) * BlockSize,
                        qsizetype(r.count) * BlockSize, 0);
        QVERIFY(drive.image.mid(48 * BlockSize + 1, 5) == "CD001");
        for (qsizetype block = 16; block < 100; ++block)
            QVERIFY2(copy.mid(block * BlockSize + 1, 5) != "CD001",
                     qPrintable(QString::number(block)));
    }
};

QTEST_GUILESS_MAIN(TestMmcFastErase)
#include "tst_mmcfasterase.moc"
