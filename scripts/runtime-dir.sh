# Sourced by the scripts that start Qt programs. Without XDG_RUNTIME_DIR (a root shell, a
# container, ssh without a login session) Qt warns "QStandardPaths: XDG_RUNTIME_DIR not set"
# at every start, which reads like an error: a private folder of the user's own is given.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR="${TMPDIR:-/tmp}/mrvn-runtime-$(id -u)"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
fi
