# Sourced by run.sh and test.sh: installs the Debian packages the build needs.
BLANKORA_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev libsgutils2-dev libblkid-dev
    # translations: lupdate and lrelease, and CMake's Qt6LinguistTools
    qt6-l10n-tools qt6-tools-dev python3
    # the package test: dpkg-shlibdeps, the validators, a display for the first window
    dpkg-dev desktop-file-utils appstream xvfb xauth xdotool
    # the notification test: a session bus with a mock notification service
    dbus-daemon python3-dbusmock
    # the fast-erase test: an ISO 9660 + UDF image to erase
    genisoimage)

blankora_install_deps() {
    local missing=()
    for p in "${BLANKORA_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
