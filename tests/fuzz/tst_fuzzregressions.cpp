#include "fuzz/FuzzEntryPoints.h"
#include "library/virtual/VirtualScenario.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace blankora;

namespace {

QString inputDirectory(const char *target)
{
    return QStringLiteral(BLANKORA_SOURCE_DIR "/tests/fuzz/inputs/") + QLatin1String(target);
}

// One row per kept input; its name ends in ".ok.<ext>" or ".fail.<ext>".
void addInputRows(const char *target)
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expectOk");
    const QFileInfoList files = QDir(inputDirectory(target)).entryInfoList(QDir::Files, QDir::Name);
    QVERIFY2(!files.isEmpty(), qPrintable(inputDirectory(target) + " holds no inputs"));
    for (const QFileInfo &file : files) {
        const QString expectation = file.completeBaseName().section(QLatin1Char('.'), -1);
        QVERIFY2(expectation == QLatin1String("ok") || expectation == QLatin1String("fail"),
                 qPrintable(file.fileName() + " must end in .ok.<ext> or .fail.<ext>"));
        QTest::newRow(qPrintable(file.fileName()))
            << file.absoluteFilePath() << (expectation == QLatin1String("ok"));
    }
}

QByteArray readInput(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    if (!path.endsWith(QLatin1String(".hex")))
        return content;
    // Hex bytes separated by white space; '#' starts a comment line.
    QByteArray digits;
    for (const QByteArray &line : content.split('\n'))
        if (!line.trimmed().startsWith('#'))
            digits += line.simplified().replace(' ', QByteArray());
    return QByteArray::fromHex(digits);
}

} // namespace

// Replays the inputs kept from fuzzing through the entry points the fuzz
// targets use, so that every finding stays fixed in the normal build.
class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void parserInputs_data() { addInputRows("mmc_parsers"); }
    void parserInputs();
    void scenarioInputs_data() { addInputRows("scenario"); }
    void scenarioInputs();
    void byteSizesBeyondFourGiB_data();
    void byteSizesBeyondFourGiB();
};

void TestFuzzRegressions::parserInputs()
{
    QFETCH(QString, path);
    QFETCH(bool, expectOk);
    const QByteArray input = readInput(path);
    QVERIFY(!input.isEmpty());
    // An exactly sized copy, so that the sanitizers see any read past the reply.
    const std::vector<uint8_t> reply(input.begin() + 1, input.end());
    const fuzz::ReplyOutcome outcome = fuzz::parseReply(uint8_t(input[0]), reply);
    QVERIFY(outcome.consistent);
    QCOMPARE(outcome.ok, expectOk);
}

void TestFuzzRegressions::scenarioInputs()
{
    QFETCH(QString, path);
    QFETCH(bool, expectOk);
    const QByteArray input = readInput(path);
    QVERIFY(!input.isEmpty());
    const fuzz::ScenarioOutcome outcome = fuzz::loadScenario(input.toStdString());
    QVERIFY2(outcome.consistent, outcome.error.c_str());
    QVERIFY2(outcome.ok == expectOk, outcome.error.c_str());
}

void TestFuzzRegressions::byteSizesBeyondFourGiB_data()
{
    QTest::addColumn<QString>("capacity");
    QTest::addColumn<uint>("blocks"); // 0: refused

    QTest::newRow("dual-layer DVD") << "8543666176" << 4171712u;
    QTest::newRow("hex string") << "\"0x1FD3E0000\"" << 4171712u;
    QTest::newRow("upper limit") << "1e12" << 488281250u;
    QTest::newRow("above the limit") << "1000000000001" << 0u;
    QTest::newRow("hex above 64 bits") << "\"0xFFFFFFFFFFFFFFFFF\"" << 0u;
}

void TestFuzzRegressions::byteSizesBeyondFourGiB()
{
    QFETCH(QString, capacity);
    QFETCH(uint, blocks);
    const std::string json = R"({"drives": [{"disc": {"profile": "DVD+R DL", "state": "blank",
        "capacityBytes": )" + capacity.toStdString() +
                             "}}]}";
    std::string error;
    const auto bay = virtualbay::parseScenario(json, "t", error);
    if (blocks == 0) {
        QVERIFY(!bay);
        QVERIFY2(error.starts_with("t: drives[0].disc.capacityBytes: "), error.c_str());
    } else {
        QVERIFY2(bay, error.c_str());
        QCOMPARE(bay->drives.at(0).disc->capacityBlocks, blocks);
    }
}

QTEST_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
