#!/usr/bin/env bash
# Makes a throw-away certificate authority and a server certificate for the
# loopback test and demo servers (127.0.0.1, 127.0.0.2, 127.0.0.3, localhost).
# Usage: scripts/make-test-ca.sh FOLDER
# Writes FOLDER/ca.pem, ca.key, server.pem, server.key. Idempotent: a folder
# whose server certificate still verifies against its CA for another day is
# left as it is.
set -euo pipefail
source "$(dirname "$0")/ca-common.sh"

if [ $# -ne 1 ]; then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
mkdir -p "$1"
cd "$1"
still_valid server && exit 0

work=$(mktemp -d "./.make-test-ca.XXXXXX")
trap 'rm -rf "$work"' EXIT
umask 077
new_ca "$work" "/CN=velomark test CA"
new_leaf "$work" server "/CN=localhost" "basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3,DNS:localhost"
install_ca_files "$work" server
