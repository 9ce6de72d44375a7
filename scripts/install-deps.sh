#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building, testing, benchmarking and
# packaging need; with --windows also the MinGW-w64 cross compiler and Wine
# for the Windows build, with --ci also what continuous integration checks
# with (Clang, clang-tidy, clang-format, shellcheck). Does nothing when every
# package is installed already. Without apt-get, it names the packages and
# leaves their installation to you.
set -euo pipefail

packages=(
    g++ cmake make
    libgtest-dev libgmock-dev libbenchmark-dev time
    libcli11-dev nlohmann-json3-dev zlib1g-dev libxxhash-dev qt6-base-dev fonts-dejavu-core
    xvfb xfonts-base xauth xdotool desktop-file-utils appstream file dpkg-dev
)
windows=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64)
ci=(clang libclang-rt-dev clang-tidy clang-format shellcheck "${windows[@]}")
for option in "$@"; do
    case $option in
    --windows) packages+=("${windows[@]}") ;;
    --ci) packages+=("${ci[@]}") ;;
    *)
        echo "usage: $0 [--windows] [--ci]" >&2
        exit 2
        ;;
    esac
done

if ! command -v apt-get >/dev/null || ! command -v dpkg-query >/dev/null; then
    echo "No apt-get here. Glitchwerk builds with CMake 3.25, a C++20 compiler and Qt 6;"
    echo "its tests want what these Debian packages hold: ${packages[*]}"
    exit 0
fi

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
