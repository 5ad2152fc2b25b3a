#!/bin/bash
# Usage: run-tests.sh BUILD_DIR  (inside wine-session.sh)
set -eu
"$(dirname "$0")/install-prefix.sh" "$1"
ctest --test-dir "$1" --output-on-failure --timeout 300
