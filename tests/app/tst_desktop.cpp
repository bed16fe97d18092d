#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "app/uPictures.h"
#include "app/uProgram.h"
#include "framework/sbBurner.h"
#include "framework/sbLog.h"
#include "pages/ufrmFinalAction.h"
#include "platform/sbDesktopNotify.h"

#include "support/MessageBoxRecorder.h"
#include "support/WizardDriver.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Creates the file Path below Root, with its folders.
void Touch(const QString &Root, const QString &Path)
{
    QDir(Root).mkpath(QFileInfo(Path).path());
    QFile file(Root + u'/' + Path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}
} // namespace

// What a desktop expects of an installed program: its command line, its
// language, its files when installed, and a word when an erase has ended.
class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void germanLocaleTranslatesTheWizard();
    void otherLocalesKeepEnglish();
    void picturesBesideTheProgramOrInstalled_data();
    void picturesBesideTheProgramOrInstalled();
    void logBesideTheProgramOrInStateFolder_data();
    void logBesideTheProgramOrInStateFolder();
    void notificationWhenTheWindowIsNotActive_data();
    void notificationWhenTheWindowIsNotActive();
    void noNotificationWithoutSessionBus();
};

void TestDesktop::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");

    const QString version = QStringLiteral("Blankora " BLANKORA_VERSION "\n");
    QTest::newRow("--version") << QStringList{"--version"} << "C" << 0 << version << "";
    QTest::newRow("-v") << QStringList{"-v"} << "C" << 0 << version << "";
    QTest::newRow("--help") << QStringList{"--help"} << "C" << 0
                            << "Erases a rewritable optical disc"
                            << "";
    QTest::newRow("--help-all") << QStringList{"--help-all"} << "C" << 0
                                << "--platform <value>            Handled by Qt."
                                << "";
    QTest::newRow("-h in German") << QStringList{"-h"} << "de_DE.UTF-8" << 0
                                  << "Löscht eine wiederbeschreibbare optische Disc"
                                  << "";
    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << "C" << 2 << ""
        << "blankora: Unknown option 'bogus'.\nTry 'blankora --help' for more information.\n";
    QTest::newRow("argument") << QStringList{"disc.iso"} << "C" << 2 << ""
                              << "blankora: Unexpected argument 'disc.iso'.";
    QTest::newRow("Qt's own option passes")
        << QStringList{"-platform", "offscreen", "--version"} << "C" << 0 << version << "";
}

// Help, version and errors come without a window: no display is needed.
void TestDesktop::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, language);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("LANG"), language);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/blankora"), arguments);
    QVERIFY(program.waitForFinished(30000));
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    QVERIFY2(output.isEmpty() ? out.isEmpty() : out.contains(output), qPrintable(out));
    QVERIFY2(error.isEmpty() ? err.isEmpty() : err.contains(error), qPrintable(err));
}

void TestDesktop::germanLocaleTranslatesTheWizard()
{
    const TProgramTranslations translations(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(translations.ProgramTranslated());
    const MessageBoxRecorder recorder;
    StartProgram();
    TProgramWindows windows = CreateProgramWindows();
    windows.Welcome->show();
    QCOMPARE(LabelText(windows.Welcome, "WelcomeLabel"),
             QStringLiteral("Willkommen beim Blankora-Assistenten"));
    QCOMPARE(windows.Main->windowTitle(), QStringLiteral("Blankora-Assistent"));
    QTest::mouseClick(Button(windows.Welcome, "ButtonNext"), Qt::LeftButton);
    QCOMPARE(LabelText(windows.Main, "LabelTitle"), QStringLiteral("SCSI-Transport"));
    QCOMPARE(Button(windows.Main, "ButtonNext")->text(), QStringLiteral("&Weiter >"));
    DestroyProgramWindows(windows);
    EndProgram();
    QVERIFY(recorder.Boxes().isEmpty());
}

void TestDesktop::otherLocalesKeepEnglish()
{
    const TProgramTranslations translations(QLocale(QLocale::Finnish, QLocale::Finland));
    QVERIFY(!translations.ProgramTranslated());
    StartProgram();
    TProgramWindows windows = CreateProgramWindows();
    QCOMPARE(LabelText(windows.Welcome, "WelcomeLabel"),
             QStringLiteral("Welcome to Blankora Wizard"));
    DestroyProgramWindows(windows);
    EndProgram();
}

void TestDesktop::picturesBesideTheProgramOrInstalled_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("expected");

    QTest::newRow("beside the program (the build)")
        << QStringList{"bin/bres/blankora.bmp", "share/blankora/bres/blankora.bmp"}
        << "bin/bres/blankora.bmp";
    QTest::newRow("installed data folder")
        << QStringList{"share/blankora/bres/blankora.bmp"} << "share/blankora/bres/blankora.bmp";
    QTest::newRow("nowhere: the error names the program's folder")
        << QStringList{} << "bin/bres/blankora.bmp";
}

