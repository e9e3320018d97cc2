#!/usr/bin/env bash
# A throwaway MariaDB server that keeps everything (data, temporary files, socket, pid, log) in
# one folder: servers started side by side share no file.
#   db-server.sh start DIR [PORT] [--tls]   start it (initialising DIR on first use), print
#                                           the port
#   db-server.sh stop DIR                   stop it; succeeds when nothing runs
# root may log in over TCP from 127.0.0.1 with the password below.
# --tls: the server speaks TLS with certificates made at the first start in DIR/tls (a test
# CA, ca.pem; the server's certificate for 127.0.0.1 and the name mrvn-test-db, server.pem;
# another certificate of the same CA that the server does not use, other.pem; their SHA-256
# fingerprints as openssl prints them, server.sha256 and other.sha256) and refuses
# connections without it (require_secure_transport).
# MRVN_DB_BUFFER_POOL: InnoDB's buffer pool (default 128M).
set -euo pipefail

readonly ROOT_PASSWORD=739215
readonly WAIT_SECONDS=30

die() {
    echo "db-server.sh: $*" >&2
    exit 1
}

show_log_tail() {
    if [[ -f "$DIR/server.log" ]]; then
        echo "---- last lines of $DIR/server.log ----" >&2
        tail -n 30 "$DIR/server.log" >&2 || true
    fi
}

find_tool() {
    local name
    for name in "$@"; do
        if command -v "$name" >/dev/null 2>&1; then
            command -v "$name"
            return 0
        fi
        for prefix in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
            if [[ -x "$prefix/$name" ]]; then
                echo "$prefix/$name"
                return 0
            fi
        done
    done
    return 1
}

running_pid() {
    local pid
    [[ -f "$DIR/server.pid" ]] || return 1
    pid=$(cat "$DIR/server.pid" 2>/dev/null || true)
    [[ "$pid" =~ ^[0-9]+$ ]] || return 1
    kill -0 "$pid" 2>/dev/null || return 1
    # A recycled pid of some other program is not our server.
    if [[ -r "/proc/$pid/cmdline" ]] && ! tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "$DIR"; then
        return 1
    fi
    echo "$pid"
}

