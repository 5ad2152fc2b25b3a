#!/bin/bash
# Usage: package.sh BUILD_DIR [VERSION]   (inside wine-session.sh, for the test authority)
# The module's Windows Installer package, BUILD_DIR/package/VmOfcX-VERSION.msi (VERSION: the
# module's own unless given), from installer/VmOfcX.wxs: the module and its satellites signed
# with a code-signing certificate of the test authority, then the package itself; each signature
# checked by osslsigncode against the authority.
set -eu
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
version=${2:-$(sed -n 's/^#define VMOFCX_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/version.h")}
pki="$build/pki"
out="$build/package"
stage="$out/stage-$version"

"$source_dir/tools/test-authority.sh" "$build"
(
  flock 9
  if [ ! -f "$pki/codesign.pem" ]; then
    openssl rsa -inform MSBLOB -in "$pki/authority.key" -out "$pki/authority-key.pem" 2>/dev/null
    openssl x509 -inform DER -in "$pki/authority.cer" -out "$pki/authority.pem"
    openssl req -new -newkey rsa:2048 -nodes -keyout "$pki/codesign.key" \
      -subj "/O=Velmora/CN=Velmora Tessaly Code Signing (test)" -out "$pki/codesign.csr" 2>/dev/null
    openssl x509 -req -in "$pki/codesign.csr" -CA "$pki/authority.pem" -CAkey "$pki/authority-key.pem" \
      -set_serial "0x$(openssl rand -hex 8)" -days 3650 -sha256 -out "$pki/codesign.pem.new" \
      -extfile <(printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n') \
      2>/dev/null
    mv "$pki/codesign.pem.new" "$pki/codesign.pem"
  fi
) 9>"$pki/.lock"

sign() {  # FILE
  osslsigncode sign -certs "$pki/codesign.pem" -key "$pki/codesign.key" -h sha256 \
    -n "Tessaly Office Module" -i "https://tessaly.test/" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
  osslsigncode verify -CAfile "$pki/authority.pem" -in "$1" >/dev/null ||
    { echo "package.sh: the signature of $1 does not verify" >&2; exit 1; }
}

rm -rf "$stage"
mkdir -p "$stage"
cp "$build/VmOfcX.dll" "$stage/"
sign "$stage/VmOfcX.dll"
for satellite in "$build"/suite/*/VmOfcX.dll.mui; do
  language=$(basename "$(dirname "$satellite")")
  mkdir -p "$stage/$language"
  cp "$satellite" "$stage/$language/"
  sign "$stage/$language/VmOfcX.dll.mui"
done
package="$out/VmOfcX-$version.msi"
# wixl finds the files by their names relative to the folder it runs in.
(cd "$stage" && wixl -a x64 -D Version="$version" -o "$package" "$source_dir/installer/VmOfcX.wxs" 2>&1 |
  { grep -v "^$" || true; } >&2)
sign "$package"
rm -rf "$stage"
echo "$package"
