#!/usr/bin/env bash
# Builds the libFuzzer target for the OAuth redirect parsing with clang
# (ASan and UBSan on) and runs it. Not part of the normal build.
# Needs clang and libclang-rt-14-dev (Debian).
# Usage: tests/fuzz/run.sh [seconds]   (default 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
out="$root/build/fuzz"
mkdir -p "$out/corpus"
cp -n "$root"/tests/fuzz/corpus/redirect_request/* "$out/corpus/" 2>/dev/null || true

CXX=${CXX_FUZZ:-clang++}
if ! command -v "$CXX" >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'ok installed'; then
  apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi
"$CXX" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" \
  "$root/tests/fuzz/redirect_request_fuzz.cc" \
  "$root/src/oauth/redirect_request.cc" \
  "$root/src/oauth/percent_coding.cc" \
  "$root/src/base/log.cc" \
  "$root/src/base/numbers.cc" \
  "$root/src/base/utf8.cc" \
  "$root/src/diag/log_writer.cc" \
  "$root/src/platform/private_file.cc" \
  -o "$out/redirect_request_fuzz"

# One job on a shared two-core machine; a 16 KiB cap like the listener's buffer.
"$out/redirect_request_fuzz" -max_total_time="$seconds" -max_len=16384 -timeout=5 \
  -artifact_prefix="$out/" "$out/corpus"
