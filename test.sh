#!/usr/bin/env bash
# Installs what is missing, builds Blankora and runs every test through CTest.
#   ./test.sh            plain build (build/)
#   ./test.sh --asan     AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   ./test.sh --tsan     ThreadSanitizer (build-tsan/)
#   ./test.sh --vm       the library on QEMU's drives in a throw-away VM (build/vm/)
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh

preset=dev
case "${1:-}" in
    --asan) preset=asan ;;
    --tsan) preset=tsan ;;
    --vm) exec tools/vm-test.sh ;;
    "") ;;
    *) echo "usage: $0 [--asan|--tsan|--vm]" >&2; exit 2 ;;
esac

blankora_install_deps
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# Debian's Qt is not instrumented: its internal synchronisation is suppressed.
# Tests that start programs fork from a threaded process; the child only execs.
export TSAN_OPTIONS="suppressions=$PWD/tools/tsan.supp die_after_fork=0 ${TSAN_OPTIONS:-}"
QT_QPA_PLATFORM=offscreen ctest --preset "$preset"
