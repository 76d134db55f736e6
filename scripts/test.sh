#!/usr/bin/env bash
# Builds both targets of the plug-in and runs every test.
#
#   1. installs what is missing (scripts/install-deps.sh),
#   2. cross-builds the Windows DLL and its test host with mingw-w64 (build/win),
#   3. builds the Linux module and the test suite with AddressSanitizer and
#      UndefinedBehaviorSanitizer (build/test), pointing it at build/win so that the export and
#      wine tests check the Windows binaries too,
#   4. runs the whole suite with ctest.
#
# Each stage is one function; further stages (a release build with benchmarks in build/release,
# a clang fuzz build in build/fuzz) are added as functions and listed in STAGES.
set -euo pipefail

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

stage_test_run() {
    (cd "$TEST_DIR" && ctest --output-on-failure -j "$JOBS")
}

# The host-interface fuzzer, two minutes from its seed corpus (scripts/fuzz.sh). It runs before
# the suite so that ctest's summary stays the last word of the run, and a fault it finds fails
# the run only after the suite has run too.
FUZZ_FAILED=0
stage_fuzz() {
    "$ROOT/scripts/fuzz.sh" "${ZELKO_FUZZ_SECONDS:-120}" || FUZZ_FAILED=1
}

# The renderer's input path under its own fuzzer: a minute of mutated WAV, FLAC and AIFF files
# through its reading and writing code (scripts/fuzz.sh --renderer-input).
stage_fuzz_renderer_input() {
    "$ROOT/scripts/fuzz.sh" --renderer-input "${ZELKO_RENDER_FUZZ_SECONDS:-60}" || FUZZ_FAILED=1
}

STAGES=(stage_deps stage_windows stage_test_build stage_fuzz stage_fuzz_renderer_input
    stage_test_run)

for stage in "${STAGES[@]}"; do
    echo "=== ${stage#stage_}"
    "$stage"
done

if [ "$FUZZ_FAILED" -ne 0 ]; then
    echo "*** a fuzzer found a fault; its input is in build/fuzz/crash-* (host interface) or" \
        "build/fuzz/render-crash-* (renderer input)" >&2
    exit 1
fi
