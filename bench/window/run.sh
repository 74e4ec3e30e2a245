#!/usr/bin/env bash
# Main-window benchmark: builds a Release client with loopback endpoints
# (scripts/test-config.sh, in build/bench-window unless BUILD_DIR is given)
# and the floor program, then measures both under Xvfb (bench.py).
# Usage: bench/window/run.sh [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build/bench-window}
# A port of its own, so a test run on the usual port does not collide.
port=${BENCH_PORT:-28643}

bash "$root/scripts/test-config.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DVELOMARK_SANITIZE=OFF \
  -DVELOMARK_APP_HOST_TEMPLATE="127.0.0.%id%:$port"
cmake --build "$build" -j2 --target velomark_client
cc -O2 -o "$build/floor" "$root/bench/window/floor.c" $(pkg-config --cflags --libs webkit2gtk-4.1)
/usr/bin/python3 "$root/bench/window/bench.py" "$build" "$build/floor" "${1:-3}"
