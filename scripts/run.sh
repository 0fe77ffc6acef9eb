#!/usr/bin/env bash
# Builds the program and starts it on its default registry (folders under
# ~/.local/share/klovante unless KLOVANTE_HOME says otherwise).
set -euo pipefail
KLOVANTE_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$KLOVANTE_ROOT/scripts/deps.sh"
klovante_install_deps
klovante_build "$KLOVANTE_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$KLOVANTE_ROOT/build/src/klovante" "$@"
