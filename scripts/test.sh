#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The test run starts its own
# throwaway MariaDB server (see tests/CMakeLists.txt) and stops it again.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
ctest --test-dir "$root/build" --output-on-failure
