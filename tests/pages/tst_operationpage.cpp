#include "pages/ufrmFinalAction.h"

#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErase.h"
#include "framework/sbErrors.h"
#include "framework/sbLog.h"
#include "framework/sbMessageBox.h"
#include "library/StarBurn.h"
#include "support/ChosenDrive.h"
#include "support/RefusedThreads.h"
#include "library/virtual/VirtualBay.h"
#include "library/virtual/VirtualDrive.h"
#include "support/TempConfigStore.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <vector>

namespace {

// An action that logs a line and then either fails or records that it ran.
class TScriptedAction : public TsbAction
{
public:
    explicit TScriptedAction(QString Failure) : FFailure(std::move(Failure)) {}

    void Execute(TsbActionItem *Item) override
    {
        TsbAction::Execute(Item);
        DoMessage(QStringLiteral("Step"), litInfo);
        if (!FErrorLine.isEmpty())
            DoMessage(FErrorLine, litError);
        if (!FFailure.isEmpty())
            throw EsbError(FFailure);
        FRan = true;
    }

    QString FFailure;
    QString FErrorLine;
    bool FRan = false;
};

QByteArray FileContent(const QString &Name)
{
    QFile File(Name);
    if (!File.open(QIODevice::ReadOnly))
        return {};
    return File.readAll();
}

} // namespace

// The operation page: progress, the live log, a run of the action list and Save Log.
class TestOperationPage : public QObject
{
    Q_OBJECT

private:
    QTreeWidget *Rows() const { return FPage->findChild<QTreeWidget *>(QStringLiteral("lvLog")); }
    QProgressBar *Bar(const char *Name) const
    {
        return FPage->findChild<QProgressBar *>(QLatin1String(Name));
    }
    QString LabelText(const char *Name) const
    {
        return FPage->findChild<QLabel *>(QLatin1String(Name))->text();
    }
    bool SaveLogEnabled() const
    {
        return FPage->findChild<QPushButton *>(QStringLiteral("btnSaveLog"))->isEnabled();
    }
    // Save Log into Name, as if the user had chosen it in the dialog.
    void SaveLogAs(const QString &Name)
    {
        FPage->FChooseLogFile = [Name](QFileDialog &) { return Name; };
        FPage->btnSaveLogClick();
    }

    std::unique_ptr<TsbCallBackEventer> FEventer;
    std::unique_ptr<TfrmFinalAction> FPage;
    TsbLog FLog;
    TsbActionList FActions;
    QList<TsbMessageBoxRecord> FBoxes;
    TsbMessageBoxHook FPreviousHook;

private slots:
    void initTestCase()
    {
        qputenv("BLANKORA_VIRTUAL_DRIVES",
                QByteArray(BLANKORA_TEST_SCENARIOS "/pages-drives.json"));
        QCOMPARE(int(StarBurn_UpStartEx()), int(EN_SUCCESS));
    }
    void cleanupTestCase() { StarBurn_DownShut(); }
    void init()
    {
        FEventer = std::make_unique<TsbCallBackEventer>();
        GCallBackEventer = FEventer.get();
        FBoxes.clear();
        FPreviousHook =
            SetMessageBoxHook([this](const TsbMessageBoxRecord &Box) { FBoxes.append(Box); });
        FPage = std::make_unique<TfrmFinalAction>();
        FLog.Clear();
        FActions.Clear();
        FPage->FLog = &FLog;
        FPage->FActionList = &FActions;
    }
    void cleanup()
    {
        FPage.reset();
        SetMessageBoxHook(FPreviousHook);
        GCallBackEventer = nullptr;
        FEventer.reset();
    }

    void progress_data();
    void progress();
    void buffer_data();
    void buffer();
    void addLogLine_rowCarriesIconAndTime();
    void attachBurner_rebuildsRowsFromLog();
    void withoutBufferRow_logFillsThePage();
    void failingAction_endsRunWithRedLineAndBox();
    void erase_runsOnWorkerAndProgressNeverFallsBack();
    void failedBlank_isReportedOnThePage();
    void runResult_followsWhatHappened_data();
    void runResult_followsWhatHappened();
    void erase_failsOnceAndFreesTheTray_data();
    void erase_failsOnceAndFreesTheTray();
    void saveLog_writesOneCrLfLinePerRow();
    void saveLog_replacesOrRemovesExistingFile_data();
    void saveLog_replacesOrRemovesExistingFile();
    void saveLog_failureGoesToErrorBox();
    void proposedFileName();
};

