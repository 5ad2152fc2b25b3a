#!/bin/bash
# Usage: demo-addin.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# The module's Outlook add-in in the simulated Outlook 2010: start-up, profile preparation, and the
# ribbon item that requests a certificate disappearing when another program obtains one.
set -eu
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/bounded.sh"

printf '\n== The Outlook add-in: connection, profile preparation, certificate signal\n'
# Start as a user without certificates: earlier parts of the demo gave this user some.
wine reg delete 'HKCU\Software\Microsoft\SystemCertificates\My\Certificates' /f >/dev/null 2>&1 || true
bounded 900 "the add-in's scenario" wine "$build/sim/ofcsim.exe" --only VmOfcX.ComposeRibbon \
  "$root/sim/scenarios/demo-addin.scn"
