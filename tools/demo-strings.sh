#!/bin/bash
# Usage: demo-strings.sh BUILD_DIR  (inside wine-session.sh, after install-prefix.sh)
# Prints the product name from the branding DLL and some of the module's strings in English
# (1033) and German (1031), loaded from the installed satellites by the module's own code.
set -eu
build=$(cd "$1" && pwd)
printf '\n== %s\n' "Product name and localised strings"
wine "$build/tools/vmstrings.exe" 1033 1031
