#!/bin/bash
# Usage: fault-sweep.sh BUILD_DIR [STEP [--untraced-ok]]   (inside wine-session.sh, after install-prefix.sh)
# Plays sim/scenarios/faults-outlook.scn once to count the calls the add-in makes into Outlook, then
# once for every STEP-th call (default every call) with that call failing. Each run must end by
# itself (no crash, no hang) and the injected error must be in the module's trace. Prints the
# sweep's size and result, and for each failing run the place in the module that made the failed
# call; exits 1 when any run crashed, hung or (unless --untraced-ok) left its fault untraced.
set -u
build=$(cd "$1" && pwd)
step=${2:-1}
untraced_ok=false
[ "${3:-}" != --untraced-ok ] || untraced_ok=true
source_dir=$(cd "$(dirname "$0")/.." && pwd)
scenario="$source_dir/sim/scenarios/faults-outlook.scn"
work="$build/fault-sweep"
trace_win='C:\fault-sweep.trc3'
trace_unix="$WINEPREFIX/drive_c/fault-sweep.trc3"
rm -rf "$work"
mkdir -p "$work"
wine reg add 'HKLM\SOFTWARE\Velmora\Tracing' /v DoTrace /t REG_DWORD /d 1 /f /reg:64 >/dev/null
wine reg add 'HKLM\SOFTWARE\Velmora\Tracing' /v FileName /t REG_SZ /d "$trace_win" /f /reg:64 >/dev/null

play() {  # K LOG: the scenario with the K-th call failing (0: none), bounded
  timeout -k 10 180 wine "$build/sim/ofcsim.exe" --only VmOfcX.ComposeRibbon --fault "$1" "$scenario" >"$2" 2>&1
}

play 0 "$work/count.log"
calls=$(sed -n 's/^ofcsim: add-in calls into Office: \([0-9]*\);.*/\1/p' "$work/count.log")
[ -n "$calls" ] && [ "$calls" -gt 0 ] || { echo "fault-sweep: the counting run counted nothing"; cat "$work/count.log"; exit 1; }
grep -q "failed, going on" "$work/count.log" && { echo "fault-sweep: the run without a fault failed a step"; cat "$work/count.log"; exit 1; }

# E_FAIL itself, or DISP_E_EXCEPTION as which Office's automation reports its errors: error records
# write codes in signed decimal, messages in hexadecimal.
traced_codes='(-2147467259|-2147352567) |0x8000400[5]|0x80020009'
image_base=$(x86_64-w64-mingw32-objdump -p "$build/VmOfcX.dll" | awk '/^ImageBase/ { print $2 }')
# The source line of the failed call, from the caller's "VmOfcX.dll+0xRVA" (the return address).
caller_line() {
  local caller rva
  caller=$(sed -n 's/.*fault injected: yes, called from \(.*\)$/\1/p' "$1" | tr -d '\r')
  case "$caller" in
    VmOfcX.dll+*) rva=${caller#VmOfcX.dll+}
      x86_64-w64-mingw32-addr2line -f -C -e "$build/VmOfcX.dll" "$(printf '0x%x' $((0x$image_base + rva - 1)))" |
        paste -sd' ' ;;
    *) echo "$caller" ;;
  esac
}
runs=0 injected=0 crashed=0 hung=0 untraced=0
for ((k = 1; k <= calls; k += step)); do
  log="$work/fault-$k.log"
  rm -f "$trace_unix"
  play "$k" "$log"
  status=$?
  runs=$((runs + 1))
  grep -q "fault injected: yes" "$log" && injected=$((injected + 1))
  if [ $status -ge 124 ] || grep -q "did not end within" "$log"; then
    hung=$((hung + 1)); echo "fault-sweep: call $k: the run hung ($log; $(caller_line "$log"))"
  elif [ $status -gt 1 ] || ! grep -q "^ofcsim: add-in calls into Office" "$log"; then
    crashed=$((crashed + 1)); echo "fault-sweep: call $k: the run crashed with $status ($log; $(caller_line "$log"))"
  elif grep -q "fault injected: yes" "$log" &&
       ! wine "$build/tools/trc3dump.exe" "$trace_win" 2>/dev/null | grep -qE -- "$traced_codes"; then
    untraced=$((untraced + 1)); echo "fault-sweep: call $k: the failure is not in the trace ($(caller_line "$log"))"
  fi
done
wine reg delete 'HKLM\SOFTWARE\Velmora\Tracing' /f /reg:64 >/dev/null 2>&1
echo "fault sweep (Outlook start, signed and sealed sends, quit): $calls calls counted, $runs runs, $injected faults injected, crashes: $crashed, hangs: $hung, untraced: $untraced"
[ $crashed -eq 0 ] && [ $hung -eq 0 ] && { $untraced_ok || [ $untraced -eq 0 ]; }
