#!/usr/bin/env bash
# Installs what is missing, then configures and builds Tallowmere into build/.
#   --werror    compiler warnings fail the build
#   --sanitize  with AddressSanitizer and UndefinedBehaviorSanitizer, into build-sanitize/ instead
#               (without the benchmarks)
# Any other arguments are build targets (default: everything).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
targets=()
for arg in "$@"; do
    case "$arg" in
    --werror) options+=(-DTLM_WERROR=ON) ;;
    --sanitize)
        dir="$root/build-sanitize"
        options+=(-DSANITIZE=ON -DTLM_BUILD_BENCH=OFF)
        ;;
    *) targets+=(--target "$arg") ;;
    esac
done
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$dir" "${targets[@]}" -j "$(nproc)"
