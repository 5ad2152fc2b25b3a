#!/bin/bash
# Usage: wine-session.sh PREFIX COMMAND [ARGS...]
# Runs COMMAND with a private Wine prefix (created on first use), a kept-alive
# wineserver and an Xvfb display; both are stopped when COMMAND ends.
set -eu
[ $# -ge 2 ] || { echo "usage: $0 PREFIX COMMAND..." >&2; exit 2; }
mkdir -p "$1"
export WINEPREFIX
WINEPREFIX=$(cd "$1" && pwd)
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64

# Xvfb picks a free display itself and names it once it listens, so that sessions started at the
# same moment never share one.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
display=$(head -n1 "$display_file")
rm -f "$display_file"
[ -n "$display" ] || { echo "wine-session.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":${display}"

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" >/dev/null 2>&1 || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  # wineboot leaves a server behind that would refuse "-p"; let it save the new prefix and exit.
  wineserver -w
fi
wineserver -p
# Xvfb runs no window manager: windows the X11 driver leaves to one wait 2 s for it whenever they
# hide. This also warms the server, so that each later process starts in a few tens of milliseconds.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
"$@"
