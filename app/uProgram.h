#pragma once

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
