#!/bin/bash
# Starts the wizard copy in $1 on a fresh Xvfb display :$2 with the diagnostic
# log on, goes to the device page with the transport $4 (spti, the default, or
# aspi) and waits until the scan has released every drive ($3 = granted), or a
# few seconds after the session opened ($3 = denied: what the log holds then is
# kept for the report, not judged).
set -u
WORK=$1 DISPLAY_NUMBER=$2 ACCESS=$3 TRANSPORT=$4
source "$(dirname "$0")/wizard-start.sh"
log_count() { local n; n=$(grep -c "$1" "$LOG" 2>/dev/null); [ "${n:-0}" -ge "$2" ]; }

# Transport page: Next starts the scan.
if [ "$TRANSPORT" = aspi ]; then
    # The ASPI radio button: the page sits at (4, 64) in the window, the button
    # at (48, 104) on the page, 17 pixels high.
    sleep 1
    xdotool mousemove --window "$(visible_window)" 60 176 click 1
fi
press_until 60 "the library session" log_count UpStartEx 1 || exit 1

if [ "$ACCESS" = granted ]; then
    # The log is written as the scan goes: one device object per drive, one
    # more per disc for its space, as the checks expect.
    wait_for 180 "the scan to release its five device objects" log_count 'Destroy: Grabber' 5 || exit 1
else
    sleep 5
fi
exit 0