void TestOperationPage::progress_data()
{
    QTest::addColumn<QList<int>>("Values");
    QTest::addColumn<int>("Shown");
    QTest::newRow("over 100") << QList<int>{140} << 100;
    QTest::newRow("plain") << QList<int>{42} << 42;
    QTest::newRow("estimate ahead of the drive") << QList<int>{30, 60, 45} << 60;
    QTest::newRow("restart at 0 within a run") << QList<int>{25, 0} << 25;
    QTest::newRow("negative") << QList<int>{-5} << 0;
}

void TestOperationPage::progress()
{
    QFETCH(QList<int>, Values);
    QFETCH(int, Shown);
    for (int Value : Values)
        FPage->ProgressChanged(FEventer.get(), Value);
    QCOMPARE(Bar("pbWrite")->value(), Shown);
    QCOMPARE(LabelText("lblProcentValue"), QStringLiteral("%1 %").arg(Shown));

    FPage->ResetProgress();
    QCOMPARE(Bar("pbWrite")->value(), 0);
    QCOMPARE(LabelText("lblProcentValue"), QStringLiteral("0 %"));
}

void TestOperationPage::buffer_data()
{
    QTest::addColumn<int>("Value");
    QTest::addColumn<int>("BarValue");
    QTest::newRow("half") << 50 << 50;
    QTest::newRow("over full") << 140 << 100;
    QTest::newRow("wrapped below empty") << -20 << 0;
}

void TestOperationPage::buffer()
{
    QFETCH(int, Value);
    QFETCH(int, BarValue);
    FPage->BufferChanged(FEventer.get(), Value);
    QCOMPARE(LabelText("lblBufferValue"), QStringLiteral("%1 %").arg(Value));
    QCOMPARE(Bar("pbBuffer")->value(), BarValue);
}

void TestOperationPage::addLogLine_rowCarriesIconAndTime()
{
    FPage->AddLogLine(nullptr, QStringLiteral("Erase started"), litInfo);
    FPage->AddLogLine(nullptr, QStringLiteral("Broken"), litError);
    FPage->AddLogLine(nullptr, QStringLiteral("Careful"), litWarning);

    QCOMPARE(Rows()->topLevelItemCount(), 3);
    for (int I = 0; I < 3; ++I) {
        const QTreeWidgetItem *Row = Rows()->topLevelItem(I);
        QCOMPARE(Row->data(0, Qt::UserRole).toInt(), I);
        QVERIFY(!Row->icon(0).isNull());
        QVERIFY(!Row->text(1).isEmpty());
    }
    QCOMPARE(Rows()->topLevelItem(1)->text(0), QStringLiteral("Broken"));
}

// Lines of an earlier run go; the wizard's lines come back without a time,
// all shown as information.
void TestOperationPage::attachBurner_rebuildsRowsFromLog()
{
    FPage->AddLogLine(nullptr, QStringLiteral("From an earlier run"), litInfo);
    FPage->ProgressChanged(nullptr, 70);
    FLog.Add()->LogMessage = QStringLiteral("Erasing Disc");
    TsbLogItem *Failed = FLog.Add();
    Failed->LogMessage = QStringLiteral("Old failure");
    Failed->ItemType = litError;
    TsbLogItem *Timed = FLog.Add();
    Timed->LogMessage = QStringLiteral("Timed");
    Timed->LogTime = QDateTime(QDate(2026, 12, 6), QTime(17, 5, 9));

    FPage->AttachBurner(nullptr);
    QCOMPARE(Bar("pbWrite")->value(), 0);
    QCOMPARE(Rows()->topLevelItemCount(), 3);
    QCOMPARE(Rows()->topLevelItem(0)->text(0), QStringLiteral("Erasing Disc"));
    QCOMPARE(Rows()->topLevelItem(0)->text(1), QString());
    QCOMPARE(Rows()->topLevelItem(1)->data(0, Qt::UserRole).toInt(), int(litInfo));
    QCOMPARE(Rows()->topLevelItem(2)->text(1), TfrmFinalAction::TimeOfDayText(QTime(17, 5, 9)));
}

