#pragma once

#include "library/mmc/MmcTypes.h"

#include <cstdint>
#include <string>

// Sense codes as texts for people and as decisions for the command loops.
namespace blankora::mmc {

// "[2 3A 00]"
std::string senseTriple(uint8_t key, uint8_t asc, uint8_t ascq);
// Short user text for a sense triple ("There is no disc in the drive."),
// falling back to a text per sense key.
std::string senseUserText(uint8_t key, uint8_t asc, uint8_t ascq);
// Upper-case condition name for the common ASC/ASCQ codes ("MEDIUM NOT PRESENT");
// empty for codes this layer does not name.
std::string senseConditionText(uint8_t asc, uint8_t ascq);
// One line for a failed command: user text, raw triple and condition text for
// a CHECK CONDITION; the transport's own text for OS and transport errors.
// `command` (e.g. "BLANK") is put in front when not empty.
std::string describeFailure(const transport::ScsiResult &result, const std::string &command = {});
// The sense of a result: parsed from its sense bytes, else from the
// transport's decoded key/ASC/ASCQ.
SenseInfo senseOf(const transport::ScsiResult &result);

bool isNoMedium(const SenseInfo &sense);            // 02/3A/xx
bool isBecomingReady(const SenseInfo &sense);       // 02/04/01
bool isOperationInProgress(const SenseInfo &sense); // 02/04/xx except 02 and 03
bool isMediumChangeOrReset(const SenseInfo &sense); // 06/28/xx, 06/29/xx
// Worth retrying later: not ready (becoming ready, busy), medium changed,
// reset, unit communication failure, aborted command.
bool isRetryable(const SenseInfo &sense);

} // namespace blankora::mmc
