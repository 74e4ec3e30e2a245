#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer on) in build/fuzz and runs each one on its seed
# corpus, one after the other.
#
# Usage: tests/fuzz/run.sh [-t SECONDS] [-n RUNS] [TARGET...]
#   -t SECONDS  time per target (default 30)
#   -n RUNS     also stop a target after this many executions
#   TARGET      a name of tests/fuzz/NAME_fuzz.cc (default: every target)
#
# Inputs that add coverage go to build/fuzz/corpus/NAME (the seeds in
# tests/fuzz/corpus/NAME stay as they are). A crash, a sanitizer report, a
# broken invariant, a slow input (over 10 s) or one that takes more than
# 2 GiB is kept in build/fuzz/findings/ and makes the script fail; every
# target's figures are printed at the end and kept in build/fuzz/summary.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=30
runs=
while getopts "t:n:" option; do
  case $option in
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    *) sed -n '5,9p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

all=$(cd "$root/tests/fuzz" && ls ./*_fuzz.cc | sed 's|^\./||; s|_fuzz\.cc$||')
targets=("$@")
[ ${#targets[@]} -eq 0 ] && mapfile -t targets <<<"$all"
for target in "${targets[@]}"; do
  grep -qx "$target" <<<"$all" || { echo "no fuzz target $target (have: $(echo $all))" >&2; exit 2; }
done

bash "$root/scripts/install-deps.sh"
out="$root/build/fuzz"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$out" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOMARK_SANITIZE=ON -DVELOMARK_FUZZ=ON \
  -DVELOMARK_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$out" -j"$(nproc)" --target "${targets[@]/%/_fuzz}"

# Longest input per target: what its real source can hand over at most in
# one piece is far more, but coverage comes from structure, not bulk.
max_len() {
  case $1 in
    html_to_text) echo 65536 ;;
    redirect_request) echo 16384 ;;  # the listener's buffer
    *) echo 8192 ;;
  esac
}

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$out/findings"
: >"$out/summary.txt"
failed=()
for target in "${targets[@]}"; do
  corpus="$out/corpus/$target"
  mkdir -p "$corpus"
  log="$out/$target.log"
  echo "== $target: ${seconds}s${runs:+ or $runs runs}"
  status=0
  "$out/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" ${runs:+-runs="$runs"} \
    -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/findings/$target-" "$corpus" "$root/tests/fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -1 || true)
  line="$target: ${executions:-?} executions in ${took:-?} s (${speed:-?}/s), $coverage"
  if [ "$status" -ne 0 ]; then
    line+=", FINDING (exit $status; see $log and $out/findings/)"
    failed+=("$target")
    tail -40 "$log"
  else
    line+=", no finding"
  fi
  echo "$line" | tee -a "$out/summary.txt"
done

echo
cat "$out/summary.txt"
[ ${#failed[@]} -eq 0 ] || { echo "findings in: ${failed[*]}" >&2; exit 1; }
