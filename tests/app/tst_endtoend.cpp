#include "app/ufrmFinish.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "app/uProgram.h"
#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbErase.h"
#include "framework/sbLog.h"
#include "library/virtual/VirtualBay.h"
#include "library/virtual/VirtualDrive.h"
#include "pages/ufrmEraseDisc.h"
#include "pages/ufrmFinalAction.h"
#include "pages/ufrmOperationProgress.h"

#include "support/MessageBoxRecorder.h"
#include "support/ScenarioBuilder.h"
#include "support/WizardDriver.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

using blankora::test::ScenarioBuilder;
using blankora::virtualbay::TrayState;
using blankora::virtualbay::VirtualBay;
using blankora::virtualbay::VirtualDrive;

namespace {

constexpr uint8_t OpInquiry = 0x12;

void Click(QPushButton *ButtonToClick)
{
    if (ButtonToClick->isVisible() && ButtonToClick->isEnabled())
        QTest::mouseClick(ButtonToClick, Qt::LeftButton);
    else
        qWarning("%s cannot be clicked", qPrintable(ButtonToClick->objectName()));
}

// Counts the wait dialogs that are shown while it lives.
class WaitDialogCounter : public QObject
{
public:
    WaitDialogCounter() { qApp->installEventFilter(this); }
    ~WaitDialogCounter() override { qApp->removeEventFilter(this); }
    int Shown() const { return FShown; }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() == QEvent::Show && qobject_cast<TfrmOperationProgress *>(Watched))
            ++FShown;
        return false;
    }

private:
    int FShown = 0;
};

int InquiryCount(const VirtualDrive &Drive)
{
    const auto commands = Drive.commandLog();
    return static_cast<int>(std::count_if(commands.begin(), commands.end(), [](const auto &C) {
        return !C.cdb.empty() && C.cdb.front() == OpInquiry;
    }));
}

} // namespace

// The whole program on a virtual drive bay: real windows, real clicks, from
// the welcome window to the completion window.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eraseRunsFromWelcomeToCompletion_data();
    void eraseRunsFromWelcomeToCompletion();
    void deviceCheckKeepsTheDevicePage_data();
    void deviceCheckKeepsTheDevicePage();
    void backAndForthKeepsEachPageOnceAndRelocks();
    void closingDuringTheRunEndsTheProgramAfterTheErase();

private:
    void StartBay(ScenarioBuilder &Scenario);
    void StartCdrwBay(const QJsonObject &Faults = {});
    VirtualDrive &Drive() const { return FBay->drive(0); }
    void Next() { Click(Button(FWindows.Main, "ButtonNext")); }
    void Back() { Click(Button(FWindows.Main, "ButtonPrev")); }
    // Welcome, transport and device page: ends on the device page.
    void WalkToDevicePage();
    // Goes on to the summary page and returns the speed line the run will log.
    QString WalkOnToSummary();
    QTreeWidget *LogList() const;
    QStringList LogRows() const;
    QList<int> LogIcons() const;
    QStringList WizardLog() const;
    // Save Log after the run writes the log list: the collected lines
    // without a time, the run's lines with theirs.
    void CheckSavedLog();

    std::unique_ptr<MessageBoxRecorder> FRecorder;
    std::unique_ptr<ScenarioBuilder> FScenario;
    std::shared_ptr<VirtualBay> FBay;
    TProgramWindows FWindows;
};

void TestEndToEnd::init()
{
    FRecorder = std::make_unique<MessageBoxRecorder>();
    QVERIFY(OpenProgram(FWindows));
}

void TestEndToEnd::cleanup()
{
    CloseProgram(FWindows);
    VirtualBay::install(nullptr);
    FBay.reset();
    FScenario.reset();
    FRecorder.reset();
}

void TestEndToEnd::StartBay(ScenarioBuilder &Scenario)
{
    FBay = Scenario.build();
    QVERIFY2(FBay, Scenario.lastError().c_str());
    VirtualBay::install(FBay);
}

