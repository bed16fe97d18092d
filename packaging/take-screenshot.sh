#!/usr/bin/env bash
# Takes the screenshot of the metainfo, packaging/screenshots/wizard.png: the
# program built in build/ on the demo bay under a virtual X display, on the
# device page after its scan. Needs xvfb, xauth, xdotool and x11-apps (xwd).
#   packaging/take-screenshot.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
for tool in xvfb-run xdotool xwd; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: apt-get install xvfb xauth xdotool x11-apps" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/shoot.sh" <<'SCRIPT'
set -eu
unset QT_QPA_PLATFORM
"$1" & program=$!
# Without a window manager the focus is set directly; the visible window
# named so is the welcome window, later the wizard window.
visible() { timeout 60 xdotool search --sync --onlyvisible --name '^Blankora Wizard$' | head -n 1; }
welcome=$(visible)
sleep 1
xdotool windowfocus --sync "$welcome" key Return      # Next: the transport page
sleep 1
wizard=$(visible)
xdotool windowfocus --sync "$wizard" key Return       # Next: the device page, which scans
sleep 4                                               # the demo bay answers within a second
xwd -silent -id "$wizard" -out "$2"
kill "$program"
SCRIPT
BLANKORA_VIRTUAL_DRIVES="$PWD/resources/demo-bay.json" XDG_STATE_HOME="$work/state" \
    xvfb-run -a -s "-screen 0 1024x768x24" sh "$work/shoot.sh" "$build/bin/blankora" "$work/wizard.xwd"
mkdir -p packaging/screenshots
tools/xwd-to-png.py "$work/wizard.xwd" packaging/screenshots/wizard.png
echo "packaging/screenshots/wizard.png"
