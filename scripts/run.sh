#!/usr/bin/env bash
# Builds the client against the bundled local demo and runs it: HTTPS
# application servers on 127.0.0.1-3 and a sign-in service for the "google"
# and "ms" mail security on 127.0.0.1:8444, with a throw-away certificate
# authority that only this demo build trusts, and a logging HTTP proxy on
# 127.0.0.1:3128 that the proxy setting may name. The first server is the
# package server as well: when the client ends it offers a signed demo
# update, checked against the demo's own update authority. The servers stop
# when the client ends.
# Extra arguments go to the client (for example -l to log).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

run="$root/demo/run"
bash "$root/scripts/make-test-ca.sh" "$run/ca"
bash "$root/scripts/make-update-ca.sh" "$run/update-ca"
build="$root/build/demo"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOMARK_BUILD_TESTS=OFF \
  -DVELOMARK_APP_HOST_TEMPLATE='127.0.0.%id%:8443' -DVELOMARK_APP_DOMAIN=localhost \
  -DVELOMARK_MS_LOGIN_HOST=127.0.0.1:8444 -DVELOMARK_GOOGLE_AUTH_HOST=127.0.0.1:8444 \
  -DVELOMARK_GOOGLE_TOKEN_HOST=127.0.0.1:8444 -DVELOMARK_PACKAGE_HOST=127.0.0.1:8443 \
  -DVELOMARK_EXTRA_CA_FILE="$run/ca/ca.pem" -DVELOMARK_UPDATE_CA_FILE="$run/update-ca/ca.pem" >/dev/null
cmake --build "$build" -j"$(nproc)" --target velomark_client

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found. Run the demo under a virtual display instead:" >&2
  echo "  xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT INT TERM

/usr/bin/python3 "$root/demo/server.py" --port 8443 &
pids+=($!)
/usr/bin/python3 "$root/demo/oauth_server.py" --port 8444 &
pids+=($!)
/usr/bin/python3 "$root/demo/proxy_server.py" --port 3128 &
pids+=($!)
if [ -f "$root/demo/smtp_server.py" ]; then
  /usr/bin/python3 "$root/demo/smtp_server.py" --port 2525 &
  pids+=($!)
fi
for _ in $(seq 50); do
  curl -sf --cacert "$run/ca/ca.pem" https://127.0.0.1:8443/pc/check.html >/dev/null 2>&1 && break
  sleep 0.1
done
# The demo's update package is shown here when the client hands it over,
# instead of going to the desktop's package installer; everything else goes
# to the real opener.
mkdir -p "$run/bin"
cat >"$run/bin/xdg-open" <<'OPENER'
#!/bin/sh
case "$1" in
  */velomark-demo-update_*.deb)
    echo "velomark demo: the client handed the checked update package to xdg-open: $1"
    dpkg-deb --field "$1" Package Version | sed 's/^/  /'
    echo "  The demo stops here; /usr/bin/xdg-open \"$1\" shows it in the package installer."
    exit 0 ;;
esac
exec /usr/bin/xdg-open "$@"
OPENER
chmod 755 "$run/bin/xdg-open"

echo "Demo servers are up (https://127.0.0.1:8443/pc/velomark.html). Starting the client..."
echo "Sign-in for the mail security google/ms: https://127.0.0.1:8444 (the browser needs to accept $run/ca/ca.pem)."
echo "Demo proxy: http://127.0.0.1:3128 (its lines start with 'proxy:'); PAC file: https://127.0.0.1:8443/proxy.pac."
PATH="$run/bin:$PATH" "$build/src/velomark_client" "$@"
