#include "app/uProgram.h"

#include "app/ufrmFinish.h"
#include "app/ufrmMain.h"
#include "app/ufrmWelcome.h"
#include "framework/sbBurner.h"
#include "framework/sbCallBack.h"
#include "framework/sbLog.h"

#include <QCoreApplication>

void StartProgram()
{
    CheckLibraryVersion();
    GLogger = new TsbLogger();
    GCallBackEventer = new TsbCallBackEventer();
    QCoreApplication::setApplicationName(QStringLiteral("Blankora"));
}

void EndProgram()
{
    delete GCallBackEventer;
    GCallBackEventer = nullptr;
    delete GLogger;
    GLogger = nullptr;
}

TProgramWindows CreateProgramWindows()
{
    TProgramWindows windows;
    windows.Welcome = new TfrmWelcome();
    windows.Finish = new TfrmFinish();
    windows.Finish->SetProgramMainWindow(windows.Welcome);
    windows.Main = new TMainForm(windows.Welcome, windows.Finish);
    windows.Welcome->SetWizardWindow(windows.Main);
    return windows;
}

void DestroyProgramWindows(TProgramWindows &Windows)
{
    delete Windows.Main;
    Windows.Main = nullptr;
    delete Windows.Finish;
    Windows.Finish = nullptr;
    delete Windows.Welcome;
    Windows.Welcome = nullptr;
}
