#!/usr/bin/env bash
# Signs files in place (Authenticode, SHA-256) with osslsigncode and verifies each signature.
#   TALLY_SIGN_CERT, TALLY_SIGN_KEY   the certificate (with its chain) and its private key, PEM or DER
#   TALLY_SIGN_PASS                   the key's password, when it has one
#   TALLY_SIGN_TIMESTAMP              a time-stamping server's URL (RFC 3161), when signatures must outlive the certificate
#   TALLY_SIGN_CA                     the certificates the signature is verified against (default: TALLY_SIGN_CERT)
# usage: sign.sh FILE...
set -euo pipefail
: "${TALLY_SIGN_CERT:?sign.sh needs TALLY_SIGN_CERT}" "${TALLY_SIGN_KEY:?sign.sh needs TALLY_SIGN_KEY}"
for file in "$@"; do
  args=(sign -certs "$TALLY_SIGN_CERT" -key "$TALLY_SIGN_KEY" -h sha256 -n "Velmor Paylantra Tallymark")
  [ -z "${TALLY_SIGN_PASS:-}" ] || args+=(-pass "$TALLY_SIGN_PASS")
  [ -z "${TALLY_SIGN_TIMESTAMP:-}" ] || args+=(-ts "$TALLY_SIGN_TIMESTAMP")
  rm -f "$file.signed"
  if ! out="$(osslsigncode "${args[@]}" -in "$file" -out "$file.signed" 2>&1)"; then
    rm -f "$file.signed"; echo "sign.sh: $file not signed: $out" >&2; exit 1
  fi
  if ! out="$(osslsigncode verify -CAfile "${TALLY_SIGN_CA:-$TALLY_SIGN_CERT}" -in "$file.signed" 2>&1)"; then
    rm -f "$file.signed"; echo "sign.sh: the signature of $file does not verify: $out" >&2; exit 1
  fi
  mv "$file.signed" "$file"
  echo "signed and verified: $(basename "$file")"
done
