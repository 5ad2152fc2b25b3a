#!/bin/bash
# Usage: demo-documents.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# Alice (this prefix) encrypts and signs a Word document, an Excel workbook and a PowerPoint
# presentation for her contact Bob from the document ribbon; Bob opens them on a machine of his
# own (a second prefix) and finds her signatures valid. Both sides' view of the simulated
# applications is printed, then the files.
# The script calls itself in Bob's prefix: demo-documents.sh BUILD_DIR --bob STEP...
set -euo pipefail
build=$(cd "$1" && pwd)
shift
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
root=$(cd "$(dirname "$self")/.." && pwd)
. "$root/tools/bounded.sh"
out="$build/demo-documents"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
export DOCS
DOCS=$(winpath "$out")
vmpki() { wine "$build/tools/vmpki.exe" "$@" | tr -d '\r' | sed 's/^/   /'; }
# office SCENARIO [--only PROGID]...: Office with the module's providers (and the add-ins named).
office() {
  local scenario=$1
  shift
  bounded 900 "Office's scenario $scenario" wine "$build/sim/ofcsim.exe" --only VmOfcX.EncryptionProvider \
    --only VmOfcX.SignatureProvider "$@" "$root/sim/scenarios/$scenario"
}
say() { printf '\n== %s\n' "$*"; }
bob() { "$root/tools/wine-session.sh" "$build/prefix-demo-bob" "$self" "$build" --bob "$@"; }

if [ "${1:-}" = "--bob" ]; then
  case "$2" in
    machine) "$root/tools/install-prefix.sh" "$build" && vmpki user bob@example.org "Bob Builder" &&
      vmpki export bob@example.org "$(winpath "$out/bob.cer")" ;;
    open) office demo-ribbon-contact.scn ;;
  esac
  exit 0
fi

rm -rf "$out" "$build/prefix-demo-bob"
mkdir -p "$out"
say "Bob's machine: the suite and his certificate; he sends Alice his certificate"
bob machine
say "Alice starts afresh: one certificate of her own, and Bob as her one trusted contact"
for store in MY VelmoraBuddies; do
  wine reg delete "HKCU\\Software\\Microsoft\\SystemCertificates\\$store\\Certificates" /f >/dev/null 2>&1 || true
done
wine reg delete 'HKCU\Software\Velmora\CertWorks' /f >/dev/null 2>&1 || true
vmpki user alice@example.org "Alice Example"
vmpki add-contact "$(winpath "$out/bob.cer")"
say "Alice's Word, Excel and PowerPoint: the ribbon's button encrypts for Bob and signs (the dialogs are answered for her)"
office demo-ribbon-owner.scn --only VmOfcX.DocumentRibbon
say "Bob's Word, Excel and PowerPoint: he opens them and checks Alice's signatures"
bob open
say "The files: OLE compound files with the encrypted package"
/usr/bin/python3 - "$out/minutes.docx" "$out/budget.xlsx" "$out/announcement.pptx" <<'PY'
import struct, sys, olefile
for name in sys.argv[1:]:
    print("   " + name.rsplit("/", 1)[-1])
    with olefile.OleFileIO(name) as ole:
        for entry in ole.listdir(streams=True, storages=False):
            print("     %-58r %6d bytes" % ("/".join(entry), ole.get_size(entry)))
        size = struct.unpack("<Q", ole.openstream("EncryptedPackage").read(8))[0]
    print("     the package: %d bytes before encryption" % size)
PY
rm -rf "$build/prefix-demo-bob"