void TestOperationPage::withoutBufferRow_logFillsThePage()
{
    FPage->resize(488, 238);
    FPage->show();
    QVERIFY(QTest::qWaitForWindowExposed(FPage.get()));

    QVERIFY(!Bar("pbBuffer")->isVisible());
    QVERIFY(!FPage->findChild<QLabel *>(QStringLiteral("lablProgressCaption"))->isVisible());
    QCOMPARE(FPage->findChild<QWidget *>(QStringLiteral("pnlTop"))->height(), 36);
    QCOMPARE(Bar("pbWrite")->width(), Rows()->width());
    auto *Save = FPage->findChild<QPushButton *>(QStringLiteral("btnSaveLog"));
    QVERIFY(Save->mapTo(FPage.get(), QPoint(0, Save->height())).y() <= FPage->height());

    // The log follows the page when the wizard window grows.
    const int Height = Rows()->height();
    FPage->resize(588, 338);
    QCOMPARE(Rows()->height(), Height + 100);
    QCOMPARE(Bar("pbWrite")->width(), Rows()->width());

    // With the buffer row the percentage stands right of the bar, beside the buffer's.
    FPage->SetShowBuffer(true);
    QVERIFY(Bar("pbBuffer")->isVisible());
    QCOMPARE(Bar("pbWrite")->width(), Bar("pbBuffer")->width());
    auto *Percent = FPage->findChild<QLabel *>(QStringLiteral("lblProcentValue"));
    QCOMPARE(Percent->x(), FPage->findChild<QLabel *>(QStringLiteral("lblBufferValue"))->x());
    QVERIFY(Percent->x() >= Bar("pbWrite")->geometry().right());
}

void TestOperationPage::failingAction_endsRunWithRedLineAndBox()
{
    TScriptedAction First(QStringLiteral("Drive fell over"));
    TScriptedAction Second{QString()};
    FActions.Add()->FAction = &First;
    FActions.Add()->FAction = &Second;
    FActions.Add();

    FPage->RunActions();
    QVERIFY(!Second.FRan);
    const int Count = Rows()->topLevelItemCount();
    QCOMPARE(Count, 2);
    QCOMPARE(Rows()->topLevelItem(0)->text(0), QStringLiteral("Step"));
    QCOMPARE(Rows()->topLevelItem(Count - 1)->text(0), QStringLiteral("Drive fell over"));
    QCOMPARE(Rows()->topLevelItem(Count - 1)->data(0, Qt::UserRole).toInt(), int(litError));
    QCOMPARE(FBoxes.size(), 1);
    QCOMPARE(FBoxes.at(0).Kind, TsbMessageBoxRecord::mbkError);
    QCOMPARE(FBoxes.at(0).Text, QStringLiteral("Drive fell over."));
    QCOMPARE(Bar("pbWrite")->value(), 100);
    QCOMPARE(LabelText("lblProcentValue"), QStringLiteral("100 %"));
    QCOMPARE(LabelText("lblBufferValue"), QStringLiteral("0 %"));
    QVERIFY(SaveLogEnabled());
    // Once the run is over the actions no longer reach the page.
    QVERIFY(!First.FOnMessage);
    QVERIFY(!FActions.FBurner);
}

// A real fast erase on the bay: lines and progress come from the erase thread.
void TestOperationPage::erase_runsOnWorkerAndProgressNeverFallsBack()
{
    TsbBurner Burner;
    Burner.FTransportType = ttSpti;
    Burner.FDeviceName = QStringLiteral("CdRom0");
    Burner.FDiscType = DISC_TYPE_CDRW;
    Burner.FEraseOptions.Eject = true;
    Burner.FEraseOptions.SpeedInPoint = 4;
    Burner.FEraseOptions.SpeedInSize = 706;
    Burner.CreateGrabber();
    ShowChosenDrive(Burner);
    Burner.Lock();
    TsbEraseAction Erase;
    FActions.Add()->FAction = &Erase;
    FLog.Add()->LogMessage = QStringLiteral("Erasing Disc");
    FPage->AttachBurner(&Burner);

    std::vector<int> Shown;
    connect(Bar("pbWrite"), &QProgressBar::valueChanged, this,
            [&Shown](int Value) { Shown.push_back(Value); });
    FPage->RunActions();

    QVERIFY2(FBoxes.isEmpty(), qPrintable(FBoxes.value(0).Text));
    // The drive's own progress reached the bar from the erase thread.
    QVERIFY(Shown.size() > 2);
    QVERIFY(std::is_sorted(Shown.begin(), Shown.end()));
    QCOMPARE(Bar("pbWrite")->value(), 100);
    QStringList Texts;
    for (int I = 0; I < Rows()->topLevelItemCount(); ++I)
        Texts << Rows()->topLevelItem(I)->text(0);
    QCOMPARE(Texts.first(), QStringLiteral("Erasing Disc"));
    QVERIFY(Texts.contains(QStringLiteral("Erase started")));
    QCOMPARE(Texts.last(), QStringLiteral("Erase completed"));
    QVERIFY(SaveLogEnabled());
}

