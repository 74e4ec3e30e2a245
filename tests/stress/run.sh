#!/usr/bin/env bash
# Fault injection for the preferences file (not part of CI): a rewriting
# process killed with SIGKILL ROUNDS times (default 1000), then rewrites on a
# full disk (a 1 MiB tmpfs in a mount namespace of its own; needs root).
# Usage: tests/stress/run.sh [BUILD_DIR] [ROUNDS]   (default build/dev)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/dev}" && pwd)
rounds=${2:-1000}
cmake --build "$build" --target prefs_stress >/dev/null
driver="$build/tests/prefs_stress"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/kill/tessel"
status=0
"$driver" kill "$work/kill/tessel/" "$rounds" || status=1

mkdir -p "$work/full"
unshare -m bash -c 'mount -t tmpfs -o size=1m,mode=0700 stress "$1" && "$2" full "$1/"' _ \
  "$work/full" "$driver" || status=1
exit $status
