#pragma once

#include "framework/sbActions.h"
#include "library/StarBurn.h"

#include <cstdint>

// Milliseconds between two steps of the time-based erase progress, assuming
// the blank runs at the current write speed (KB/s) and moves one percent per
// step. 0 means no estimate can be made, so no step is ever raised.
int EraseProgressInterval(bool FullErase, uint64_t TotalBytes, DISC_TYPE DiscType,
                          uint32_t CurrentWriteSpeed);

// Blanks the rewritable disc in the burner's drive: sets the chosen speed,
// hands the blank to a worker while a timer estimates progress, then ejects.
class TsbEraseAction : public TsbAction
{
    Q_OBJECT

public:
    explicit TsbEraseAction(QObject *Parent = nullptr);

    void Execute(TsbActionItem *Item) override;
    // Raises the next estimated percentage.
    void ProgressTimerTick();
    // Stops the run when the opened drive is another one than the device page
    // showed (vendor, product, revision) or holds another disc than the one
    // the summary described (type, used space, label).
    void CheckDiscUnchanged(TsbBurner &B);

    int32_t FTick = 1;
};

// The worker of an erase: the one long blank call, its result left in the burner.
class TsbEraseThread : public TsbCustomThread
{
public:
    explicit TsbEraseThread(TsbBurner *Burner);

protected:
    void Execute() override;
};
