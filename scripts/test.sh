#!/usr/bin/env bash
# Builds Tallowmere and every test (installing what is missing) and runs all tests; then builds
# the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer and runs them.
# Both builds treat compiler warnings as errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/build.sh" --werror
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)" --timeout 600

bash "$root/scripts/build.sh" --werror --sanitize
# The end-to-end tests and the fuzzing (already built with both sanitizers) run once, above.
UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$root/build-sanitize" --output-on-failure -j "$(nproc)" --timeout 600 \
    -LE 'e2e|fuzz'
