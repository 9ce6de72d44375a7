#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fetches the libretro header (Debian's retroarch-dev) that glitchwerk-play is
# built with, and the cores and info files the tests play real ROMs on
# (libretro-nestopia, libretro-gambatte, libretro-core-info), and unpacks them
# into a folder of the build, build-libretro/ unless one is given. None is
# installed: each Depends on retroarch, which would come with its Qt 5 and
# its assets. Fetched once; a package that cannot be fetched (no network)
# is named and left out, and the build goes on without what it holds:
# glitchwerk-play without the header, the tests of real cores without those.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
into=$(realpath -m -- "${1:-$root/build-libretro}")
mkdir -p "$into"

if ! command -v apt-get >/dev/null || ! command -v dpkg-deb >/dev/null; then
    echo "No apt-get here: glitchwerk-play and the tests of real cores are left out" >&2
    exit 0
fi
debs=$(mktemp -d "${TMPDIR:-/tmp}/glitchwerk-libretro.XXXXXX")
trap 'rm -rf "$debs"' EXIT
chmod 755 "$debs" # apt-get downloads as _apt where it can
missing=()
for package in retroarch-dev libretro-nestopia libretro-gambatte libretro-core-info; do
    [ ! -f "$into/.$package" ] || continue
    if (cd "$debs" && apt-get download -q "$package" >"$debs/log" 2>&1); then
        for deb in "$debs"/"${package}"_*.deb; do
            dpkg-deb -x "$deb" "$into"
            rm -f "$deb"
        done
        touch "$into/.$package"
    else
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] ||
    echo "Not fetched (apt-get download failed): ${missing[*]}; what needs them is left out" >&2
