#include "framework/sbActions.h"
#include "framework/sbBurner.h"
#include "framework/sbDockForm.h"
#include "framework/sbLog.h"
#include "framework/sbMainForm.h"

#include <QSignalSpy>
#include <QTest>

namespace {
// A wizard with the page order of the erase wizard.
class TOrderedMainForm : public TsbMainForm
{
public:
    void InitPageOrder() override
    {
        TsbMainForm::InitPageOrder();
        FPageOrder << QStringLiteral("0") << QStringLiteral("2") << QStringLiteral("3")
                   << QStringLiteral("4") << QStringLiteral("1");
    }
    void UpdateButtons() override { ++FUpdateButtonsCalls; }
    int FUpdateButtonsCalls = 0;
};

// A page that counts its text updates and hands over its own log and actions.
class TCountingPage : public TsbDockForm
{
public:
    void UpdateTexts() override { ++FUpdateTextsCalls; }
    TsbLog *GetPageLog() override { return FOwnLog ? &FPageLog : nullptr; }
    TsbActionList *GetPageActions() override { return FOwnActions ? &FPageActions : nullptr; }

    int FUpdateTextsCalls = 0;
    bool FOwnLog = false;
    bool FOwnActions = false;
    TsbLog FPageLog;
    TsbActionList FPageActions;
};

void AddLine(TsbLog &Log, const QString &Text, int Owner)
{
    TsbLogItem *line = Log.Add();
    line->LogMessage = Text;
    line->PageOwner = Owner;
}

QStringList LogTexts(const TsbLog &Log)
{
    QStringList texts;
    for (int i = 0; i < Log.Count(); ++i)
        texts << QStringLiteral("%1@%2").arg(Log.Items(i)->LogMessage).arg(Log.Items(i)->PageOwner);
    return texts;
}
} // namespace

class TestPageBase : public QObject
{
    Q_OBJECT

private slots:
    void mainFormStartsIdleAndClosable();
    void pageOrderNavigation_data();
    void pageOrderNavigation();
    void emptyPageOrderHasNoNeighbours();
    void pageWorkLocksAndUnlocksClosing();

    void dockIntoKeepsFivePixelsAndFollowsThePanel();
    void workEventsFireOnEveryCall();
    void attachBurnerBorrowsAndUpdatesTexts();
    void pageHandsOverNothingByDefault();

    void collectPageLogCopiesTaggedLines();
    void collectingAfterDroppingGivesEachLineOnce();
    void collectPageActionsSharesTheActions();
};

void TestPageBase::mainFormStartsIdleAndClosable()
{
    const TsbMainForm form;
    QVERIFY(form.CanClose());
    QVERIFY(!form.OnOperationPage());
    QCOMPARE(form.RunState(), rsIdle);
    QVERIFY(!form.LibraryStarted());
    QVERIFY(form.PageOrder().isEmpty());
    QVERIFY(form.Burner() != nullptr);
    QCOMPARE(form.Log()->Count(), 0);
    QCOMPARE(form.ActionList()->Count(), 0);
}

void TestPageBase::pageOrderNavigation_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("prev");

    QTest::newRow("transport") << 0 << 2 << -1;
    QTest::newRow("device") << 2 << 3 << 0;
    QTest::newRow("erase options") << 3 << 4 << 2;
    QTest::newRow("summary") << 4 << 1 << 3;
    QTest::newRow("operation") << 1 << -1 << 4;
    QTest::newRow("not in the order") << 7 << -1 << -1;
    QTest::newRow("negative") << -1 << -1 << -1;
}

void TestPageBase::pageOrderNavigation()
{
    QFETCH(int, page);
    QFETCH(int, next);
    QFETCH(int, prev);

    TOrderedMainForm form;
    form.InitPageOrder();
    QCOMPARE(form.PageOrder(), QStringList({"0", "2", "3", "4", "1"}));
    QCOMPARE(form.GetNextPage(page), next);
    QCOMPARE(form.GetPrevPage(page), prev);
}

void TestPageBase::emptyPageOrderHasNoNeighbours()
{
    TsbMainForm form;
    form.InitPageOrder();
    QCOMPARE(form.GetNextPage(0), -1);
    QCOMPARE(form.GetPrevPage(0), -1);
}

void TestPageBase::pageWorkLocksAndUnlocksClosing()
{
    TOrderedMainForm form;
    TsbDockForm page;
    page.OnWorkBegin = [&form](QObject *Sender) { form.PageWorkBegin(Sender); };
    page.OnWorkEnd = [&form](QObject *Sender) { form.PageWorkEnd(Sender); };

    page.BeginWork();
    QVERIFY(!form.CanClose());
    QCOMPARE(form.FUpdateButtonsCalls, 0);
    page.EndWork();
    QVERIFY(form.CanClose());
    QCOMPARE(form.FUpdateButtonsCalls, 1);
}

