#!/bin/bash
# Usage: install-prefix.sh BUILD_DIR [--without-module]
# Run inside wine-session.sh: installs the module into the suite's folder of the
# current prefix, writes the machine values it reads and registers it. Without the module: the
# suite's stand-ins and the simulator only, for a test that installs the module's package.
set -eu
build=$(cd "$1" && pwd)
with_module=true
[ "${2:-}" != --without-module ] || with_module=false
tools=$(cd "$(dirname "$0")" && pwd)
suite_win='C:\Program Files\Velmora\Tessaly'
suite_unix="$WINEPREFIX/drive_c/Program Files/Velmora/Tessaly"

mkdir -p "$suite_unix"

wine reg add 'HKLM\SOFTWARE\Velmora' /v VelmoraPath /t REG_SZ /d "$suite_win" /f /reg:64 >/dev/null
# The machine has no Windows fonts; dialogs and images ask for these faces.
for face in Arial Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "DejaVu Sans" /f >/dev/null
done
# The signer's name on a signature line is drawn in a handwriting face (string 430).
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Segoe Script" /t REG_SZ /d "DejaVu Serif" /f >/dev/null
# The policy service beside the system's libraries, where the module finds it by name; the
# branding DLL that the registry names.
cp "$build/suite/VmFPApi.dll" "$WINEPREFIX/drive_c/windows/system32/"
cp "$build/suite/VmBranding.dll" "$suite_unix/"
wine reg add 'HKLM\SOFTWARE\Velmora\Applications\Tessaly\Branding' /v DLLPath /t REG_SZ \
  /d "$suite_win\\VmBranding.dll" /f /reg:64 >/dev/null
# The backup library, the management libraries and the console that shows their pages; the
# suite names its program folder in the 32-bit view.
cp "$build"/suite/{VmPrivSuiteCfg,VmPersCertMgr,VmTrustContMgr}.dll "$build/suite/VmUserConsole.exe" "$suite_unix/"
wine reg add 'HKLM\SOFTWARE\Velmora\Applications' /v BinDir /t REG_SZ /d "$suite_win" /f /reg:32 >/dev/null
# Certificate services: library, secret store, key provider, and the test authority that
# every prefix of this build shares.
cp "$build"/suite/{VmCertWorks,VmStoreMan,VmSolvaneCsp}.dll "$suite_unix/"
wine regsvr32 /s "$suite_win\\VmSolvaneCsp.dll" || { echo "regsvr32 VmSolvaneCsp.dll failed: $?" >&2; exit 1; }
"$tools/test-authority.sh" "$build"
mkdir -p "$suite_unix/TestCA"
cp "$build"/pki/authority.* "$suite_unix/TestCA/"
# The usage-tracking component, registered but not installed until a test says so; the product's
# version that its reports give.
cp "$build/suite/VmUsageTracking.dll" "$suite_unix/"
wine regsvr32 /s "$suite_win\\VmUsageTracking.dll" || { echo "regsvr32 VmUsageTracking.dll failed: $?" >&2; exit 1; }
version=$(sed -n 's/^#define VMOFCX_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/version.h")
wine reg add 'HKLM\SOFTWARE\Velmora\Products\Tessaly' /v Version /t REG_SZ /d "$version" /f /reg:64 >/dev/null
if $with_module; then
  # The module and its satellites in their language folders.
  cp "$build/VmOfcX.dll" "$suite_unix/"
  for satellite in "$build"/suite/*/VmOfcX.dll.mui; do
    language=$(basename "$(dirname "$satellite")")
    mkdir -p "$suite_unix/$language"
    cp "$satellite" "$suite_unix/$language/"
  done
  wine regsvr32 /s "$suite_win\\VmOfcX.dll" || { echo "regsvr32 VmOfcX.dll failed: $?" >&2; exit 1; }
fi
# MSXML 5's document and digital-signature classes, which Office brings and Wine lacks: the
# simulator's stand-in, registered under their class ids.
mkdir -p "$WINEPREFIX/drive_c/Program Files/OfficeSim"
cp "$build/sim/SimXmlDsig.dll" "$WINEPREFIX/drive_c/Program Files/OfficeSim/"
wine regsvr32 /s 'C:\Program Files\OfficeSim\SimXmlDsig.dll' || { echo "regsvr32 SimXmlDsig.dll failed: $?" >&2; exit 1; }
# Outlook as a local COM server: creating Outlook.Application out of process starts the simulator,
# which serves the class while it runs (sim/runner/OfcSim.cpp, "-Embedding").
outlook_clsid='{0006F03A-0000-0000-C000-000000000046}'
ofcsim_win=$(winepath -w "$build/sim/ofcsim.exe")
wine reg add "HKLM\\SOFTWARE\\Classes\\CLSID\\$outlook_clsid\\LocalServer32" /ve /t REG_SZ /d "\"$ofcsim_win\"" \
  /f /reg:64 >/dev/null
wine reg add "HKLM\\SOFTWARE\\Classes\\CLSID\\$outlook_clsid\\ProgID" /ve /t REG_SZ /d Outlook.Application.14 \
  /f /reg:64 >/dev/null
wine reg add 'HKLM\SOFTWARE\Classes\Outlook.Application\CLSID' /ve /t REG_SZ /d "$outlook_clsid" /f /reg:64 >/dev/null
# A class with DllSurrogate="" runs in syswow64's dllhost.exe under 64-bit Wine, which a 64-bit
# prefix lacks (docs/platform-notes.md): the test machine gets a copy of system32's.
mkdir -p "$WINEPREFIX/drive_c/windows/syswow64"
cp "$WINEPREFIX/drive_c/windows/system32/dllhost.exe" "$WINEPREFIX/drive_c/windows/syswow64/"
