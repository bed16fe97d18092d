#include "app/ufrmWelcome.h"
#include "app/uProgram.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char *argv[])
{
    if (argc > 1) {
        // Help, the version and errors print without a window, so that they
        // work without a display too.
        QCoreApplication application(argc, argv);
        SetProgramIdentity();
        const TProgramTranslations translations(QLocale::system());
        if (const std::optional<int> exitCode = RunCommandLine(QCoreApplication::arguments()))
            return *exitCode;
    }
    QApplication application(argc, argv);
    const TProgramTranslations translations(QLocale::system());
    StartProgram();
    TProgramWindows windows = CreateProgramWindows();
    windows.Welcome->show();
    const int exitCode = QApplication::exec();
    DestroyProgramWindows(windows);
    EndProgram();
    return exitCode;
}
