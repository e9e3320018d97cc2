#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
#   deps.sh                 what the build, the test suite and the demo need
#   deps.sh --all           also clang for the fuzz targets (scripts/test.sh --all)
#   deps.sh --only P...     just the packages named
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config git
    qt6-base-dev qt6-qpa-plugins libgl-dev
    libmariadb-dev mariadb-server mariadb-client
    libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-zenhei python3 xvfb xauth ccache
    qt6-translations-l10n nlohmann-json3-dev
    libssh-dev qtkeychain-qt6-dev
    openssh-server openssh-client openssl dbus gnome-keyring libsecret-1-0
)
case "${1:-}" in
--all) packages+=(clang libclang-rt-14-dev) ;;
--only)
    shift
    packages=("$@")
    ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
# The server package must not start a system service of its own: ours run in folders of
# the project.
DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
