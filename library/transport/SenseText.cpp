#include "library/transport/SenseText.h"

#include <QCoreApplication>

#include <scsi/sg_lib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace blankora::transport {

std::string describeSense(uint8_t senseKey, uint8_t asc, uint8_t ascq)
{
    char keyText[64] = {};
    char ascText[160] = {};
    sg_get_sense_key_str(senseKey, sizeof keyText, keyText);
    sg_get_asc_ascq_str(asc, ascq, sizeof ascText, ascText);
    // sg_lib puts a lead-in before the table text; the triple says it already.
    std::string_view condition(ascText);
    constexpr std::string_view leadIn = "Additional sense: ";
    if (condition.starts_with(leadIn))
        condition.remove_prefix(leadIn.size());
    char code[16];
    std::snprintf(code, sizeof code, "%02X/%02X/%02X", senseKey & 0x0F, asc, ascq);
    return '[' + std::string(code) + ' ' + keyText + ": " + std::string(condition) + ']';
}

static std::string translated(const char *text, const std::string &node)
{
    return QCoreApplication::translate("ScsiTransport", text)
        .arg(QString::fromStdString(node))
        .toStdString();
}

std::string openErrorText(int osError, const std::string &node)
{
    switch (osError) {
    case EACCES:
    case EPERM:
        return translated("Permission denied: %1. Add your user to the 'cdrom' group (or log in "
                          "at the local seat) to use this drive.",
                          node);
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return translated("No such device: %1. The drive was removed or is switched off; refresh "
                          "the device list.",
                          node);
    case EBUSY:
        return translated("Device busy: %1. The drive is in use by another program; close that "
                          "program and try again.",
                          node);
    default:
        return std::string(std::strerror(osError)) + ": " + node;
    }
}

} // namespace blankora::transport
