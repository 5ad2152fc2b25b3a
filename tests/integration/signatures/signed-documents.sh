#!/bin/bash
# Usage: signed-documents.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# A user with a certificate of the test authority signs documents of the three applications,
# first through the simulator's test provider, then through the module's provider as registered in
# the prefix; copies of the module's Word and Excel documents with a changed part must open as
# invalid. The files and the module's line images stay in BUILD_DIR/signatures.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$build/signatures"
rm -rf "$out"
mkdir -p "$out"
export DOCS="Z:$(echo "$out" | tr / '\\')"
for store in MY VelmoraBuddies; do
  wine reg delete "HKCU\\Software\\Microsoft\\SystemCertificates\\$store\\Certificates" /f >/dev/null 2>&1 || true
done
wine "$build/tools/vmpki.exe" user signer@tessaly.test "Sam Signer"
wine "$build/sim/ofcsim.exe" --register "Z:$(echo "$build/sim/SimTestSignatureProvider.dll" | tr / '\\')" \
  --only OfficeSim.TestSignatureProvider "$here/signed-documents.scn"
wine "$build/sim/ofcsim.exe" --only VmOfcX.SignatureProvider "$here/module-signed.scn"
python3 - "$out" <<'PY'
import pathlib, sys, zipfile
out = pathlib.Path(sys.argv[1])
for kind in ("docx", "xlsx"):
    with zipfile.ZipFile(out / ("module." + kind)) as source, \
            zipfile.ZipFile(out / ("module-changed." + kind), "w", zipfile.ZIP_DEFLATED) as copy:
        for item in source.infolist():
            copy.writestr(item, source.read(item).replace(b"signed by the module", b"changed by someone else"))
PY
wine "$build/sim/ofcsim.exe" --only VmOfcX.SignatureProvider "$here/module-changed.scn"
