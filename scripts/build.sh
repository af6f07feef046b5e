#!/usr/bin/env bash
# Installs what is missing, then configures and builds Tallowmere into build/.
# Any arguments are build targets (default: everything).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$root/build" "${targets[@]}" -j "$(nproc)"
