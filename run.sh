#!/usr/bin/env bash
# Installs what is missing, builds Blankora and starts it. On a machine
# without an optical drive it starts on the demo bay of virtual drives.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh

blankora_install_deps
cmake --preset dev >/dev/null
cmake --build --preset dev --target blankora

if [ -z "${BLANKORA_VIRTUAL_DRIVES:-}" ] && ! ls /sys/class/block/sr* >/dev/null 2>&1; then
    export BLANKORA_VIRTUAL_DRIVES="$PWD/resources/demo-bay.json"
    echo "No optical drive found: starting on the demo bay of virtual drives ($BLANKORA_VIRTUAL_DRIVES)."
fi
exec build/bin/blankora "$@"
