#!/usr/bin/env bash
# Main-loop stall benchmark: builds a Release client with loopback endpoints
# (scripts/test-config.sh, in build/bench-mainloop unless BUILD_DIR names an
# existing build, which is then not rebuilt) and measures the longest stall
# of its main loop during a 20 MB sendMail to a loopback SMTP server (bench.py).
# Usage: bench/mainloop/run.sh [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
port=${BENCH_PORT:-28843}
if [[ -z "${BUILD_DIR:-}" ]]; then
  BUILD_DIR=$root/build/bench-mainloop
  bash "$root/scripts/test-config.sh" "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DVELOMARK_SANITIZE=OFF \
    -DVELOMARK_APP_HOST_TEMPLATE="127.0.0.%id%:$port"
  cmake --build "$BUILD_DIR" -j2 --target velomark_client
fi
VELOMARK_BUILD_DIR=$BUILD_DIR VELOMARK_SOURCE_DIR=$root \
  /usr/bin/python3 "$root/bench/mainloop/bench.py" "${1:-3}"
