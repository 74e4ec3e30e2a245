#!/usr/bin/env bash
# Configures a build whose endpoints all point at loopback test servers, so
# the end-to-end tests run the real client against servers they start:
#   application servers  https://127.0.0.{1,2,3}:18443/pc/   (developer: <sub>.localhost)
#   OAuth providers       https://127.0.0.1:18444
#   package server        https://127.0.0.1:18445
#   DNS-over-HTTPS        https://127.0.0.1:18446/resolve (the PAC helpers)
# The certificate authority (made here, in BUILD/ca) is trusted by that build
# only; so is the update authority (BUILD/update-ca), the only one whose
# signed packages that build hands to the system's installer.
# Usage: scripts/test-config.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
bash "$root/scripts/make-test-ca.sh" "$build/ca"
bash "$root/scripts/make-update-ca.sh" "$build/update-ca"
cmake -S "$root" -B "$build" \
  -DVELOMARK_APP_HOST_TEMPLATE='127.0.0.%id%:18443' \
  -DVELOMARK_APP_DOMAIN=localhost \
  -DVELOMARK_PACKAGE_HOST=127.0.0.1:18445 \
  -DVELOMARK_DOH_HOST=127.0.0.1:18446 \
  -DVELOMARK_MS_LOGIN_HOST=127.0.0.1:18444 \
  -DVELOMARK_GOOGLE_AUTH_HOST=127.0.0.1:18444 \
  -DVELOMARK_GOOGLE_TOKEN_HOST=127.0.0.1:18444 \
  -DVELOMARK_EXTRA_CA_FILE="$build/ca/ca.pem" \
  -DVELOMARK_UPDATE_CA_FILE="$build/update-ca/ca.pem" \
  "$@" >/dev/null
