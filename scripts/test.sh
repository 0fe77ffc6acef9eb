#!/usr/bin/env bash
# Builds everything and runs every test. Extra arguments go to ctest (for example -L core).
set -euo pipefail
KLOVANTE_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$KLOVANTE_ROOT/scripts/deps.sh"
klovante_install_deps
BUILD=${KLOVANTE_BUILD_DIR:-$KLOVANTE_ROOT/build}
klovante_build "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${KLOVANTE_CMAKE_ARGS:-}
cd "$BUILD"
ctest --output-on-failure -j "$(nproc)" "$@"
