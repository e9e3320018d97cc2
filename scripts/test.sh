#!/usr/bin/env bash
# scripts/test.sh         installs what is missing, builds the program and the test suite in
#                         build/ and runs every test (what to run to know the project works)
# scripts/test.sh --all   the full gate that CI runs: the above, then the whole suite again
#                         in an address- and undefined-behaviour-sanitizer build
#                         (build-asan/), a short run of each fuzz target (build-fuzz/) and
#                         the Windows check (scripts/check-windows.sh, build-windows/)
# Each test run starts its own throwaway MariaDB server in its build folder and stops it.
#   MRVN_FUZZ_SECONDS    each fuzz target's run with --all (default 20)
#   MRVN_SKIP_WINDOWS=1  leaves the Windows check out of --all
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/ccache-env.sh"
. "$root/scripts/runtime-dir.sh"
all=0
case "${1:-}" in
--all) all=1 ;;
"") ;;
*)
    echo "usage: scripts/test.sh [--all]" >&2
    exit 2
    ;;
esac
jobs="$(nproc)"
began=$SECONDS
step() {
    echo "== $1 ($((SECONDS - began)) s so far)"
}

if [ "$all" = 1 ]; then
    "$root/scripts/deps.sh" --all
else
    "$root/scripts/deps.sh"
fi

# Configures a build folder with Ninja (a folder made earlier keeps its generator).
configure() {
    local folder="$1"
    shift
    local generator=()
    [ -f "$folder/CMakeCache.txt" ] || generator=(-G Ninja)
    cmake -S "$root" -B "$folder" "${generator[@]}" "$@" >/dev/null
}

# Runs one build folder's suite; each test leaves its cases' outcomes in test-results/.
run_suite() {
    local folder="$1" label="$2"
    shift 2
    rm -rf "$folder/test-results"
    local status=0
    "$@" ctest --test-dir "$folder" --output-on-failure -j"$jobs" || status=$?
    python3 "$root/scripts/test-counts.py" "$folder/test-results" "$label" || true
    return "$status"
}

step "Build (build/)"
# The full gate also compiles the benchmarks (not run), so none of them falls behind the code.
bench=OFF
[ "$all" = 1 ] && bench=ON
configure "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMRVN_BUILD_BENCH="$bench"
cmake --build "$root/build" -j"$jobs"
step "Tests"
run_suite "$root/build" "(build/)"

if [ "$all" = 0 ]; then
    echo "All tests passed in $((SECONDS - began)) s. scripts/test.sh --all adds the sanitizer" \
        "build, the fuzz runs and the Windows check."
    exit 0
fi

step "Sanitizer build (build-asan/)"
configure "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DMRVN_SANITIZE=ON -DMRVN_BUILD_BENCH=OFF
cmake --build "$root/build-asan" -j"$jobs" >/dev/null
# Qt keeps some allocations until the process ends; leaks are not what this run looks for.
run_suite "$root/build-asan" "(sanitizers)" env ASAN_OPTIONS=detect_leaks=0

step "Fuzz targets"
"$root/scripts/fuzz.sh" "${MRVN_FUZZ_SECONDS:-20}"

if [ "${MRVN_SKIP_WINDOWS:-0}" != 1 ]; then
    step "Windows check (MinGW-w64 build, tests under wine, release zip)"
    "$root/scripts/check-windows.sh"
fi
echo "Full gate passed in $((SECONDS - began)) s."
