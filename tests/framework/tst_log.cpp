#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "platform/sbConfigStore.h"

#include "support/TempConfigStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

namespace {
// A log whose lines carry these owners, in this order, with messages "l0", "l1", ...
std::unique_ptr<TsbLog> LogOwnedBy(const QList<int> &Owners)
{
    auto log = std::make_unique<TsbLog>();
    for (int i = 0; i < Owners.size(); ++i) {
        TsbLogItem *line = log->Add();
        line->LogMessage = QStringLiteral("l%1").arg(i);
        line->PageOwner = Owners.at(i);
    }
    return log;
}

QList<int> OwnersOf(const TsbLog &Log)
{
    QList<int> owners;
    for (int i = 0; i < Log.Count(); ++i)
        owners.append(Log.Items(i)->PageOwner);
    return owners;
}
} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // The configuration store, redirected by XDG_CONFIG_DIRS as the tests'
    // environment does; must run before any other test opens the store.
    void storeFollowsXdgConfigDirs();

    void newLineHasDefaults();
    void assignCopiesAllProperties();
    void truncateFrom_data();
    void truncateFrom();
    void clearEmptiesTheLog();

    void settingsAreReadAsDecimalText_data();
    void settingsAreReadAsDecimalText();
    void missingSettingsMeanOff();
    void disabledLoggerCreatesNoFile();
    void logFileLiesBesideTheExecutable();
    void enabledLoggerAppendsTimedLinesWithCrLf();
    void settingsAreReadOnceAtCreation();
    void unwritableLogFileRaisesWithNameAndReason();

private:
    QTemporaryDir FXdgFolder;
    QString FLogFileName;
};

void TestLog::initTestCase()
{
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(FXdgFolder.path() + QStringLiteral(":/etc/xdg")));
    FLogFileName = QCoreApplication::applicationDirPath() + QStringLiteral("/tst_log.log");
}

void TestLog::init()
{
    QFile::remove(FLogFileName);
}

void TestLog::cleanup()
{
    QDir().rmdir(FLogFileName);
    QFile::remove(FLogFileName);
}

void TestLog::storeFollowsXdgConfigDirs()
{
    const QString fileName = FXdgFolder.filePath(QStringLiteral("Vantrel/Burner.conf"));
    QCOMPARE(ConfigStoreFileName(), fileName);

    // The file as the README tells an administrator to write it.
    QVERIFY(QDir(FXdgFolder.path()).mkpath(QStringLiteral("Vantrel")));
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("LogEnabled=1\nLogLevel=7\n");
    file.close();

    const TsbLogger logger;
    QVERIFY(logger.LogEnabled());
    QCOMPARE(logger.LogLevel(), 7);
}

void TestLog::newLineHasDefaults()
{
    TsbLog log;
    TsbLogItem *line = log.Add();
    QCOMPARE(log.Count(), 1);
    QCOMPARE(log.Items(0), line);
    QVERIFY(line->LogMessage.isEmpty());
    QVERIFY(line->LogTime.isNull());
    QCOMPARE(line->ItemType, litInfo);
    QCOMPARE(line->PageOwner, 0);
}

void TestLog::assignCopiesAllProperties()
{
    TsbLogItem source;
    source.LogMessage = QStringLiteral("Erase started");
    source.LogTime = QDateTime(QDate(2024, 5, 6), QTime(14, 3, 7, 42));
    source.ItemType = litWarning;
    source.PageOwner = 3;

    TsbLogItem target;
    target.Assign(source);
    QCOMPARE(target.LogMessage, source.LogMessage);
    QCOMPARE(target.LogTime, source.LogTime);
    QCOMPARE(target.ItemType, litWarning);
    QCOMPARE(target.PageOwner, 3);
}

void TestLog::truncateFrom_data()
{
    QTest::addColumn<QList<int>>("owners");
    QTest::addColumn<int>("owner");
    QTest::addColumn<QList<int>>("remaining");

    QTest::newRow("owner of no line: unchanged") << QList<int>{0, 2, 3} << 4 << QList<int>{0, 2, 3};
    QTest::newRow("owner of the first line: empty") << QList<int>{2, 3, 2} << 2 << QList<int>{};
    QTest::newRow("later pages' lines go too") << QList<int>{0, 2, 2, 3, 3} << 2 << QList<int>{0};
    QTest::newRow("from the first match on") << QList<int>{0, 3, 2, 3} << 3 << QList<int>{0};
    QTest::newRow("last line only") << QList<int>{0, 2, 3} << 3 << QList<int>{0, 2};
    QTest::newRow("empty log") << QList<int>{} << 0 << QList<int>{};
}

