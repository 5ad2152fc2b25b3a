#!/bin/bash
# Usage: demo.sh BUILD_DIR  (run by `make demo` inside wine-session.sh)
# Installs the module into a fresh prefix with tracing on, shows what was
# registered, creates each class as Office does and prints the decoded trace.
set -eu
build=$(cd "$1" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)

say() { printf '\n== %s\n' "$*"; }
reg_show() { wine reg query "$@" 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/   /'; }

progids=(ComposeRibbon DocumentRibbon EncryptionProvider FormRegionAddIn Launcher SignatureProvider SMIMEPolicy)
trace_win='C:\VmOfcX-trace'
trace_unix="$WINEPREFIX/drive_c/VmOfcX-trace"

say "Switching tracing on (HKLM\\SOFTWARE\\Velmora\\Tracing, files in $trace_win)"
wine reg add 'HKLM\SOFTWARE\Velmora\Tracing' /v DoTrace /t REG_DWORD /d 1 /f /reg:64 >/dev/null
wine reg add 'HKLM\SOFTWARE\Velmora\Tracing' /v TracePath /t REG_SZ /d "$trace_win" /f /reg:64 >/dev/null

say "Installing the module into the suite's folder and registering it"
"$tools/install-prefix.sh" "$build"
reg_show 'HKLM\SOFTWARE\Velmora' /v VelmoraPath /reg:64

"$tools/demo-strings.sh" "$build"
"$tools/demo-certs.sh" "$build"
"$tools/demo-outlook.sh" "$build"
"$tools/demo-addin.sh" "$build"
"$tools/demo-send.sh" "$build"
"$tools/demo-documents.sh" "$build"
"$tools/demo-signatures.sh" "$build"
"$tools/demo-ui.sh" "$build"
"$tools/demo-regions.sh" "$build"

say "Registered classes (ProgID, class id, server, threading model)"
for name in "${progids[@]}"; do
  progid="VmOfcX.$name"
  clsid=$(wine reg query "HKLM\\Software\\Classes\\$progid\\CLSID" /ve 2>/dev/null | tr -d '\r' | grep -o '{[^}]*}' || true)
  server=$(wine reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_SZ *//p')
  model=$(wine reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel 2>/dev/null |
    tr -d '\r' | sed -n 's/.*REG_SZ *//p')
  printf '   %-28s %s  %s  %s\n' "$progid" "$clsid" "$server" "$model"
done

say "Type library"
reg_show 'HKLM\Software\Classes\TypeLib\{1661F3B2-D3B0-403E-A1DA-7DF01B93BA00}' /s

say "Office add-in keys"
for app in Outlook Word Excel PowerPoint; do
  reg_show "HKLM\\Software\\Microsoft\\Office\\$app\\Addins" /s
done
reg_show 'HKLM\Software\Microsoft\Office\Outlook\FormRegions\IPM.Note'

say "Security label entry"
reg_show 'HKLM\Software\Microsoft\Cryptography\OID\EncodingType 1\SMIMESecurityLabel' /s

say "Creating each class by its ProgID, as Office does"
wine "$build/tools/classprobe.exe" "${progids[@]/#/VmOfcX.}"

say "Decoded trace"
for file in "$trace_unix"/*.trc3; do
  echo "-- $(basename "$file")"
  wine "$build/tools/trc3dump.exe" "$(winepath -w "$file" 2>/dev/null)"
done
