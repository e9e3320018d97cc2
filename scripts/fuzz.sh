#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for the given number
# of seconds (default 30), starting from the checked-in seeds and keeping what it finds in
# build-fuzz/corpus/. A crash stops the script with the fuzzer's report; the input that
# caused it is left in build-fuzz/ as crash-*.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DMRVN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_config fuzz_item_search fuzz_sent_mail_log fuzz_zones >/dev/null
# The config.dat target writes a file per input; a memory-backed folder keeps that cheap.
scratch="$(mktemp -d "${MRVN_FUZZ_TMP:-/dev/shm}/mrvn-fuzz.XXXXXX" 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for target in fuzz_config fuzz_item_search fuzz_sent_mail_log fuzz_zones; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    # A fixed seed makes the test command's runs repeatable; MRVN_FUZZ_SEED=0 picks a new one.
    (cd "$build" && TMPDIR="$scratch" "$build/bin/$target" -max_total_time="$seconds" \
        -seed="${MRVN_FUZZ_SEED:-1}" -print_final_stats=1 "$corpus" "$root/fuzz/seeds/$target" 2>"$build/$target.log") || {
        tail -n 40 "$build/$target.log" >&2
        exit 1
    }
    runs="$(grep -o 'Done [0-9]* runs' "$build/$target.log" | grep -o '[0-9]*' || true)"
    echo "$target: ${runs:-?} runs in $seconds s, no failure"
done
