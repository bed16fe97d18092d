#include "framework/sbTypes.h"

#include <QTest>

class TestTypes : public QObject
{
    Q_OBJECT

private slots:
    void discTypes_data();
    void discTypes();
    void addressEquality_data();
    void addressEquality();
};

void TestTypes::discTypes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("erasable");
    QTest::addColumn<bool>("dvd");
    QTest::newRow("unknown") << int(DISC_TYPE_UNKNOWN) << "Unknown" << false << false;
    QTest::newRow("cd-rw") << int(DISC_TYPE_CDRW) << "CD-RW" << true << false;
    QTest::newRow("dvd-ram") << int(DISC_TYPE_DVDRAM) << "DVD-RAM" << true << true;
    QTest::newRow("dvd-rw sr") << int(DISC_TYPE_DVDRWSR) << "DVD-RW SR (Sequential Recording)"
                               << true << true;
    QTest::newRow("dvd+rw") << int(DISC_TYPE_DVDPLUSRW) << "DVD+RW" << true << true;
    QTest::newRow("empty") << int(DISC_TYPE_NO_MEDIA) << "Empty" << false << false;
    QTest::newRow("dvd+r dl") << int(DISC_TYPE_DVDPLUSR_DL) << "" << false << true;
    QTest::newRow("dvd-r dl") << int(DISC_TYPE_DVDR_DL) << "" << false << false;
    QTest::newRow("bd-r") << int(DISC_TYPE_BDR) << "BD-R" << false << false;
    QTest::newRow("bd-re") << int(DISC_TYPE_BDRE) << "BD-RE" << true << false;
    QTest::newRow("out of range") << 200 << "" << false << false;
}

void TestTypes::discTypes()
{
    QFETCH(int, type);
    QFETCH(QString, name);
    QFETCH(bool, erasable);
    QFETCH(bool, dvd);

    const auto DiscType = static_cast<DISC_TYPE>(type);
    QCOMPARE(GetDiscTypeName(DiscType), name);
    QCOMPARE(IsErasableDiscType(DiscType), erasable);
    QCOMPARE(IsDVDDiscType(DiscType), dvd);
}

void TestTypes::addressEquality_data()
{
    QTest::addColumn<bool>("firstValid");
    QTest::addColumn<bool>("secondValid");
    QTest::addColumn<int>("secondLun");
    QTest::addColumn<bool>("equal");
    QTest::newRow("both valid, same numbers") << true << true << 0 << true;
    QTest::newRow("both valid, other lun") << true << true << 1 << false;
    QTest::newRow("first not valid") << false << true << 0 << false;
    QTest::newRow("second not valid") << true << false << 0 << false;
    QTest::newRow("neither valid") << false << false << 0 << false;
}

void TestTypes::addressEquality()
{
    QFETCH(bool, firstValid);
    QFETCH(bool, secondValid);
    QFETCH(int, secondLun);
    QFETCH(bool, equal);

    const TsbDeviceAddress First{uint8_t(firstValid), 1, 0, 2, 0};
    const TsbDeviceAddress Second{uint8_t(secondValid), 1, 0, 2, uint8_t(secondLun)};
    QCOMPARE(First == Second, equal);
}

QTEST_MAIN(TestTypes)
#include "tst_types.moc"
