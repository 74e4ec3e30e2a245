#!/usr/bin/env bash
# Makes a throw-away certificate authority and a server certificate for the
# loopback test and demo servers (127.0.0.1, 127.0.0.2, 127.0.0.3, localhost).
# Usage: scripts/make-test-ca.sh FOLDER
# Writes FOLDER/ca.pem, ca.key, server.pem, server.key. Idempotent: a folder
# whose server certificate still verifies against its CA for another day is
# left as it is.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
dir=$1
mkdir -p "$dir"
cd "$dir"

if [ -s ca.pem ] && [ -s ca.key ] && [ -s server.pem ] && [ -s server.key ] &&
   openssl verify -CAfile ca.pem server.pem >/dev/null 2>&1 &&
   openssl x509 -in server.pem -noout -checkend 86400 >/dev/null 2>&1; then
  exit 0
fi

work=$(mktemp -d "./.make-test-ca.XXXXXX")
trap 'rm -rf "$work"' EXIT
umask 077

# EC keys: quick to make, so every test session can have its own CA.
openssl ecparam -name prime256v1 -genkey -noout -out "$work/ca.key" 2>/dev/null
openssl req -x509 -new -key "$work/ca.key" -sha256 -days 30 \
  -subj "/CN=velomark test CA $(date +%s%N)" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out "$work/ca.pem" 2>/dev/null

openssl ecparam -name prime256v1 -genkey -noout -out "$work/server.key" 2>/dev/null
openssl req -new -key "$work/server.key" -subj "/CN=localhost" -out "$work/server.csr" 2>/dev/null
cat >"$work/server.ext" <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3,DNS:localhost
EXT
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
  -CAcreateserial -sha256 -days 29 -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null

chmod 644 "$work/ca.pem" "$work/server.pem"
for f in ca.key ca.pem server.key server.pem; do mv -f "$work/$f" "./$f"; done
