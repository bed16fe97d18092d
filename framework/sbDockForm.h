#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>

class TsbBurner;
class TsbLog;
class TsbActionList;

// Event that carries only its sender (the page that began or ended work).
using TsbNotifyEvent = std::function<void(QObject *Sender)>;

// Base of a wizard page: a window of its own that the main window docks into
// one of its panels. It borrows the main window's burner, reports long work so
// that the main window can lock its buttons, and may hand over log lines and
// actions to the wizard's lists.
class TsbDockForm : public QWidget
{
    Q_OBJECT

public:
    explicit TsbDockForm(QWidget *parent = nullptr);
    ~TsbDockForm() override;

    virtual void BeginWork();
    virtual void EndWork();
    virtual void UpdateTexts();
    virtual void AttachBurner(TsbBurner *Burner);
    virtual void DockInto(QWidget *Panel);
    virtual TsbLog *GetPageLog();
    virtual TsbActionList *GetPageActions();

    TsbBurner *Burner() const { return FBurner; }
    int32_t WorkCount() const { return FWorkCount; }

    TsbNotifyEvent OnWorkBegin;
    TsbNotifyEvent OnWorkEnd;

protected:
    TsbBurner *FBurner = nullptr; // borrowed from the main window, never freed here
    int32_t FWorkCount = 0;
};
