#!/usr/bin/env bash
# Configures and builds Morvik (plug-in formats, tools, tests, benchmarks) into a build folder.
# Usage: scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# Let ccache share results between clones of the project in different folders.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
build=${1:-"$root/build"}
shift || true

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build" -j "$(nproc)"
