#pragma once

#include "library/StarBurn.h"
#include "library/mmc/MmcTypes.h"
#include "library/transport/ScsiTransport.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace blankora::library {

// The result of one library operation before it is written to a caller's
// error block: exception number, system status, text and failure details.
struct Outcome
{
    EXCEPTION_NUMBER code = EN_SUCCESS;
    uint32_t status = 0;
    std::string text;
    CDB_FAILURE_INFORMATION failure{};

    bool ok() const { return code == EN_SUCCESS; }
};

Outcome success();
Outcome failure(EXCEPTION_NUMBER code, std::string text, uint32_t status = 0);
// A failed command: code, status and failure block from the drive's answer
// (`cdb` is the command that got it), `text` as the reason.
Outcome commandFailure(const transport::ScsiResult &result, std::string text,
                       std::span<const uint8_t> cdb = {});

// Exception number for a transport answer and for an errno of an open call.
EXCEPTION_NUMBER codeForResult(const transport::ScsiResult &result);
EXCEPTION_NUMBER codeForOsError(int osError);
// System status of a transport answer: errno for OS errors, 0x00KKAAQQ for a
// CHECK CONDITION, 0x01000000 | status byte for another SCSI status,
// 0x02000000 | host << 8 | driver for a transport error.
uint32_t statusForResult(const transport::ScsiResult &result);

// Copies `text` into `buffer` of `size` bytes, always NUL-terminated and never
// past `size`; a cut never splits a UTF-8 sequence. Nothing happens when the
// buffer is null or `size` is 0.
void copyText(char *buffer, size_t size, std::string_view text);

// The caller's error block of one call.
struct ErrorBlock
{
    char *text = nullptr;
    uint32_t size = 0;
    uint32_t *status = nullptr;
    CDB_FAILURE_INFORMATION *failure = nullptr; // optional

    // Text buffer and status are required.
    bool usable() const { return text != nullptr && size > 0 && status != nullptr; }
    // Writes the outcome (or, when the block is not usable, what it can of an
    // invalid-parameter failure) and returns its exception number.
    EXCEPTION_NUMBER apply(const Outcome &outcome) const;
};

} // namespace blankora::library
