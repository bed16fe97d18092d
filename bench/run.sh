#!/usr/bin/env bash
# Builds the benchmarks and runs them; every figure is printed beside the
# reference it is measured against in the same run.
#   bench/run.sh                     build/ (the dev preset)
#   BLANKORA_BUILD_DIR=dir bench/run.sh   another build directory
#   BENCH_SKIP_STARTUP=1 bench/run.sh     only the in-process figures
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh

# What the start-up measurement needs besides the build.
BLANKORA_PACKAGES+=(xvfb xdotool x11-utils dbus)
blankora_install_deps

BUILD=${BLANKORA_BUILD_DIR:-}
if [ -z "$BUILD" ]; then
    cmake --preset dev -DBLANKORA_BENCH=ON >/dev/null
    BUILD=build
else
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBLANKORA_WERROR=ON \
        -DBLANKORA_BENCH=ON >/dev/null
fi
cmake --build "$BUILD" -j2 --target blankora bench_emptywindow bench_scan bench_erase bench_devicepage >/dev/null
BIN=$PWD/$BUILD/bin
[ -d "$BIN" ] || BIN=$BUILD/bin

echo "== start-up: launch to visible window, resident memory 1 s later (median of 7, after 1 warm-up)"
STARTUP=../shared/tools/gui-startup.sh
if [ "${BENCH_SKIP_STARTUP:-0}" = 1 ]; then
    echo "skipped (BENCH_SKIP_STARTUP=1)"
elif [ ! -x "$STARTUP" ] && [ ! -f "$STARTUP" ]; then
    echo "skipped: $STARTUP is missing; it is the shared start-up measuring script, expected beside the repository"
else
    measure() {   # command, window regex -> "startup_ms rss_MiB" medians
        local out
        out=$(bash "$STARTUP" "$1" "$2" 7 2>&1) || { echo "$out" | sed 's/^/#   /' >&2; }
        echo "$out" | awk '
            $1 == "summary" && $2 == "startup_ms" { split($5, a, "="); s = a[2] }
            $1 == "summary" && $2 == "rss_MiB"    { split($5, a, "="); r = a[2] }
            END { print (s == "" ? "NA" : s), (r == "" ? "NA" : r) }'
    }
    read -r ref_ms ref_rss < <(measure "exec '$BIN/bench_emptywindow'" '^Empty Qt Window$')
    read -r app_ms app_rss < <(measure "exec '$BIN/blankora'" 'Blankora Wizard')
    awk -v a="$app_ms" -v r="$ref_ms" -v am="$app_rss" -v rm="$ref_rss" 'BEGIN {
        if (a == "NA" || r == "NA") { print "start-up: a measurement failed (see above)"; exit }
        ratio = a / r
        printf "%-54s%.1f ms  (empty Qt window %.1f ms, ratio %.2f, target < 1.5)  %s\n",
            "start-up: launch to welcome window", a, r, ratio, ratio < 1.5 ? "ok" : "MISSED"
        printf "%-54s%.1f MiB  (empty Qt window %.1f MiB, target < 40 MiB)  %s\n",
            "start-up: resident memory", am, rm, am < 40 ? "ok" : "MISSED"
    }'
fi

echo "== scan: virtual bays of 1, 4 and 16 drives, 5 ms per command"
QT_QPA_PLATFORM=offscreen "$BIN/bench_scan" 2> >(grep -v '^QStandardPaths' >&2)
echo "== device page: scan and rows at real-drive latencies (30 ms a command, discs spinning up)"
QT_QPA_PLATFORM=offscreen "$BIN/bench_devicepage" 2> >(grep -v '^QStandardPaths' >&2)
echo "== erase: fast blank of fixed emulated length, through the wizard and on the operation page"
QT_QPA_PLATFORM=offscreen "$BIN/bench_erase" 2> >(grep -v '^QStandardPaths' >&2)
