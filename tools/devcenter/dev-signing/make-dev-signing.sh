#!/bin/bash
# Makes the development signing fixtures in this folder (run once; the results are
# committed so that every build pins the same key): a development root with two
# publishers under it, and a foreign root with a publisher of its own. New ones need
# SIGNING_TIME in ../make_demo_package.py moved inside their validity.
set -euo pipefail
cd "$(dirname "$0")"

ext=$(mktemp)
trap 'rm -f "$ext"' EXIT
cat >"$ext" <<'END'
[publisher]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
END

make_root() {  # name, subject
    openssl genrsa -out "$1.key" 2048 2>/dev/null
    openssl req -new -x509 -key "$1.key" -subj "$2" -days 7300 -sha256 \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" -out "$1.crt"
}

make_publisher() {  # name, subject, root
    openssl genrsa -out "$1.key" 2048 2>/dev/null
    openssl req -new -key "$1.key" -subj "$2" -out "$1.csr"
    openssl x509 -req -in "$1.csr" -CA "$3.crt" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" \
        -days 7300 -sha256 -extfile "$ext" -extensions publisher -out "$1.crt"
    rm "$1.csr"
}

make_root root "/CN=Orivanta Development Root (test fixture)"
make_publisher publisher "/O=Orivanta Development/CN=Orivanta Development Publisher" root
make_publisher second-publisher "/O=Orivanta Development/CN=Orivanta Second Development Publisher" root
make_root foreign-root "/CN=Foreign Development Root (test fixture)"
make_publisher foreign-publisher "/O=Foreign Development/CN=Foreign Development Publisher" foreign-root