void TestOperationPage::failedBlank_isReportedOnThePage()
{
    TsbBurner Burner;
    Burner.FTransportType = ttSpti;
    Burner.FDeviceName = QStringLiteral("CdRom2");
    Burner.FDiscType = DISC_TYPE_CDRW;
    Burner.FEraseOptions.Eject = true;
    Burner.CreateGrabber();
    ShowChosenDrive(Burner);
    Burner.Lock();
    TsbEraseAction Erase;
    FActions.Add()->FAction = &Erase;
    FPage->AttachBurner(&Burner);

    FPage->RunActions();
    const QTreeWidgetItem *Last = Rows()->topLevelItem(Rows()->topLevelItemCount() - 1);
    QVERIFY2(Last->text(0).startsWith(QStringLiteral("StarBurn_CdvdBurnerGrabber_Blank failed")),
             qPrintable(Last->text(0)));
    QCOMPARE(Last->data(0, Qt::UserRole).toInt(), int(litError));
    QCOMPARE(FBoxes.size(), 1);
    QCOMPARE(Bar("pbWrite")->value(), 100);
    QVERIFY(SaveLogEnabled());
    QVERIFY(!Burner.FSucceeded);
}

void TestOperationPage::runResult_followsWhatHappened_data()
{
    QTest::addColumn<QString>("errorLine");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("succeeded");
    QTest::newRow("clean run") << ""
                               << "" << true;
    QTest::newRow("an error line") << "Eject failed"
                                   << "" << false;
    QTest::newRow("a raised error") << ""
                                    << "Drive fell over" << false;
}

void TestOperationPage::runResult_followsWhatHappened()
{
    QFETCH(QString, errorLine);
    QFETCH(QString, failure);
    QFETCH(bool, succeeded);
    TScriptedAction Action(failure);
    Action.FErrorLine = errorLine;
    FActions.Add()->FAction = &Action;
    TsbBurner Burner;
    Burner.FSucceeded = true;
    FPage->AttachBurner(&Burner);

    FPage->RunActions();

    QCOMPARE(Burner.FSucceeded, succeeded);
    QCOMPARE(FBoxes.size(), failure.isEmpty() ? 0 : 1);
}

void TestOperationPage::erase_failsOnceAndFreesTheTray_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("start");
    QTest::newRow("log file made a directory") << "log"
                                               << "Cannot open file";
    QTest::newRow("no thread can be started") << "threads"
                                              << "The erase could not be started: ";
}

