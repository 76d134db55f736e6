#!/usr/bin/env bash
# Builds both targets of the plug-in and runs the tests.
#
#   scripts/test.sh          the everyday run: every test but the 2^32 math sweep, the FMA build's
#                            comparison and a few repetitions (stage_test_run says which), and
#                            a short fuzzing smoke run of each harness
#   scripts/test.sh --full   everything: the sweep too, and the fuzzers for their full minutes
#                            (what CI runs, and what a change to dsp/math/ must pass)
#
#   1. installs what is missing (scripts/install-deps.sh),
#   2. cross-builds the Windows DLL and its test host with mingw-w64 (build/win),
#   3. builds the Linux module and the test suite with AddressSanitizer and
#      UndefinedBehaviorSanitizer (build/test), pointing it at build/win so that the export and
#      wine tests check the Windows binaries too,
#   4. fuzzes the host interface, the renderer's input path and the CLAP, LV2 and VST 3 hosts,
#      two harnesses at a time,
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
    # The plug-in compiled once more with FMA code generation allowed, for the test that its
    # output does not change by a bit: a check of the numerics, like the sweep.
    [ "$FULL" -eq 0 ] || cmake --build "$TEST_DIR" -j "$JOBS" --target zelko_fma
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

# The everyday run leaves out the sweep (label "exhaustive"), which alone takes over six minutes
# of both cores, and the repetitions that only add confidence to what one pass shows: the vector
# paths' bit comparison at 96 and 192 kHz (44.1 and 48 kHz stay), and the editors' thousand
# open-close cycles.
EVERYDAY_LEAVES_OUT='BandEngineAtRate\.VectorPathsGiveTheScalarBits/(96000|192000)$|Thousand'
# One test more than there are cores: the tests that start wine, an X server or JACK spend much
# of their time waiting, and the third test fills it (132 s instead of 154 s on two cores).
stage_test_run() {
    local select=()
    [ "$FULL" -eq 1 ] || select=(-LE exhaustive -E "$EVERYDAY_LEAVES_OUT")
    (cd "$TEST_DIR" && ctest --output-on-failure -j "$((JOBS + 1))" "${select[@]}")
}

# The fuzzers (scripts/fuzz.sh), built together and then run side by side in two lanes, each
# harness a single process: the host interface from its seed corpus, the renderer's input path
# (mutated WAV, FLAC and AIFF files through its reading and writing code), and the CLAP, LV2 and
# VST 3 hosts. The everyday run gives each a few seconds, which still replays every seed; the
# full run gives the host interface two minutes and the others one each. They run before the
# suite so that ctest's summary stays the last word of the run, and a fault they find fails the
# run only after the suite has run too.
FUZZ_FAILED=0
fuzz_lane() {
    local run seconds
    for run in "$@"; do
        seconds=${run##*:}
        run=${run%:*}
        # shellcheck disable=SC2086 # the harness's option, if any, is a word of its own
        ZELKO_FUZZ_PREBUILT=1 "$ROOT/scripts/fuzz.sh" $run "$seconds" || return 1
    done
}
stage_fuzz() {
    local host=10 renderer=8 format=4
    [ "$FULL" -eq 1 ] && host=120 renderer=60 format=60
    host=${ZELKO_FUZZ_SECONDS:-$host}
    renderer=${ZELKO_RENDER_FUZZ_SECONDS:-$renderer}
    format=${ZELKO_FORMAT_FUZZ_SECONDS:-$format}
    "$ROOT/scripts/fuzz.sh" --build-all
    local logs="$ROOT/build/fuzz/logs"
    mkdir -p "$logs"
    fuzz_lane ":$host" "--vst3:$format" >"$logs/lane1.log" 2>&1 &
    local first=$!
    fuzz_lane "--renderer-input:$renderer" "--clap:$format" "--lv2:$format" \
        >"$logs/lane2.log" 2>&1 &
    local second=$!
    wait "$first" || FUZZ_FAILED=1
    wait "$second" || FUZZ_FAILED=1
    cat "$logs/lane1.log" "$logs/lane2.log"
}

STAGES=(stage_deps stage_windows stage_test_build stage_fuzz stage_test_run)

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
