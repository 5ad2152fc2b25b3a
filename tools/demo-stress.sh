#!/bin/bash
# Usage: demo-stress.sh BUILD_DIR [RUNS]  (run by `make demo-stress`)
# Runs `make demo` RUNS times (3 by default) in a row, each from fresh prefixes, while a parallel
# compile of the project keeps the processors busy beside it. Each run must end with 0 within its
# bound, and its log must show every page of the certificate wizard's backup play. The logs stay
# in BUILD_DIR/demo-stress-N.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
runs=${2:-3}
load="$build/demo-stress-load"
# What the backup play prints for each page of the wizard, and its end.
steps=('page 1 "Your New Certificate" (new certificate): Next'
  'page 2 "Certificate Backup" (backup): Next'
  'page 3 "Invite Contacts" (invitations): Next'
  'page 4 "Invitation" (complete): Finish'
  'The wizard ended with 0x00000000.')

# The load: the product compiled again and again in a folder of its own, without the compiler
# cache, two jobs at once; in a session of its own, so that it ends whole.
cmake -S "$root" -B "$load" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
compile="ninja -C '$load' -j2 vmofcx_core >/dev/null 2>&1; ninja -C '$load' -t clean >/dev/null"
setsid bash -c "while :; do $compile; done" &
loader=$!
trap 'kill -- -"$loader" 2>/dev/null || true; wait "$loader" 2>/dev/null || true; rm -rf "$load"' EXIT

failures=0
for run in $(seq "$runs"); do
  log="$build/demo-stress-$run.log"
  start=$(date +%s)
  rc=0
  timeout -k 30 3600 make -C "$root" BUILD="$build" demo >"$log" 2>&1 || rc=$?
  verdict=passed
  [ "$rc" -eq 0 ] || verdict="failed with exit code $rc"
  for step in "${steps[@]}"; do
    grep -qF -- "$step" "$log" || { [ "$verdict" != passed ] || verdict="failed: the log lacks '$step'"; }
  done
  [ "$verdict" = passed ] || failures=$((failures + 1))
  echo "demo-stress: run $run of $runs $verdict in $(($(date +%s) - start)) s (load $(cut -d' ' -f1 /proc/loadavg)), log $log"
done
echo "demo-stress: $((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
