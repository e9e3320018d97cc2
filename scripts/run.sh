#!/usr/bin/env bash
# Installs what is missing, builds, starts a demo game database and a version page on
# 127.0.0.1, puts a demo item catalogue beside the program, and starts the tool. The demo
# database keeps its data in demo-data/ between runs; both servers stop when the tool ends.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/ccache-env.sh"
. "$root/scripts/runtime-dir.sh"
began=$SECONDS
step() {
    echo "== $1 ($((SECONDS - began)) s so far)"
}

step "Checking the Debian packages the build and the demo need"
"$root/scripts/deps.sh"

# The version page: 8765 as the demo expects; when that port is taken, another free one,
# built into the program's version-page address.
port_is_free() {
    ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}
web_port=8765
if ! port_is_free "$web_port"; then
    web_port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    echo "Port 8765 is taken: the version page uses port $web_port."
fi

# Only what the demo needs: the program and its demo tools (tests and benchmarks are
# scripts/test.sh's business).
if [ ! -x "$root/build/bin/mrvntool" ]; then
    step "Building the program and its demo tools (the first time takes minutes: about 7 on a busy 2-core machine)"
else
    step "Building what changed"
fi
# Ninja, as the other build scripts use (a folder made earlier keeps its generator).
generator=()
[ -f "$root/build/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$root" -B "$root/build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMRVN_UPDATE_URL="http://127.0.0.1:$web_port/version.html" >/dev/null
# The compiler's own lines go to a log; the screen gets the progress, and the log's end when
# the build fails.
log="$root/build/run-build.log"
show_progress() {
    local line shown=-1
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$log"
        # Ninja writes "[done/total] ...", make "[ NN%] ...".
        local percent="" what=""
        if [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
            percent=$((BASH_REMATCH[1] * 100 / BASH_REMATCH[2]))
            what="${BASH_REMATCH[1]} of ${BASH_REMATCH[2]} build steps"
        elif [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
            percent=${BASH_REMATCH[1]}
            what="build"
        fi
        [ -n "$percent" ] || continue
        if [ -t 1 ]; then
            printf '\r   %s (%d%%)   ' "$what" "$percent"
        elif [ $((percent / 10)) -ne "$shown" ]; then
            shown=$((percent / 10))
            echo "   $what ($percent%)"
        fi
    done
    [ -t 1 ] && echo
    return 0
}
: >"$log"
if ! cmake --build "$root/build" -j"$(nproc)" \
    --target mrvntool mrvn-demo-fill mrvn-make-catalogue mrvn-config-set 2>&1 | show_progress; then
    echo "The build failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
fi

bin="$root/build/bin"
data="$root/demo-data"
mkdir -p "$data/www"

# The database: 3306 as the tool's defaults expect, another free port when it is taken.
if [ -d "$data/db" ]; then
    step "Starting the demo database server (data in demo-data/db)"
else
    step "Starting the demo database server (first run: creating demo-data/db)"
fi
if [ -f "$data/db/port" ]; then
    port="$(cat "$data/db/port")"
else
    port=3306
    if (exec 3<>"/dev/tcp/127.0.0.1/3306") 2>/dev/null; then
        port=""
    fi
fi
port="$("$root/scripts/db-server.sh" start "$data/db" $port | tail -n 1)"
cleanup() {
    [ -n "${web_pid:-}" ] && kill "$web_pid" 2>/dev/null || true
    "$root/scripts/db-server.sh" stop "$data/db" >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "   demo database on 127.0.0.1:$port"
if [ ! -f "$data/filled" ]; then
    step "Filling the demo game database with 2000 roles (first run)"
    "$bin/mrvn-demo-fill" --host 127.0.0.1 --port "$port" --user root --password 739215 \
        --database mrvn --roles 2000 | sed 's/^/   /'
    touch "$data/filled"
fi
if [ "$port" != 3306 ]; then
    "$bin/mrvn-config-set" "$bin/config.dat" system port "$port"
fi

if [ ! -f "$bin/goods.jat.json" ]; then
    step "Writing a demo item catalogue of 20000 items beside the program"
    "$bin/mrvn-make-catalogue" "$bin/goods.jat.json" --records 20000 | sed 's/^/   /'
fi

# The version page announces the version this tool already is, so the check passes quietly.
step "Starting the version page on 127.0.0.1:$web_port"
printf '<html><body>最新版本分割线1.5分割线下载地址分割线<p>http://127.0.0.1:%s/</p>分割线</body></html>' \
    "$web_port" > "$data/www/version.html"
python3 -m http.server "$web_port" --bind 127.0.0.1 --directory "$data/www" >/dev/null 2>&1 &
web_pid=$!
# The page must really be served before the tool asks for it (a second after start).
for _ in $(seq 1 50); do
    if python3 -c "import urllib.request, sys; urllib.request.urlopen('http://127.0.0.1:$web_port/version.html', timeout=1)" 2>/dev/null; then
        web_up=1
        break
    fi
    if ! kill -0 "$web_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if [ -z "${web_up:-}" ]; then
    echo "The version page server did not come up on port $web_port: the tool's version check will report that it cannot reach the page." >&2
fi

step "Starting the tool: demo database on 127.0.0.1:$port (root / 739215, database mrvn); press \"非常感谢\", then \"连接mysql\""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running under Xvfb (nothing will be visible)."
    xvfb-run -a "$bin/mrvntool"
else
    "$bin/mrvntool"
fi
