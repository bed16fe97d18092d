#include "framework/sbEventWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// The dispatchers of the threads inside ServeEventsFor; a wake reaches them
// only under the lock, so none of them can be gone by then.
struct TWaits
{
    std::mutex Mutex;
    uint64_t Generation = 0;
    std::vector<QAbstractEventDispatcher *> Sleeping;
};

TWaits &Waits()
{
    static TWaits Instance;
    return Instance;
}

} // namespace

uint64_t EventWaitGeneration()
{
    TWaits &W = Waits();
    std::lock_guard Lock(W.Mutex);
    return W.Generation;
}

bool ServeEventsFor(int Milliseconds, uint64_t Seen)
{
    if (QCoreApplication::instance() == nullptr)
        return false;
    QAbstractEventDispatcher *Dispatcher = QAbstractEventDispatcher::instance();
    if (Dispatcher == nullptr)
        return false;
    TWaits &W = Waits();
    {
        std::lock_guard Lock(W.Mutex);
        if (W.Generation != Seen)
            return true;
        W.Sleeping.push_back(Dispatcher);
    }
    // The timer's own event ends the sleep when nothing else does.
    QTimer Recheck;
    Recheck.setSingleShot(true);
    Recheck.setTimerType(Qt::PreciseTimer);
    Recheck.start(Milliseconds);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    {
        std::lock_guard Lock(W.Mutex);
        // Nested waits of one thread register the same dispatcher: drop one entry.
        auto Found = std::find(W.Sleeping.begin(), W.Sleeping.end(), Dispatcher);
        if (Found != W.Sleeping.end())
            W.Sleeping.erase(Found);
    }
    return true;
}

void WakeEventWaits()
{
    TWaits &W = Waits();
    std::lock_guard Lock(W.Mutex);
    ++W.Generation;
    for (QAbstractEventDispatcher *Dispatcher : W.Sleeping)
        Dispatcher->wakeUp();
}
