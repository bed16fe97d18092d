# Sourced by the wizard walks: starts the wizard copy in $WORK on a fresh Xvfb
# display :$DISPLAY_NUMBER with its diagnostic log at $LOG, and goes from the
# welcome window to the wizard window. Stops both when the walk exits.
export DISPLAY=:$DISPLAY_NUMBER XDG_CONFIG_DIRS=$WORK QT_QPA_PLATFORM=xcb
LOG=$WORK/blankora.log
pids=()
trap 'kill "${pids[@]}" 2>/dev/null' EXIT

source "$(dirname "$0")/wait-for.sh"
visible_window() { xdotool search --onlyvisible --name 'Blankora Wizard' 2>/dev/null | head -1; }
has_window() { [ -n "$(visible_window)" ]; }
window_other_than() { local w; w=$(visible_window); [ -n "$w" ] && [ "$w" != "$1" ]; }
log_has() { grep -q "$1" "$LOG" 2>/dev/null; }

# Return until the command succeeds: a key that lands before the window
# takes input is pressed again.
press_until() { # seconds description command...
    local limit=$1 what=$2
    shift 2
    for _ in $(seq $((limit / 10))); do
        "$@" && return 0
        xdotool key Return
        wait_for 10 "$what" "$@" 2>/dev/null && return 0
    done
    echo "$(basename "$0" .sh): gave up waiting for $what" >&2
    return 1
}

rm -f "$LOG"
Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.txt" 2>&1 &
pids+=($!)
wait_for 30 "Xvfb" test -S "/tmp/.X11-unix/X$DISPLAY_NUMBER" || exit 1
"$WORK/blankora" >"$WORK/blankora.txt" 2>&1 &
program=$!
pids+=($program)
# Welcome window: Next opens the wizard window on its transport page.
wait_for 60 "the welcome window" has_window || exit 1
welcome=$(visible_window)
press_until 60 "the wizard window" window_other_than "$welcome" || exit 1
