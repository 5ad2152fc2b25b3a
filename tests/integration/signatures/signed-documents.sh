#!/bin/bash
# Usage: signed-documents.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# A user with a certificate of the test authority signs documents of the three applications
# through the simulator's test provider; the files stay in BUILD_DIR/signatures.
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
