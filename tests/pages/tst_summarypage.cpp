#include "pages/ufrmOptionsSummary.h"

#include "framework/sbDevice.h"

#include <QLabel>
#include <QTest>
#include <QTextEdit>

// The six summary lines, composed from plain values.
class TestSummaryPage : public QObject
{
    Q_OBJECT

private slots:
    void sixLines_data();
    void sixLines();
    void rebuild_keepsSixLines();
};

void TestSummaryPage::sixLines_data()
{
    QTest::addColumn<QString>("Product");
    QTest::addColumn<QString>("Revision");
    QTest::addColumn<QString>("Path");
    QTest::addColumn<int>("DiscType");
    QTest::addColumn<int>("Transport");
    QTest::addColumn<bool>("Full");
    QTest::addColumn<QStringList>("Lines");

    QTest::newRow("spti, padded identity")
        << "  Virtual CD-RW   "
        << "1.00\t\x01 "
        << "CdRom0" << int(DISC_TYPE_CDRW) << int(ttSpti) << false
        << QStringList{"Drive: Virtual CD-RW 1.00 (CdRom0)",
                       "Transport: SPTI",
                       "Disc Type: CD-RW",
                       "Erase Type: Fast",
                       "Erasing Speed: 24.0x (4234 KB/sec)",
                       "Eject: Yes"};
    QTest::newRow("aspi, drive node")
        << "DVD Writer"
        << "2.10"
        << "\\\\.\\/dev/sr0" << int(DISC_TYPE_DVDPLUSRW) << int(ttAspi) << true
        << QStringList{"Drive: DVD Writer 2.10 (/dev/sr0)",
                       "Transport: ASPI",
                       "Disc Type: DVD+RW",
                       "Erase Type: Full",
                       "Erasing Speed: 24.0x (4234 KB/sec)",
                       "Eject: Yes"};
    QTest::newRow("disc type without a name")
        << "BD Writer"
        << ""
        << "\\\\.\\E:" << int(DISC_TYPE_DVDPLUSR_DL) << int(ttAspi) << false
        << QStringList{"Drive: BD Writer  (E:)",
                       "Transport: ASPI",
                       "Disc Type: ",
                       "Erase Type: Fast",
                       "Erasing Speed: 24.0x (4234 KB/sec)",
                       "Eject: Yes"};
    QTest::newRow("identity holding a placeholder")
        << "Model %2"
        << "%1"
        << "CdRom3" << int(DISC_TYPE_CDRW) << int(ttSpti) << false
        << QStringList{"Drive: Model %2 %1 (CdRom3)",
                       "Transport: SPTI",
                       "Disc Type: CD-RW",
                       "Erase Type: Fast",
                       "Erasing Speed: 24.0x (4234 KB/sec)",
                       "Eject: Yes"};
}

void TestSummaryPage::sixLines()
{
    QFETCH(QString, Product);
    QFETCH(QString, Revision);
    QFETCH(QString, Path);
    QFETCH(int, DiscType);
    QFETCH(int, Transport);
    QFETCH(bool, Full);
    QFETCH(QStringList, Lines);

    TsbDeviceInfo Info;
    Info.Product = Product;
    Info.ProductRevisionLevel = Revision;
    TsbEraseOptions Options;
    Options.FullErase = Full;
    Options.Eject = true;

    TfrmOptionsSummary Page;
    Page.BuildSummary(Info, Path, DISC_TYPE(DiscType), TsbTransportType(Transport), Options,
                      QStringLiteral("24.0x (4234 KB/sec)"));
    QCOMPARE(Page.findChild<QTextEdit *>(QStringLiteral("edtSummary"))->toPlainText(),
             Lines.join(u'\n'));
    QCOMPARE(Page.findChild<QLabel *>(QStringLiteral("lblName"))->text(),
             QStringLiteral("Disc will be erased with the following options chosen:"));
    QCOMPARE(Page.findChild<QLabel *>(QStringLiteral("lblNextAction"))->text(),
             QStringLiteral("Click Next to begin disc erasing."));
}

// Going back and forward again composes the summary anew, never appending.
void TestSummaryPage::rebuild_keepsSixLines()
{
    TsbDeviceInfo Info;
    Info.Product = QStringLiteral("Virtual CD-RW");
    Info.ProductRevisionLevel = QStringLiteral("1.00");
    TsbEraseOptions Options;
    Options.Eject = true;

    TfrmOptionsSummary Page;
    Page.BuildSummary(Info, QStringLiteral("CdRom0"), DISC_TYPE_CDRW, ttSpti, Options,
                      QStringLiteral("4.0x (706 KB/sec)"));
    Options.FullErase = true;
    Page.BuildSummary(Info, QStringLiteral("CdRom0"), DISC_TYPE_CDRW, ttSpti, Options,
                      QStringLiteral("10.0x (1764 KB/sec)"));

    const QStringList Lines =
        Page.findChild<QTextEdit *>(QStringLiteral("edtSummary"))->toPlainText().split(u'\n');
    QCOMPARE(Lines.size(), 6);
    QCOMPARE(Lines.at(3), QStringLiteral("Erase Type: Full"));
    QCOMPARE(Lines.at(4), QStringLiteral("Erasing Speed: 10.0x (1764 KB/sec)"));
}

QTEST_MAIN(TestSummaryPage)
#include "tst_summarypage.moc"
