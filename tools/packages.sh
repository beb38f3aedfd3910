# Debian packages the scripts need, and a function that installs the missing ones.
# shellcheck shell=bash

BUILD_PACKAGES=(cmake g++ make pkg-config freeglut3-dev libglu1-mesa-dev libgl-dev libsdl2-dev
    libdbus-1-dev libx11-dev libxrandr-dev libxinerama-dev libpng-dev)
# Window managers for the screen-mode lanes (some run in a D-Bus session of their own), Wayland
# compositors with XWayland for the lanes through it (xhost lets the tests into sway's), xrandr,
# which splits the screen into two monitors for the two-monitor lanes, and zenity, which SDL
# tries for its message boxes, so that case stays covered.
TEST_PACKAGES=(libgtest-dev libbenchmark-dev libstb-dev xvfb xauth openbox xdotool libxtst-dev
    libxres-dev clang libclang-rt-14-dev xfwm4 metacity mutter kwin-x11 kwin-style-breeze fluxbox
    icewm i3-wm twm dbus x11-xserver-utils zenity kwin-wayland sway xwayland)
DEMO_PACKAGES=(xvfb xauth xdotool)
# Cross-building for Windows (tools/build_windows.sh) and running it under Wine; dpkg-dev
# unpacks the freeglut source package, googletest ships GoogleTest's sources.
WINDOWS_BUILD_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix dpkg-dev googletest libstb-dev)
WINDOWS_TEST_PACKAGES=(wine wine64 xvfb xauth)

ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}
