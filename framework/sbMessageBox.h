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
// For a mounted disc the box offers Unmount when UDisks2 runs; once the disc
// is unmounted the work runs again, as if the user had repeated the click.
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
    QString Offer = {}; // the button beside OK, empty when there is none
};

// Test hook: while set, every box goes to the hook instead of a modal dialog.
// Returns the hook that was set before.
using TsbMessageBoxHook = std::function<void(const TsbMessageBoxRecord &)>;
TsbMessageBoxHook SetMessageBoxHook(TsbMessageBoxHook Hook);
// Test hook: while the hook above is set, whether a box's offer is taken
// (clicked in place of OK); not taken until set.
void SetMessageBoxOfferTaken(bool Taken);
