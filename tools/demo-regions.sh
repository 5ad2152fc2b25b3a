#!/bin/bash
# Usage: demo-regions.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# The invitation round trip through the form region of the simulated Outlook 2010, between Alice
# (this prefix) and Bob (a prefix of his own): tests/integration/regions/round-trip.sh, with the
# regions' texts and buttons as each user sees them.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/bounded.sh"
printf '\n== %s\n' "The form region: Alice invites Bob; each adds the other from the region; then each reads the other's signed mail"
bounded 900 "the round trip" "$root/tests/integration/regions/round-trip.sh" "$build" | tr -d '\r' |
  grep -E '^==|: expect region|: accept|: send|Form region VmOfcX shown' | sed 's/^[^:]*:[0-9]*: /   /; s/^==/ ==/'
