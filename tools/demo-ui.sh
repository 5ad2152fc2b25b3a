#!/bin/bash
# Usage: demo-ui.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# Opens the e-mail options, reads their tooltips and answers them through the UI driver, then
# backs the user's certificate up through the certificate wizard and opens the backup with OpenSSL.
set -eu
build=$(cd "$1" && pwd)
driver="$build/tools/uidriver.exe"
title="Tessaly E-mail Options"

say() { printf '\n== %s\n' "$*"; }
setting() {
  wine reg query 'HKCU\SOFTWARE\Velmora\Applications\Tessaly' /v EmailSecurity 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_DWORD *//p'
}

say "E-mail options: opening the dialog"
wine "$build/tools/uishots.exe" --email-options &
dialog=$!
wine "$driver" wait "$title"
printf '   "Sign and encrypt" (202) checked: %s\n' "$(wine "$driver" checked "$title" 202 | tr -d '\r')"
printf '   "Add a note" (203) checked: %s\n' "$(wine "$driver" checked "$title" 203 | tr -d '\r')"
say "Tooltips of its controls (control id, text)"
wine "$driver" tips "$title" | tr -d '\r' | sed 's/^/   /'
say "Checking 202, unchecking 203, pressing OK"
wine "$driver" check "$title" 202 1
wine "$driver" check "$title" 203 0
wine "$driver" click "$title" 1
wait "$dialog"
printf '   EmailSecurity = %s (0x1 sign and encrypt, 0x4 no note)\n' "$(setting)"

say "Certificate wizard: backing up the user's certificate and key"
wine "$build/tools/vmpki.exe" user demo@tessaly.test "Demo User" >/dev/null
backup="$build/prefix-demo-backup/demo.vmpsm"
rm -rf "$(dirname "$backup")"
wine "$build/tools/uishots.exe" --backup "$(winepath -w "$(dirname "$backup")" 2>/dev/null)\\demo" "demo-secret" | tr -d '\r'
say "The backup opened by OpenSSL with its password"
ls -l "$backup" | sed 's/^/   /'
openssl pkcs12 -in "$backup" -passin pass:demo-secret -nodes 2>/dev/null |
  grep -E '^(subject|issuer)=|BEGIN' | sed 's/^/   /'
