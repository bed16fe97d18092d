#!/usr/bin/env bash
# Starts the program on Wayland (Qt's wayland platform, from qt6-wayland)
# under weston's headless backend and waits for its first window: the client
# side of the protocol (WAYLAND_DEBUG) shows the window titled, configured by
# the compositor and given its first picture. Also checks that the package
# recommends qt6-wayland. Exit 77: skipped, with the reason.
#   test-wayland.sh <build folder> <program> <source folder>
set -euo pipefail
build=$(realpath "$1")
program=$(realpath "$2")
source=$(realpath "$3")

grep -q '^set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ".*qt6-wayland' "$build/CPackConfig.cmake" ||
    { echo "the package does not recommend qt6-wayland"; exit 1; }

skip() { echo "SKIP: $*"; exit 77; }
command -v weston >/dev/null || skip "weston is missing (tools/deps.sh installs it)"
plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6/plugins)
ls "$plugins"/platforms/libqwayland-*.so >/dev/null 2>&1 || skip "Qt's wayland platform is missing (qt6-wayland)"

work=$(mktemp -d)
weston_pid=""
program_pid=""
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
    [ -z "$weston_pid" ] || kill "$weston_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 700 "$work"
export XDG_RUNTIME_DIR="$work" WAYLAND_DISPLAY=blankora-test
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
    >"$work/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
    [ -S "$work/$WAYLAND_DISPLAY" ] && break
    kill -0 "$weston_pid" 2>/dev/null || { cat "$work/weston.log"; skip "weston did not start"; }
    sleep 0.1
done
[ -S "$work/$WAYLAND_DISPLAY" ] || { cat "$work/weston.log"; skip "weston made no socket"; }

QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client XDG_STATE_HOME="$work/state" \
    BLANKORA_VIRTUAL_DRIVES="$source/resources/demo-bay.json" \
    "$program" >"$work/program.log" 2>"$work/protocol.log" &
program_pid=$!

# Titled, then configured by weston and acknowledged, then a buffer attached.
shown() {
    awk '/xdg_toplevel@[0-9]+\.set_title\("Blankora Wizard"\)/ { titled = 1 }
         titled && /-> xdg_surface@[0-9]+\.ack_configure/ { configured = 1 }
         configured && /-> wl_surface@[0-9]+\.attach\(wl_buffer@/ { found = 1 }
         END { exit !found }' "$work/protocol.log"
}
for _ in $(seq 600); do
    shown && { echo "first window shown on Wayland"; exit 0; }
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
echo "no window shown"
tail -n 30 "$work/protocol.log" "$work/program.log"
exit 1
