#!/usr/bin/env bash
# Builds the Debian package blankora_<version>_<arch>.deb in build-deb/ with
# Debian's build flags (hardening), then checks it with lintian and the
# validators of its menu entry and metainfo. Installs what it needs with
# apt-get (as root, or through sudo). Prints the package's path last.
#   packaging/build-deb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
BLANKORA_PACKAGES+=(lintian)
blankora_install_deps

build=build-deb
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# Passed explicitly: CMake reads no CPPFLAGS, and the others only on a first run.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBLANKORA_TESTS=OFF -DBLANKORA_BENCH=OFF \
    -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$build" --target blankora blankora_documents
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >/dev/null
deb=$(ls "$build"/package/blankora_*.deb)

echo "== lintian $deb"
lintian --info --display-info "$deb"
echo "== desktop-file-validate"
desktop-file-validate packaging/org.blankora.Blankora.desktop && echo "no findings"
echo "== appstreamcli validate --no-net"
appstreamcli validate --no-net packaging/org.blankora.Blankora.metainfo.xml
echo "$PWD/$deb"
