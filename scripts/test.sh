#!/usr/bin/env bash
# Builds the client and runs every test (unit tests and the end-to-end tests
# under Xvfb). Usage: scripts/test.sh [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
build="$root/build/test"
bash "$root/scripts/test-config.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DVELOMARK_SANITIZE=ON
cmake --build "$build" -j"$(nproc)"
cd "$build"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --output-on-failure -j2 "$@"
