#include "framework/sbCallBack.h"

#include "library/StarBurn.h"

#include <QSignalSpy>
#include <QTest>

// Feeds the library callback the way the library raises it and watches what
// reaches the dispatcher's signals.
class TestCallBack : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void progress_data();
    void progress();
    void readProgressFollowsSwitch();
    void buffer_data();
    void buffer();
    void ignoredReasons_data();
    void ignoredReasons();
    void raiseWithoutHandlerDoesNothing();

private:
    std::unique_ptr<TsbCallBackEventer> FEventer;
};

void TestCallBack::init()
{
    FEventer = std::make_unique<TsbCallBackEventer>();
    GCallBackEventer = FEventer.get();
    GLastProgress = 0;
    GReason11Enabled = false;
}

void TestCallBack::cleanup()
{
    GCallBackEventer = nullptr;
    FEventer.reset();
}

static void RaiseProgress(uint8_t Reason, uint64_t Total, uint64_t Done)
{
    LibraryCallback(Reason, nullptr, &Total, &Done);
}

void TestCallBack::progress_data()
{
    QTest::addColumn<QList<quint64>>("totals");
    QTest::addColumn<QList<quint64>>("dones");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("repeats pass once")
        << QList<quint64>{200, 200, 200} << QList<quint64>{20, 21, 60} << QList<int>{10, 30};
    QTest::newRow("total 0 gives nothing")
        << QList<quint64>{0, 0} << QList<quint64>{5, 0} << QList<int>{};
    QTest::newRow("truncates") << QList<quint64>{3} << QList<quint64>{2} << QList<int>{66};
    QTest::newRow("first 0 equals the start value")
        << QList<quint64>{100, 100} << QList<quint64>{0, 1} << QList<int>{1};
    QTest::newRow("huge amounts do not overflow")
        << QList<quint64>{quint64(1) << 60} << QList<quint64>{quint64(1) << 59} << QList<int>{50};
}

void TestCallBack::progress()
{
    QFETCH(QList<quint64>, totals);
    QFETCH(QList<quint64>, dones);
    QFETCH(QList<int>, expected);

    QSignalSpy Spy(FEventer.get(), &TsbCallBackEventer::OnProgress);
    for (int I = 0; I < totals.size(); ++I)
        RaiseProgress(CN_CDVD_WRITE_PROGRESS, totals[I], dones[I]);

    QList<int> Seen;
    for (const auto &Call : Spy) {
        QCOMPARE(Call.at(0).value<QObject *>(), FEventer.get());
        Seen << Call.at(1).toInt();
    }
    QCOMPARE(Seen, expected);
}

void TestCallBack::readProgressFollowsSwitch()
{
    QSignalSpy Spy(FEventer.get(), &TsbCallBackEventer::OnProgress);
    RaiseProgress(CN_CDVD_READ_PROGRESS, 100, 40);
    QCOMPARE(Spy.count(), 0);

    GReason11Enabled = true;
    RaiseProgress(CN_CDVD_READ_PROGRESS, 100, 40);
    QCOMPARE(Spy.count(), 1);
    QCOMPARE(Spy.at(0).at(1).toInt(), 40);
}

void TestCallBack::buffer_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<quint32>("free");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("quarter free") << quint32(1000) << quint32(250) << QList<int>{75};
    QTest::newRow("size 0") << quint32(0) << quint32(250) << QList<int>{};
    QTest::newRow("empty buffer") << quint32(1000) << quint32(1000) << QList<int>{0};
    // Free * 100 wraps at 2^32: 50000000 * 100 mod 2^32 = 705032704.
    QTest::newRow("wraps") << quint32(100000000) << quint32(50000000) << QList<int>{93};
}

void TestCallBack::buffer()
{
    QFETCH(quint32, size);
    QFETCH(quint32, free);
    QFETCH(QList<int>, expected);

    QSignalSpy Spy(FEventer.get(), &TsbCallBackEventer::OnBuffer);
    // Twice: the buffer event has no repeat suppression.
    LibraryCallback(CN_CDVD_BUFFER_STATUS, nullptr, &size, &free);
    LibraryCallback(CN_CDVD_BUFFER_STATUS, nullptr, &size, &free);

    QCOMPARE(Spy.count(), expected.size() * 2);
    for (const auto &Call : Spy)
        QCOMPARE(Call.at(1).toInt(), expected.first());
}

void TestCallBack::ignoredReasons_data()
{
    QTest::addColumn<int>("reason");
    for (int Reason = 0; Reason <= 9; ++Reason)
        QTest::newRow(qPrintable(QString::number(Reason))) << Reason;
    QTest::newRow("11") << 11;
    QTest::newRow("14") << 14;
    QTest::newRow("255") << 255;
}

void TestCallBack::ignoredReasons()
{
    QFETCH(int, reason);
    QSignalSpy Progress(FEventer.get(), &TsbCallBackEventer::OnProgress);
    QSignalSpy Buffer(FEventer.get(), &TsbCallBackEventer::OnBuffer);
    uint64_t Total = 100;
    uint64_t Done = 50;
    LibraryCallback(uint8_t(reason), nullptr, &Total, &Done);
    QCOMPARE(Progress.count(), 0);
    QCOMPARE(Buffer.count(), 0);
    QCOMPARE(GLastProgress.load(), int64_t(0));
}

void TestCallBack::raiseWithoutHandlerDoesNothing()
{
    FEventer->DoProgress(5);
    FEventer->DoBuffer(5);
    RaiseProgress(CN_CDVD_WRITE_PROGRESS, 10, 5);
    GCallBackEventer = nullptr;
    RaiseProgress(CN_CDVD_WRITE_PROGRESS, 10, 7);
    uint64_t Total = 1;
    LibraryCallback(CN_DEVICE_FOUND, nullptr, &Total, nullptr);
    QCOMPARE(GLastProgress.load(), int64_t(70));
}

QTEST_MAIN(TestCallBack)
#include "tst_callback.moc"
