#!/bin/bash
# Usage: test-authority.sh BUILD_DIR   (inside wine-session.sh)
# The test authority that every prefix of this build shares, in BUILD_DIR/pki: made unless there
# and made a known issuer of the prefix's user. Under a lock, since the test lanes install at once
# and the first must make it before the other reads it; the package's code-signing certificate
# is issued under the same lock.
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$build/pki"
(
  flock 9
  wine "$build/tools/vmpki.exe" authority "Z:$(echo "$build/pki" | tr / '\\')" 9>&-
) 9>"$build/pki/.lock"
