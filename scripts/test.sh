#!/usr/bin/env bash
# Builds both targets of the plug-in and runs the tests.
#
#   scripts/test.sh          the everyday run: every test but the 2^32 math sweep, and a short
#                            fuzzing smoke run of each harness
#   scripts/test.sh --full   everything: the sweep too, and the fuzzers for their full minutes
#                            (what CI runs, and what a change to dsp/math/ must pass)
#
#   1. installs what is missing (scripts/install-deps.sh),
#   2. cross-builds the Windows DLL and its test host with mingw-w64 (build/win),
#   3. builds the Linux module and the test suite with AddressSanitizer and
#      UndefinedBehaviorSanitizer (build/test), pointing it at build/win so that the export and
#      wine tests check the Windows binaries too,
#   4. fuzzes the host interface, the renderer's input path and the CLAP, LV2 and VST 3 hosts,
#   5. runs the suite with ctest.
#
# Each stage is one function; further stages (a release build with benchmarks in build/release,
# a clang fuzz build in build/fuzz) are added as functions and listed in STAGES.
set -euo pipefail

FULL=0
case "${1:-}" in
    --full) FULL=1 ;;
    "") ;;
    *)
        echo "usage: scripts/test.sh [--full]" >&2
        exit 2
        ;;
esac

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ZELKO_JOBS:-2}
WIN_DIR="$ROOT/build/win"
TEST_DIR="$ROOT/build/test"

# shellcheck source=scripts/install-deps.sh
source "$ROOT/scripts/install-deps.sh"

stage_deps() {
    ensure_packages
}

stage_windows() {
    cmake -S "$ROOT" -B "$WIN_DIR" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake"
    cmake --build "$WIN_DIR" -j "$JOBS"
}

stage_test_build() {
    cmake -S "$ROOT" -B "$TEST_DIR" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZELKO_SANITIZE=ON \
        -DZELKO_WINDOWS_BUILD_DIR="$WIN_DIR"
    cmake --build "$TEST_DIR" -j "$JOBS"
}

# The VST 3 SDK's validator, where the machine has it beside the clone (the continuous
# integration's shared/ folder); a clone alone skips that test.
if [ -z "${ZELKO_VST3_VALIDATOR:-}" ] && [ -x "$ROOT/../shared/tools/vst3-validator/validator" ]; then
    export ZELKO_VST3_VALIDATOR="$ROOT/../shared/tools/vst3-validator/validator"
fi

# The SDK's editor host, likewise: the editor tests open the VST 3 view in it under Xvfb.
if [ -z "${ZELKO_VST3_EDITORHOST:-}" ] && [ -x "$ROOT/../shared/tools/vst3-editorhost/editorhost" ]; then
    export ZELKO_VST3_EDITORHOST="$ROOT/../shared/tools/vst3-editorhost/editorhost"
fi

# The everyday run leaves out only the sweep (label "exhaustive"), which alone takes over six
# minutes of both cores.
stage_test_run() {
    local select=()
    [ "$FULL" -eq 1 ] || select=(-LE exhaustive)
    (cd "$TEST_DIR" && ctest --output-on-failure -j "$JOBS" "${select[@]}")
}

# The host-interface fuzzer from its seed corpus (scripts/fuzz.sh): two minutes in the full run,
# a smoke run of a few seconds otherwise, which still replays every seed. It runs before
# the suite so that ctest's summary stays the last word of the run, and a fault it finds fails
# the run only after the suite has run too.
FUZZ_FAILED=0
stage_fuzz() {
    local seconds=15
    [ "$FULL" -eq 1 ] && seconds=120
    "$ROOT/scripts/fuzz.sh" "${ZELKO_FUZZ_SECONDS:-$seconds}" || FUZZ_FAILED=1
}

# The renderer's input path under its own fuzzer: mutated WAV, FLAC and AIFF files through its
# reading and writing code (scripts/fuzz.sh --renderer-input), a minute in the full run.
stage_fuzz_renderer_input() {
    local seconds=10
    [ "$FULL" -eq 1 ] && seconds=60
    "$ROOT/scripts/fuzz.sh" --renderer-input "${ZELKO_RENDER_FUZZ_SECONDS:-$seconds}" ||
        FUZZ_FAILED=1
}

# The host fuzzers of the CLAP, LV2 and VST 3 plug-ins (scripts/fuzz.sh --clap, --lv2, --vst3):
# a few seconds each, which replays their seeds, and a minute each in the full run.
stage_fuzz_formats() {
    local seconds=5 format
    [ "$FULL" -eq 1 ] && seconds=60
    for format in clap lv2 vst3; do
        "$ROOT/scripts/fuzz.sh" "--$format" "${ZELKO_FORMAT_FUZZ_SECONDS:-$seconds}" ||
            FUZZ_FAILED=1
    done
}

STAGES=(stage_deps stage_windows stage_test_build stage_fuzz stage_fuzz_renderer_input
    stage_fuzz_formats stage_test_run)

for stage in "${STAGES[@]}"; do
    echo "=== ${stage#stage_}"
    started=$SECONDS
    "$stage"
    echo "=== ${stage#stage_}: $((SECONDS - started)) s"
done

if [ "$FUZZ_FAILED" -ne 0 ]; then
    echo "*** a fuzzer found a fault; its input is in build/fuzz/crash-* (host interface)," \
        "build/fuzz/render-crash-* (renderer input) or build/fuzz/<format>-crash-* (the CLAP," \
        "LV2 and VST 3 hosts)" >&2
    exit 1
fi
