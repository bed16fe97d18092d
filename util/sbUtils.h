#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Appends Line and CR LF to the file (created when missing), in the locale's
// 8-bit encoding, and closes it again. Throws EsbError with the file's name
// and the system's reason when any step fails.
void AppendLineToFile(const QString &FileName, const QString &Line);

// The absolute byte count in megabytes with two decimals and the locale's
// decimal separator, followed by " MB" unless WithoutUnit.
QString MegabytesText(int64_t Bytes, bool WithoutUnit = false);

// The decimal text of Value, padded with zeros and cut to its rightmost
// Width characters (ZeroPad(5, 2) = "05", ZeroPad(123, 2) = "23").
QString ZeroPad(int Value, uint8_t Width);

// What follows the first "\\.\" in DevicePath, or DevicePath unchanged.
QString StripDevicePrefix(const QString &DevicePath);

// The characters Buffer[0] .. Buffer[HighIndex], ending early at the first NUL.
QString TextFromChars(const char *Buffer, int HighIndex);

template <std::size_t N> QString TextFromChars(const char (&Buffer)[N])
{
    return TextFromChars(Buffer, static_cast<int>(N) - 1);
}
