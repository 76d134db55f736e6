#!/usr/bin/env bash
# Speed of the signal chain: builds the processor and its benchmark with the release flags (no
# sanitizers) in build/bench and runs it. It reports, per sample rate (44100, 48000, 96000 Hz,
# blocks of 512 noise samples), ns_per_sample and rtf, the real-time factor (seconds of audio per
# second of processing). Extra arguments go to the benchmark, e.g. --benchmark_repetitions=5.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ZELKO_JOBS:-2}
BENCH_DIR="$ROOT/build/bench"

# shellcheck source=scripts/install-deps.sh
source "$ROOT/scripts/install-deps.sh"
ensure_packages

cmake -S "$ROOT" -B "$BENCH_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELKO_BUILD_BENCH=ON \
      -DZELKO_BUILD_TESTS=OFF -DZELKO_BUILD_TOOLS=OFF
cmake --build "$BENCH_DIR" -j "$JOBS" --target process_bench
"$BENCH_DIR/bench/process_bench" "$@"
