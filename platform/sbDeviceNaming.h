#pragma once

#include <QString>

#include <cstddef>

// Linux has no drive letters: a device's "drive" is its block node. The
// burning library names a device as the prefix \\.\ followed by that node.

// The node of a library device path: the text after its first four characters,
// up to the first NUL within Size bytes; empty when the path is shorter.
QString DriveFromDevicePath(const char *Path, std::size_t Size);

// The library device path of a drive: \\.\ followed by the drive.
QString DevicePathFromDrive(const QString &Drive);
