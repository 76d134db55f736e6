#!/usr/bin/env bash
# Runs the shell commands that README.md and docs/*.md show, as shown, so that the documentation
# cannot drift from what the tools do.
#
#   scripts/check-docs.sh BUILD_DIR
#
# Every ```sh block is run in a scratch folder of its own, as one script with `set -e`: a
# command that fails fails the check. The scratch folder holds short recordings under every audio
# file name the block reads (made with the renderer's demo programme), `build/release` as a link to
# BUILD_DIR, and `zelko-render` on the PATH, as after an install.
#
# Blocks that build, install or test the project (cmake, scripts/*.sh, sudo) are what CI itself
# runs, and blocks that run for an hour (the soak test, long fuzzing, an hour's render) cannot run
# here; for those
# the check reads each command and makes sure that what it names exists: the script, the CMake
# option, the build target and the file.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(cd "${1:?usage: scripts/check-docs.sh BUILD_DIR}" && pwd)
RENDER="$BUILD/tools/zelko-render"
[ -x "$RENDER" ] || { echo "no renderer in $BUILD/tools" >&2; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin"
ln -s "$RENDER" "$scratch/bin/zelko-render"
cp "$BUILD/tools/zelko.so" "$scratch/bin/" 2>/dev/null || true
# A sanitized build's LV2 module needs the sanitizer's runtime loaded first into Debian's LV2
# tools, GStreamer and ffmpeg, which are not instrumented: ZELKO_PRELOAD names it.
if [ -n "${ZELKO_PRELOAD:-}" ]; then
    for tool in lv2apply lv2info lv2ls gst-launch-1.0 ffmpeg; do
        printf '#!/bin/sh\nLD_PRELOAD=%s ASAN_OPTIONS=detect_leaks=0 exec %s "$@"\n' \
            "$ZELKO_PRELOAD" "$(command -v "$tool")" >"$scratch/bin/$tool"
        chmod +x "$scratch/bin/$tool"
    done
fi

failures=0
blocks=0
fail() {
    echo "*** $1"
    failures=$((failures + 1))
}

# The blocks of a file, each as one script in $scratch/blocks/<file>-<n>.sh; continued lines
# stay continued.
extract() {
    local file=$1 name
    name=$(basename "$file" .md)
    awk -v out="$scratch/blocks/$name" '
        /^```sh/ { n++; on = 1; file = sprintf("%s-%02d.sh", out, n); printf "" > file; next }
        /^```/ { on = 0; next }
        on { print >> file }
    ' "$file"
}

# A CMake option, target or file a build-or-install command names must exist.
check_names() {
    local block=$1 option target script
    for option in $(grep -o -- '-D[A-Z0-9_]*=' "$block" | sed 's/^-D//; s/=$//' | sort -u); do
        case "$option" in
            CMAKE_*) ;;
            *) grep -rq --include=CMakeLists.txt "\b$option\b" "$ROOT" ||
                   fail "$(basename "$block"): no CMake option $option" ;;
        esac
    done
    for target in $(grep -o -- '--target [A-Za-z0-9_-]*' "$block" | awk '{ print $2 }'); do
        grep -rqE --include=CMakeLists.txt "add_(executable|library|custom_target)\($target\b" \
            "$ROOT" || fail "$(basename "$block"): no build target $target"
    done
    for script in $(grep -oE '(^|[[:space:]])scripts/[a-z-]+\.sh' "$block" | tr -d ' '); do
        [ -x "$ROOT/$script" ] || fail "$(basename "$block"): no script $script"
    done
    for file in $(grep -oE '(^|[[:space:]])cmake/[A-Za-z0-9_.-]+' "$block" | tr -d ' '); do
        [ -e "$ROOT/$file" ] || fail "$(basename "$block"): no file $file"
    done
    bash -n "$block" || fail "$(basename "$block"): not valid shell"
}

# A short recording under every audio file name the block reads; a folder's glob gets two.
make_inputs() {
    local block=$1 work=$2 word name written
    # What the block writes with -o is its own output, not an input to make.
    written=$(grep -oE -- '(-o|--output) [A-Za-z0-9_./-]+' "$block" | awk '{ print $2 }')
    # Words in comments ("# writes interview-stereo.wav") are outputs described, not inputs.
    for word in $(sed 's/[[:space:]]#.*//' "$block" | grep -oE '[A-Za-z0-9_./*-]+\.(wav|flac|aiff|ogg|mp3)' |
        sort -u); do
        grep -qxF -- "$word" <<<"$written" && continue
        case "$word" in
            /tmp/* | /dev/* | out/*) continue ;;
        esac
        # Two channels (the demo through the plug-in), so that every option that picks or feeds
        # channels has them; a file whose name says mono gets one.
        local dry=()
        [[ "$(basename "$word")" == *mono* ]] && dry=(--dry)
        if [[ "$word" == *'*'* ]]; then
            mkdir -p "$work/$(dirname "$word")"
            for name in one two; do
                zelko-render --demo "${dry[@]}" --demo-seconds 2 -q -f \
                    -o "$work/$(dirname "$word")/$name.${word##*.}" >/dev/null 2>&1
            done
        else
            mkdir -p "$work/$(dirname "$word")"
            zelko-render --demo "${dry[@]}" --demo-seconds 2 -q -f -o "$work/$word" >/dev/null 2>&1
        fi
    done
    return 0
}

mkdir -p "$scratch/blocks"
for file in "$ROOT/README.md" "$ROOT"/docs/*.md; do extract "$file"; done

export PATH="$scratch/bin:$PATH"
for block in "$scratch"/blocks/*.sh; do
    [ -s "$block" ] || continue
    blocks=$((blocks + 1))
    if grep -qE '(^|[[:space:]])(cmake|sudo|scripts/[a-z-]+\.sh|build/release/tools/soak)|--demo-seconds [0-9]{4,}' \
        "$block"; then
        check_names "$block"
        continue
    fi
    work="$scratch/run-$(basename "$block" .sh)"
    mkdir -p "$work/build"
    ln -s "$BUILD" "$work/build/release"
    make_inputs "$block" "$work"
    if ! (cd "$work" && timeout 300 bash -e -o pipefail "$block" >"$work.log" 2>&1); then
        fail "$(basename "$block") failed:"
        sed 's/^/    /' "$work.log" | tail -15
    fi
done

echo "documentation: $blocks blocks of commands, $failures failed"
[ "$failures" -eq 0 ]
