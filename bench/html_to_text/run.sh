#!/usr/bin/env bash
# htmlToText beside "w3m -dump" on the same generated inputs, in one run.
# Builds its own optimised binary from the few sources it needs, installs
# w3m on demand (Debian package), prints one table. About half a minute.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
work="${BENCH_WORK:-$(mktemp -d)}"

if ! command -v w3m >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends w3m >/dev/null
fi

g++ -std=c++20 -O2 -DNDEBUG -I"$root/src" -o "$work/bench_html_to_text" \
  "$here/bench_html_to_text.cc" "$root/src/mail/html_to_text.cc" "$root/src/base/regex.cc" \
  "$root/src/base/log.cc" "$root/src/base/numbers.cc" "$root/src/base/text.cc" \
  "$root/src/base/utf8.cc" \
  $(pkg-config --cflags --libs libpcre2-8)
/usr/bin/python3 "$here/make_inputs.py" "$work/inputs"

printf '%-22s %10s %14s %14s\n' input bytes htmlToText_ms/MB w3m_ms/MB
for f in "$work"/inputs/ordinary_{100k,1m,5m}.html "$work"/inputs/links_{100k,1m,5m}.html; do
  read -r _ bytes secs permb _ < <("$work/bench_html_to_text" "$f")
  w3mpermb=$(/usr/bin/python3 - "$f" "$bytes" <<'PY'
import subprocess, sys, time
times = []
for _ in range(3):
    t0 = time.perf_counter()
    subprocess.run(["w3m", "-dump", "-T", "text/html", "-cols", "80", sys.argv[1]],
                   stdout=subprocess.DEVNULL, check=True)
    times.append(time.perf_counter() - t0)
print(min(times) * 1000 / (int(sys.argv[2]) / 1e6))
PY
)
  printf '%-22s %10s %14.1f %14.1f\n' "$(basename "$f")" "$bytes" "$permb" "$w3mpermb"
done
[ -z "${BENCH_WORK:-}" ] && rm -rf "$work"