void TestEndToEnd::StartCdrwBay(const QJsonObject &Faults)
{
    QJsonObject extra{{"address", "1:0:0:0"}, {"systemNumber", 0}};
    if (!Faults.isEmpty())
        extra.insert("faults", Faults);
    FScenario = std::make_unique<ScenarioBuilder>();
    FScenario->timeFactor(1000).drive("cd-writer", "CD-RW", "complete", extra);
    StartBay(*FScenario);
}

void TestEndToEnd::WalkToDevicePage()
{
    Click(Button(FWindows.Welcome, "ButtonNext"));
    Next();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
}

QString TestEndToEnd::WalkOnToSummary()
{
    Next();
    if (FWindows.Main->ActivePageIndex() != 3)
        return QStringLiteral("<device page refused: %1>").arg(FRecorder->Texts().join(u' '));
    const TsbEraseOptions options = FWindows.Main->ErasePage()->GetEraseOptions();
    Next();
    if (FWindows.Main->ActivePageIndex() != 4)
        return QStringLiteral("<erase page refused: %1>").arg(FRecorder->Texts().join(u' '));
    return QStringLiteral("Erase speed: %1.0x").arg(options.SpeedInPoint);
}

QTreeWidget *TestEndToEnd::LogList() const
{
    return FWindows.Main->OperationPage()->findChild<QTreeWidget *>(QStringLiteral("lvLog"));
}

QStringList TestEndToEnd::LogRows() const
{
    QStringList rows;
    const QTreeWidget *list = LogList();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0);
    return rows;
}

QList<int> TestEndToEnd::LogIcons() const
{
    QList<int> icons;
    const QTreeWidget *list = LogList();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        icons << list->topLevelItem(i)->data(0, Qt::UserRole).toInt();
    return icons;
}

// The wizard's own log as "owner:text" lines.
QStringList TestEndToEnd::WizardLog() const
{
    QStringList lines;
    const TsbLog *log = FWindows.Main->Log();
    for (int i = 0; i < log->Count(); ++i)
        lines
            << QStringLiteral("%1:%2").arg(log->Items(i)->PageOwner).arg(log->Items(i)->LogMessage);
    return lines;
}

void TestEndToEnd::CheckSavedLog()
{
    QTemporaryDir folder;
    QString proposed;
    const QString fileName = folder.filePath(QStringLiteral("erase.txt"));
    FWindows.Main->OperationPage()->FChooseLogFile = [&](QFileDialog &Dialog) {
        proposed = QFileInfo(Dialog.selectedFiles().value(0)).fileName();
        return fileName;
    };
    Click(Button(FWindows.Main->OperationPage(), "btnSaveLog"));
    QVERIFY2(
        QRegularExpression(QStringLiteral("^Log_\\d{4}_\\d{4}\\.txt$")).match(proposed).hasMatch(),
        qPrintable(proposed));

    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.takeLast(), QString()); // every line ends with CR LF
    const QStringList rows = LogRows();
    QCOMPARE(lines.size(), rows.size());
    QCOMPARE(lines.at(0), QStringLiteral("         Erasing Disc"));
    QCOMPARE(lines.at(1), QStringLiteral("         Destination device: Virtual CD-RW"));
    for (int i = 2; i < rows.size(); ++i) {
        const QString time = LogList()->topLevelItem(i)->text(1);
        QVERIFY(!time.isEmpty());
        QCOMPARE(lines.at(i), time + u' ' + rows.at(i));
    }
}

void TestEndToEnd::eraseRunsFromWelcomeToCompletion_data()
{
    QTest::addColumn<QJsonObject>("faults");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("completion");

    QTest::newRow("fast erase of a CD-RW")
        << QJsonObject{} << true
        << QStringLiteral("You have successfully completed the Disc Erasing Wizard");
    QTest::newRow("blank fails halfway")
        << QJsonObject{{"blankFailsAt", 0.4}, {"blankFailSense", "03/51/00"}} << false
        << QStringLiteral("Blankora Wizard has finished with error");
}

