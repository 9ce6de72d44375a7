#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that the groups named on the command line need,
# and says which it installs:
#   engine   the compiler, CMake, Ninja, and the libraries of the engine and
#            glitchwerk-cli (zlib, libdeflate, JSON for Modern C++, xxHash,
#            libpng)
#   run      engine, and Qt 6: building and starting the programs
#   test     run, and the tests' tools (GoogleTest, Xvfb, xdotool, x11-utils, validators,
#            cc65 for the ROM the real cores play)
#   bench    engine, and Google Benchmark
#   package  run, and the tools that make the Debian package
#   windows  the MinGW-w64 cross compiler, Wine and NSIS
#   ci       all of the above, and Clang, clang-tidy, clang-format, shellcheck
# The libretro header and the tests' cores are never installed (each would
# pull RetroArch in): scripts/fetch-libretro.sh unpacks them into the build.
# Installs nothing when every package is there already; as root it runs
# apt-get itself, as anybody else through sudo. Without apt-get, it names the
# packages and leaves their installation to you.
#   --check        installs nothing: exits 0 when every package is there
#                  (or there is no apt-get), else 1
#   --update-only  only runs apt-get update, when a package is missing
#   --no-update    does not run apt-get update first (it has just run)
#   --cache DIR    apt-get takes the package files from DIR (a folder that
#                  only root can write to), downloading there what is missing
#   --fetch        only downloads the package files into the --cache folder.
#                  It takes no lock, and so runs beside an installation; it
#                  fails quietly, leaving the download to the installation.
set -euo pipefail

declare -A group=(
    [engine]="g++ cmake ninja-build zlib1g-dev libdeflate-dev nlohmann-json3-dev libxxhash-dev libpng-dev"
    [run]="qt6-base-dev fonts-dejavu-core"
    [test]="libgtest-dev libgmock-dev xvfb xfonts-base xauth xdotool x11-utils desktop-file-utils appstream cc65"
    [bench]="libbenchmark-dev time"
    [package]="file dpkg-dev"
    [windows]="cmake ninja-build libgtest-dev nlohmann-json3-dev libxxhash-dev
        g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 nsis fonts-wine
        xvfb xauth xdotool shared-mime-info"
    [ci]="clang libclang-rt-dev clang-tidy clang-format shellcheck"
)
declare -A includes=([run]=engine [test]="engine run" [bench]=engine [package]="engine run"
    [ci]="engine run test bench package windows")

usage() {
    echo "usage: $0 [--check|--update-only|--fetch] [--no-update] [--cache DIR]" \
        "[engine|run|test|bench|package|windows|ci]..." >&2
    exit 2
}
check=false update_only=false update=true fetch=false cache=
while [ $# -gt 0 ]; do
    case $1 in
    --check) check=true ;;
    --update-only) update_only=true ;;
    --no-update) update=false ;;
    --fetch) fetch=true ;;
    --cache)
        [ $# -ge 2 ] || usage
        cache=$(realpath -m -- "$2")
        shift
        ;;
    *) break ;;
    esac
    shift
done
! $fetch || [ -n "$cache" ] || usage
[ $# -gt 0 ] || set -- run
packages=()
for name in "${@#--}"; do # --windows and --ci as before too
    [ -n "${group[$name]:-}" ] || usage
    for part in ${includes[$name]:-} "$name"; do
        read -ra words <<<"${group[$part]//$'\n'/ }"
        packages+=("${words[@]}")
    done
done
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)

if ! command -v apt-get >/dev/null || ! command -v dpkg-query >/dev/null; then
    echo "No apt-get here. Glitchwerk builds with CMake 3.25, a C++20 compiler and Qt 6;"
    echo "for $*, install what these Debian packages hold: ${packages[*]}"
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0
! $check || exit 1

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || {
        echo "Glitchwerk needs these Debian packages: ${missing[*]}" >&2
        echo "Install them as root (apt-get install ${missing[*]}), or install sudo, then try again." >&2
        exit 1
    }
    sudo=(sudo)
fi
log=$(mktemp "${TMPDIR:-/tmp}/glitchwerk-apt.XXXXXX")
trap 'rm -f "$log"' EXIT
if $update_only; then
    if ! "${sudo[@]}" apt-get update -q >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        echo "apt-get update failed (its last lines above)." >&2
        exit 1
    fi
    exit 0
fi
options=(-q --no-install-recommends)
if [ -n "$cache" ]; then
    "${sudo[@]}" mkdir -p "$cache/partial"
    options+=(-o "Dir::Cache::Archives=$cache/")
fi
if $fetch; then
    echo "Downloading the Debian packages for $* (and what they depend on)"
    # "Inst NAME (VERSION ...)", or "Inst NAME [OLD] (VERSION ...)" for an upgrade
    mapfile -t wanted < <(apt-get install -s "${options[@]}" "${missing[@]}" 2>/dev/null |
        sed -n 's/^Inst \([^ ]*\) \(\[[^]]*\] \)\{0,1\}(\([^ ]*\) .*/\1=\3/p')
    # shellcheck disable=SC2016 # the inner shell expands them
    [ ${#wanted[@]} -eq 0 ] ||
        "${sudo[@]}" sh -c 'cd "$1" && shift && exec apt-get download -q "$@"' sh "$cache" "${wanted[@]}" \
            >/dev/null 2>&1 || true
    exit 0
fi
echo "Installing the Debian packages for $* (and what they depend on): ${missing[*]}"
# apt-get's own lines go to a log that is shown when it fails; of them only
# the download size and disk space appear.
steps='apt-get install -y "$@"'
! $update || steps="apt-get update -q && $steps"
if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive sh -c "$steps" apt-get "${options[@]}" "${missing[@]}" 2>&1 |
    tee "$log" | sed -u -n -e '/^Need to get/p' -e '/^After this operation/p'; then
    tail -n 20 "$log" >&2
    echo "Installing the packages failed (apt-get's last lines above)." >&2
    exit 1
fi
