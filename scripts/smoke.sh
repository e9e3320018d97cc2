#!/usr/bin/env bash
# Starts the real program offscreen and checks that it comes up and stays up: it waits in
# its start-up dialog, so after a few seconds it must still be running.
set -uo pipefail
program="$1"
QT_QPA_PLATFORM=offscreen "$program" &
pid=$!
sleep 3
if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null
    echo "program started and was running after 3 s"
    exit 0
fi
wait "$pid"
echo "program ended early with status $?" >&2
exit 1
