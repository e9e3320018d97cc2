#!/usr/bin/env bash
# Runs a command with a password store of its own: a D-Bus session bus (dbus-run-session) with
# GNOME Keyring's Secret Service on it, unlocked, keeping its files in a fresh HOME that is
# deleted afterwards. The command sees MRVN_KEYCHAIN=ready and MRVN_KEYCHAIN_HOME (that HOME);
# without dbus-run-session or gnome-keyring-daemon it runs with MRVN_KEYCHAIN_SKIP saying why.
# Nothing of it keeps running after the command.
#   with-keychain.sh COMMAND [ARG...]
set -euo pipefail

missing=()
for tool in dbus-run-session dbus-send gnome-keyring-daemon; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    export MRVN_KEYCHAIN_SKIP="no ${missing[*]} here (Debian: dbus, gnome-keyring, libsecret-1-0)"
    exec "$@"
fi

home=$(mktemp -d "${TMPDIR:-/tmp}/mrvn-keychain.XXXXXX")
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/data" "$home/config" "$home/cache" "$home/run"
chmod 700 "$home/run"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
    XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run" MRVN_KEYCHAIN_HOME="$home"
unset DISPLAY

# Inside the bus: start the keyring with the login keyring's password on its standard input,
# wait until its service is on the bus, run the command, stop the keyring.
dbus-run-session -- bash -c '
    printf "mrvn-test-keyring" | gnome-keyring-daemon --foreground --unlock \
        --components=secrets >"$HOME/keyring.log" 2>&1 &
    daemon=$!
    for _ in $(seq 1 100); do
        if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
            grep -q "boolean true"; then
            break
        fi
        sleep 0.1
    done
    status=0
    MRVN_KEYCHAIN=ready "$@" || status=$?
    kill "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
    exit "$status"' with-keychain "$@"
