#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary
# root, checks its files, validates its menu entry and metainfo, and starts
# the unpacked program: with --version, and on the demo bay up to its first
# window under a virtual X display. Exit 77: skipped, with the reason.
#   test-package.sh <build folder> <source folder>
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")

skip() { echo "SKIP: $*"; exit 77; }
command -v dpkg-deb >/dev/null || skip "dpkg-deb is missing (Debian package dpkg)"
for tool in dpkg-shlibdeps desktop-file-validate appstreamcli xvfb-run xdotool; do
    command -v "$tool" >/dev/null || skip "$tool is missing (tools/deps.sh installs it)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$work/out/blankora_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no package $deb"; ls "$work/out"; exit 1; }

echo "== control"
dpkg-deb --field "$deb" | tee "$work/control"
grep -q '^Depends:.*libqt6widgets6' "$work/control" || { echo "Depends lacks the Qt libraries (shlibdeps)"; exit 1; }
grep -q '^Depends:.*qt6-qpa-plugins' "$work/control" || { echo "Depends lacks qt6-qpa-plugins"; exit 1; }
grep -q '^Description: .' "$work/control" || { echo "no description"; exit 1; }

root="$work/root"
dpkg-deb -x "$deb" "$root"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
echo "== files"
for file in usr/bin/blankora "usr/lib/$multiarch/blankora/libStarBurn.so" \
    usr/share/blankora/bres/blankora.bmp usr/share/blankora/bres/blankoraicon.bmp \
    usr/share/applications/org.blankora.Blankora.desktop \
    usr/share/metainfo/org.blankora.Blankora.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/blankora.svg \
    usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/blankora.png \
    usr/share/man/man1/blankora.1.gz usr/share/doc/blankora/copyright usr/share/doc/blankora/changelog.gz; do
    [ -f "$root/$file" ] || { echo "missing: /$file"; exit 1; }
done
echo "all present"

echo "== validators"
desktop-file-validate "$root/usr/share/applications/org.blankora.Blankora.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.blankora.Blankora.metainfo.xml"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/org.blankora.Blankora.desktop")
[ "$exec_line" = blankora ] || { echo "Exec is '$exec_line'"; exit 1; }

echo "== the unpacked program"
export PATH="$root/usr/bin:$PATH"
got=$(QT_QPA_PLATFORM=offscreen "$exec_line" --version)
[ "$got" = "Blankora $version" ] || { echo "--version printed '$got'"; exit 1; }
# The first window, with its pictures from the installed data folder: a
# missing picture would open an error box titled "Blankora" beside it.
export BLANKORA_VIRTUAL_DRIVES="$source/resources/demo-bay.json" XDG_STATE_HOME="$work/state"
cat >"$work/first-window.sh" <<'SCRIPT'
set -eu
unset QT_QPA_PLATFORM
"$1" & program=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Blankora Wizard$' | head -n 1)
sleep 1
boxes=$(xdotool search --onlyvisible --name '^Blankora$' || true)
kill "$program"
[ -n "$window" ] || { echo "no window"; exit 1; }
[ -z "$boxes" ] || { echo "an error box opened"; exit 1; }
echo "first window: $(xdotool getwindowname "$window" 2>/dev/null || echo 'Blankora Wizard')"
SCRIPT
xvfb-run -a -s "-screen 0 1024x768x24" sh "$work/first-window.sh" "$exec_line"
