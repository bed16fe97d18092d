#pragma once

// EsbError lives with the text and file helpers, the lowest layer that raises
// it; this header lets the framework and its users name it where they expect it.
#include "util/sbErrors.h"

// The disc in the drive whose block device is Node is mounted: the error box
// offers to unmount it when UDisks2 runs.
class EsbMountedDisc : public EsbError
{
public:
    EsbMountedDisc(const QString &Message, const QString &Node) : EsbError(Message), FNode(Node) {}

    const QString &Node() const noexcept { return FNode; }

private:
    QString FNode;
};
