#!/usr/bin/env bash
# A throwaway OpenSSH server on 127.0.0.1 for the tunnel tests, everything in one folder: its
# own sshd_config, host keys and authorized keys, all made at the first start.
#   ssh-server.sh start DIR [PORT]   start it, print the port
#   ssh-server.sh stop DIR           stop it and every session it serves; succeeds when
#                                    nothing runs
# What the tests read from DIR: port, user (the account that may log in: the one running
# this script), host_fp (the host key's "SHA256:..." fingerprint), other_fp (a key the server
# does not have), and the client keys id_ed25519, id_ecdsa, id_rsa, id_rsa_pem (no
# passphrase) and id_ed25519_pass (passphrase in key_passphrase). Logins are by key only;
# forwarding to 127.0.0.1 is allowed, nothing else.
set -euo pipefail

readonly WAIT_SECONDS=20
readonly KEY_PASSPHRASE=mrvn-key-pass

die() {
    echo "ssh-server.sh: $*" >&2
    exit 1
}

running_pid() {
    local pid
    [[ -f "$DIR/sshd.pid" ]] || return 1
    pid=$(cat "$DIR/sshd.pid" 2>/dev/null || true)
    [[ "$pid" =~ ^[0-9]+$ ]] || return 1
    kill -0 "$pid" 2>/dev/null || return 1
    if [[ -r "/proc/$pid/cmdline" ]] && ! tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "$DIR"; then
        return 1
    fi
    echo "$pid"
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

make_keys() {
    local keygen=$1
    [[ -f "$DIR/host_ed25519" ]] || "$keygen" -q -t ed25519 -N '' -C mrvn-test-host -f "$DIR/host_ed25519"
    [[ -f "$DIR/other_ed25519" ]] || "$keygen" -q -t ed25519 -N '' -C mrvn-test-other -f "$DIR/other_ed25519"
    [[ -f "$DIR/id_ed25519" ]] || "$keygen" -q -t ed25519 -N '' -C mrvn-test -f "$DIR/id_ed25519"
    [[ -f "$DIR/id_ecdsa" ]] || "$keygen" -q -t ecdsa -b 256 -N '' -C mrvn-test -f "$DIR/id_ecdsa"
    [[ -f "$DIR/id_rsa" ]] || "$keygen" -q -t rsa -b 3072 -N '' -C mrvn-test -f "$DIR/id_rsa"
    # The older PEM form ("BEGIN RSA PRIVATE KEY") is read by another road in libssh.
    [[ -f "$DIR/id_rsa_pem" ]] || "$keygen" -q -t rsa -b 2048 -m PEM -N '' -C mrvn-test -f "$DIR/id_rsa_pem"
    [[ -f "$DIR/id_ed25519_pass" ]] ||
        "$keygen" -q -t ed25519 -N "$KEY_PASSPHRASE" -C mrvn-test -f "$DIR/id_ed25519_pass"
    echo "$KEY_PASSPHRASE" >"$DIR/key_passphrase"
    cat "$DIR"/id_*.pub >"$DIR/authorized_keys"
    chmod 600 "$DIR/authorized_keys" "$DIR"/host_* "$DIR"/id_*
    "$keygen" -l -E sha256 -f "$DIR/host_ed25519.pub" | awk '{print $2}' >"$DIR/host_fp"
    "$keygen" -l -E sha256 -f "$DIR/other_ed25519.pub" | awk '{print $2}' >"$DIR/other_fp"
}

start() {
    local port="${1:-}" pid sshd keygen user
    mkdir -p "$DIR"
    DIR=$(cd "$DIR" && pwd)
    if pid=$(running_pid); then
        port=$(cat "$DIR/port" 2>/dev/null || true)
        echo "ssh-server.sh: a server from $DIR is already running (pid $pid, port ${port:-?})" >&2
        [[ -n "$port" ]] && echo "$port"
        return 0
    fi
    sshd=$(command -v sshd || echo /usr/sbin/sshd)
    [[ -x "$sshd" ]] || die "sshd not found; install openssh-server"
    keygen=$(command -v ssh-keygen) || die "ssh-keygen not found; install openssh-client"
    make_keys "$keygen"
    user=$(id -un)
    echo "$user" >"$DIR/user"
    # sshd insists on its privilege separation folder when it runs as root.
    if [[ "$(id -u)" == 0 && ! -d /run/sshd ]]; then
        mkdir -p -m 0755 /run/sshd
    fi
    [[ -n "$port" ]] || port=$(free_port)
    [[ "$port" =~ ^[0-9]+$ ]] || die "bad port: $port"

    # The folder may sit under a world-writable one (/tmp): the key files are checked by their
    # own modes, not by the folders above them.
    cat >"$DIR/sshd_config" <<EOF
ListenAddress 127.0.0.1:$port
HostKey $DIR/host_ed25519
PidFile $DIR/sshd.pid
AuthorizedKeysFile $DIR/authorized_keys
StrictModes no
UsePAM no
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
PubkeyAuthentication yes
AllowUsers $user
AllowTcpForwarding local
PermitOpen 127.0.0.1:*
X11Forwarding no
AllowAgentForwarding no
PermitTTY no
ClientAliveInterval 0
MaxStartups 50
LogLevel VERBOSE
EOF
    rm -f "$DIR/port" "$DIR/sshd.pid"
    "$sshd" -t -f "$DIR/sshd_config" 2>"$DIR/sshd.log" || {
        cat "$DIR/sshd.log" >&2
        die "sshd refuses its configuration"
    }
    # -E: the log goes to a file, and sshd still goes into the background by itself.
    "$sshd" -f "$DIR/sshd_config" -E "$DIR/sshd.log" </dev/null
    local waited=0
    until [[ -s "$DIR/sshd.pid" ]] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
        if ((waited >= WAIT_SECONDS * 5)); then
            tail -n 20 "$DIR/sshd.log" >&2 || true
            die "sshd did not listen on 127.0.0.1:$port within $WAIT_SECONDS s"
        fi
        sleep 0.2
        waited=$((waited + 1))
    done
    echo "$port" >"$DIR/port"
    echo "$port"
}

# The process and all its descendants: each session of sshd is a process of its own that
# outlives the listener, and a stopped server must not leave a tunnel open.
descendants() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        echo "$child"
        descendants "$child"
    done
}

stop() {
    local pid pids
    [[ -d "$DIR" ]] || return 0
    DIR=$(cd "$DIR" && pwd)
    if ! pid=$(running_pid); then
        rm -f "$DIR/port"
        return 0
    fi
    pids="$pid $(descendants "$pid")"
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 1 100); do
        # shellcheck disable=SC2086
        kill -0 $pids 2>/dev/null || break
        sleep 0.1
    done
    # shellcheck disable=SC2086
    kill -KILL $pids 2>/dev/null || true
    rm -f "$DIR/port" "$DIR/sshd.pid"
}

[[ $# -ge 2 ]] || die "usage: ssh-server.sh start DIR [PORT] | stop DIR"
COMMAND=$1
DIR=$2
case "$COMMAND" in
start) start "${3:-}" ;;
stop) stop ;;
*) die "unknown command $COMMAND (start or stop)" ;;
esac
