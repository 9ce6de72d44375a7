#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the engine, glitchwerk.exe and the tests for 64-bit Windows with
# MinGW-w64 (the `mingw` preset, warnings as errors) and runs the tests under
# Wine. Debian ships GoogleTest as source only for this compiler: it is built
# first, once, into build-mingw/googletest. With --package, the Windows
# package is made and checked as well (scripts/windows-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

gtest=build-mingw/googletest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B build-mingw/googletest-build -G Ninja \
        --toolchain "$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 \
        -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$gtest" >/dev/null
    cmake --build build-mingw/googletest-build -j "$(nproc)" >/dev/null
    cmake --install build-mingw/googletest-build >/dev/null
fi

# glitchwerk-play's header.
scripts/fetch-libretro.sh

# A Wine of its own (the build lists the tests with it too), quiet, kept out
# of this machine's menus and file types, made ready before tests start side
# by side, and ended with them; and a private X server for the windows of
# glitchwerk.exe, wide enough for the dialog and its panel side by side.
source scripts/private-wine.sh
private_wine 1280x800

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"
# A test whose process stays on under Wine after it ended runs once more.
ctest --preset mingw -j "$(nproc)" --repeat after-timeout:2
# The dialog and its panel on a desktop's screen too.
wine_screen 1920x1200
wine build-mingw/build/tests/win32/win32_face_tests.exe --gtest_filter=Win32Face.PanelBeside\*

# With --package: the zip and the installer, installed and removed in this Wine.
if [ "${1:-}" = --package ]; then
    GLITCHWERK_WINE_READY=1 scripts/windows-package.sh --check
fi