void TestDesktop::picturesBesideTheProgramOrInstalled()
{
    QFETCH(QStringList, files);
    QFETCH(QString, expected);
    const QTemporaryDir root;
    for (const QString &file : files)
        Touch(root.path(), file);
    GPictureFolder = QStringLiteral("bres");
    QCOMPARE(PicturePathIn(root.path() + QStringLiteral("/bin"), QStringLiteral("/blankora.bmp")),
             root.path() + u'/' + expected);
}

void TestDesktop::logBesideTheProgramOrInStateFolder_data()
{
    QTest::addColumn<bool>("programFolderExists");
    QTest::addColumn<QString>("stateHome");
    QTest::addColumn<QString>("expected");

    QTest::newRow("writable program folder") << true << ""
                                             << "ROOT/bin/blankora.log";
    QTest::newRow("system folder, XDG_STATE_HOME") << false << "ROOT/state"
                                                   << "ROOT/state/blankora/blankora.log";
    QTest::newRow("system folder, no XDG_STATE_HOME") << false << ""
                                                      << "HOME/.local/state/blankora/blankora.log";
    QTest::newRow("system folder, relative XDG_STATE_HOME")
        << false << "state"
        << "HOME/.local/state/blankora/blankora.log";
}

// Root may write anywhere, so a program folder that is missing stands for
// one that cannot be written (/usr/bin for a user).
void TestDesktop::logBesideTheProgramOrInStateFolder()
{
    QFETCH(bool, programFolderExists);
    QFETCH(QString, stateHome);
    QFETCH(QString, expected);
    const QTemporaryDir root;
    const auto place = [&root](QString Path) {
        return Path.replace(QStringLiteral("ROOT"), root.path())
            .replace(QStringLiteral("HOME"), QDir::homePath());
    };
    if (programFolderExists)
        QDir(root.path()).mkdir(QStringLiteral("bin"));
    const QByteArray previous = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", place(stateHome).toUtf8());
    const QString name = TsbLogger::LogFileNameFor(root.path() + QStringLiteral("/bin/blankora"));
    qputenv("XDG_STATE_HOME", previous);
    QCOMPARE(name, place(expected));
}

void TestDesktop::notificationWhenTheWindowIsNotActive_data()
{
    QTest::addColumn<bool>("windowActive");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("urgent");

    QTest::newRow("hidden, erased") << false << true << false << "Disc erased"
                                    << "The disc in /dev/sr1 has been erased." << false;
    QTest::newRow("hidden, failed")
        << false << false << false << "Erase failed"
        << "Erasing the disc in /dev/sr1 failed: Medium removed" << true;
    QTest::newRow("hidden, cancelled") << false << true << true << "Erase cancelled"
                                       << "Erasing the disc in /dev/sr1 was cancelled." << false;
    QTest::newRow("active window: no notification") << true << true << false << ""
                                                    << "" << false;
}

void TestDesktop::notificationWhenTheWindowIsNotActive()
{
    QFETCH(bool, windowActive);
    QFETCH(bool, succeeded);
    QFETCH(bool, cancelled);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    QFETCH(bool, urgent);

    QList<TsbNotification> sent;
    SetNotificationHook([&sent](const TsbNotification &Sent) { sent.append(Sent); });
    TsbBurner burner;
    burner.FDeviceName = QStringLiteral("/dev/sr1");
    burner.FSucceeded = succeeded;
    burner.FCancelled = cancelled;
    if (!succeeded)
        burner.FLastMessage = QStringLiteral("Medium removed");
    TsbLog log;
    TfrmFinalAction page;
    page.FLog = &log;
    page.AttachBurner(&burner);
    if (windowActive) {
        page.show();
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
    }
    page.RunActions();
    SetNotificationHook(nullptr);

    QCOMPARE(sent.size(), summary.isEmpty() ? 0 : 1);
    if (sent.isEmpty())
        return;
    QCOMPARE(sent[0].Summary, summary);
    QCOMPARE(sent[0].Body, body);
    QCOMPARE(sent[0].Urgent, urgent);
}

// As in CI: no session bus at all. Nothing is sent, nothing fails or waits.
void TestDesktop::noNotificationWithoutSessionBus()
{
    const QTemporaryDir runtime;
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const bool sent = SendDesktopNotification(
        EraseEndedNotification(eoSucceeded, QStringLiteral("/dev/sr0"), QString()));
    FinishDesktopNotifications();
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    qputenv("XDG_RUNTIME_DIR", runtimeDir);
    QVERIFY(!sent);
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
