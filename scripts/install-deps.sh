#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and
# packaging need.
# Does nothing when every package is already installed.
set -euo pipefail

packages=(
    g++ cmake make
    libgtest-dev libgmock-dev libbenchmark-dev time
    qt6-base-dev fonts-dejavu-core
    xvfb xfonts-base xauth xdotool desktop-file-utils appstream file dpkg-dev
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
