#!/bin/bash
# Usage: uidriver-shots.sh BUILD_DIR  (run by `make screenshots` inside wine-session.sh)
# Installs the module, gives the user a certificate and a trusted contact, and writes a PNG of
# every dialog and wizard page in every language into BUILD_DIR/screenshots, then the document
# ribbon's menu of each application and its balloon (sim/scenarios/shots-ribbon.scn).
set -eu
build=$(cd "$1" && pwd)
"$(dirname "$0")/install-prefix.sh" "$build"
wine "$build/tools/vmpki.exe" user me@tessaly.test "Mia Example" >/dev/null
contact="$build/prefix-shots-contact.cer"
wine "$build/tools/vmpki.exe" contact alice@tessaly.test "Alice Example" "$(winepath -w "$contact" 2>/dev/null)" >/dev/null
wine "$build/tools/vmpki.exe" add-contact "$(winepath -w "$contact" 2>/dev/null)" >/dev/null
rm -f "$contact"
rm -rf "$build/screenshots"
wine "$build/tools/uishots.exe" "$(winepath -w "$build/screenshots" 2>/dev/null)"
export SHOTS
SHOTS=$(winepath -w "$build/screenshots" 2>/dev/null)
wine "$build/sim/ofcsim.exe" --only VmOfcX.DocumentRibbon "$(dirname "$0")/../sim/scenarios/shots-ribbon.scn"
