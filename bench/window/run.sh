#!/usr/bin/env bash
# Main-window benchmark: builds a Release client with loopback endpoints
# (scripts/test-config.sh, in build/bench-window unless BUILD_DIR is given)
# and the floor program, installs the peer's pywebview from Debian when it is
# missing, then measures all three under Xvfb (bench.py).
# Usage: bench/window/run.sh [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build/bench-window}
# A port of its own, so a test run on the usual port does not collide.
port=${BENCH_PORT:-28643}

# pywebview's GTK back end needs the WebKit2 4.0 introspection data, which
# Debian's package does not pull in itself (it names Qt first).
missing=()
for package in python3-webview gir1.2-webkit2-4.0 python3-gi-cairo; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then apt-get install -y --no-install-recommends "${missing[@]}"; fi

bash "$root/scripts/test-config.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DVELOMARK_SANITIZE=OFF \
  -DVELOMARK_APP_HOST_TEMPLATE="127.0.0.%id%:$port"
cmake --build "$build" -j2 --target velomark_client
cc -O2 -o "$build/floor" "$root/bench/window/floor.c" $(pkg-config --cflags --libs webkit2gtk-4.1)
/usr/bin/python3 "$root/bench/window/bench.py" "$build" "$build/floor" "${1:-5}"
