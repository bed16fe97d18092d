#pragma once

#include <QString>

// Volume label of the file system found at Path (a block node or a disc image
// file), at most 256 characters; empty when there is none or it cannot be read.
QString ReadVolumeLabel(const QString &Path);
