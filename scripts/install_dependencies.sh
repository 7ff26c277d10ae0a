#!/bin/sh
# Installs every Debian 12 package that building, running and testing the game
# needs.  Idempotent and non-interactive: packages already present are skipped,
# and apt-get runs only when something is missing.
set -eu

PACKAGES="
build-essential
cmake
ninja-build
g++
clang-14
libclang-rt-14-dev
lld
googletest
libgtest-dev
libgmock-dev
libbenchmark-dev
x11-utils
xdotool
python3
iproute2
procps
nftables
pkg-config
libsdl1.2-compat-dev
libx11-dev
xvfb
xauth
libgl-dev
libglu1-mesa-dev
libgl1-mesa-dri
libstb-dev
libjpeg62-turbo-dev
libpng-dev
libjpeg62-turbo-dev
libstb-dev
libfreetype-dev
fonts-dejavu-core
fonts-dejavu-extra
x11-apps
netpbm
libopenal1
libmd-dev
libcurl4
libcurl4-openssl-dev
xdg-utils
sox
ffmpeg
"

missing=""
for package in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case "$status" in
        "install ok installed") ;;
        *) missing="$missing $package" ;;
    esac
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
else
    echo "These packages are missing and this user cannot install them:$missing" >&2
    echo "Run this script as root." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
