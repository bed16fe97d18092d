#pragma once

class QKeyEvent;
class QPushButton;

// Return and Enter press the window's default button when it is enabled, as
// in a dialog (the three windows are plain windows, where Qt does not do it).
// Returns whether the key was taken.
bool PressDefaultButton(QKeyEvent *Event, QPushButton *Button);
