#include "library/sbErrorBlock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace blankora::library {

Outcome success()
{
    return {};
}

Outcome failure(EXCEPTION_NUMBER code, std::string text, uint32_t status)
{
    Outcome outcome;
    outcome.code = code;
    outcome.status = status;
    outcome.text = std::move(text);
    return outcome;
}

Outcome commandFailure(const transport::ScsiResult &result, std::string text,
                       std::span<const uint8_t> cdb)
{
    Outcome outcome;
    outcome.code = result.ok() ? EXCEPTION_NUMBER(EN_BAD_RESPONSE) : codeForResult(result);
    outcome.status = statusForResult(result);
    outcome.text = std::move(text);
    const size_t length = std::min(cdb.size(), sizeof(outcome.failure.Cdb));
    std::copy_n(cdb.begin(), length, outcome.failure.Cdb);
    outcome.failure.CdbLength = static_cast<uint8_t>(length);
    outcome.failure.SenseKey = result.senseKey;
    outcome.failure.Asc = result.asc;
    outcome.failure.Ascq = result.ascq;
    outcome.failure.ScsiStatus = result.status;
    return outcome;
}

EXCEPTION_NUMBER codeForOsError(int osError)
{
    switch (osError) {
    case EACCES:
    case EPERM:
    case EROFS:
        return EN_ACCESS_DENIED;
    case EBUSY:
        return EN_DEVICE_BUSY;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return EN_NO_DEVICE;
    default:
        return EN_TRANSPORT_FAILURE;
    }
}

EXCEPTION_NUMBER codeForResult(const transport::ScsiResult &result)
{
    using transport::ResultCategory;
    switch (result.category) {
    case ResultCategory::Good:
        return EN_SUCCESS;
    case ResultCategory::CheckCondition:
        return EN_SCSI_FAILURE;
    case ResultCategory::Status:
        return EN_DEVICE_BUSY;
    case ResultCategory::TransportError:
        return EN_TRANSPORT_FAILURE;
    case ResultCategory::OsError:
        return codeForOsError(result.osError);
    }
    return EN_GENERIC_FAILURE;
}

uint32_t statusForResult(const transport::ScsiResult &result)
{
    using transport::ResultCategory;
    switch (result.category) {
    case ResultCategory::Good:
        return 0;
    case ResultCategory::CheckCondition:
        return (uint32_t(result.senseKey & 0x0F) << 16) | (uint32_t(result.asc) << 8) | result.ascq;
    case ResultCategory::Status:
        return 0x01000000u | result.status;
    case ResultCategory::TransportError:
        return 0x02000000u | (uint32_t(result.hostStatus & 0xFF) << 8) |
               uint32_t(result.driverStatus & 0xFF);
    case ResultCategory::OsError:
        return uint32_t(result.osError);
    }
    return 0;
}

void copyText(char *buffer, size_t size, std::string_view text)
{
    if (buffer == nullptr || size == 0)
        return;
    size_t length = std::min(text.size(), size - 1);
    if (length < text.size()) {
        // Step back over continuation bytes so no UTF-8 sequence is cut.
        size_t cut = length;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        length = cut;
    }
    if (length > 0)
        std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

EXCEPTION_NUMBER ErrorBlock::apply(const Outcome &outcome) const
{
    if (!usable()) {
        copyText(text, size,
                 "Invalid parameter: the exception text buffer, its size and the "
                 "system status pointer are required.");
        if (status != nullptr)
            *status = 0;
        if (failure != nullptr)
            *failure = CDB_FAILURE_INFORMATION{};
        return EN_INVALID_PARAMETER;
    }
    copyText(text, size, outcome.ok() ? std::string_view() : std::string_view(outcome.text));
    *status = outcome.status;
    if (failure != nullptr)
        *failure = outcome.failure;
    return outcome.code;
}

} // namespace blankora::library
