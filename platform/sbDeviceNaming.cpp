#include "platform/sbDeviceNaming.h"

#include <cstring>

namespace {
constexpr std::size_t PrefixLength = 4;
}

QString DriveFromDevicePath(const char *Path, std::size_t Size)
{
    if (Path == nullptr)
        return QString();
    const std::size_t Length = strnlen(Path, Size);
    if (Length <= PrefixLength)
        return QString();
    return QString::fromLocal8Bit(Path + PrefixLength,
                                  static_cast<qsizetype>(Length - PrefixLength));
}

QString DevicePathFromDrive(const QString &Drive)
{
    return QStringLiteral("\\\\.\\") + Drive;
}
