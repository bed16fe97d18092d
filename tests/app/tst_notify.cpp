#include "platform/sbDesktopNotify.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The notification on a real session bus of its own, with python3-dbusmock's
// notification service, which logs every call it receives.
class TestNotify : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void serviceReceivesTheNotification_data();
    void serviceReceivesTheNotification();
    void busWithoutServiceIsNoError();

private:
    QString CallLog() const;

    QTemporaryDir FDir;
    QProcess FBus;
    QProcess FService;
};

void TestNotify::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
    // The Debian interpreter first: another python3 on the PATH lacks Debian's modules.
    QString python;
    for (const QString &candidate :
         {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        if (QProcess::execute(candidate,
                              {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) == 0) {
            python = candidate;
            break;
        }
    }
    if (python.isEmpty())
        QSKIP("python3-dbusmock is not installed");

    FBus.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address")});
    QVERIFY(FBus.waitForReadyRead(10000));
    const QByteArray address = FBus.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    FService.start(python, {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                            QStringLiteral("--template"), QStringLiteral("notification_daemon"),
                            QStringLiteral("-l"), FDir.filePath(QStringLiteral("calls.log"))});
    QVERIFY(FService.waitForStarted());
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    QVERIFY(bus != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(
        bus->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")), 20000);
}

void TestNotify::cleanupTestCase()
{
    for (QProcess *process : {&FService, &FBus}) {
        process->terminate();
        process->waitForFinished();
    }
}

QString TestNotify::CallLog() const
{
    QFile log(FDir.filePath(QStringLiteral("calls.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

void TestNotify::serviceReceivesTheNotification_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("call");

    QTest::newRow("erased") << int(eoSucceeded) << "/dev/sr0"
                            << R"(Notify "Blankora" 0 "blankora" "Disc erased" )"
                               R"("The disc in /dev/sr0 has been erased.")";
    QTest::newRow("failed") << int(eoFailed) << "/dev/sr1"
                            << R"("Erase failed" "Erasing the disc in /dev/sr1 failed: )"
                               R"(Medium &lt;removed&gt;")";
    QTest::newRow("cancelled")
        << int(eoCancelled) << "/dev/sr2"
        << R"("Erase cancelled" "Erasing the disc in /dev/sr2 was cancelled.")";
}

void TestNotify::serviceReceivesTheNotification()
{
    QFETCH(int, outcome);
    QFETCH(QString, drive);
    QFETCH(QString, call);

    QCoreApplication::setApplicationName(QStringLiteral("Blankora"));
    NotifyEraseEnded(static_cast<TsbEraseOutcome>(outcome), drive,
                     QStringLiteral("Medium <removed>"));
    FinishDesktopNotifications();
    QTRY_VERIFY2_WITH_TIMEOUT(CallLog().contains(call), qPrintable(CallLog()), 10000);
}

// The service has gone: the bus answers at once, and nothing fails.
void TestNotify::busWithoutServiceIsNoError()
{
    FService.terminate();
    QVERIFY(FService.waitForFinished());
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    QTRY_VERIFY_WITH_TIMEOUT(
        !bus->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")), 10000);
    QVERIFY(SendDesktopNotification(
        EraseEndedNotification(eoSucceeded, QStringLiteral("/dev/sr0"), QString())));
    FinishDesktopNotifications();
}

QTEST_MAIN(TestNotify)
#include "tst_notify.moc"
