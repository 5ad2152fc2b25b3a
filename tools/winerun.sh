#!/bin/sh
# Runs a Windows program in the current Wine session (see wine-session.sh).
# stderr is not piped anywhere: a filtering process costs about a second per start.
exec wine "$@"
