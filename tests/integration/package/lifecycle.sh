#!/bin/bash
# Usage: lifecycle.sh BUILD_DIR
# The module's installer package on a machine of its own (a prefix made afresh with the suite's
# stand-ins but without the module): the package and the files it installs carry signatures that
# osslsigncode and WinVerifyTrust accept and that fail once a byte changes; installing, upgrading
# to a newer version and removing leave the registry as it was apart from what the cleanup list
# names, and the user's settings survive the upgrade; the installed module then sends a signed
# message from Outlook and encrypts a document in Word.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
tools="$source_dir/tools"
prefix="$build/prefix-package"
suite="$prefix/drive_c/Program Files/Velmora/Tessaly"
work="$build/package-test"
settings='HKCU\Software\Velmora\Applications\Tessaly'
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
damaged() {  # FILE COPY: a copy with one bit of the middle byte flipped
  python3 -c "import sys; d = bytearray(open(sys.argv[1], 'rb').read()); d[len(d) // 2] ^= 1; open(sys.argv[2], 'wb').write(d)" "$1" "$2"
}

if [ "${2:-}" != --machine ]; then
  rm -rf "$prefix" "$work"
  exec "$tools/wine-session.sh" "$prefix" "$0" "$build" --machine
fi

mkdir -p "$work"
"$tools/install-prefix.sh" "$build" --without-module >/dev/null
version=$(sed -n 's/^#define VMOFCX_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/version.h")
IFS=. read -r major minor patch revision <<<"$version"
newer="$major.$minor.$((patch + 1)).$revision"  # Windows Installer compares three fields
old_package=$("$tools/package.sh" "$build" "$version")
new_package=$("$tools/package.sh" "$build" "$newer")
msi() { wine msiexec "$1" "$(winpath "$2")" /qn /l*v "$(winpath "$work/$3.log")" || fail "msiexec $1 $2: $?"; }
export_registry() {
  wine reg export HKLM "$(winpath "$work/$1-machine.reg")" /y >/dev/null
  wine reg export HKCU "$(winpath "$work/$1-user.reg")" /y >/dev/null
}
installed_products() {  # the DisplayVersion of each installed package of the module
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '/DisplayName.*Tessaly Office Module/ { found = 1 } /^HKEY/ { found = 0 } found && /DisplayVersion/ { print $3 }'
}

echo "== Signatures, checked outside Windows"
osslsigncode verify -CAfile "$build/pki/authority.pem" -in "$new_package" >/dev/null || fail "package signature"
damaged "$new_package" "$work/damaged.msi"
! osslsigncode verify -CAfile "$build/pki/authority.pem" -in "$work/damaged.msi" >/dev/null 2>&1 ||
  fail "a damaged package's signature verifies"
# The package's own tables, read by the Windows Installer tools of the Linux side.
files=$(msiinfo export "$new_package" File)
grep -q "^VmOfcX.dll	Module	VmOfcX.dll	" <<<"$files" || fail "the package has no module"
[ "$(grep -c "Satellite	VmOfcX.dll.mui	" <<<"$files")" -eq 2 ] || fail "the package lacks a satellite"
grep -q '/s /u "\[INSTALLDIR\]VmOfcX.dll"' <<<"$(msiinfo export "$new_package" CustomAction)" || fail "no unregistration"

echo "== Install, upgrade and remove leave the registry as it was"
export_registry before
msi /i "$old_package" install-old
[ -f "$suite/VmOfcX.dll" ] && [ -f "$suite/en-US/VmOfcX.dll.mui" ] && [ -f "$suite/de-DE/VmOfcX.dll.mui" ] ||
  fail "files missing after installation"
wine reg query 'HKLM\Software\Microsoft\Office\Outlook\Addins\VmOfcX.ComposeRibbon' >/dev/null ||
  fail "the module did not register itself"
wine reg add "$settings" /v EmailSecurity /t REG_DWORD /d 5 /f >/dev/null
msi /i "$new_package" upgrade
installed=$(installed_products | tr -d '\r' | xargs)
[ "$installed" = "$newer" ] || fail "installed after the upgrade: '$installed', not $newer alone"
wine reg query "$settings" /v EmailSecurity | grep -q 0x5 || fail "the upgrade lost the user's settings"
[ -f "$suite/VmOfcX.dll" ] || fail "the upgrade removed the module"
wine reg query 'HKLM\Software\Microsoft\Office\Outlook\Addins\VmOfcX.ComposeRibbon' >/dev/null ||
  fail "the upgrade left the module unregistered"
msi /x "$new_package" remove
[ ! -e "$suite/VmOfcX.dll" ] && [ ! -e "$suite/en-US" ] || fail "files left after removal"
export_registry after
for hive in machine user; do
  python3 "$here/regdiff.py" "$work/before-$hive.reg" "$work/after-$hive.reg" "$suite/Cleanup.txt" ||
    fail "the $hive registry differs after removal"
done

echo "== The installed module: signed, in Outlook and Word"
msi /i "$new_package" install-new
for file in VmOfcX.dll en-US/VmOfcX.dll.mui; do
  osslsigncode verify -CAfile "$build/pki/authority.pem" -in "$suite/$file" >/dev/null || fail "$file is not signed"
done
wine "$build/tools/vmpki.exe" trust 'C:\Program Files\Velmora\Tessaly\VmOfcX.dll' || fail "WinVerifyTrust refuses the module"
damaged "$suite/VmOfcX.dll" "$work/damaged.dll"
! wine "$build/tools/vmpki.exe" trust "$(winpath "$work/damaged.dll")" 2>/dev/null || fail "WinVerifyTrust accepts a damaged module"
wine "$build/sim/ofcsim.exe" --only VmOfcX.ComposeRibbon "$source_dir/sim/scenarios/addin-send.scn"
wine "$build/sim/ofcsim.exe" --only VmOfcX.DocumentRibbon --only VmOfcX.EncryptionProvider \
  --only VmOfcX.SignatureProvider "$source_dir/sim/scenarios/document-word.scn"
msi /x "$new_package" remove-again
echo "== Package lifecycle passed"
