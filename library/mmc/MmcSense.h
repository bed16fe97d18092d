#pragma once

#include "library/mmc/MmcTypes.h"

#include <cstdint>
#include <string>

// Sense codes as texts for people and as decisions for the command loops.
namespace blankora::mmc {

// Short user text for a sense triple ("There is no disc in the drive."),
// falling back to a text per sense key.
std::string senseUserText(uint8_t key, uint8_t asc, uint8_t ascq);
// One line for a failed command: for a CHECK CONDITION the user text, then
// the triple and libsgutils2's names for it in one bracketed form ("There is
// no disc in the drive. [02/3A/00 Not Ready: Medium not present]"); the
// transport's own text for OS and transport errors.
// `command` (e.g. "BLANK") is put in front when not empty.
std::string describeFailure(const transport::ScsiResult &result, const std::string &command = {});
// The sense of a result: parsed from its sense bytes, else from the
// transport's decoded key/ASC/ASCQ.
SenseInfo senseOf(const transport::ScsiResult &result);

bool isNoMedium(const SenseInfo &sense);            // 02/3A/xx
bool isBecomingReady(const SenseInfo &sense);       // 02/04/01
bool isOperationInProgress(const SenseInfo &sense); // 02/04/xx except 02 and 03
bool isMediumChangeOrReset(const SenseInfo &sense); // 06/28/xx, 06/29/xx
bool isUnknownCommand(const SenseInfo &sense);      // 05/20/00: the drive has no such command
// Worth retrying later: not ready (becoming ready, busy), medium changed,
// reset, unit communication failure, aborted command.
bool isRetryable(const SenseInfo &sense);

// The drive is no longer there: ENODEV, ENXIO, DID_NO_CONNECT or DID_BAD_TARGET.
bool isDriveGone(const transport::ScsiResult &result);
// No answer in time: DID_TIME_OUT, or driver status 6 (DRIVER_TIMEOUT) with
// host status 0 as older kernels report it.
bool isTimeout(const transport::ScsiResult &result);
// The way to the drive is lost: DID_TRANSPORT_DISRUPTED (the transport
// blocked the port to recover) or DID_TRANSPORT_FAILFAST. It may come back;
// when it does not, the drive is as good as gone.
bool isLinkLost(const transport::ScsiResult &result);
// An answer that says nothing about a running job: a unit attention (eject
// button, disc change, reset), an aborted command, a time-out, a lost link,
// DID_ERROR, EIO or ENOMEM. The drive may go on working; it is asked again.
bool isPassingOddity(const transport::ScsiResult &result);

} // namespace blankora::mmc
