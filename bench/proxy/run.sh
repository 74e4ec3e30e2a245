#!/usr/bin/env bash
# PAC benchmark: builds a Release client with loopback endpoints
# (scripts/test-config.sh, in build/bench-proxy unless BUILD_DIR is given)
# and measures its start with a PAC file against its start with a manual
# proxy under Xvfb (bench.py).
# Usage: bench/proxy/run.sh [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build/bench-proxy}
# A port of its own, so a test run on the usual port does not collide.
port=${BENCH_PORT:-28743}

if [ -z "${BUILD_DIR:-}" ]; then
  bash "$root/scripts/test-config.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DVELOMARK_SANITIZE=OFF \
    -DVELOMARK_BUILD_TESTS=OFF -DVELOMARK_APP_HOST_TEMPLATE="127.0.0.%id%:$port"
  cmake --build "$build" -j2 --target velomark_client
fi
/usr/bin/python3 "$root/bench/proxy/bench.py" "$build" "${1:-5}"
