#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tallowmere need.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev libgl-dev
    qt6-base-private-dev
    libboost-context-dev libboost-stacktrace-dev
    libsqlite3-dev sqlite3
    libssl-dev openssl zlib1g-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool libx11-dev
    dbus-daemon dbus-bin libglib2.0-bin at-spi2-core python3-dbus python3-gi util-linux
    libxcb1-dev
    python3 tzdata
    clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
