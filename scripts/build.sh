#!/usr/bin/env bash
# Configures and builds everything into build/: the program, the tests and the benchmarks.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/ccache-env.sh"
generator=()
[ -f "$root/build/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$root" -B "$root/build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMRVN_BUILD_BENCH=ON "$@" >/dev/null
cmake --build "$root/build" -j"$(nproc)"
