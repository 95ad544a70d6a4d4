#!/bin/sh
# Signs a copy of setup.exe as a maker would after mksetup (Authenticode,
# with osslsigncode), under a throwaway self-signed certificate made here,
# and checks the signature.
#   sign_setup.sh SETUP_EXE OUT_DIR      writes OUT_DIR/setup-signed.exe
set -e
out=$2
rm -rf "$out"
mkdir -p "$out"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/key.pem" -out "$out/cert.pem" -days 2 \
    -subj "/CN=Throwaway test signer" 2>/dev/null
osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -n "Demo setup" \
    -in "$1" -out "$out/setup-signed.exe" >/dev/null
osslsigncode verify -CAfile "$out/cert.pem" -in "$out/setup-signed.exe" | grep -q "Signature verification: ok"
echo "signed: $out/setup-signed.exe"
