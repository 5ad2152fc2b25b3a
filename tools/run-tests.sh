#!/bin/bash
# Usage: run-tests.sh BUILD_DIR
# Runs the tests in two lanes at once (the machine has two cores), each in a fresh Wine prefix of
# its own with the module installed. A test whose files another test reads (a fixture) stays in
# the lane of that test; the lanes' shares are about equal.
set -u
build=$(cd "$1" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)
second='^(ui|unit)\.|^integration\.OutlookAddIn\.|^interop\.test_(sent|security|trace|cert|credential|received)'

# In a lane's session: a directory of the lane's own runs the build's tests, so that the two
# runs keep their records apart.
if [ "${2:-}" = --lane ]; then
  "$tools/install-prefix.sh" "$build" || exit 1
  mkdir -p "$build/$3"
  echo "subdirs(\"$build\")" >"$build/$3/CTestTestfile.cmake"
  exec ctest --test-dir "$build/$3" --output-on-failure --timeout 300 "${@:4}"
fi

lane() {  # NAME CTEST-SELECTION
  rm -rf "$build/prefix-test-$1" "$build/test-lane-$1"
  set -o pipefail
  "$tools/wine-session.sh" "$build/prefix-test-$1" "$tools/run-tests.sh" "$build" --lane "test-lane-$1" "$2" "$second" 2>&1 |
    sed -u "s/^/[$1] /" >"$build/test-lane-$1.log"
}
lane a -E &
lane_a=$!
lane b -R &
lane_b=$!
status=0
wait "$lane_a" || status=1
wait "$lane_b" || status=1
# Each lane's whole output, failures included; then both summaries.
cat "$build/test-lane-a.log" "$build/test-lane-b.log"
grep -h "tests passed\|Total Test time" "$build/test-lane-a.log" "$build/test-lane-b.log"
exit $status
