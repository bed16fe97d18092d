#include "app/ufrmWelcome.h"
#include "app/uProgram.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    StartProgram();
    TProgramWindows windows = CreateProgramWindows();
    windows.Welcome->show();
    const int exitCode = QApplication::exec();
    DestroyProgramWindows(windows);
    EndProgram();
    return exitCode;
}