void TestLog::truncateFrom()
{
    QFETCH(QList<int>, owners);
    QFETCH(int, owner);
    QFETCH(QList<int>, remaining);

    const std::unique_ptr<TsbLog> log = LogOwnedBy(owners);
    log->TruncateFrom(owner);
    QCOMPARE(OwnersOf(*log), remaining);
    for (int i = 0; i < log->Count(); ++i)
        QCOMPARE(log->Items(i)->LogMessage, QStringLiteral("l%1").arg(i));
}

void TestLog::clearEmptiesTheLog()
{
    const std::unique_ptr<TsbLog> log = LogOwnedBy({0, 1, 2});
    log->Clear();
    QCOMPARE(log->Count(), 0);
}

void TestLog::settingsAreReadAsDecimalText_data()
{
    QTest::addColumn<QString>("enabledText");
    QTest::addColumn<QString>("levelText");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("level");

    QTest::newRow("on") << "1"
                        << "2" << true << 2;
    QTest::newRow("off") << "0"
                         << "0" << false << 0;
    QTest::newRow("any non-zero number is on") << "-3"
                                               << "12" << true << 12;
    QTest::newRow("not a number is off and 0") << "yes"
                                               << "high" << false << 0;
    QTest::newRow("empty text") << ""
                                << "" << false << 0;
    QTest::newRow("hexadecimal is not decimal") << "0x1"
                                                << "0x10" << false << 0;
}

void TestLog::settingsAreReadAsDecimalText()
{
    QFETCH(QString, enabledText);
    QFETCH(QString, levelText);
    QFETCH(bool, enabled);
    QFETCH(int, level);

    TempConfigStore store;
    store.SetText(QStringLiteral("LogEnabled"), enabledText);
    store.SetText(QStringLiteral("LogLevel"), levelText);
    const TsbLogger logger;
    QCOMPARE(logger.LogEnabled(), enabled);
    QCOMPARE(logger.LogLevel(), level);
}

void TestLog::missingSettingsMeanOff()
{
    const TempConfigStore store;
    const TsbLogger logger;
    QVERIFY(!logger.LogEnabled());
    QCOMPARE(logger.LogLevel(), 0);
}

void TestLog::disabledLoggerCreatesNoFile()
{
    const TempConfigStore store;
    TsbLogger logger;
    logger.Log(QStringLiteral("UpStartEx"), 0);
    QVERIFY(!QFile::exists(FLogFileName));
}

void TestLog::logFileLiesBesideTheExecutable()
{
    TsbLogger logger;
    QCOMPARE(logger.GetLogFileName(), FLogFileName);
    QCOMPARE(logger.GetLogFileName(), FLogFileName);
}

void TestLog::enabledLoggerAppendsTimedLinesWithCrLf()
{
    TempConfigStore store;
    store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    TsbLogger logger;
    const QTime before = QTime::currentTime();
    logger.Log(QStringLiteral("UpStartEx"), 0);
    logger.Log(QStringLiteral("CdvdBurnerGrabber_Lock"), 5);
    const QTime after = QTime::currentTime();

    QFile file(FLogFileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray contents = file.readAll();
    const QStringList lines = QString::fromLatin1(contents).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3); // two lines, each ended by CR LF
    QVERIFY(lines.at(2).isEmpty());
    const QRegularExpression form(
        QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d): ([^\r\n]*)$"));
    const QStringList texts{QStringLiteral("UpStartEx"), QStringLiteral("CdvdBurnerGrabber_Lock")};
    for (int i = 0; i < 2; ++i) {
        const QRegularExpressionMatch match = form.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(match.captured(2), texts.at(i));
        const QTime stamp = QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss.zzz"));
        QVERIFY(stamp.isValid());
        if (before <= after) // not across midnight
            QVERIFY(before <= stamp && stamp <= after);
    }
}

void TestLog::settingsAreReadOnceAtCreation()
{
    TempConfigStore store;
    store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    TsbLogger logger;
    store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("0"));
    logger.Log(QStringLiteral("still on"), 0);
    QVERIFY(QFile::exists(FLogFileName));
}

void TestLog::unwritableLogFileRaisesWithNameAndReason()
{
    TempConfigStore store;
    store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    // A folder where the log file should be: it cannot be opened as a file.
    QVERIFY(QDir().mkdir(FLogFileName));
    TsbLogger logger;
    try {
        logger.Log(QStringLiteral("UpStartEx"), 0);
        QFAIL("no error was raised");
    } catch (const EsbError &error) {
        const QString text = error.Message();
        QVERIFY2(text.contains(FLogFileName), qPrintable(text));
        QVERIFY2(text.size() > text.indexOf(FLogFileName) + FLogFileName.size() + 3,
                 qPrintable(text));
    }
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
