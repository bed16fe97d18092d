#pragma once

#include <QStringList>

#include <memory>
#include <optional>

class QLocale;
class QTranslator;
class TfrmWelcome;
class TfrmFinish;
class TMainForm;

// The three windows of the program, created at start in this order.
struct TProgramWindows
{
    TfrmWelcome *Welcome = nullptr; // the program's main window: closing it ends the program
    TfrmFinish *Finish = nullptr;
    TMainForm *Main = nullptr;
};

// The program's translation and Qt's own for a locale, installed in the
// application while this object lives. A language without a translation
// leaves the English texts.
class TProgramTranslations
{
public:
    explicit TProgramTranslations(const QLocale &Locale);
    ~TProgramTranslations();
    TProgramTranslations(const TProgramTranslations &) = delete;
    TProgramTranslations &operator=(const TProgramTranslations &) = delete;

    // Whether the program's own texts are translated.
    bool ProgramTranslated() const { return FProgram != nullptr; }

private:
    std::unique_ptr<QTranslator> FQt;
    std::unique_ptr<QTranslator> FProgram;
};

// Sets the application's name and version (and, with a window system, the
// name of its menu entry, by which the desktop finds its icon).
void SetProgramIdentity();

// Handles the command line (the arguments with the program's name first):
// --help and --version print to standard output and give exit code 0; an
// unknown option or an argument prints an error to standard error and gives
// 2. Without options it gives nothing: the wizard starts. Qt's own options
// (-platform, -style, ...) are left to the application object.
std::optional<int> RunCommandLine(const QStringList &Arguments);

// Sets up what the whole process shares before any window exists: the check
// of the library version, the diagnostic logger and the callback dispatcher;
// and the application title.
void StartProgram();
// Frees what StartProgram set up.
void EndProgram();

// Creates the welcome, completion and wizard windows, in that order, linked
// to each other; none is shown yet.
TProgramWindows CreateProgramWindows();
// Frees the windows, the wizard window first.
void DestroyProgramWindows(TProgramWindows &Windows);
