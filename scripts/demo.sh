#!/usr/bin/env bash
# The main job: builds the plug-in for Linux (build/demo/host/zelko.so) and, once the offline
# renderer exists, runs it on a demo signal.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ZELKO_JOBS:-2}
DEMO_DIR="$ROOT/build/demo"

# shellcheck source=scripts/install-deps.sh
source "$ROOT/scripts/install-deps.sh"
ensure_packages

cmake -S "$ROOT" -B "$DEMO_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELKO_BUILD_TESTS=OFF
cmake --build "$DEMO_DIR" -j "$JOBS"
echo "Built $DEMO_DIR/host/zelko.so"
