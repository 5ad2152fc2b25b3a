#!/bin/bash
# Usage: two-users.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# Document encryption between users on machines of their own: the owner (this prefix) and a contact
# (a prefix made afresh), whose machine then gets a stranger as its user in place of the contact
# (a new certificate, the contact's gone from the stores); the contact's applications refuse damaged copies
# (damage.py). The owner also protects documents of each application with the document ribbon's
# button, which the contact opens and checks. The files, the contact's certificate and key stay in
# BUILD_DIR/documents for the checks outside Windows (tests/interop/test_encrypted_document.py).
# The script calls itself in the other prefix: two-users.sh BUILD_DIR --machine|--user|--export|--play ...
. "$(dirname "$0")/../machines.sh" "$1"
shift
out="$build/documents"
export DOCS
DOCS=$(winpath "$out")
vmpki() { wine "$build/tools/vmpki.exe" "$@"; }
# Plays a scenario with the encryption provider and the add-ins named after it.
play() {
  local scenario=$1 only=(--only VmOfcX.EncryptionProvider)
  shift
  for addin in "$@"; do only+=(--only "$addin"); done
  wine "$build/sim/ofcsim.exe" "${only[@]}" "$scenario"
}
in_prefix() {
  local prefix="$build/prefix-$1"
  shift
  "$tools/wine-session.sh" "$prefix" "$self" "$build" "$@"
}

case "${1:-}" in
  --machine) "$tools/install-prefix.sh" "$build" && new_user "$2" "$3" && exit 0 ;;
  --user) new_user "$2" "$3" && exit 0 ;;
  --export) vmpki export "$2" "$(winpath "$out/$3.cer")" "$(winpath "$out/$3.key")" && exit 0 ;;
  --play) play "${@:2}" && exit 0 ;;
  "") ;;
  *) echo "usage: $0 BUILD_DIR" >&2 && exit 2 ;;
esac

rm -rf "$out" "$build/prefix-contact"
mkdir -p "$out"

echo "== The contact's machine"
in_prefix contact --machine contact@tessaly.test "Carla Contact"
in_prefix contact --export contact@tessaly.test contact

echo "== The owner encrypts for the contact"
new_user owner@tessaly.test "Olga Owner"
vmpki add-contact "$(winpath "$out/contact.cer")"
vmpki export owner@tessaly.test "$(winpath "$out/owner.cer")"
play "$here/owner-encrypts.scn"
play "$here/owner-other-apps.scn"
play "$here/owner-ribbon.scn" VmOfcX.DocumentRibbon VmOfcX.SignatureProvider

echo "== The contact opens the document"
in_prefix contact --play "$here/contact-opens.scn"
in_prefix contact --play "$here/contact-ribbon.scn" VmOfcX.SignatureProvider

echo "== The contact's Word, Excel and PowerPoint refuse damaged copies at once"
/usr/bin/python3 "$here/damage.py" "$out"
in_prefix contact --play "$out/damaged.scn"

echo "== A stranger tries"
in_prefix contact --user stranger@tessaly.test "Sam Stranger"
in_prefix contact --play "$here/stranger-refused.scn"
rm -rf "$build/prefix-contact"
