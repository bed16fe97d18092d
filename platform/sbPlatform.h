#pragma once

#include <QString>

// Writes a note to the debugger output channel (standard error on Linux).
void OutputDebugText(const QString &Text);

// Whether the system's SCSI pass-through (SPTI: devices opened by their system
// names) is available. On Linux it always is (SG_IO on /dev/srN).
bool IsSptiAvailable();
