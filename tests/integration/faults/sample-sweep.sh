#!/bin/bash
# Usage: sample-sweep.sh BUILD_DIR
# A sample of the Outlook fault sweep (every 50th call failed, make faults fails each) on a machine
# of its own, since the sweep's scenario makes its own user and switches tracing on: no crash and
# no hang. Failures missing from the trace are reported only: the calls the sample hits move by a
# few with Outlook's timers, and some of them the module still survives without a record
# (docs/fault-injection.md).
set -eu
build=$(cd "$1" && pwd)
tools=$(cd "$(dirname "$0")/../../../tools" && pwd)
rm -rf "$build/prefix-faults-sample"
exec "$tools/wine-session.sh" "$build/prefix-faults-sample" bash -c \
  "'$tools/install-prefix.sh' '$build' >/dev/null && '$tools/fault-sweep.sh' '$build' 50 --untraced-ok"
