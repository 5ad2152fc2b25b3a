#!/bin/bash
# Usage: round-trip.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# The invitation round trip between two users on machines of their own, through the form region
# of the simulated Outlook 2010: Alice (this prefix) invites Bob (a prefix made afresh); Bob's
# region offers to add her, which installs her and shows the signed reply with his certificate
# (".vmcrr"), which he sends; Alice's region offers to add him; from then on each reads the other's
# signed mail as a trusted contact's. The reply stays in BUILD_DIR/regions for OpenSSL
# (tests/interop/test_invitation_reply.py).
# The script calls itself in Bob's prefix: round-trip.sh BUILD_DIR --machine|--play ...
. "$(dirname "$0")/../machines.sh" "$1"
shift
out="$build/regions"
export DROP
DROP=$(winpath "$out/drop")
play() { wine "$build/sim/ofcsim.exe" --only VmOfcX.ComposeRibbon --only VmOfcX.FormRegionAddIn "$here/$1"; }

case "${1:-}" in
  --machine) "$tools/install-prefix.sh" "$build" && new_user "$2" "$3" && exit 0 ;;
  --play) play "$2" && exit 0 ;;
  "") ;;
  *) echo "usage: $0 BUILD_DIR" >&2 && exit 2 ;;
esac
bob() { "$tools/wine-session.sh" "$build/prefix-bob" "$self" "$build" "$@"; }

rm -rf "$out" "$build/prefix-bob"
mkdir -p "$out/drop"
echo "== Bob's machine"
bob --machine bob@tessaly.test "Bob Example"
echo "== Alice invites Bob"
new_user alice@tessaly.test "Alice Example"
play alice-invites.scn
echo "== Bob's region offers to add Alice; he accepts and replies"
bob --play bob-accepts.scn
cp "$out"/drop/alice@tessaly.test/*.eml "$out/reply.eml"
echo "== Alice's region offers to add Bob; she accepts and writes to him"
play alice-accepts.scn
echo "== Bob reads Alice's signed mail as a trusted contact's and writes back"
bob --play bob-reads.scn
echo "== Alice reads Bob's"
play alice-reads.scn
rm -rf "$build/prefix-bob"
