#!/usr/bin/env bash
# Builds zelko-host-fuzzer (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and runs it for a bounded time:
#
#   scripts/fuzz.sh [seconds] [further libFuzzer options]
#   scripts/fuzz.sh --renderer-input [seconds] [further libFuzzer options]
#   scripts/fuzz.sh --clap|--lv2|--vst3 [seconds] [further libFuzzer options]
#   scripts/fuzz.sh --build-all
#
# With --renderer-input it builds and runs zelko-render-input-fuzzer instead: mutated WAV, FLAC
# and AIFF files through the renderer's reading and writing code and libsndfile, from the seeds
# in fuzz/render_corpus with the chunk names of fuzz/render_input.dict; its crash files are
# build/fuzz/render-crash-<hash>.
#
# With --clap, --lv2 or --vst3 it builds and runs that format's host fuzzer instead
# (zelko-clap-fuzzer, zelko-lv2-fuzzer, zelko-vst3-fuzzer): scripts of host calls in any order
# through the format's own entry, from the seeds in fuzz/<format>_corpus (written by
# fuzz/make_format_corpus.py); its crash files are build/fuzz/<format>-crash-<hash>.
#
# --build-all builds every harness at once and runs none: scripts/test.sh does so, then runs the
# harnesses side by side with ZELKO_FUZZ_PREBUILT=1, which skips the build.
#
# The default of 120 seconds is the test command's share; `scripts/fuzz.sh 3600` is the long
# run. The fuzzer starts from a copy of fuzz/corpus, so the repository's seeds never change; a
# crashing input is written to build/fuzz/ as crash-<hash> and the script fails. At the end the
# harness reports how many host actions it ran.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ZELKO_JOBS:-2}
FUZZ_DIR="$ROOT/build/fuzz"
HARNESS=zelko-host-fuzzer
CORPUS="$ROOT/fuzz/corpus"
ARTIFACTS="$FUZZ_DIR/"
EXTRA=()
HARNESSES=(zelko-host-fuzzer zelko-render-input-fuzzer zelko-clap-fuzzer zelko-lv2-fuzzer
    zelko-vst3-fuzzer)
BUILD_ONLY=0
if [ "${1:-}" = "--build-all" ]; then
    BUILD_ONLY=1
fi
if [ "${1:-}" = "--renderer-input" ]; then
    shift
    HARNESS=zelko-render-input-fuzzer
    CORPUS="$ROOT/fuzz/render_corpus"
    ARTIFACTS="$FUZZ_DIR/render-"
    EXTRA=(-dict="$ROOT/fuzz/render_input.dict" -max_len=4096)
fi
case "${1:-}" in
    --clap | --lv2 | --vst3)
        FORMAT=${1#--}
        shift
        HARNESS=zelko-$FORMAT-fuzzer
        CORPUS="$ROOT/fuzz/${FORMAT}_corpus"
        ARTIFACTS="$FUZZ_DIR/$FORMAT-"
        ;;
esac
SECONDS_TO_RUN=${1:-120}
shift || true

if [ "${ZELKO_FUZZ_PREBUILT:-0}" != 1 ]; then
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ_DIR" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZELKO_BUILD_FUZZ=ON \
        -DZELKO_SANITIZE=ON \
        -DZELKO_BUILD_TESTS=OFF \
        -DZELKO_BUILD_TOOLS=OFF
    if [ "$BUILD_ONLY" -eq 1 ]; then
        cmake --build "$FUZZ_DIR" -j "$JOBS" --target "${HARNESSES[@]}"
        exit 0
    fi
    cmake --build "$FUZZ_DIR" -j "$JOBS" --target "$HARNESS"
fi

WORK_CORPUS=$(mktemp -d)
trap 'rm -rf "$WORK_CORPUS"' EXIT
cp "$CORPUS"/* "$WORK_CORPUS"/

# The plug-in's own diagnostics (one line per MIDI controller message, one per rejected
# program) and libmpg123's complaints about mangled MPEG frames would flood the log; everything
# else, libFuzzer's progress and any crash report, is kept. The pipeline's status is the
# fuzzer's.
"$FUZZ_DIR/fuzz/$HARNESS" \
    -max_total_time="$SECONDS_TO_RUN" \
    -timeout=60 \
    -print_final_stats=1 \
    -artifact_prefix="$ARTIFACTS" \
    "${EXTRA[@]}" \
    "$@" \
    "$WORK_CORPUS" 2>&1 |
    { grep -v -e '^=== Zelko vsti: ' -e '^\*\*\* Zelko vsti: setting program' \
        -e '^\[src/libmpg123/' -e '^Note: ' || true; }
