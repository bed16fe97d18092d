#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>

// Dispatches progress and buffer events of the library and the operations to
// whoever shows them. The signals are emitted on the raising thread; a
// receiver that connects with itself as context gets them queued onto its own
// thread, and with no receiver a raise does nothing.
class TsbCallBackEventer : public QObject
{
    Q_OBJECT

public:
    explicit TsbCallBackEventer(QObject *Parent = nullptr);

    void DoProgress(int32_t Percent);
    void DoBuffer(int32_t Percent);

signals:
    void OnProgress(QObject *Sender, int Percent);
    void OnBuffer(QObject *Sender, int Percent);
};

// The one callback given to the library.
void LibraryCallback(uint8_t Reason, void *Context, void *Special1, void *Special2);

// The process-wide dispatcher; created at program start, none before.
extern TsbCallBackEventer *GCallBackEventer;
// Whether read progress (reason 11) is passed on like write progress.
extern std::atomic<bool> GReason11Enabled;
// The last write-progress percentage passed on, so repeats are dropped.
extern std::atomic<int64_t> GLastProgress;
