#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then runs the suite once more in
# an address- and undefined-behaviour-sanitizer build, gives each fuzz target a short run,
# and cross-checks the window- and database-free libraries for Windows under wine. Each
# test run starts its own throwaway MariaDB server (see tests/CMakeLists.txt) and stops it.
# MRVN_FUZZ_SECONDS (default 30) sets each fuzz target's run; MRVN_SKIP_WINDOWS=1 leaves
# the Windows check out.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
ctest --test-dir "$root/build" --output-on-failure

echo "Sanitizer build:"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DMRVN_SANITIZE=ON \
    -DMRVN_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j"$(nproc)" >/dev/null
# Qt keeps some allocations until the process ends; leaks are not what this run looks for.
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir "$root/build-asan" --output-on-failure

echo "Fuzz targets:"
"$root/scripts/fuzz.sh" "${MRVN_FUZZ_SECONDS:-30}"

if [ "${MRVN_SKIP_WINDOWS:-0}" != 1 ]; then
    echo "Windows check (MinGW-w64 build, tests under wine):"
    start=$SECONDS
    "$root/scripts/check-windows.sh"
    echo "Windows check took $((SECONDS - start)) s"
fi
