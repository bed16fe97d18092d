#pragma once

#include "framework/sbMessageBox.h"

#include <QList>

// While it lives, every message box is recorded here instead of being shown;
// the hook that was set before is restored at its end.
class MessageBoxRecorder
{
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    const QList<TsbMessageBoxRecord> &Boxes() const { return FBoxes; }
    // The texts of the boxes shown so far, in order.
    QStringList Texts() const;
    void Clear() { FBoxes.clear(); }

private:
    QList<TsbMessageBoxRecord> FBoxes;
    TsbMessageBoxHook FPreviousHook;
};