// The run ends with one box, the failure as its result, the tray free and
// nothing left for the burner's end to wait on.
void TestOperationPage::erase_failsOnceAndFreesTheTray()
{
    QFETCH(QString, fault);
    QFETCH(QString, start);
    TempConfigStore Store;
    Store.SetText(QStringLiteral("LogEnabled"), QStringLiteral("1"));
    GLogger = new TsbLogger();
    const QString LogFile = GLogger->GetLogFileName();
    std::string Error;
    const auto Bay = blankora::virtualbay::VirtualBay::current(Error);
    QVERIFY2(Bay, Error.c_str());
    auto Burner = std::make_unique<TsbBurner>();
    Burner->FTransportType = ttSpti;
    Burner->FDeviceName = QStringLiteral("CdRom0");
    Burner->FDiscType = DISC_TYPE_CDRW;
    Burner->FEraseOptions.SpeedInPoint = 4;
    Burner->FEraseOptions.SpeedInSize = 706;
    Burner->CreateGrabber();
    ShowChosenDrive(*Burner);
    Burner->Lock();
    QVERIFY(Bay->drive(0).locked());
    TsbEraseAction Erase;
    FActions.Add()->FAction = &Erase;
    FPage->AttachBurner(Burner.get());
    Burner->FSucceeded = true;
    if (fault == QStringLiteral("log"))
        QVERIFY(QFile::remove(LogFile) && QDir().mkdir(LogFile));
    RefuseThreads(fault == QStringLiteral("threads"));

    FPage->RunActions();
    RefuseThreads(false);

    QCOMPARE(FBoxes.size(), 1);
    QVERIFY2(FBoxes.first().Text.startsWith(start), qPrintable(FBoxes.first().Text));
    QVERIFY(!Burner->FSucceeded);
    QVERIFY(!Bay->drive(0).locked());
    QVERIFY(!Burner->IsEraseThreadRunning());
    Burner.reset();
    QDir().rmdir(LogFile);
    QFile::remove(LogFile);
    delete GLogger;
    GLogger = nullptr;
}

void TestOperationPage::saveLog_writesOneCrLfLinePerRow()
{
    QTemporaryDir Dir;
    FLog.Add()->LogMessage = QStringLiteral("Erasing Disc");
    FPage->AttachBurner(nullptr);
    FPage->AddLogLine(nullptr, QStringLiteral("Erase started"), litInfo);
    const QString Time = Rows()->topLevelItem(1)->text(1);

    const QString Name = Dir.filePath(QStringLiteral("log.txt"));
    SaveLogAs(Name);
    QVERIFY(FBoxes.isEmpty());
    QCOMPARE(FileContent(Name),
             QByteArray("         Erasing Disc\r\n") + Time.toLatin1() + " Erase started\r\n");

    // A cancelled dialog leaves the file alone.
    FPage->FChooseLogFile = [](QFileDialog &) { return QString(); };
    FPage->AddLogLine(nullptr, QStringLiteral("More"), litInfo);
    FPage->btnSaveLogClick();
    QCOMPARE(FileContent(Name).count('\n'), 2);
}

void TestOperationPage::saveLog_replacesOrRemovesExistingFile_data()
{
    QTest::addColumn<QStringList>("Lines");
    QTest::addColumn<bool>("FileLeft");
    QTest::newRow("replaced") << QStringList{"Erasing Disc"} << true;
    QTest::newRow("empty log removes it") << QStringList{} << false;
}

void TestOperationPage::saveLog_replacesOrRemovesExistingFile()
{
    QFETCH(QStringList, Lines);
    QFETCH(bool, FileLeft);
    QTemporaryDir Dir;
    const QString Name = Dir.filePath(QStringLiteral("old.txt"));
    {
        QFile Old(Name);
        QVERIFY(Old.open(QIODevice::WriteOnly));
        Old.write(QByteArray(4096, 'x'));
    }
    for (const QString &Line : Lines)
        FLog.Add()->LogMessage = Line;
    FPage->AttachBurner(nullptr);

    SaveLogAs(Name);
    QVERIFY(FBoxes.isEmpty());
    QCOMPARE(QFile::exists(Name), FileLeft);
    if (FileLeft)
        QCOMPARE(FileContent(Name), QByteArray("         Erasing Disc\r\n"));
}

void TestOperationPage::saveLog_failureGoesToErrorBox()
{
    QTemporaryDir Dir;
    FLog.Add()->LogMessage = QStringLiteral("Erasing Disc");
    FPage->AttachBurner(nullptr);

    SaveLogAs(Dir.filePath(QStringLiteral("missing/log.txt")));
    QCOMPARE(FBoxes.size(), 1);
    QCOMPARE(FBoxes.at(0).Kind, TsbMessageBoxRecord::mbkError);
    QVERIFY(!FBoxes.at(0).Text.isEmpty());
}

void TestOperationPage::proposedFileName()
{
    QCOMPARE(TfrmFinalAction::ProposedLogFileName(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 9))),
             QStringLiteral("Log_0612_1705.txt"));
}

QTEST_MAIN(TestOperationPage)
#include "tst_operationpage.moc"
