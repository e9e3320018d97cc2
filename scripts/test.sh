#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then runs the suite once more in
# an address- and undefined-behaviour-sanitizer build. Each run starts its own throwaway
# MariaDB server (see tests/CMakeLists.txt) and stops it again.
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
