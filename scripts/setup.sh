#!/usr/bin/env bash
# Installs the Debian packages Kestrelon needs when any is missing, then configures a build folder.
# Usage: scripts/setup.sh [build-folder] [extra CMake arguments...]
set -euo pipefail

cd "$(dirname "$0")/.."
build_dir="${1:-build}"
shift || true

packages=(
    cmake ninja-build g++ clang pkg-config
    qt6-base-dev qt6-declarative-dev qt6-webengine-dev qt6-svg-dev
    fonts-arphic-uming help2man lintian dpkg-dev
    libcurl4-openssl-dev libssl-dev zlib1g-dev libpcre2-dev
    libcpp-httplib-dev libzip-dev epubcheck libqt6sql6-sqlite
    xvfb xdotool imagemagick
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo_cmd=(sudo)
    fi
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi

if [[ ! -f "$build_dir/build.ninja" ]]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRELON_WERROR=ON "$@"
fi
