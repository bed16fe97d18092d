#include "MessageBoxRecorder.h"

#include <QStringList>

MessageBoxRecorder::MessageBoxRecorder()
{
    FPreviousHook =
        SetMessageBoxHook([this](const TsbMessageBoxRecord &Box) { FBoxes.append(Box); });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    SetMessageBoxHook(FPreviousHook);
}

QStringList MessageBoxRecorder::Texts() const
{
    QStringList texts;
    for (const TsbMessageBoxRecord &box : FBoxes)
        texts.append(box.Text);
    return texts;
}
