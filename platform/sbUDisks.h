#pragma once

#include <QString>

// Whether UDisks2 runs on the system bus, or would be started there on demand.
bool UDisksAvailable();

// Unmounts the file system on the block device Node through UDisks2; polkit
// asks the user where its rules say so. Returns an empty text on success,
// else UDisks2's reason.
QString UnmountWithUDisks(const QString &Node);
