#!/bin/bash
# Usage: uidriver-shots.sh BUILD_DIR  (run by `make screenshots` inside wine-session.sh)
# Installs the module, gives the user a certificate and a trusted contact, and writes a PNG of
# every dialog and wizard page in every language into BUILD_DIR/screenshots, then the document
# ribbon's menu of each application and its balloon (sim/scenarios/shots-ribbon.scn), and Outlook's
# ribbon menus and balloon in English and German.
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

# Outlook 2010's ribbons with the module's add-in in each language: the main window's menu and the
# compose window's split button menu dropped through Active Accessibility, with their images, and
# the balloon that points at the menu once the profile is ready.
outlook_shots() {  # LANGUAGE LOCALE SPLIT-BUTTON-NAME
  local scenario="$build/prefix-shots-$1.scn" prefix
  prefix=$SHOTS\\$1
  cat >"$scenario" <<SCN
certificates none
run C:\\windows\\system32\\reg.exe add HKCU\\SOFTWARE\\Velmora\\Applications\\Tessaly /v EmailBalloon /t REG_DWORD /d 0 /f
answer no
start 14
quit
run C:\\windows\\system32\\reg.exe add HKCU\\SOFTWARE\\Velmora\\Applications\\Tessaly /v EmailBalloon /t REG_DWORD /d 1 /f
start 14
wait 1500
shot explorer $prefix-outlook-balloon.png
drop explorer Tessaly
shot explorer $prefix-outlook-main-window-menu.png
compose
drop inspector $3
shot inspector $prefix-outlook-compose-menu.png
close discard
quit
SCN
  LC_ALL=$2 wine "$build/sim/ofcsim.exe" --only VmOfcX.ComposeRibbon "$(winepath -w "$scenario" 2>/dev/null)"
  rm -f "$scenario"
}
outlook_shots en-US en_US.UTF-8 "Secure Send"
outlook_shots de-DE de_DE.UTF-8 "Sicher senden"
