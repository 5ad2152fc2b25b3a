#!/bin/bash
# Usage: bench.sh BUILD_DIR  (run by `make bench` inside wine-session.sh)
# Installs the module into the bench prefix, then runs every benchmark of the build; each prints
# its own ratios.
set -eu
build=$(cd "$1" && pwd)
"$(dirname "$0")/install-prefix.sh" "$build"
for bench in "$build"/bench/*_bench.exe; do
  echo "== $(basename "$bench" .exe)"
  wine "$bench"
done