void TestEndToEnd::eraseRunsFromWelcomeToCompletion()
{
    QFETCH(QJsonObject, faults);
    QFETCH(bool, succeeds);
    QFETCH(QString, completion);
    StartCdrwBay(faults);
    WalkToDevicePage();
    const QString speedLine = WalkOnToSummary();
    QVERIFY2(speedLine.startsWith(QStringLiteral("Erase speed: ")), qPrintable(speedLine));
    QVERIFY(Drive().locked());

    Next();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 1);
    QCOMPARE(FWindows.Main->RunState(), rsFinished);
    QStringList expected{QStringLiteral("Erasing Disc"),
                         QStringLiteral("Destination device: Virtual CD-RW"),
                         QStringLiteral("Erase started"), speedLine};
    const QStringList rows = LogRows();
    if (succeeds) {
        expected << QStringLiteral("Eject disc") << QStringLiteral("Erase completed");
        QCOMPARE(rows, expected);
        QVERIFY(!LogIcons().contains(litError));
        QVERIFY2(FRecorder->Boxes().isEmpty(), qPrintable(FRecorder->Texts().join(u'\n')));
        QCOMPARE(int(Drive().trayState()), int(TrayState::Open));
        QVERIFY(Drive().discBlank());
    } else {
        // The blank's failure is the one red line, last, and the one box.
        QCOMPARE(rows.mid(0, expected.size()), expected);
        QCOMPARE(rows.size(), expected.size() + 1);
        QVERIFY2(rows.last().startsWith(QStringLiteral("StarBurn_CdvdBurnerGrabber_Blank")),
                 qPrintable(rows.last()));
        QCOMPARE(LogIcons().count(litError), 1);
        QCOMPARE(LogIcons().last(), int(litError));
        QCOMPARE(FRecorder->Boxes().size(), 1);
        QVERIFY(FRecorder->Boxes().at(0).Text.startsWith(rows.last()));
        QCOMPARE(int(Drive().trayState()), int(TrayState::Closed));
        QVERIFY(!Drive().discBlank());
    }
    QVERIFY(!Drive().locked());
    QVERIFY(Button(FWindows.Main->OperationPage(), "btnSaveLog")->isEnabled());
    QCOMPARE(LabelText(FWindows.Main->OperationPage(), "lblBurningLog"),
             QStringLiteral("Erasing Log:"));
    CheckSavedLog();

    Next();
    QVERIFY(FWindows.Finish->isVisible());
    QVERIFY(!FWindows.Main->isVisible());
    QCOMPARE(LabelText(FWindows.Finish, "DescriptionLabel"), completion);
}

void TestEndToEnd::deviceCheckKeepsTheDevicePage_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("rescans");

    QTest::newRow("no writer listed")
        << "cd-rom"
        << "CD-ROM"
        << "You must select device that is supports burning CD/DVD." << false;
    QTest::newRow("CD-R") << "cd-writer"
                          << "CD-R"
                          << "No writable disc is inserted." << false;
    QTest::newRow("empty drive") << "cd-writer"
                                 << ""
                                 << "There is no disc in the drive Virtual CD-RW (%1). Put in "
                                    "the rewritable disc you want to erase, then click Next again."
                                 << true;
}

void TestEndToEnd::deviceCheckKeepsTheDevicePage()
{
    QFETCH(QString, model);
    QFETCH(QString, profile);
    QFETCH(QString, message);
    QFETCH(bool, rescans);
    FScenario = std::make_unique<ScenarioBuilder>();
    FScenario->timeFactor(1000).drive(model, profile);
    StartBay(*FScenario);
    {
        const WaitDialogCounter firstScan;
        WalkToDevicePage();
        QCOMPARE(firstScan.Shown(), 1);
    }
    const int inquiries = InquiryCount(Drive());

    const WaitDialogCounter check;
    Next();
    // An empty drive is named with its node.
    QCOMPARE(FRecorder->Texts(),
             QStringList{message.contains(QStringLiteral("%1"))
                             ? message.arg(QString::fromStdString(Drive().node()))
                             : message});
    QCOMPARE(FRecorder->Boxes().at(0).Kind, TsbMessageBoxRecord::mbkError);
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    QCOMPARE(LabelText(FWindows.Main, "LabelTitle"), QStringLiteral("Device Selection"));
    QVERIFY(Button(FWindows.Main, "ButtonNext")->isEnabled());
    QVERIFY(Button(FWindows.Main, "ButtonPrev")->isEnabled());
    QCOMPARE(InquiryCount(Drive()) > inquiries, rescans);
    QCOMPARE(check.Shown(), 0);
    QVERIFY(!Drive().locked());
    QVERIFY(FWindows.Main->Burner()->FGrabber == nullptr);
}

