#pragma once

#include <QString>

#include <functional>

// The standard error box: the application title as its title, an error icon
// and OK. A full stop is appended when the text's last character has a code
// above that of the full stop.
void ShowErrorMessage(const QString &text);

// A warning box with OK and no caption of its own; the text is shown as given.
void ShowWarningMessage(const QString &text);

// Runs the work of a user-interface event. An error it raises ends the work
// and its text is shown in the standard error box; the window stays as it is.
void RunGuarded(const std::function<void()> &Work);

// What a message box would have shown.
struct TsbMessageBoxRecord
{
    enum TsbBoxKind
    {
        mbkError,
        mbkWarning
    };
    TsbBoxKind Kind;
    QString Title;
    QString Text;
};

// Test hook: while set, every box goes to the hook instead of a modal dialog.
// Returns the hook that was set before.
using TsbMessageBoxHook = std::function<void(const TsbMessageBoxRecord &)>;
TsbMessageBoxHook SetMessageBoxHook(TsbMessageBoxHook Hook);
