#include "framework/sbEventWait.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

// Long enough that a wait which missed its wake would outlast the test run's
// time-out instead of passing by luck.
constexpr int NeverMs = 600000;

} // namespace

// Waiting for a worker while serving events: wakes, queued events, and threads
// that have no events to serve.
class TestEventWait : public QObject
{
    Q_OBJECT

private slots:
    void wakeFromWorker_endsTheWait();
    void wakeBeforeTheWait_isNotLost();
    void queuedCall_isServedDuringTheWait();
    void threadWithoutEvents_isToldToBlock();
};

void TestEventWait::wakeFromWorker_endsTheWait()
{
    std::atomic<bool> Asleep{false};
    const uint64_t Seen = EventWaitGeneration();
    std::thread Worker([&] {
        while (!Asleep.load())
            std::this_thread::yield();
        WakeEventWaits();
    });
    // The flag is raised just before the sleep; a wake in between must still count.
    QMetaObject::invokeMethod(
        this, [&] { Asleep = true; }, Qt::QueuedConnection);
    bool Served = true;
    while (EventWaitGeneration() == Seen && Served)
        Served = ServeEventsFor(NeverMs, Seen);
    Worker.join();
    QVERIFY(Served);
    QVERIFY(EventWaitGeneration() != Seen);
}

void TestEventWait::wakeBeforeTheWait_isNotLost()
{
    const uint64_t Seen = EventWaitGeneration();
    std::thread Worker([] { WakeEventWaits(); });
    Worker.join();
    // The worker ended between the check and the wait: the wait returns at once.
    QVERIFY(ServeEventsFor(NeverMs, Seen));
}

void TestEventWait::queuedCall_isServedDuringTheWait()
{
    bool Ran = false;
    std::thread Worker([&] {
        QMetaObject::invokeMethod(
            this, [&Ran] { Ran = true; }, Qt::QueuedConnection);
    });
    Worker.join();
    QVERIFY(ServeEventsFor(NeverMs, EventWaitGeneration()));
    QVERIFY(Ran);
}

void TestEventWait::threadWithoutEvents_isToldToBlock()
{
    bool Served = true;
    std::thread Plain([&Served] { Served = ServeEventsFor(NeverMs, EventWaitGeneration()); });
    Plain.join();
    QVERIFY(!Served);
}

QTEST_MAIN(TestEventWait)
#include "tst_eventwait.moc"
