#pragma once

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>

class TsbActionList;
class TsbBurner;
class TsbDockForm;
class TsbLog;

// Lets a window with word-wrapped texts grow, whenever its layout changes or
// it is resized, to the height those texts need at its width: the layout of a
// window gives it only the height the texts need on their widest lines.
void KeepWrappedTextsWhole(QWidget *Window);

// Run state of a wizard: idle, running its operation, or finished with it.
enum TsbRunState : uint8_t
{
    rsIdle = 0,
    rsRunning = 1,
    rsFinished = 2
};

// Base of a wizard main window: it knows the order of its pages, keeps the
// wizard's run state, owns the objects it shares with its pages (burner,
// operation log, action list) and the library session, and offers the hooks a
// concrete wizard fills in.
class TsbMainForm : public QWidget
{
    Q_OBJECT

public:
    explicit TsbMainForm(QWidget *parent = nullptr);
    ~TsbMainForm() override;

    virtual void InitPageOrder();
    // The page after / before Index in the page order, or -1.
    virtual int GetNextPage(int Index);
    virtual int GetPrevPage(int Index);
    virtual void PageWorkBegin(QObject *Sender);
    virtual void PageWorkEnd(QObject *Sender);
    // Appends copies of the page's log lines / action items, tagged with Index.
    virtual void CollectPageLog(TsbDockForm *Page, int Index);
    virtual void CollectPageActions(TsbDockForm *Page, int Index);
    virtual void UpdateButtons();
    // Removes the first entry tagged with Index and every entry after it.
    virtual void DropPageLog(int Index);
    virtual void DropPageActions(int Index);
    virtual bool ValidatePage();
    virtual void PageBack(int PageLeft, int PageEntered);
    virtual void BeforePageChange();
    virtual void UpdateTexts();
    // Opens the library session once; throws EsbError when it cannot be opened.
    virtual void StartLibrary();
    // Closes the library session; never throws.
    virtual void StopLibrary();

    const QStringList &PageOrder() const { return FPageOrder; }
    bool LibraryStarted() const { return FLibraryStarted; }
    TsbLog *Log() const { return FLog.get(); }
    TsbActionList *ActionList() const { return FActionList.get(); }
    bool OnOperationPage() const { return FOnOperationPage; }
    bool CanClose() const { return FCanClose; }
    TsbRunState RunState() const { return FRunState; }
    TsbBurner *Burner() const { return FBurner.get(); }

protected:
    QStringList FPageOrder;
    bool FLibraryStarted = false;
    std::unique_ptr<TsbLog> FLog;
    std::unique_ptr<TsbActionList> FActionList;
    bool FOnOperationPage = false;
    bool FCanClose = true;
    TsbRunState FRunState = rsIdle;
    std::unique_ptr<TsbBurner> FBurner;
};