void TestEndToEnd::backAndForthKeepsEachPageOnceAndRelocks()
{
    StartCdrwBay();
    WalkToDevicePage();
    const QStringList collected{QStringLiteral("0:Erasing Disc"),
                                QStringLiteral("2:Destination device: Virtual CD-RW")};
    QVERIFY(!WalkOnToSummary().startsWith(u'<'));
    QVERIFY(Drive().locked());
    QCOMPARE(WizardLog(), collected);
    QCOMPARE(FWindows.Main->ActionList()->Count(), 1);

    Back(); // to the erase options
    QVERIFY(Drive().locked());
    QCOMPARE(FWindows.Main->ActionList()->Count(), 1);
    Back(); // to the device page: the tray is free again
    QCOMPARE(FWindows.Main->ActivePageIndex(), 2);
    QVERIFY(!Drive().locked());
    QCOMPARE(FWindows.Main->ActionList()->Count(), 0);
    QCOMPARE(WizardLog(), collected);

    Next();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 3);
    QVERIFY(Drive().locked());
    Back();
    Back(); // to the transport page
    QCOMPARE(FWindows.Main->ActivePageIndex(), 0);
    QCOMPARE(WizardLog(), QStringList{collected.first()});
    Next();
    QVERIFY(!WalkOnToSummary().startsWith(u'<'));
    Back();
    Next();
    QCOMPARE(FWindows.Main->ActivePageIndex(), 4);
    QCOMPARE(WizardLog(), collected);
    QCOMPARE(FWindows.Main->ActionList()->Count(), 1);
    QCOMPARE(FWindows.Main->ActionList()->Items(0)->FPageOwner, 3);
    QCOMPARE(FWindows.Main->ActionList()->Items(0)->FAction,
             FWindows.Main->ErasePage()->EraseAction());
    QVERIFY(FRecorder->Boxes().isEmpty());

    // The run logs the collected lines once and erases once.
    Next();
    QCOMPARE(LogRows().count(QStringLiteral("Erasing Disc")), 1);
    QCOMPARE(LogRows().count(QStringLiteral("Erase started")), 1);
    QVERIFY(Drive().discBlank());
}

void TestEndToEnd::closingDuringTheRunEndsTheProgramAfterTheErase()
{
    StartCdrwBay();
    bool closedWhileRunning = false;
    bool closeAccepted = false;
    QTimer poll;
    const bool ended = ProgramEndsAfter([&] {
        WalkToDevicePage();
        if (WalkOnToSummary().startsWith(u'<'))
            return;
        // Once the erase has started, the window frame's close arrives.
        QObject::connect(&poll, &QTimer::timeout, FWindows.Main, [&] {
            if (closedWhileRunning || FWindows.Main->RunState() != rsRunning ||
                !LogRows().contains(QStringLiteral("Erase started")))
                return;
            closedWhileRunning = true;
            closeAccepted = FWindows.Main->close();
        });
        poll.start(1);
        Next();
    });
    QVERIFY(ended);
    QVERIFY(closedWhileRunning);
    QVERIFY(closeAccepted);
    QVERIFY(!FWindows.Main->isVisible());
    QVERIFY(!FWindows.Welcome->isVisible());
    QVERIFY(!FWindows.Finish->isVisible());
    QCOMPARE(FWindows.Main->RunState(), rsFinished);
    QCOMPARE(LogRows().mid(LogRows().size() - 2),
             (QStringList{QStringLiteral("Eject disc"), QStringLiteral("Erase completed")}));
    QCOMPARE(int(Drive().trayState()), int(TrayState::Open));
    QVERIFY(Drive().discBlank());
    QVERIFY(FRecorder->Boxes().isEmpty());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
