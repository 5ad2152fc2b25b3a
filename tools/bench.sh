#!/bin/bash
# Usage: bench.sh BUILD_DIR  (run by `make bench` inside wine-session.sh)
# Installs the module into the bench prefix, then runs every benchmark of the build; each prints
# its own ratios. OpenSSL's Triple DES on this machine is measured first, for the encryption
# benchmark to set beside.
set -eu
build=$(cd "$1" && pwd)
"$(dirname "$0")/install-prefix.sh" "$build"
# The signing benchmark signs with an own certificate of the test authority.
wine "$build/tools/vmpki.exe" user bench@tessaly.test "Bench Signer" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 16777216 /dev/urandom >"$work/plain"
# Processor time, as the benchmarks count it: the ticks of this shell's finished children.
child_ticks() { awk '{print $16 + $17}' "/proc/$$/stat"; }
start=$(child_ticks)
openssl enc -des-ede3-cbc -K 0123456789abcdeffedcba987654321001234567890abcde -iv 0000000000000000 \
  -in "$work/plain" -out "$work/cipher"
end=$(child_ticks)
OPENSSL_3DES_MBPS=$(echo "16 * $(getconf CLK_TCK) / ($end - $start)" | bc -l)
export OPENSSL_3DES_MBPS
# The sending benchmark signs as this user.
wine "$build/tools/vmpki.exe" user bench@example.org "Bench User" >/dev/null
for bench in "$build"/bench/*_bench.exe; do
  echo "== $(basename "$bench" .exe)"
  wine "$bench"
done
