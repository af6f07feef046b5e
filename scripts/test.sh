#!/usr/bin/env bash
# Builds Tallowmere and every test (installing what is missing), then runs all tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
cd "$root/build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
