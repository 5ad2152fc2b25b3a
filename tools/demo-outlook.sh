#!/bin/bash
# Usage: demo-outlook.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# Plays the demonstration scenario in the simulated Outlook with every add-in registered in
# the prefix, and the simulator's test add-in registered for the run.
set -eu
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/bounded.sh"

printf '\n== Simulated Outlook 2010 with the registered add-ins\n'
bounded 900 "the Outlook scenario" wine "$build/sim/ofcsim.exe" --register "$build/sim/SimTestAddIn.dll" \
  "$root/sim/scenarios/demo.scn"
