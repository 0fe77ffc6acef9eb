#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, when they are missing. Sourced by the other
# scripts. As root it runs apt-get; otherwise it prints the apt-get line and stops.
KLOVANTE_PACKAGES=(g++ cmake ninja-build pkg-config ccache qt6-base-dev libsqlite3-dev
                   libgtest-dev libxml2-dev poppler-utils fonts-noto-cjk libqt6svg6
                   qt6-translations-l10n desktop-file-utils)

klovante_install_deps() {
    local missing=()
    for p in "${KLOVANTE_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "These packages are missing. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q "${missing[@]}"
}

# klovante_build <build dir> [cmake options...]: configures once, then builds incrementally.
klovante_build() {
    local dir=$1
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$KLOVANTE_ROOT" -B "$dir" -G Ninja "$@"
    fi
    cmake --build "$dir" -j "$(nproc)"
}
