#!/usr/bin/env bash
# The Windows check that runs here: cross-compiles the window- and database-free libraries
# (text, config, items, the mail core) and their tests for 64-bit Windows with MinGW-w64,
# and runs those tests under wine. Installs the compiler and wine when missing. The window
# (Qt) and the database layer (Connector/C) are not packaged for MinGW here and are not
# built by this check; they keep to Qt, Connector/C and standard C++.
# Usage: scripts/check-windows.sh [build folder, default build-windows]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-windows}"

packages=(g++-mingw-w64-x86-64-posix wine64 googletest)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# Header-only libraries come from the host, one folder each: all of /usr/include would put
# the host's C library headers in front of MinGW's.
extra="$build/include-extra"
mkdir -p "$extra"
if [ -d /usr/include/nlohmann ]; then
    ln -sfn /usr/include/nlohmann "$extra/nlohmann"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/scripts/mingw-w64-toolchain.cmake" \
    -DMRVN_CORE_ONLY=ON -DMRVN_BUILD_BENCH=OFF \
    -DMRVN_GTEST_SOURCE_DIR=/usr/src/googletest \
    -DMRVN_EXTRA_INCLUDE_DIRS="$extra" >/dev/null
cmake --build "$build" -j"$(nproc)"

# A wine prefix of its own in the build folder; no desktop, no debug chatter, and no
# offer to install wine's .NET or browser components.
export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null && wine="$(command -v wine64)"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1 || true
fi
ctest --test-dir "$build" --output-on-failure
