# Sourced, with the build directory as its argument, by the tests that play users on machines of
# their own (a Wine prefix each; the script calls itself in the other prefix): sets build, self
# (the calling script), here, tools, and gives winpath and new_user.
set -euo pipefail
build=$(cd "$1" && pwd)
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
here=$(dirname "$self")
tools=$(cd "$here/../../../tools" && pwd)
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
# The user of this prefix: a new own certificate, no other certificate and no contact.
new_user() {
  for store in MY VelmoraBuddies; do
    wine reg delete "HKCU\\Software\\Microsoft\\SystemCertificates\\$store\\Certificates" /f >/dev/null 2>&1 || true
  done
  wine reg delete 'HKCU\Software\Velmora\CertWorks' /f >/dev/null 2>&1 || true
  wine "$build/tools/vmpki.exe" user "$1" "$2"
}
