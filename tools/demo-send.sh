#!/bin/bash
# Usage: demo-send.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# Alice sends a signed message, a sealed one and an invitation to Bob from the simulated Outlook
# 2010 through the module's add-in; the simulated Outlook's S/MIME engine writes them to a mail
# drop, where OpenSSL verifies and decrypts them. A sealed message to a stranger is refused by the
# security label's policy module.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/bounded.sh"
say() { printf '\n== %s\n' "$*"; }
vmpki() { wine "$build/tools/vmpki.exe" "$@" | tr -d '\r' | sed 's/^/   /'; }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

say "Secure sending: Alice's certificate (her key's classification 3), Bob a trusted contact, Carol a stranger"
for store in MY VelmoraBuddies; do
  wine reg delete "HKCU\\Software\\Microsoft\\SystemCertificates\\$store\\Certificates" /f >/dev/null 2>&1 || true
done
wine reg delete 'HKCU\Software\Velmora\Solvane\Keys' /f >/dev/null 2>&1 || true
vmpki user alice@example.org "Alice Example"
container=$(wine reg query 'HKCU\Software\Velmora\Solvane\Keys' | tr -d '\r' | grep '\\Keys\\')
wine reg add "$container" /v Classification /t REG_DWORD /d 3 /f >/dev/null
vmpki export alice@example.org "$(winpath "$out/alice.cer")" "$(winpath "$out/alice.key")"
vmpki contact bob@example.org "Bob Builder" "$(winpath "$out/bob.cer")"
vmpki add-contact "$(winpath "$out/bob.cer")"
vmpki contact dave@example.org "Dave Example" "$(winpath "$out/dave.cer")"
vmpki add-contact "$(winpath "$out/dave.cer")"
vmpki contact carol@example.org "Carol Stranger" "$(winpath "$out/carol.cer")"

say "Alice sends from Outlook 2010: signed, sealed, an invitation; sealed to Carol is refused"
OUT=$(winpath "$out") bounded 900 "the sending scenario" wine "$build/sim/ofcsim.exe" --only VmOfcX.ComposeRibbon \
  "$root/sim/scenarios/demo-send.scn" | tr -d '\r' | grep -E 'Sent|refused|failed|Encrypted|label' | sed 's/^/   /'
echo "   in Bob's mail drop: $(ls "$out/drop/bob@example.org" | wc -l) messages; in Carol's: none"

say "OpenSSL verifies every message against the suite's authority and decrypts the sealed one with Alice's key"
openssl x509 -inform DER -in "$build/pki/authority.cer" -out "$out/ca.pem"
openssl x509 -inform DER -in "$out/alice.cer" -out "$out/alice.pem"
PYTHONPATH="$root/tests/interop" python3 -c '
import sys
from capi_keys import private_key_from_blob
from cryptography.hazmat.primitives import serialization as s
key = private_key_from_blob(open(sys.argv[1], "rb").read())
open(sys.argv[2], "wb").write(key.private_bytes(s.Encoding.PEM, s.PrivateFormat.PKCS8, s.NoEncryption()))
' "$out/alice.key" "$out/alice.key.pem"
for eml in "$out/drop/bob@example.org"/*.eml; do
  subject=$(grep -m1 '^Subject:' "$eml" | tr -d '\r')
  echo "   -- $subject ($(grep -m1 -o 'application/[a-z-]*pkcs7-[a-z]*' "$eml"))"
  signed=$eml
  if grep -q 'pkcs7-mime' "$eml"; then
    openssl cms -decrypt -in "$eml" -inkey "$out/alice.key.pem" -recip "$out/alice.pem" -out "$out/inner.eml"
    echo "      decrypted with Alice's key; recipients: $(openssl cms -cmsout -print -in "$eml" | grep -c 'd.ktri:')"
    signed=$out/inner.eml
  fi
  openssl cms -verify -in "$signed" -CAfile "$out/ca.pem" -signer "$out/signer.pem" -out "$out/content" 2>&1 |
    sed 's/^/      /'
  echo "      signer: $(openssl x509 -in "$out/signer.pem" -noout -subject)"
  openssl cms -cmsout -print -in "$signed" | grep -A8 'id-smime-aa-securityLabel' |
    grep -E 'prim: (OBJECT|INTEGER)' | sed 's/.*prim: */      label: /' || true
  grep -a -m1 -E 'harbour|charts|certificate' "$out/content" | tr -d '\r' | sed 's/^/      body: /' || true
done

say "The invitation's attachment, read by OpenSSL: Alice's certificate"
for eml in "$out/drop/bob@example.org"/*.eml; do
  grep -q '^Subject: Invitation' "$eml" || continue
  openssl cms -verify -in "$eml" -CAfile "$out/ca.pem" -out "$out/content" 2>/dev/null
  python3 -c '
import email, email.policy, sys
part, = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=email.policy.default).iter_attachments()
print("   " + part.get_filename())
open(sys.argv[2], "wb").write(part.get_payload(decode=True))
' "$out/content" "$out/attachment.der"
  openssl x509 -inform DER -in "$out/attachment.der" -noout -subject -email | sed 's/^/   /'
done
