#!/usr/bin/env bash
# Makes a throw-away update certificate authority and a code-signing
# certificate issued by it, for the signed update packages of the tests and
# the demo. A client built with VELOMARK_UPDATE_CA_FILE=FOLDER/ca.pem hands
# over packages signed with FOLDER/signer.pem and FOLDER/signer.key, and no
# others.
# Usage: scripts/make-update-ca.sh FOLDER
# Writes FOLDER/ca.pem, ca.key, signer.pem (subject /CN=tessel/O=tessel,
# extended key usage codeSigning), signer.key. Idempotent: a folder whose
# signer certificate still verifies against its CA for another day is left
# as it is.
set -euo pipefail
source "$(dirname "$0")/ca-common.sh"

if [ $# -ne 1 ]; then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
mkdir -p "$1"
cd "$1"
still_valid signer && exit 0

work=$(mktemp -d "./.make-update-ca.XXXXXX")
trap 'rm -rf "$work"' EXIT
umask 077
new_ca "$work" "/CN=velomark test update CA"
new_leaf "$work" signer "/CN=tessel/O=tessel" "basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning"
install_ca_files "$work" signer
