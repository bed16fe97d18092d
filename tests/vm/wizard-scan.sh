#!/bin/bash
# Starts the wizard copy in $1 on a fresh Xvfb display :$2 with the diagnostic
# log on, goes to the device page with the transport $4 (spti, the default, or
# aspi) and waits until the scan has released every drive ($3 = granted), or a
# few seconds after the session opened ($3 = denied: what the log holds then is
# kept for the report, not judged).
set -u
WORK=$1 DISPLAY_NUMBER=$2 ACCESS=$3 TRANSPORT=$4
export DISPLAY=:$DISPLAY_NUMBER XDG_CONFIG_DIRS=$WORK QT_QPA_PLATFORM=xcb
LOG=$WORK/blankora.log
pids=()
trap 'kill "${pids[@]}" 2>/dev/null' EXIT

source "$(dirname "$0")/wait-for.sh"
visible_window() { xdotool search --onlyvisible --name 'Blankora Wizard' 2>/dev/null | head -1; }
has_window() { [ -n "$(visible_window)" ]; }
window_other_than() { local w; w=$(visible_window); [ -n "$w" ] && [ "$w" != "$1" ]; }
log_count() { [ "$(grep -c "$1" "$LOG" 2>/dev/null)" -ge "$2" ]; }

Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.txt" 2>&1 &
pids+=($!)
wait_for 30 "Xvfb" test -S "/tmp/.X11-unix/X$DISPLAY_NUMBER" || exit 1
"$WORK/blankora" >"$WORK/blankora.txt" 2>&1 &
pids+=($!)

# Welcome window: Next. Wizard window, transport page: Next starts the scan.
# A key that lands before the window takes input is pressed again.
press_until() { # seconds description command...
    local limit=$1 what=$2
    shift 2
    for _ in $(seq $((limit / 10))); do
        "$@" && return 0
        xdotool key Return
        wait_for 10 "$what" "$@" 2>/dev/null && return 0
    done
    echo "wizard-scan: gave up waiting for $what" >&2
    return 1
}
wait_for 60 "the welcome window" has_window || exit 1
welcome=$(visible_window)
press_until 60 "the wizard window" window_other_than "$welcome" || exit 1
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
