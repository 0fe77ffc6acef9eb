#!/usr/bin/env bash
# Builds the program and starts it on its default registry (folders under
# ~/.local/share/klovante unless KLOVANTE_HOME says otherwise).
set -euo pipefail
KLOVANTE_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$KLOVANTE_ROOT/scripts/deps.sh"
klovante_install_deps
klovante_build "$KLOVANTE_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "Built. No display to show the window on: run this from a desktop session, or try" >&2
    echo "  xvfb-run $KLOVANTE_ROOT/build/bin/klovante   or" >&2
    echo "  QT_QPA_PLATFORM=offscreen $KLOVANTE_ROOT/build/bin/klovante --self-test" >&2
    exit 1
fi
exec "$KLOVANTE_ROOT/build/bin/klovante" "$@"
