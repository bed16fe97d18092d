#include "library/mmc/MmcSense.h"

#include "library/mmc/MmcParsers.h"
#include "library/mmc/MmcText.h"

#include <QCoreApplication>

#include <cstdio>

namespace blankora::mmc {

namespace {

struct AscText
{
    uint8_t asc;
    int ascq; // -1 = any
    const char *text;
};

// The conditions an optical drive reports in practice.
constexpr AscText ascTexts[] = {
    {0x00, 0x00, "NO ADDITIONAL SENSE INFORMATION"},
    {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
    {0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
    {0x04, 0x04, "LOGICAL UNIT NOT READY, FORMAT IN PROGRESS"},
    {0x04, 0x07, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"},
    {0x04, 0x08, "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS"},
    {0x08, -1, "LOGICAL UNIT COMMUNICATION FAILURE"},
    {0x0C, 0x09, "WRITE ERROR - LOSS OF STREAMING"},
    {0x0C, -1, "WRITE ERROR"},
    {0x1A, 0x00, "PARAMETER LIST LENGTH ERROR"},
    {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
    {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
    {0x21, 0x02, "INVALID WRITE ADDRESS"},
    {0x24, 0x00, "INVALID FIELD IN CDB"},
    {0x26, -1, "INVALID FIELD IN PARAMETER LIST"},
    {0x27, -1, "WRITE PROTECTED"},
    {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
    {0x29, -1, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
    {0x2A, 0x01, "MODE PARAMETERS CHANGED"},
    {0x2C, 0x00, "COMMAND SEQUENCE ERROR"},
    {0x30, 0x05, "CANNOT WRITE MEDIUM - INCOMPATIBLE FORMAT"},
    {0x30, 0x06, "CANNOT FORMAT MEDIUM - INCOMPATIBLE MEDIUM"},
    {0x30, -1, "INCOMPATIBLE MEDIUM INSTALLED"},
    {0x31, 0x01, "FORMAT COMMAND FAILED"},
    {0x31, -1, "MEDIUM FORMAT CORRUPTED"},
    {0x3A, 0x01, "MEDIUM NOT PRESENT - TRAY CLOSED"},
    {0x3A, 0x02, "MEDIUM NOT PRESENT - TRAY OPEN"},
    {0x3A, -1, "MEDIUM NOT PRESENT"},
    {0x51, 0x01, "ERASE FAILURE - INCOMPLETE ERASE OPERATION DETECTED"},
    {0x51, -1, "ERASE FAILURE"},
    {0x53, 0x02, "MEDIUM REMOVAL PREVENTED"},
    {0x5A, 0x01, "OPERATOR MEDIUM REMOVAL REQUEST"},
    {0x64, 0x00, "ILLEGAL MODE FOR THIS TRACK"},
    {0x73, 0x01, "POWER CALIBRATION AREA ALMOST FULL"},
    {0x73, 0x02, "POWER CALIBRATION AREA IS FULL"},
    {0x73, 0x03, "POWER CALIBRATION AREA ERROR"},
};

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
    if (key == 0x06 && asc == 0x5A)
        return QT_TRANSLATE_NOOP("Mmc", "The tray is locked while the disc is being erased.");
    if (asc == 0x27)
        return QT_TRANSLATE_NOOP("Mmc", "The disc is write-protected.");
    return keyText(key);
}

} // namespace

std::string senseTriple(uint8_t key, uint8_t asc, uint8_t ascq)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "[%X %02X %02X]", key & 0x0F, asc, ascq);
    return buffer;
}

std::string senseUserText(uint8_t key, uint8_t asc, uint8_t ascq)
{
    return trText(userSource(key, asc, ascq));
}

std::string senseConditionText(uint8_t asc, uint8_t ascq)
{
    for (const AscText &t : ascTexts) {
        if (t.asc == asc && (t.ascq < 0 || t.ascq == ascq))
            return t.text;
    }
    return {};
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
        text =
            senseUserText(s.senseKey, s.asc, s.ascq) + ' ' + senseTriple(s.senseKey, s.asc, s.ascq);
        // Our own condition names are short; the transport's text (which
        // repeats the triple) covers the codes we do not name.
        std::string condition = senseConditionText(s.asc, s.ascq);
        if (condition.empty())
            condition = result.text;
        if (!condition.empty())
            text += ' ' + condition;
        break;
    }
    case transport::ResultCategory::Status:
        text = QCoreApplication::translate("Mmc", "The drive is busy (SCSI status %1h); try again.")
                   .arg(result.status, 2, 16, QLatin1Char('0'))
                   .toStdString();
        break;
    case transport::ResultCategory::TransportError:
        if (result.hostStatus == 3) {
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

bool isRetryable(const SenseInfo &s)
{
    if (s.senseKey == 0x05 || s.senseKey == 0x03)
        return false;
    if (s.senseKey == 0x0B)
        return true;
    return s.asc == 0x02 || s.asc == 0x04 || s.asc == 0x08 || s.asc == 0x28 || s.asc == 0x29;
}

} // namespace blankora::mmc
