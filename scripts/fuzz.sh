#!/usr/bin/env bash
# Builds zelko-host-fuzzer (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and runs it for a bounded time:
#
#   scripts/fuzz.sh [seconds] [further libFuzzer options]
#
# The default of 120 seconds is the test command's share; `scripts/fuzz.sh 3600` is the long
# run. The fuzzer starts from a copy of fuzz/corpus, so the repository's seeds never change; a
# crashing input is written to build/fuzz/ as crash-<hash> and the script fails. At the end the
# harness reports how many host actions it ran.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ZELKO_JOBS:-2}
FUZZ_DIR="$ROOT/build/fuzz"
SECONDS_TO_RUN=${1:-120}
shift || true

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZELKO_BUILD_FUZZ=ON \
    -DZELKO_SANITIZE=ON \
    -DZELKO_BUILD_TESTS=OFF \
    -DZELKO_BUILD_TOOLS=OFF
cmake --build "$FUZZ_DIR" -j "$JOBS" --target zelko-host-fuzzer

WORK_CORPUS=$(mktemp -d)
trap 'rm -rf "$WORK_CORPUS"' EXIT
cp "$ROOT"/fuzz/corpus/* "$WORK_CORPUS"/

# The plug-in's own diagnostics (one line per MIDI controller message, one per rejected
# program) would flood the log; everything else, libFuzzer's progress and any crash report, is
# kept. The pipeline's status is the fuzzer's.
"$FUZZ_DIR/fuzz/zelko-host-fuzzer" \
    -max_total_time="$SECONDS_TO_RUN" \
    -timeout=60 \
    -print_final_stats=1 \
    -artifact_prefix="$FUZZ_DIR/" \
    "$@" \
    "$WORK_CORPUS" 2>&1 |
    { grep -v -e '^=== Zelko vsti: ' -e '^\*\*\* Zelko vsti: setting program' || true; }
