#pragma once

#include "framework/sbLog.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

class TsbBurner;
class TsbActionList;
class TsbActionItem;

// Receives a line for the operation log: who sent it, the text and its kind.
using TsbMessageEvent =
    std::function<void(QObject *Sender, const QString &Text, TsbLogItemType Kind)>;

// An operation on the chosen drive. It runs on the user-interface thread as
// part of an action list and reports log lines through FOnMessage.
class TsbAction : public QObject
{
    Q_OBJECT

public:
    explicit TsbAction(QObject *Parent = nullptr);
    ~TsbAction() override;

    // Checks the item, remembers its list and raises progress 0; every
    // derived action calls it first.
    virtual void Execute(TsbActionItem *Item);
    virtual void DoMessage(const QString &Text, TsbLogItemType Kind);

    // Releases the tray and ejects the disc; a failure becomes an error line.
    void EjectDisc();

    TsbMessageEvent FOnMessage;
    TsbActionList *FActionList = nullptr; // borrowed, set by Execute
};

// One entry of an action list: a borrowed action and the wizard page that added it.
class TsbActionItem
{
public:
    explicit TsbActionItem(TsbActionList *Collection = nullptr);

    void Assign(const TsbActionItem &Source);
    TsbActionList *Collection() const { return FCollection; }

    TsbAction *FAction = nullptr; // borrowed, never freed here
    int32_t FPageOwner = 0;

private:
    friend class TsbActionList;
    TsbActionList *FCollection;
};

// The ordered actions of one wizard run, with the burner they work on while
// the run lasts and the handler their log lines go to.
class TsbActionList
{
public:
    TsbActionList();
    virtual ~TsbActionList();
    TsbActionList(const TsbActionList &) = delete;
    TsbActionList &operator=(const TsbActionList &) = delete;

    // Passes the list's message handler on to every action it holds.
    virtual void BindActions();

    TsbActionItem *Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    TsbActionItem *Items(int Index) const;
    void Delete(int Index);
    void Clear();
    // Removes everything from the first item that page Owner added.
    void TruncateFrom(int32_t Owner);

    TsbBurner *FBurner = nullptr; // borrowed for the length of a run
    TsbMessageEvent FOnMessage;

private:
    std::vector<std::unique_ptr<TsbActionItem>> FItems;
};

// A worker thread that runs one long library call for the burner. The
// burner owns it and joins it; its termination handler runs on the worker as
// its last act, which is how the waiting user-interface thread learns the end.
class TsbCustomThread
{
public:
    using TsbTerminateEvent = std::function<void(TsbCustomThread *Sender)>;

    explicit TsbCustomThread(TsbBurner *Burner);
    virtual ~TsbCustomThread();
    TsbCustomThread(const TsbCustomThread &) = delete;
    TsbCustomThread &operator=(const TsbCustomThread &) = delete;

    // Starts the body under the given thread name (at most 15 characters).
    void Resume(const char *Name);
    // True when the body and the termination handler have ended within the time-out.
    bool WaitFor(int Milliseconds);
    // Joins the thread; afterwards everything it wrote is visible.
    void Join();

    TsbTerminateEvent OnTerminate;
    TsbMessageEvent FOnMessage;

protected:
    virtual void DoTerminate();
    // The thread body.
    virtual void Execute() = 0;
    virtual void DoMessage(const QString &Text, TsbLogItemType Kind);

    TsbBurner *FBurner; // borrowed, cleared when the body ends

private:
    void Run();

    std::promise<void> FFinished;
    std::future<void> FFinishedFuture;
    std::thread FThread;
};