port_in_use() {
    # Bash's /dev/tcp connect succeeds only when something listens there.
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

free_port() {
    local port
    if command -v python3 >/dev/null 2>&1; then
        python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
        return
    fi
    for _ in $(seq 1 200); do
        port=$((20000 + RANDOM % 40000))
        if ! port_in_use "$port"; then
            echo "$port"
            return
        fi
    done
    die "no free port found"
}

client_root() {
    # Socket login first (right after initialisation root has no password and may use unix
    # authentication); then the password over the socket.
    "$CLIENT" --no-defaults --socket="$DIR/server.sock" -uroot "$@" 2>/dev/null ||
        "$CLIENT" --no-defaults --socket="$DIR/server.sock" -uroot -p"$ROOT_PASSWORD" "$@"
}

# The test CA and the server's certificate, made once per folder with openssl.
make_certificates() {
    local tls="$DIR/tls"
    [[ -f "$tls/server.sha256" && -f "$tls/other.sha256" ]] && return 0
    command -v openssl >/dev/null 2>&1 || die "openssl not found; install openssl"
    mkdir -p "$tls"
    (
        cd "$tls"
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=mrvn test CA" \
            -keyout ca-key.pem -out ca.pem
        for name in server other; do
            openssl req -newkey rsa:2048 -nodes -subj "/CN=mrvn-test-db" \
                -keyout "$name-key.pem" -out "$name.csr"
            printf 'subjectAltName=DNS:mrvn-test-db,IP:127.0.0.1\n' >"$name.ext"
            openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca-key.pem -CAcreateserial \
                -days 3650 -extfile "$name.ext" -out "$name.pem"
        done
        # The fingerprints as openssl sees them, for the tests to compare with.
        for name in server other; do
            openssl x509 -in "$name.pem" -noout -fingerprint -sha256 | cut -d= -f2 >"$name.sha256"
        done
    ) >"$DIR/tls.log" 2>&1 || {
        cat "$DIR/tls.log" >&2
        die "making the test certificates failed"
    }
}

start() {
    local port="${1:-}" pid mariadbd install_db user_args=() tls_args=() client_tls=()
    mkdir -p "$DIR"
    DIR=$(cd "$DIR" && pwd)

    if pid=$(running_pid); then
        port=$(cat "$DIR/port" 2>/dev/null || true)
        echo "db-server.sh: a server from $DIR is already running (pid $pid, port ${port:-?})" >&2
        [[ -n "$port" ]] && echo "$port"
        return 0
    fi

    mariadbd=$(find_tool mariadbd mysqld) || die "mariadbd not found; install mariadb-server"
    install_db=$(find_tool mariadb-install-db mysql_install_db) ||
        die "mariadb-install-db not found; install mariadb-server"
    CLIENT=$(find_tool mariadb mysql) || die "the mariadb client was not found"

    if [[ "$(id -u)" == 0 ]]; then
        user_args=(--user=root)
    fi

    mkdir -p "$DIR/tmp"
    if [[ ! -d "$DIR/data/mysql" ]]; then
        rm -rf "$DIR/data"
        mkdir -p "$DIR/data"
        if ! "$install_db" --no-defaults "${user_args[@]}" --datadir="$DIR/data" \
            --tmpdir="$DIR/tmp" --auth-root-authentication-method=normal --skip-test-db \
            >"$DIR/install.log" 2>&1; then
            cat "$DIR/install.log" >&2
            rm -rf "$DIR/data"
            die "initialising $DIR/data failed"
        fi
    fi

    if [[ "$TLS" == 1 ]]; then
        make_certificates
        tls_args=(--ssl-ca="$DIR/tls/ca.pem" --ssl-cert="$DIR/tls/server.pem"
            --ssl-key="$DIR/tls/server-key.pem" --require-secure-transport=ON)
        client_tls=(--ssl --ssl-ca="$DIR/tls/ca.pem")
    fi

    if [[ -z "$port" ]]; then
        port=$(free_port)
    fi
    [[ "$port" =~ ^[0-9]+$ ]] || die "bad port: $port"
    if port_in_use "$port"; then
        die "port $port on 127.0.0.1 is already taken"
    fi

    rm -f "$DIR/port" "$DIR/server.sock"
    nohup "$mariadbd" --no-defaults "${user_args[@]}" \
        --datadir="$DIR/data" --tmpdir="$DIR/tmp" --socket="$DIR/server.sock" \
        --pid-file="$DIR/server.pid" \
        --log-error="$DIR/server.log" --bind-address=127.0.0.1 --port="$port" \
        --skip-name-resolve --character-set-server=utf8mb4 \
        --collation-server=utf8mb4_general_ci --innodb-buffer-pool-size=${MRVN_DB_BUFFER_POOL:-128M} \
        --skip-log-bin --max-allowed-packet=64M "${tls_args[@]}" \
        >/dev/null 2>&1 </dev/null &
    local child=$!

    local waited=0
    until client_root -e "select 1" >/dev/null 2>&1; do
        if ! kill -0 "$child" 2>/dev/null; then
            show_log_tail
            die "the server stopped while starting"
        fi
        if ((waited >= WAIT_SECONDS * 5)); then
            show_log_tail
            kill "$child" 2>/dev/null || true
            die "the server did not accept connections within $WAIT_SECONDS s"
        fi
        sleep 0.2
        waited=$((waited + 1))
    done

    if ! client_root -e "
        CREATE USER IF NOT EXISTS 'root'@'127.0.0.1' IDENTIFIED BY '$ROOT_PASSWORD';
        ALTER USER 'root'@'127.0.0.1' IDENTIFIED BY '$ROOT_PASSWORD';
        GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
        ALTER USER 'root'@'localhost' IDENTIFIED BY '$ROOT_PASSWORD';
        GRANT ALL PRIVILEGES ON *.* TO 'root'@'localhost' WITH GRANT OPTION;
        FLUSH PRIVILEGES;" >"$DIR/setup.log" 2>&1; then
        cat "$DIR/setup.log" >&2
        show_log_tail
        die "setting the root password failed"
    fi

    # The server is up only when a TCP login with the password works.
    if ! "$CLIENT" --no-defaults --protocol=tcp -h127.0.0.1 -P"$port" -uroot \
        -p"$ROOT_PASSWORD" "${client_tls[@]}" -e "select 1" >/dev/null 2>"$DIR/setup.log"; then
        cat "$DIR/setup.log" >&2
        show_log_tail
        die "root cannot log in over TCP on 127.0.0.1:$port"
    fi

    echo "$port" >"$DIR/port"
    echo "$port"
}

stop() {
    local pid
    [[ -d "$DIR" ]] || return 0
    DIR=$(cd "$DIR" && pwd)
    if ! pid=$(running_pid); then
        rm -f "$DIR/port"
        return 0
    fi
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 300); do
        if ! kill -0 "$pid" 2>/dev/null; then
            rm -f "$DIR/port"
            return 0
        fi
        sleep 0.1
    done
    echo "db-server.sh: the server (pid $pid) did not stop within 30 s; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
    sleep 0.5
    rm -f "$DIR/port"
}

[[ $# -ge 2 ]] || die "usage: db-server.sh start DIR [PORT] [--tls] | stop DIR"
COMMAND=$1
DIR=$2
shift 2
TLS=0
PORT_ARG=""
for arg in "$@"; do
    case "$arg" in
    --tls) TLS=1 ;;
    *) PORT_ARG=$arg ;;
    esac
done
case "$COMMAND" in
start) start "$PORT_ARG" ;;
stop) stop ;;
*) die "unknown command $COMMAND (start or stop)" ;;
esac
