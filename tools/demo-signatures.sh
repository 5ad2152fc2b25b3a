#!/bin/bash
# Usage: demo-signatures.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# A user adds a signature line to a Word document in the simulated Word and signs it through the
# module's signature provider as installed in the prefix; the line's images before and after
# signing are written out, and xmlsec1 verifies the saved signature part outside Windows against
# the test authority.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
out="$build/demo-signatures"
say() { printf '\n== %s\n' "$*"; }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
export DOCS
DOCS=$(winpath "$out")
rm -rf "$out"
mkdir -p "$out"

say "Sam has a certificate of the test authority"
wine reg delete 'HKCU\Software\Microsoft\SystemCertificates\MY\Certificates' /f >/dev/null 2>&1 || true
wine "$build/tools/vmpki.exe" user sam@example.org "Sam Signer" | tr -d '\r' | sed 's/^/   /'
say "Sam's Word: a signature line set up, signed, saved, opened again (the module's signature provider)"
wine "$build/sim/ofcsim.exe" --only VmOfcX.SignatureProvider "$root/sim/scenarios/demo-word-sign.scn" | tr -d '\r'
say "The line's images"
for image in unsigned signed; do
  python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); w,h=struct.unpack("<ii",d[18:26]); print("   %s: %dx%d bitmap, %d bytes" % (sys.argv[1], w, abs(h), len(d)))' "$out/$image.bmp"
done
say "xmlsec1 verifies the signature part of signed.docx"
(cd "$out" && python3 -c 'import zipfile; open("sig1.xml","wb").write(zipfile.ZipFile("signed.docx").read("_xmlsignatures/sig1.xml"))')
xmlsec1 --verify --ignore-manifests --trusted-der "$build/pki/authority.cer" \
  --id-attr:Id "http://www.w3.org/2000/09/xmldsig#:Object" "$out/sig1.xml" 2>&1 | sed 's/^/   /'
