#include "library/mmc/MmcSense.h"

#include "library/mmc/MmcParsers.h"
#include "library/mmc/MmcText.h"
#include "library/transport/SenseText.h"

#include <QCoreApplication>

#include <cerrno>

namespace blankora::mmc {

namespace {

const char *keyText(uint8_t key)
{
    switch (key) {
    case 0x00:
        return QT_TRANSLATE_NOOP("Mmc", "The drive reported no error.");
    case 0x01:
        return QT_TRANSLATE_NOOP("Mmc", "The drive recovered from an error.");
    case 0x02:
        return QT_TRANSLATE_NOOP("Mmc", "The drive is not ready.");
    case 0x03:
        return QT_TRANSLATE_NOOP("Mmc", "The disc has a medium error.");
    case 0x04:
        return QT_TRANSLATE_NOOP("Mmc", "The drive reported a hardware error.");
    case 0x05:
        return QT_TRANSLATE_NOOP("Mmc", "The drive rejected the request.");
    case 0x06:
        return QT_TRANSLATE_NOOP("Mmc", "The drive reported a change (disc or reset); try again.");
    case 0x07:
        return QT_TRANSLATE_NOOP("Mmc", "The disc is write-protected.");
    case 0x0B:
        return QT_TRANSLATE_NOOP("Mmc", "The drive aborted the command; try again.");
    default:
        return QT_TRANSLATE_NOOP("Mmc", "The drive reported an error.");
    }
}

const char *userSource(uint8_t key, uint8_t asc, uint8_t ascq)
{
    if (asc == 0x3A)
        return QT_TRANSLATE_NOOP("Mmc", "There is no disc in the drive.");
    if (key == 0x02 && asc == 0x04 && (ascq == 0x04 || ascq == 0x07 || ascq == 0x08))
        return QT_TRANSLATE_NOOP("Mmc", "The drive is busy.");
    if (key == 0x03 && asc == 0x0C)
        return QT_TRANSLATE_NOOP("Mmc", "Write error: the disc may be damaged or incompatible.");
    if (key == 0x03 && asc == 0x31)
        return QT_TRANSLATE_NOOP("Mmc", "Formatting failed.");
    if (key == 0x03 && asc == 0x51)
        return QT_TRANSLATE_NOOP("Mmc", "Erasing failed.");
    if (asc == 0x73)
        return QT_TRANSLATE_NOOP("Mmc", "The disc has reached its power-calibration limit.");
    if (key == 0x05) {
        switch (asc) {
        case 0x20:
            return QT_TRANSLATE_NOOP("Mmc", "The drive does not support this operation.");
        case 0x26:
            return QT_TRANSLATE_NOOP("Mmc", "The drive rejected the format parameters.");
        case 0x2C:
            return QT_TRANSLATE_NOOP("Mmc", "The drive is not in a state to do this.");
        case 0x30:
        case 0x64:
            return QT_TRANSLATE_NOOP("Mmc", "This disc cannot be erased in this drive.");
        case 0x53:
            return QT_TRANSLATE_NOOP("Mmc", "The tray is locked.");
        default:
            break;
        }
    }
    // Without a disc a locked tray is reported as NOT READY (QEMU, ATAPI).
    if (asc == 0x53 && ascq == 0x02)
        return QT_TRANSLATE_NOOP("Mmc", "The tray is locked.");
    if (asc == 0x53 && ascq == 0x00)
        return QT_TRANSLATE_NOOP("Mmc", "The drive could not load or eject the disc.");
    if (key == 0x06 && asc == 0x5A)
        return QT_TRANSLATE_NOOP("Mmc", "The tray is locked while the disc is being erased.");
    if (asc == 0x27)
        return QT_TRANSLATE_NOOP("Mmc", "The disc is write-protected.");
    return keyText(key);
}

} // namespace

std::string senseUserText(uint8_t key, uint8_t asc, uint8_t ascq)
{
    return trText(userSource(key, asc, ascq));
}

SenseInfo senseOf(const transport::ScsiResult &result)
{
    if (const auto parsed = parseSense(result.sense))
        return parsed.value;
    SenseInfo s;
    s.responseCode = 0x70;
    s.senseKey = result.senseKey;
    s.asc = result.asc;
    s.ascq = result.ascq;
    return s;
}

std::string describeFailure(const transport::ScsiResult &result, const std::string &command)
{
    std::string text;
    switch (result.category) {
    case transport::ResultCategory::Good:
        return {};
    case transport::ResultCategory::CheckCondition: {
        const SenseInfo s = senseOf(result);
        text = senseUserText(s.senseKey, s.asc, s.ascq) + ' ' +
               transport::describeSense(s.senseKey, s.asc, s.ascq);
        break;
    }
    case transport::ResultCategory::Status:
        text = QCoreApplication::translate("Mmc", "The drive is busy (SCSI status %1h); try again.")
                   .arg(result.status, 2, 16, QLatin1Char('0'))
                   .toStdString();
        break;
    case transport::ResultCategory::TransportError:
        if (isTimeout(result)) {
            text = trText(QT_TRANSLATE_NOOP("Mmc", "The drive did not answer in time; it may be "
                                                   "busy or hung. Wait, then try again.")) +
                   (result.text.empty() ? std::string() : " (" + result.text + ")");
            break;
        }
        [[fallthrough]];
    case transport::ResultCategory::OsError:
        text = result.text.empty()
                   ? trText(QT_TRANSLATE_NOOP("Mmc", "The command did not reach the drive."))
                   : result.text;
        break;
    }
    return command.empty() ? text : command + ": " + text;
}

bool isNoMedium(const SenseInfo &s)
{
    return s.senseKey == 0x02 && s.asc == 0x3A;
}

bool isBecomingReady(const SenseInfo &s)
{
    return s.senseKey == 0x02 && s.asc == 0x04 && s.ascq == 0x01;
}

bool isOperationInProgress(const SenseInfo &s)
{
    return s.senseKey == 0x02 && s.asc == 0x04 && s.ascq != 0x02 && s.ascq != 0x03;
}

bool isMediumChangeOrReset(const SenseInfo &s)
{
    return s.senseKey == 0x06 && (s.asc == 0x28 || s.asc == 0x29);
}

bool isUnknownCommand(const SenseInfo &s)
{
    return s.senseKey == 0x05 && s.asc == 0x20 && s.ascq == 0x00;
}

bool isRetryable(const SenseInfo &s)
{
    if (s.senseKey == 0x05 || s.senseKey == 0x03)
        return false;
    if (s.senseKey == 0x0B)
        return true;
    return s.asc == 0x02 || s.asc == 0x04 || s.asc == 0x08 || s.asc == 0x28 || s.asc == 0x29;
}

bool isDriveGone(const transport::ScsiResult &r)
{
    using transport::ResultCategory;
    if (r.category == ResultCategory::OsError)
        return r.osError == ENODEV || r.osError == ENXIO;
    return r.category == ResultCategory::TransportError && (r.hostStatus == 1 || r.hostStatus == 4);
}

bool isLinkLost(const transport::ScsiResult &r)
{
    return r.category == transport::ResultCategory::TransportError &&
           (r.hostStatus == 14 || r.hostStatus == 15);
}

bool isTimeout(const transport::ScsiResult &r)
{
    return r.category == transport::ResultCategory::TransportError &&
           (r.hostStatus == 3 || (r.hostStatus == 0 && (r.driverStatus & 0x0F) == 0x06));
}

bool isPassingOddity(const transport::ScsiResult &r)
{
    using transport::ResultCategory;
    switch (r.category) {
    case ResultCategory::CheckCondition: {
        const SenseInfo s = senseOf(r);
        return !s.deferred && (s.senseKey == 0x06 || s.senseKey == 0x0B);
    }
    case ResultCategory::TransportError:
        return isTimeout(r) || isLinkLost(r) || r.hostStatus == 7;
    case ResultCategory::OsError:
        return r.osError == EIO || r.osError == ENOMEM;
    default:
        return false;
    }
}

} // namespace blankora::mmc
