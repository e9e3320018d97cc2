#!/usr/bin/env bash
# Starts the real program offscreen and checks that it comes up and stays up: it waits in
# its start-up dialog, so after a few seconds it must still be running.
# Usage: smoke.sh [LAUNCHER...] PROGRAM   (e.g. smoke.sh wine64 mrvntool.exe)
set -uo pipefail
seconds=3
# wine starts its own services the first time: the program needs longer to come up.
[ $# -gt 1 ] && seconds=8
QT_QPA_PLATFORM=offscreen "$@" &
pid=$!
sleep "$seconds"
if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null
    echo "program started and was running after $seconds s"
    exit 0
fi
wait "$pid"
echo "program ended early with status $?" >&2
exit 1
