#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the engine and its tests for 64-bit Windows with MinGW-w64 (the
# `mingw` preset, warnings as errors) and runs the tests under Wine. Debian
# ships GoogleTest as source only for this compiler: it is built first, once,
# into build-mingw/googletest.
set -euo pipefail
cd "$(dirname "$0")/.."

gtest=build-mingw/googletest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B build-mingw/googletest-build -G Ninja \
        --toolchain "$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$gtest" >/dev/null
    cmake --build build-mingw/googletest-build -j "$(nproc)" >/dev/null
    cmake --install build-mingw/googletest-build >/dev/null
fi

# A Wine of its own (the build lists the tests with it too), quiet, made
# ready before tests start side by side, and ended with them.
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/glitchwerk-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
wineboot --init >/dev/null 2>&1
wineserver --wait

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"
ctest --preset mingw -j "$(nproc)"
