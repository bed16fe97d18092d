#!/bin/bash
# Erases one disc through the wizard copy in $1 on a fresh Xvfb display :$2, as
# a user would with the keyboard: Next on the welcome and transport pages,
# the drive whose product is $3 picked from the list by typing its name, fast
# or full erase ($4), Next through the summary. A message box the erase raises
# is pictured to $1/message.xwd and closed with OK. When the erase ends the
# page's log is saved with its Save Log button to $1/erase-log.txt and a
# picture of the completion window to $1/finish.xwd, then Finish closes it.
# The exit status says whether the walk got through, not how the erase ended:
# the caller judges the saved log and the disc.
set -u
WORK=$1 DISPLAY_NUMBER=$2 PRODUCT=$3 TYPE=$4
rm -f "$WORK/erase-log.txt" "$WORK/finish.xwd" "$WORK/message.xwd"
source "$(dirname "$0")/wizard-start.sh"
# The scan has ended when every drive has been named and the log has been
# quiet for three seconds.
scan_done() { # drives
    local named before
    named=$(grep -c GetDeviceNameBySystemName "$LOG" 2>/dev/null)
    [ "${named:-0}" -ge "$1" ] || return 1
    before=$(stat -c %s "$LOG")
    sleep 3
    [ "$(stat -c %s "$LOG")" = "$before" ] && log_has 'Destroy: Grabber'
}
# The erase has ended when the drive is released after the erase call; a
# message box on the way is kept as a picture and answered.
message_box() { xdotool search --onlyvisible --name '^Blankora$' 2>/dev/null | head -1; }
erase_done() {
    if [ -n "$(message_box)" ]; then
        sleep 1
        xwd -root -silent >"$WORK/message.xwd"
        xdotool key Return
        sleep 1
    fi
    sed -n '/CdvdBurnerGrabber_Blank:/,$p' "$LOG" | grep -q CdvdBurnerGrabber_Release
}
fail() { echo "wizard-erase: $*" >&2; exit 1; }

# Transport page: Next starts the scan.
press_until 60 "the library session" log_has UpStartEx || exit 1
drives=$(ls -d /sys/block/sr* 2>/dev/null | wc -l)
wait_for 180 "the scan of $drives drives" scan_done "$drives" || fail "the scan did not end"

# The device list: a click on its first row gives it the focus, typing the
# product selects the drive (the list's keyboard search), Return is Next.
wizard=$(visible_window)
xdotool mousemove --window "$wizard" 60 128 click 1
sleep 1
xdotool type --delay 30 "$PRODUCT"
sleep 1
xdotool key Return
wait_for 120 "the erase options page" log_has 'CdvdBurnerGrabber_GetSpeeds:' ||
    fail "the erase options page did not open"
sleep 2
if [ "$TYPE" = full ]; then
    # The full erase radio button, below the fast one.
    xdotool mousemove --window "$wizard" 67 152 click 1
    sleep 1
fi
xdotool key Return
sleep 3
# The summary page: Next starts the erase.
xdotool key Return
wait_for 30 "the erase to start" log_has 'CdvdBurnerGrabber_Blank:' || fail "the erase did not start"
wait_for 900 "the erase to end" erase_done || fail "the erase did not end"
sleep 3

# Save Log (Alt+L) opens the save dialog; its file name field has the focus.
# Without a window manager the focus does not return from a closed message
# box by itself.
xdotool windowfocus "$wizard"
xdotool key alt+l
wait_for 30 "the save dialog" sh -c "xdotool search --onlyvisible --name 'Save As' >/dev/null" ||
    fail "Save Log opened no dialog"
sleep 1
xdotool key ctrl+a
xdotool type --delay 20 "$WORK/erase-log.txt"
xdotool key Return
wait_for 30 "the saved log" test -s "$WORK/erase-log.txt" || fail "the log was not saved"
sleep 1
press_until 60 "the completion window" window_other_than "$wizard" || exit 1
sleep 2
xwd -root -silent >"$WORK/finish.xwd"
finish=$(visible_window)
xdotool key Return
wait_for 30 "the program to end" sh -c "! kill -0 $program 2>/dev/null" ||
    fail "Finish did not close the program (window $finish)"
exit 0
