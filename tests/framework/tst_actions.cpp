#include "framework/sbActions.h"

#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbErrors.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

// A worker whose body the test supplies.
class TTestThread : public TsbCustomThread
{
public:
    TTestThread(TsbBurner *Burner, std::function<void()> Body)
        : TsbCustomThread(Burner), FBody(std::move(Body))
    {}

protected:
    void Execute() override { FBody(); }

private:
    std::function<void()> FBody;
};

} // namespace

class TestActions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void executeWithoutItemRaisesFirst();
    void truncateFrom_data();
    void truncateFrom();
    void bindActionsReachesEveryAction();
    void threadBodyErrorIsRecorded_data();
    void threadBodyErrorIsRecorded();

private:
    std::unique_ptr<TsbCallBackEventer> FEventer;
};

void TestActions::init()
{
    FEventer = std::make_unique<TsbCallBackEventer>();
    GCallBackEventer = FEventer.get();
}

void TestActions::cleanup()
{
    GCallBackEventer = nullptr;
    FEventer.reset();
}

void TestActions::executeWithoutItemRaisesFirst()
{
    TsbAction Action;
    QSignalSpy Progress(FEventer.get(), &TsbCallBackEventer::OnProgress);
    try {
        Action.Execute(nullptr);
        QFAIL("no error raised");
    } catch (const EsbError &Error) {
        QCOMPARE(Error.Message(), QStringLiteral("Invalid action"));
    }
    QCOMPARE(Progress.count(), 0);
    QCOMPARE(Action.FActionList, nullptr);
}

void TestActions::truncateFrom_data()
{
    QTest::addColumn<QList<int>>("owners");
    QTest::addColumn<int>("truncateAt");
    QTest::addColumn<QList<int>>("remaining");

    QTest::newRow("from the middle") << QList<int>{1, 2, 3} << 2 << QList<int>{1};
    QTest::newRow("first match wins") << QList<int>{1, 2, 3, 2} << 2 << QList<int>{1};
    QTest::newRow("from the start") << QList<int>{4, 5} << 4 << QList<int>{};
    QTest::newRow("no match") << QList<int>{1, 2} << 9 << QList<int>{1, 2};
    QTest::newRow("empty list") << QList<int>{} << 1 << QList<int>{};
}

void TestActions::truncateFrom()
{
    QFETCH(QList<int>, owners);
    QFETCH(int, truncateAt);
    QFETCH(QList<int>, remaining);

    TsbActionList List;
    for (int Owner : owners)
        List.Add()->FPageOwner = Owner;
    List.TruncateFrom(truncateAt);

    QList<int> Left;
    for (int I = 0; I < List.Count(); ++I)
        Left << List.Items(I)->FPageOwner;
    QCOMPARE(Left, remaining);
}

void TestActions::bindActionsReachesEveryAction()
{
    TsbActionList List;
    TsbAction First;
    TsbAction Second;
    List.Add()->FAction = &First;
    List.Add();
    List.Add()->FAction = &Second;
    QStringList Lines;
    List.FOnMessage = [&](QObject *Sender, const QString &Text, TsbLogItemType Kind) {
        Lines << QStringLiteral("%1:%2:%3")
                     .arg(Sender == &First ? "first" : "second", Text)
                     .arg(int(Kind));
    };

    List.BindActions();
    First.DoMessage(QStringLiteral("a"), litInfo);
    Second.DoMessage(QStringLiteral("b"), litError);

    QCOMPARE(Lines, (QStringList{"first:a:0", "second:b:1"}));
}

void TestActions::threadBodyErrorIsRecorded_data()
{
    QTest::addColumn<bool>("projectError");
    QTest::newRow("own error") << true;
    QTest::newRow("foreign exception") << false;
}

void TestActions::threadBodyErrorIsRecorded()
{
    QFETCH(bool, projectError);

    TsbBurner Burner;
    Burner.FSucceeded = true;
    Burner.FLastMessage = QStringLiteral("left over");
    QString SeenAtStart;
    TTestThread Thread(&Burner, [&] {
        SeenAtStart = Burner.FLastMessage;
        if (projectError)
            throw EsbError(QStringLiteral("Log file cannot be written"));
        throw 42;
    });
    std::thread::id TerminatedOn;
    Thread.OnTerminate = [&](TsbCustomThread *) { TerminatedOn = std::this_thread::get_id(); };
    Thread.Resume("tst_worker");
    QVERIFY(Thread.WaitFor(10000));
    Thread.Join();

    // The end is announced by the worker itself, after the error was recorded.
    QVERIFY(TerminatedOn != std::thread::id());
    QVERIFY(TerminatedOn != std::this_thread::get_id());
    QCOMPARE(SeenAtStart, QString());
    QVERIFY(!Burner.FSucceeded);
    if (projectError)
        QCOMPARE(Burner.FLastMessage, QStringLiteral("Log file cannot be written"));
    else
        QVERIFY(!Burner.FLastMessage.isEmpty());
}

QTEST_MAIN(TestActions)
#include "tst_actions.moc"
