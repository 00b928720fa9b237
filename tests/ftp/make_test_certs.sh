#!/bin/bash
# Test certificates for the FTP-over-TLS tests, made in folder DIR:
#   make_test_certs.sh DIR
# ca.pem (the test CA), and NAME.pem/NAME.key/NAME.both (certificate, key,
# both in one file) for: good (127.0.0.1 and localhost), wronghost (another
# name), unknownca (signed by a CA nobody trusts), expired (2020).
set -euo pipefail
d=$1; cd "$d"
q() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; "$@"; exit 1; }; }
ca() { # name subject
  q openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
}
ca ca "Zembo Test CA"
ca otherca "Unknown Test CA"
mkdir -p db; : > db/index.txt; echo 01 > db/serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = db/index.txt
serial = db/serial
new_certs_dir = db
default_md = sha256
policy = any
unique_subject = no
copy_extensions = copy
[any]
commonName = supplied
CNF
# cert NAME SAN CA [ca options]
cert() {
  local name=$1 san=$2 signer=$3; shift 3
  q openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=$name" -addext "subjectAltName=$san"
  q openssl ca -batch -config ca.cnf -cert "$signer.pem" -keyfile "$signer.key" -in "$name.csr" -out "$name.pem" -notext "$@"
  cat "$name.pem" "$name.key" > "$name.both"
}
cert good "IP:127.0.0.1,DNS:localhost" ca -days 2
cert wronghost "DNS:wrong.example" ca -days 2
cert unknownca "IP:127.0.0.1,DNS:localhost" otherca -days 2
cert expired "IP:127.0.0.1,DNS:localhost" ca -startdate 20200101000000Z -enddate 20200102000000Z
