# Shell functions of the throw-away certificate authorities that the tests
# and the demo make (scripts/make-test-ca.sh, scripts/make-update-ca.sh).
# Source it; every function works inside the current folder.

# still_valid LEAF: true when ca.key, ca.pem, LEAF.key and LEAF.pem are there
# and LEAF.pem verifies against ca.pem for at least another day.
still_valid() {
  [ -s ca.pem ] && [ -s ca.key ] && [ -s "$1.pem" ] && [ -s "$1.key" ] &&
    openssl verify -purpose any -CAfile ca.pem "$1.pem" >/dev/null 2>&1 &&
    openssl x509 -in "$1.pem" -noout -checkend 86400 >/dev/null 2>&1
}

# new_ca DIR SUBJECT: DIR/ca.key and a self-signed DIR/ca.pem for 30 days.
# EC keys: quick to make, so every test session can have its own CA.
new_ca() {
  openssl ecparam -name prime256v1 -genkey -noout -out "$1/ca.key" 2>/dev/null
  openssl req -x509 -new -key "$1/ca.key" -sha256 -days 30 -subj "$2 $(date +%s%N)" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -out "$1/ca.pem" 2>/dev/null
}

# new_leaf DIR NAME SUBJECT EXTENSIONS: DIR/NAME.key and DIR/NAME.pem, issued
# by DIR/ca for 29 days with the extension lines given (extfile syntax).
new_leaf() {
  openssl ecparam -name prime256v1 -genkey -noout -out "$1/$2.key" 2>/dev/null
  openssl req -new -key "$1/$2.key" -subj "$3" -out "$1/$2.csr" 2>/dev/null
  printf '%s\n' "$4" >"$1/$2.ext"
  openssl x509 -req -in "$1/$2.csr" -CA "$1/ca.pem" -CAkey "$1/ca.key" \
    -CAcreateserial -sha256 -days 29 -extfile "$1/$2.ext" -out "$1/$2.pem" 2>/dev/null
}

# install_ca_files DIR LEAF: moves the CA and LEAF files from DIR into the
# current folder (certificates readable by all, keys private).
install_ca_files() {
  chmod 644 "$1/ca.pem" "$1/$2.pem"
  for f in ca.key ca.pem "$2.key" "$2.pem"; do mv -f "$1/$f" "./$f"; done
}
