#!/bin/bash
# Usage: demo-ui.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# Opens the e-mail options, reads their tooltips and answers them through the UI driver, then
# backs the user's certificate up through the certificate wizard, page by page, and opens the
# backup with OpenSSL. Every wait is bounded: a play that goes wrong fails the demo.
set -euo pipefail
build=$(cd "$1" && pwd)
. "$(dirname "$0")/bounded.sh"
title="Tessaly E-mail Options"

say() { printf '\n== %s\n' "$*"; }
driver() { wine "$build/tools/uidriver.exe" "$@" | tr -d '\r'; }
setting() {
  wine reg query 'HKCU\SOFTWARE\Velmora\Applications\Tessaly' /v EmailSecurity 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_DWORD *//p'
}

say "E-mail options: opening the dialog"
spawn 300 wine "$build/tools/uishots.exe" --email-options
dialog=$!
driver wait "$title"
sign=$(driver checked "$title" 202)
note=$(driver checked "$title" 203)
printf '   "Sign and encrypt" (202) checked: %s\n' "$sign"
printf '   "Add a note" (203) checked: %s\n' "$note"
say "Tooltips of its controls (control id, text)"
driver tips "$title" | sed 's/^/   /'
say "Checking 202, unchecking 203, pressing OK"
driver check "$title" 202 1
driver check "$title" 203 0
driver click "$title" 1
await "$dialog" 120 "the e-mail options to close"
printf '   EmailSecurity = %s (0x1 sign and encrypt, 0x4 no note)\n' "$(setting)"

say "Certificate wizard: backing up the user's certificate and key"
wine "$build/tools/vmpki.exe" user demo@tessaly.test "Demo User" >/dev/null
backup="$build/prefix-demo-backup/demo.vmpsm"
rm -rf "$(dirname "$backup")"
bounded 600 "the certificate wizard's backup play" wine "$build/tools/uishots.exe" --backup \
  "$(winepath -w "$(dirname "$backup")" 2>/dev/null)\\demo" "demo-secret" | tr -d '\r'
say "The backup opened by OpenSSL with its password"
ls -l "$backup" | sed 's/^/   /'
openssl pkcs12 -in "$backup" -passin pass:demo-secret -nodes 2>/dev/null |
  grep -E '^(subject|issuer)=|BEGIN' | sed 's/^/   /'