void TestPageBase::dockIntoKeepsFivePixelsAndFollowsThePanel()
{
    QWidget window;
    QWidget *panel = new QWidget(&window);
    panel->setGeometry(4, 4, 489, 223);
    TsbDockForm *page = new TsbDockForm();
    page->DockInto(panel);

    QCOMPARE(page->parentWidget(), panel);
    QVERIFY(!page->isWindow());
    QCOMPARE(page->geometry(), QRect(5, 5, 484, 218));

    // Anchored to all four sides: it grows and shrinks with the panel.
    window.resize(700, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    panel->resize(600, 300);
    QCOMPARE(page->geometry(), QRect(5, 5, 595, 295));
    panel->resize(489, 223);
    QCOMPARE(page->geometry(), QRect(5, 5, 484, 218));
}

void TestPageBase::workEventsFireOnEveryCall()
{
    TsbDockForm page;
    QList<QPair<QString, QObject *>> events;
    page.OnWorkBegin = [&events](QObject *Sender) {
        events.append({QStringLiteral("begin"), Sender});
    };
    page.OnWorkEnd = [&events](QObject *Sender) { events.append({QStringLiteral("end"), Sender}); };

    page.BeginWork();
    page.BeginWork();
    QCOMPARE(page.WorkCount(), 2);
    page.EndWork();
    page.EndWork();
    QCOMPARE(page.WorkCount(), 0);

    const QList<QPair<QString, QObject *>> expected{{QStringLiteral("begin"), &page},
                                                    {QStringLiteral("begin"), &page},
                                                    {QStringLiteral("end"), &page},
                                                    {QStringLiteral("end"), &page}};
    QCOMPARE(events, expected);

    // Without handlers the count still moves.
    TsbDockForm quiet;
    quiet.BeginWork();
    QCOMPARE(quiet.WorkCount(), 1);
}

void TestPageBase::attachBurnerBorrowsAndUpdatesTexts()
{
    TsbBurner burner;
    {
        TCountingPage page;
        page.AttachBurner(&burner);
        QCOMPARE(page.Burner(), &burner);
        QCOMPARE(page.FUpdateTextsCalls, 1);
        page.AttachBurner(&burner);
        QCOMPARE(page.FUpdateTextsCalls, 2);
    }
    // The page has not freed the burner: it is still usable.
    burner.FDeviceName = QStringLiteral("\\\\.\\/dev/sr0");
    QCOMPARE(burner.FDeviceName, QStringLiteral("\\\\.\\/dev/sr0"));
}

void TestPageBase::pageHandsOverNothingByDefault()
{
    TsbDockForm page;
    QCOMPARE(page.GetPageLog(), nullptr);
    QCOMPARE(page.GetPageActions(), nullptr);

    TsbMainForm form;
    form.CollectPageLog(&page, 2);
    form.CollectPageActions(&page, 2);
    form.CollectPageLog(nullptr, 2);
    form.CollectPageActions(nullptr, 2);
    QCOMPARE(form.Log()->Count(), 0);
    QCOMPARE(form.ActionList()->Count(), 0);
}

void TestPageBase::collectPageLogCopiesTaggedLines()
{
    TsbMainForm form;
    AddLine(*form.Log(), QStringLiteral("Erasing Disc"), 0);
    TCountingPage page;
    page.FOwnLog = true;
    AddLine(page.FPageLog, QStringLiteral("Destination device"), 0);
    page.FPageLog.Items(0)->ItemType = litWarning;
    page.FPageLog.Items(0)->LogTime = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5));

    form.CollectPageLog(&page, 2);
    QCOMPARE(LogTexts(*form.Log()), QStringList({"Erasing Disc@0", "Destination device@2"}));
    const TsbLogItem *copy = form.Log()->Items(1);
    QVERIFY(copy != page.FPageLog.Items(0));
    QCOMPARE(copy->ItemType, litWarning);
    QCOMPARE(copy->LogTime, page.FPageLog.Items(0)->LogTime);
    QCOMPARE(page.FPageLog.Items(0)->PageOwner, 0); // the page's own line is untouched
}

void TestPageBase::collectingAfterDroppingGivesEachLineOnce()
{
    TsbMainForm form;
    AddLine(*form.Log(), QStringLiteral("Erasing Disc"), 0);
    TCountingPage devicePage;
    devicePage.FOwnLog = true;
    AddLine(devicePage.FPageLog, QStringLiteral("device"), 0);
    TCountingPage erasePage;
    erasePage.FOwnLog = true;
    AddLine(erasePage.FPageLog, QStringLiteral("erase a"), 0);
    AddLine(erasePage.FPageLog, QStringLiteral("erase b"), 0);

    form.CollectPageLog(&devicePage, 2);
    form.CollectPageLog(&erasePage, 3);
    // Back to the device page drops its lines and those of the pages after it.
    form.DropPageLog(2);
    QCOMPARE(LogTexts(*form.Log()), QStringList({"Erasing Disc@0"}));

    form.CollectPageLog(&devicePage, 2);
    form.DropPageLog(3);
    form.CollectPageLog(&erasePage, 3);
    form.DropPageLog(3);
    form.CollectPageLog(&erasePage, 3);
    QCOMPARE(LogTexts(*form.Log()),
             QStringList({"Erasing Disc@0", "device@2", "erase a@3", "erase b@3"}));
}

void TestPageBase::collectPageActionsSharesTheActions()
{
    TsbMainForm form;
    TCountingPage page;
    page.FOwnActions = true;
    TsbAction action;
    page.FPageActions.Add()->FAction = &action;

    form.CollectPageActions(&page, 3);
    QCOMPARE(form.ActionList()->Count(), 1);
    QCOMPARE(form.ActionList()->Items(0)->FAction, &action);
    QCOMPARE(form.ActionList()->Items(0)->FPageOwner, 3);

    form.DropPageActions(3);
    QCOMPARE(form.ActionList()->Count(), 0);
    QCOMPARE(page.FPageActions.Count(), 1); // the page keeps its own list
}

QTEST_MAIN(TestPageBase)
#include "tst_pagebase.moc"
