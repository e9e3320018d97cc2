#!/usr/bin/env bash
# Starts the release zip's mrvntool.exe (unpacked by scripts/package-windows.sh) with wine
# in a real window under Xvfb with openbox, against a demo game database, and takes
# screenshots of the start-up dialog and of all five pages into BUILD/screenshots/. Fails
# when the start-up dialog or the main window does not appear.
# Usage: scripts/windows-screenshots.sh [build folder, default build-windows]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build-windows}" && pwd)"
app="$(find "$build/zip-check" -maxdepth 2 -name mrvntool.exe | head -n 1)"
[ -n "$app" ] || {
    echo "windows-screenshots.sh: no unpacked zip in $build/zip-check (scripts/package-windows.sh)" >&2
    exit 1
}
folder="$(dirname "$app")"
shots="$build/screenshots"
rm -rf "$shots"
mkdir -p "$shots"

export WINEPREFIX="$build/zip-check/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null && wine="$(command -v wine64)"
# The prefix in which the zip was started alone (scripts/package-windows.sh) gets the fonts a
# Chinese Windows has, so the screenshots can be read.
DISPLAY='' "$root/scripts/wine-fonts.sh" "$wine"
tools="$build/bin"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    "$root/scripts/db-server.sh" stop "$build/demo-db" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# The demo database (made by the Windows build's own demo tools, under wine) and the files
# beside the program.
port="$("$root/scripts/db-server.sh" start "$build/demo-db" | tail -n 1)"
run_tool() {
    DISPLAY='' WINEPREFIX="$build/wine-prefix" "$wine" "$tools/$1.exe" "${@:2}"
}
if [ ! -f "$build/demo-db/filled" ]; then
    run_tool mrvn-demo-fill --host 127.0.0.1 --port "$port" --user root --password 739215 \
        --database mrvn --roles 500 >/dev/null
    touch "$build/demo-db/filled"
fi
# zones.ini from an earlier run would keep that run's demo server port for the zone.
rm -f "$folder/config.dat" "$folder/zones.ini"
# A Windows program reads "/work/..." as a folder of its current drive, Z: (the Unix root).
run_tool mrvn-config-set "$folder/config.dat" system port "$port"
[ -f "$folder/goods.jat.json" ] ||
    run_tool mrvn-make-catalogue "$folder/goods.jat.json" --records 2000 >/dev/null

# The version page the program asks for at start-up, when its port is free.
web="$build/demo-www"
mkdir -p "$web"
url="$(sed -n 's/^MRVN_UPDATE_URL:[A-Z]*=//p' "$build/CMakeCache.txt")"
web_port="$(echo "$url" | sed -n 's#^http://127.0.0.1:\([0-9]*\)/.*#\1#p')"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")"
printf '<html><body>最新版本分割线%s分割线下载地址分割线<p>http://127.0.0.1/</p>分割线</body></html>' \
    "$version" >"$web/version.html"
if [ -n "$web_port" ] && ! (exec 3<>"/dev/tcp/127.0.0.1/$web_port") 2>/dev/null; then
    python3 -m http.server "$web_port" --bind 127.0.0.1 --directory "$web" >/dev/null 2>&1 &
    pids+=($!)
fi

# A display with a window manager (without one the windows have no title bar).
display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 1 50); do
    xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

(cd "$folder" && "$wine" "$app" >/dev/null 2>&1) &
pids+=($!)

# Takes the screen once it has stopped changing (a blinking caret aside), at most after 60 s:
# on a loaded machine wine draws slowly.
shot() {
    local last="$shots/.last.png" now="$shots/.now.png" changed
    import -window root "$last"
    for _ in $(seq 1 120); do
        sleep 0.5
        import -window root "$now"
        changed="$(compare -metric AE "$last" "$now" null: 2>&1 || true)"
        mv "$now" "$last"
        [ "${changed%% *}" -lt 200 ] 2>/dev/null && break
    done
    mv "$last" "$shots/$1.png"
    echo "  $shots/$1.png"
}
# The first visible window whose name holds $1, waited for up to $2 seconds. A search is
# repeated rather than left to --sync: xdotool gives up at once when a window closes while it
# looks (the start-up dialog going as the main window comes).
window_named() {
    local end=$((SECONDS + $2)) found
    while [ "$SECONDS" -lt "$end" ]; do
        found="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)" || true
        if [ -n "$found" ]; then
            echo "$found"
            return 0
        fi
        sleep 0.5
    done
    return 1
}

echo "Screenshots of the zip's program under wine:"
dialog="$(window_named '启动初始化' 180)" || true
[ -n "$dialog" ] || {
    echo "the start-up dialog did not appear" >&2
    exit 1
}
shot startup
xdotool windowactivate --sync "$dialog" key Return
main="$(window_named 'MorvaneOL' 180)" || true
[ -n "$main" ] || {
    echo "the main window did not appear" >&2
    exit 1
}
sleep 2
# A version-check message (when the page could not be served) is answered first.
update="$(window_named '自动更新' 3)" || true
if [ -n "$update" ]; then
    shot update-message
    xdotool windowactivate --sync "$update" key Return
fi
xdotool windowactivate --sync "$main"
# "连接mysql" on the first page: the connection comes from config.dat.
xdotool mousemove --window "$main" 438 98 click 1
sleep 3
shot page1-common
for page in page2-mail page3-cleanup page4-about page5-changes; do
    xdotool windowactivate --sync "$main" key ctrl+Tab
    shot "$page"
done
