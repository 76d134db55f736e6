# Shared by the Ardour test runners (tests/vst3/ardour, tests/lv2/ardour): sourced, not run.
#
#   ardour_available || exit 77
#   ardour_home WORK TAP   a home, configuration and cache of Ardour's own in WORK, with the Lua
#                          tap TAP installed, so that nothing of the user's Ardour is touched
#   fail MESSAGE       prints it and exits 1

ardour_available() {
    if ! command -v ardour7-lua >/dev/null || [ ! -x /usr/lib/ardour7/ardour-vst3-scanner ]; then
        echo "Ardour 7 is not installed (scripts/install-deps.sh installs it): skipped"
        return 1
    fi
}

fail() {
    echo "FAILED: $*"
    exit 1
}

ardour_home() {
    rm -rf "$1"
    mkdir -p "$1/home" "$1/config/ardour7/scripts" "$1/cache"
    cp "$2" "$1/config/ardour7/scripts/"
    export HOME="$1/home" XDG_CACHE_HOME="$1/cache" XDG_CONFIG_HOME="$1/config"
    unset DISPLAY
}
