#pragma once

#include "app/uProgram.h"

#include <QString>

#include <functional>

class QPushButton;
class QWidget;

// Helpers for tests that drive the program's windows: find their controls by
// object name and run the message loop as the program does.

// The button of that name in the window; ends the test run when there is none.
QPushButton *Button(const QWidget *Window, const char *Name);

// Text of the label of that name, or a text saying that the label is missing.
QString LabelText(const QWidget *Window, const char *Name);

// Runs the message loop with Steps queued at its start; returns whether the
// loop ended (the program's end) within 20 seconds.
bool ProgramEndsAfter(const std::function<void()> &Steps);

// Starts the program as main() does, creates its windows and shows the
// welcome window; returns whether that window came on screen.
bool OpenProgram(TProgramWindows &Windows);
// Frees the windows and what the start set up, in reverse order.
void CloseProgram(TProgramWindows &Windows);
