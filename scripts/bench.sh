#!/usr/bin/env bash
# Speed and memory of the signal chain: builds the processor, its benchmark and the plug-in
# module with the release flags (no sanitizers) in build/bench and runs them. It reports, per
# sample rate (44100, 48000, 96000 Hz, blocks of 512 noise samples), ns_per_sample and rtf, the
# real-time factor (seconds of audio per second of processing); then the resident memory per
# instance of the VST module, with 1 and with 50 instances in one process, at 48000 and 192000 Hz.
# Extra arguments go to the benchmark, e.g. --benchmark_repetitions=5.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ZELKO_JOBS:-2}
BENCH_DIR="$ROOT/build/bench"

# shellcheck source=scripts/install-deps.sh
source "$ROOT/scripts/install-deps.sh"
ensure_packages

cmake -S "$ROOT" -B "$BENCH_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELKO_BUILD_BENCH=ON \
      -DZELKO_BUILD_TESTS=OFF -DZELKO_BUILD_TOOLS=OFF
cmake --build "$BENCH_DIR" -j "$JOBS" --target process_bench instance_memory
"$BENCH_DIR/bench/process_bench" "$@"
for rate in 48000 192000; do
    for instances in 1 50; do
        "$BENCH_DIR/bench/instance_memory" --instances "$instances" --rate "$rate"
    done
done
