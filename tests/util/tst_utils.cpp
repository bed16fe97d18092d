#include "util/sbErrors.h"
#include "util/sbUtils.h"

#include <QFile>
#include <QLocale>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void megabytesText_data();
    void megabytesText();
    void megabytesTextUsesTheLocaleDecimalSeparator();

    void zeroPad_data();
    void zeroPad();

    void stripDevicePrefix_data();
    void stripDevicePrefix();

    void textFromChars_data();
    void textFromChars();
    void textFromCharsOfAFixedBuffer();

    void appendLineCreatesTheFileAndEndsLinesWithCrLf();
    void appendLineWritesInTheLocaleEncoding();
    void appendLineFailureNamesTheFileAndTheReason();
};

void TestUtils::megabytesText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("withoutUnit");
    QTest::addColumn<QString>("expected");

    QTest::newRow("3 GiB") << qint64(3) * 1024 * 1024 * 1024 << false << "3072.00 MB";
    QTest::newRow("minus one MiB counts as one") << qint64(-1048576) << false << "1.00 MB";
    QTest::newRow("zero") << qint64(0) << false << "0.00 MB";
    QTest::newRow("without unit") << qint64(1048576) * 700 << true << "700.00";
    QTest::newRow("half a MiB") << qint64(524288) << false << "0.50 MB";
    QTest::newRow("rounded to two decimals") << qint64(1048576 + 10486) << false << "1.01 MB";
    QTest::newRow("large counts keep their two decimals")
        << qint64(12345678 * 1048576.0 / 1000) << true << "12345.68";
    QTest::newRow("rounded once, not up at the third decimal")
        << qint64(614428672) << false << "585.96 MB";
    QTest::newRow("rounded once, below the half") << qint64(12944619) << false << "12.34 MB";
    QTest::newRow("a full DVD") << qint64(4700372992) << false << "4482.63 MB";
}

// The expected texts are written with a point; the helper uses the system's
// decimal separator, whatever locale the tests run in.
void TestUtils::megabytesText()
{
    QFETCH(qint64, bytes);
    QFETCH(bool, withoutUnit);
    QFETCH(QString, expected);
    expected.replace(u'.', QLocale::system().decimalPoint());
    QCOMPARE(MegabytesText(bytes, withoutUnit), expected);
}

void TestUtils::megabytesTextUsesTheLocaleDecimalSeparator()
{
    const QString text = MegabytesText(3221225472, true);
    QCOMPARE(text,
             QStringLiteral("3072") + QLocale::system().decimalPoint() + QStringLiteral("00"));
}

void TestUtils::zeroPad_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");

    QTest::newRow("5 width 2") << 5 << 2 << "05";
    QTest::newRow("7 width 2") << 7 << 2 << "07";
    QTest::newRow("12 width 2") << 12 << 2 << "12";
    QTest::newRow("123 width 2 keeps the right end") << 123 << 2 << "23";
    QTest::newRow("100 width 2") << 100 << 2 << "00";
    QTest::newRow("width 0 is empty") << 42 << 0 << "";
    QTest::newRow("0 width 4") << 0 << 4 << "0000";
}

void TestUtils::zeroPad()
{
    QFETCH(int, value);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(ZeroPad(value, static_cast<uint8_t>(width)), expected);
}

void TestUtils::stripDevicePrefix_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("drive letter") << "\\\\.\\E:"
                                  << "E:";
    QTest::newRow("block node") << "\\\\.\\/dev/sr0"
                                << "/dev/sr0";
    QTest::newRow("no prefix") << "CdRom0"
                               << "CdRom0";
    QTest::newRow("prefix only") << "\\\\.\\"
                                 << "";
    QTest::newRow("first occurrence") << "x\\\\.\\a\\\\.\\b"
                                      << "a\\\\.\\b";
    QTest::newRow("empty") << ""
                           << "";
}

void TestUtils::stripDevicePrefix()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(StripDevicePrefix(path), expected);
}

void TestUtils::textFromChars_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("highIndex");
    QTest::addColumn<QString>("expected");

    QTest::newRow("ends at NUL") << QByteArray("HL-DT-ST\0junk", 13) << 12 << "HL-DT-ST";
    QTest::newRow("no NUL: all characters") << QByteArray("DVDRAM", 6) << 5 << "DVDRAM";
    QTest::newRow("highest index inclusive") << QByteArray("ABCDEF", 6) << 2 << "ABC";
    QTest::newRow("NUL first") << QByteArray("\0ABC", 4) << 3 << "";
    QTest::newRow("negative index") << QByteArray("ABC", 3) << -1 << "";
}

void TestUtils::textFromChars()
{
    QFETCH(QByteArray, buffer);
    QFETCH(int, highIndex);
    QFETCH(QString, expected);
    QCOMPARE(TextFromChars(buffer.constData(), highIndex), expected);
}

void TestUtils::textFromCharsOfAFixedBuffer()
{
    const char vendor[8] = {'P', 'I', 'O', 'N', 'E', 'E', 'R', ' '};
    QCOMPARE(TextFromChars(vendor), QStringLiteral("PIONEER "));
    const char product[16] = "DVR-111D";
    QCOMPARE(TextFromChars(product), QStringLiteral("DVR-111D"));
}

void TestUtils::appendLineCreatesTheFileAndEndsLinesWithCrLf()
{
    QTemporaryDir folder;
    const QString fileName = folder.filePath(QStringLiteral("log.txt"));
    AppendLineToFile(fileName, QStringLiteral("first"));
    AppendLineToFile(fileName, QString());
    AppendLineToFile(fileName, QStringLiteral("third line"));

    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("first\r\n\r\nthird line\r\n"));
}

void TestUtils::appendLineWritesInTheLocaleEncoding()
{
    QTemporaryDir folder;
    const QString fileName = folder.filePath(QStringLiteral("log.txt"));
    const QString line = QStringLiteral("Gr\u00FC\u00DFe 25 \u00B0C");
    AppendLineToFile(fileName, line);

    QStringEncoder encoder(QStringConverter::System);
    const QByteArray expected = encoder.encode(line + QStringLiteral("\r\n"));
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestUtils::appendLineFailureNamesTheFileAndTheReason()
{
    QTemporaryDir folder;
    const QString fileName = folder.filePath(QStringLiteral("missing-folder/log.txt"));
    try {
        AppendLineToFile(fileName, QStringLiteral("line"));
        QFAIL("no error was raised");
    } catch (const EsbError &error) {
        QVERIFY2(error.Message().contains(fileName), qPrintable(error.Message()));
        QVERIFY2(error.Message().contains(QStringLiteral("No such file or directory")),
                 qPrintable(error.Message()));
        QCOMPARE(QString::fromStdString(error.what()), error.Message());
    }
    QVERIFY(!QFile::exists(fileName));
}

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
