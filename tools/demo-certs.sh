#!/bin/bash
# Usage: demo-certs.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# A new user of this machine obtains a certificate from the suite's test authority, receives a
# contact's certificate, and lists both; OpenSSL then checks the certificates against the authority.
set -euo pipefail
build=$(cd "$1" && pwd)
vmpki() { wine "$build/tools/vmpki.exe" "$@" | tr -d '\r' | sed 's/^/   /'; }
say() { printf '\n== %s\n' "$*"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

say "A new user, Alice Example <alice@example.org>: no certificate, no contacts yet"
vmpki list

say "Alice obtains a certificate (key pair in the \"Velmora RSA Solvane CSP\", issued by the suite's authority)"
vmpki obtain alice@example.org "Alice Example"
wine reg query 'HKCU\Software\Velmora\Solvane\Keys' /s 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/   /'

say "Her certificate of last year, now expired"
vmpki user alice@example.org "Alice Example" --expired

say "Bob Builder sends his certificate; Alice installs it as a trusted contact (twice: the second is refused)"
vmpki contact bob@example.org "Bob Builder" "$(winpath "$work/bob.cer")"
vmpki add-contact "$(winpath "$work/bob.cer")"
refusal=$(wine "$build/tools/vmpki.exe" add-contact "$(winpath "$work/bob.cer")" 2>&1 | grep -o '0x[0-9A-F]*' || true)
echo "   the second time: ${refusal:-accepted} (CRYPT_E_EXISTS is 0x80092005)"

say "Alice's certificates and contacts"
vmpki list

say "OpenSSL checks Bob's certificate against the authority's certificate"
openssl x509 -inform DER -in "$build/pki/authority.cer" -out "$work/authority.pem"
openssl x509 -inform DER -in "$work/bob.cer" -out "$work/bob.pem"
openssl x509 -in "$work/bob.pem" -noout -subject -issuer -dates | sed 's/^/   /'
openssl verify -CAfile "$work/authority.pem" -purpose smimeencrypt "$work/bob.pem" | sed 's/^/   /'
