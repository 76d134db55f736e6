#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need, and only when one is missing:
# the package lists are refreshed only then, so a machine that has everything stays offline.
#
# Run it directly, or source it and call ensure_packages.

ZELKO_PACKAGES=(
    cmake ninja-build g++ binutils
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64
    libsndfile1-dev libsoxr-dev libebur128-dev libcairo2-dev libfftw3-dev
    libmpfr-dev
    lv2-dev liblilv-dev lilv-utils pkgconf
    clang libclang-rt-14-dev
    dpf-plugins-vst
    # The renderer's tests: streams read back by other programs, the manual page, completion.
    ffmpeg sox flac groff-base bsdextrautils man-db bash-completion
    # The editor: X11 headers, and for its tests a private X server, XTest for the mouse and
    # x11-apps (xwd) for screenshots by hand.
    xvfb xauth libx11-dev libxtst-dev x11-utils x11-apps
    # The LV2 editor's test: Debian's jalv and the JACK server with its example clients.
    jalv jackd2
)

# Installed without their recommended packages: Ardour would otherwise bring a desktop's worth of
# them. The tests use its VST 3 scanner and its headless Lua session, nothing graphical.
ZELKO_PACKAGES_NO_RECOMMENDS=(
    ardour
    # Qtractor's plug-in scanner (qtractor_plugin_scan) lists the CLAP module as the host sees it.
    qtractor
    # GStreamer's LV2 elements render the stereo LV2 plug-in in the tests (ffmpeg, above, too).
    gstreamer1.0-plugins-bad gstreamer1.0-tools
)

missing_packages() {
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            echo "$package"
        fi
    done
}

ensure_packages() {
    local missing missing_plain
    missing=$(missing_packages "${ZELKO_PACKAGES[@]}")
    missing_plain=$(missing_packages "${ZELKO_PACKAGES_NO_RECOMMENDS[@]}")
    [ -z "$missing" ] && [ -z "$missing_plain" ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null; then
            sudo=(sudo)
        else
            echo "*** missing packages and not root: $(echo $missing)" >&2
            return 1
        fi
    fi
    echo "Installing: $(echo $missing $missing_plain)"
    "${sudo[@]}" apt-get update
    # shellcheck disable=SC2086
    if [ -n "$missing" ]; then
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y $missing
    fi
    # shellcheck disable=SC2086
    if [ -n "$missing_plain" ]; then
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends \
            $missing_plain
    fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    ensure_packages
fi
