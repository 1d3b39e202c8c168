#!/usr/bin/env bash
# Signing as ./tally dist signs (Setup/sign.sh), with a throwaway self-signed certificate: the plugin
# DLL and the installer come out with signatures that verify, where an unsigned file does not.
# usage: signing-test.sh DLL SETUP WORK_FOLDER
set -euo pipefail
dll="$(realpath "$1")" setup="$(realpath "$2")" work="$(realpath -m "$3")"
sign="$(cd "$(dirname "${BASH_SOURCE[0]}")/../Setup" && pwd)/sign.sh"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Tallymark test signing" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null
cp "$dll" Tallymark.dll
cp "$setup" setup.exe
if osslsigncode verify -CAfile cert.pem -in Tallymark.dll >/dev/null 2>&1; then echo "an unsigned DLL verified"; exit 1; fi
TALLY_SIGN_CERT=cert.pem TALLY_SIGN_KEY=key.pem "$sign" Tallymark.dll setup.exe
for file in Tallymark.dll setup.exe; do
  osslsigncode verify -CAfile cert.pem -in "$file" 2>&1 | grep -q '^Signature verification: ok' ||
    { echo "$file: its signature does not verify"; exit 1; }
done
echo "signing: passed"
