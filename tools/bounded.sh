# Sourced by the demo scripts, inside wine-session.sh, after they set $build: bounds on what they
# wait for, so that a demo fails instead of hanging.

# spawn SECONDS COMMAND...: starts COMMAND in the background ($! is its id); after SECONDS at the
# latest it is ended with every process it started.
spawn() {
  local seconds=$1
  shift
  timeout -k 10 "$seconds" "$@" &
}

# await PID SECONDS WHAT: waits at most SECONDS for the spawned command PID and gives its exit
# code. When the bound runs out it prints what it waited for and the windows open, ends the
# command and fails.
await() {
  local pid=$1 seconds=$2 what=$3
  if timeout "$seconds" tail --pid="$pid" -s 0.2 -f /dev/null; then
    wait "$pid"
    return
  fi
  printf 'FAILED: waited %s s for %s\n' "$seconds" "$what"
  wine "$build/tools/uidriver.exe" windows | tr -d '\r'
  kill "$pid" 2>/dev/null || true
  wait "$pid" || true
  return 1
}

# bounded SECONDS WHAT COMMAND...: runs COMMAND and waits for it as await does.
bounded() {
  local seconds=$1 what=$2
  shift 2
  spawn $((seconds + 30)) "$@"
  await $! "$seconds" "$what"
}
