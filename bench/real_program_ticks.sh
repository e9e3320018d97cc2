#!/usr/bin/env bash
# The real program's pauses and memory over five refresh ticks: starts PROGRAM (a built
# mrvntool, with a config.dat beside it that names the database) under strace on DISPLAY,
# answers the start-up questions, connects, changes a minute's worth of roles between the ticks
# (1% a level, 0.05% on or off line), waits for five ticks of the minute's refresh and prints
# the resident memory after them, the longest times the window's thread spent between two
# waits for events during the ticks (the connect's first refresh is left out), and the CPU time
# the thread spent in each tick (sampled by perf at 1 kHz: on a busy machine the pauses also
# count waits for a core). Run it once for each build to compare (same database, same
# machine, one after the other).
#
#   bench/real_program_ticks.sh DISPLAY PROGRAM PORT
#
# PORT: the database's port on 127.0.0.1 (root / 739215, database mrvn). Needs Xvfb (or
# another X server) with a window manager on DISPLAY, xdotool, strace, perf and the mariadb
# client.
# The clicks are at the design positions of the tab 常用功能 and of 连接mysql.
set -euo pipefail
display="$1"
program="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
port="$3"
sql() {
    mariadb --no-defaults -h127.0.0.1 -P"$port" -uroot -p739215 mrvn -e "$1"
}
export DISPLAY="$display"
trace="$(mktemp)"
samples="$(mktemp)"
cd "$(dirname "$program")"
strace -f --seccomp-bpf -e trace=poll,ppoll -tt -T -o "$trace" "$program" >/dev/null 2>&1 &
strace_pid=$!
sleep 4
pid="$(pgrep -P "$strace_pid" -f "$program" | head -n 1)"
perf record -F 1000 -t "$pid" -o "$samples" >/dev/null 2>&1 &
perf_pid=$!
xdotool key Return # the start-up dialog: 非常感谢
sleep 3
xdotool key Return # the version page cannot be read: go on
sleep 1
window="$(xdotool search --name MorvaneOL | head -n 1)"
xdotool mousemove --window "$window" 35 12 click 1 # the tab 常用功能
sleep 1
start="$(date +%s.%N)"
xdotool mousemove --window "$window" 439 94 click 1 # 连接mysql
# Ticks come a minute apart after the connect: the changes half way between them, then the
# fifth tick and a margin for it to end.
sleep 30
for tick in 1 2 3 4 5; do
    sql "UPDATE user_role SET level = level + 1 WHERE id % 100 = $tick;
         UPDATE user_role SET last_offline_time = IF(last_offline_time < last_login_time,
             last_login_time + 1, 0) WHERE id % 2000 = $tick"
    sleep 60
done
sleep 10
rss="$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")"
kill -INT "$perf_pid"
wait "$perf_pid" 2>/dev/null || true
kill "$pid"
wait "$strace_pid" 2>/dev/null || true
perf script -i "$samples" -F time 2>/dev/null > "$samples.times" || true
python3 - "$trace" "$pid" "$start" "$rss" "$samples.times" <<'PY'
import sys, datetime, time
trace, pid, start, rss = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4])
sample_times = [float(line.strip().rstrip(':')) for line in open(sys.argv[5]) if line.strip()]
day = datetime.datetime.fromtimestamp(start).replace(hour=0, minute=0, second=0,
                                                      microsecond=0).timestamp()
gaps = []
last_end = None
def seconds(clock):
    h, m, s = clock.split(':')
    return day + int(h) * 3600 + int(m) * 60 + float(s)
def busy(entered):
    # From the end of one wait to the start of the next: the thread was working (or waiting
    # for a core). The connect's own refresh, in the first 45 s, is not a tick.
    if last_end is not None and entered - start > 45:
        gaps.append((entered - last_end, last_end - start))
for line in open(trace):
    parts = line.split(None, 2)
    if len(parts) < 3 or parts[0] != pid or 'poll' not in parts[2]:
        continue
    at = seconds(parts[1])
    if '<unfinished' in parts[2]:
        busy(at)
    elif 'resumed>' in parts[2]:
        last_end = at
    else:
        busy(at)
        duration = float(parts[2].rsplit('<', 1)[1].rstrip('>\n'))
        last_end = at + duration
gaps.sort(reverse=True)
print("resident memory after five ticks: %.0f MiB" % (rss / 1024))
print("longest times between two waits for events during the ticks (ms, at s after connect):")
for gap, when in gaps[:5]:
    print("  %8.1f  at %6.1f s" % (gap * 1000, when))
# A sample is a millisecond of the thread's CPU time; a tick's samples come within a second of
# each other, a minute away from the next tick's.
bursts = []
for t in sample_times:
    if bursts and t - bursts[-1][-1] < 1:
        bursts[-1].append(t)
    else:
        bursts.append([t])
print("CPU time of the window's thread in its bursts of work, in order (ms):")
print("  " + " ".join("%d" % len(burst) for burst in bursts if len(burst) > 2))
PY
rm -f "$trace" "$samples" "$samples.times"
