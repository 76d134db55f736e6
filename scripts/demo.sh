#!/usr/bin/env bash
# The main job: installs what is missing, builds the plug-in and the renderer in build/release,
# and renders the renderer's built-in demo programme (tones, a melody, noise and clicks, mono)
# through the plug-in into a stereo file, out/demo-stereo.wav unless a path is given.
#
#   scripts/demo.sh [OUTPUT]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ZELKO_JOBS:-2}
BUILD_DIR="$ROOT/build/release"
OUTPUT=${1:-$ROOT/out/demo-stereo.wav}

# shellcheck source=scripts/install-deps.sh
source "$ROOT/scripts/install-deps.sh"
ensure_packages

# The test suite is left out: the main job needs only what it runs.
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELKO_BUILD_TESTS=OFF
# The renderer depends on the plug-in, which the build places beside it.
cmake --build "$BUILD_DIR" -j "$JOBS" --target zelko-render

mkdir -p "$(dirname "$OUTPUT")"
"$BUILD_DIR/tools/zelko-render" --demo --force -o "$OUTPUT"
echo "The stereo demo is in $OUTPUT"
