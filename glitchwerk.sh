#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Set-up in one command on Debian or Ubuntu, no make needed (the Makefile calls
# this too). Each command first installs the Debian packages it is missing
# (scripts/install-deps.sh), then builds with the CMake preset of its own
# folder.
set -euo pipefail

usage() {
    cat <<'EOF'
usage: ./glitchwerk.sh COMMAND [ARGUMENT...]
  run [FILE]   builds Glitchwerk in build-run/ and starts it; glitchwerk-cli
               builds meanwhile
  test         builds with the tests in build/ and runs every test
  bench        builds the benchmarks in build-bench/ and runs them
  package      builds the Debian package in build-run/
  build        builds the programs in build-run/, without starting them
  windows      builds glitchwerk.exe and the tests for Windows, runs them under Wine
  windows-package
               makes the Windows zip and installer in build-mingw/package
  deps GROUP.. only installs the packages of groups engine, run, test, bench,
               package, windows, ci
  format       formats the C++ sources with clang-format
  clean        removes the build folders
Each installs the Debian packages it is missing first, and says which.
Settings: BUILD_TYPE=Debug, CMAKE_ARGS='-DGLITCHWERK_WERROR=ON', JOBS=4.
EOF
}

root=$(cd "$(dirname "$0")" && pwd)
jobs=${JOBS:-$(nproc)}
read -ra cmake_args <<<"${CMAKE_ARGS:-}"
[ -z "${BUILD_TYPE:-}" ] || cmake_args+=("-DCMAKE_BUILD_TYPE=$BUILD_TYPE")

deps() { "$root/scripts/install-deps.sh" "$@"; }
# The libretro header glitchwerk-play builds with, and the tests' cores,
# unpacked into build-libretro/ once.
libretro() { "$root/scripts/fetch-libretro.sh"; }

configure() { # preset, then CMake settings
    local cache
    cache=$root/$(folder "$1")/CMakeCache.txt
    # A folder configured for make by earlier versions starts afresh.
    if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
        rm -rf "$cache" "$(dirname "$cache")/CMakeFiles"
    fi
    (cd "$root" && cmake --preset "$@" "${cmake_args[@]}" >/dev/null)
}
folder() {
    case $1 in
    default) echo build ;;
    *) echo "build-$1" ;;
    esac
}

compile() { # preset, then targets (all when none)
    local preset=$1 targets=()
    shift
    [ $# -eq 0 ] || targets=(--target "$@")
    (cd "$root" && cmake --build --preset "$preset" -j "$jobs" "${targets[@]}")
}
build() { # preset, then targets
    echo "Building in $(folder "$1")/"
    configure "$1"
    compile "$@"
}

unpacked() { # package: its files are in place, whether dpkg has set it up or not
    case $(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null) in
    unpacked | half-configured | triggers-awaited | triggers-pending | installed) return 0 ;;
    *) return 1 ;;
    esac
}
# Every glitchwerk-cli build that did work adds "DATE SECONDS" here, so that
# the wait after the window can say how long the last one took.
cli_times=$root/build-run/glitchwerk-cli.times
build_cli() { # in build-run/, niced, saying only what changed
    local log=$root/build-run/glitchwerk-cli.log start=$SECONDS took
    if (cd "$root" && nice -n 10 cmake --build --preset run -j "$jobs" --target glitchwerk-cli >"$log" 2>&1); then
        grep -q 'no work to do' "$log" && return 0
        took=$((SECONDS - start))
        echo "glitchwerk-cli is built: build-run/cli/glitchwerk-cli (in $took s)"
        # The last 20 are plenty; a folder that cannot keep them costs only the note.
        if { tail -n 19 "$cli_times" 2>/dev/null || true; } >"$cli_times.new" 2>/dev/null &&
            echo "$(date +%FT%T) $took" >>"$cli_times.new"; then
            mv -f "$cli_times.new" "$cli_times" 2>/dev/null || true
        fi
    else
        tail -n 20 "$log" >&2
        echo "glitchwerk-cli did not build (above: the end of build-run/glitchwerk-cli.log)" >&2
        return 1
    fi
}
still_building() { # SECONDS: how long the build has run; said when the window has closed first
    local step last
    # Ninja's "[DONE/ALL]" lines say how far it is.
    step=$(grep -o '^\[[0-9]*/[0-9]*\]' "$root/build-run/glitchwerk-cli.log" 2>/dev/null | tail -n 1 | tr -d '[]') || true
    last=$(tail -n 1 "$cli_times" 2>/dev/null | cut -d ' ' -f 2) || true
    if [[ $last =~ ^[0-9]+$ ]]; then last="$last s last time"; else last="its first build here"; fi
    echo "Glitchwerk has closed; glitchwerk-cli is still building" \
        "(${step:+step ${step%/*} of ${step#*/}, }$1 s so far, $last)." \
        "Waiting for it; its log is build-run/glitchwerk-cli.log"
}

command=${1:-}
[ $# -eq 0 ] || shift
case $command in
run)
    if deps --check run; then
        libretro
        echo "Building in build-run/"
        configure run
        compile run glitchwerk
    else
        # Qt's packages download while the compiler installs. Then the engine
        # and the dialog's logic, which need no Qt, build while Qt installs,
        # on one core and only when the other one is idle: dpkg slows down
        # much when the build takes every core. The window builds once Qt's
        # files are unpacked, while dpkg sets up the packages.
        sudo=() sudo_n=()
        if [ "$(id -u)" -ne 0 ]; then
            command -v sudo >/dev/null || deps run # which says what to do, and fails
            sudo -v                                # the password before the work starts
            sudo=(sudo) sudo_n=(sudo -n)
        fi
        deps --update-only run
        # apt-get's files, in a folder only root can write to.
        debs=$("${sudo[@]}" mktemp -d /var/tmp/glitchwerk-debs.XXXXXX)
        fetching='' installing=''
        finish() { # however the run ends, dpkg is not left behind
            [ -z "$fetching" ] || kill "$fetching" 2>/dev/null || true
            if [ -n "$installing" ] && kill -0 "$installing" 2>/dev/null; then
                echo "Waiting for the installation of the Debian packages to end" >&2
                wait "$installing" || true
            fi
            [ -z "$debs" ] || "${sudo_n[@]}" rm -rf "$debs" || true
        }
        trap finish EXIT
        deps --fetch --no-update --cache "$debs" engine
        deps --fetch --no-update --cache "$debs" run &
        fetching=$!
        deps --no-update --cache "$debs" engine
        wait "$fetching" || true
        fetching=''
        libretro
        echo "Building in build-run/"
        [ "$(id -u)" -eq 0 ] || sudo -v # for the background, lest it ask there
        deps --no-update --cache "$debs" run &
        installing=$!
        configure run -DGLITCHWERK_APP=OFF
        idle=()
        ! chrt --idle 0 true 2>/dev/null || idle+=(chrt --idle 0)
        ! ionice -c 3 true 2>/dev/null || idle+=(ionice -c 3)
        (cd "$root" && "${idle[@]}" cmake --build --preset run -j 1 --target glitchwerk_dialog)
        until unpacked qt6-base-dev || ! kill -0 "$installing" 2>/dev/null; do sleep 0.5; done
        # Should a package Qt needs not be unpacked yet, it builds again after.
        early=$(mktemp "${TMPDIR:-/tmp}/glitchwerk-build.XXXXXX")
        if { configure run && compile run glitchwerk; } >"$early" 2>&1; then
            cat "$early"
            rm -f "$early"
            wait "$installing" || exit 1
        else
            rm -f "$early"
            wait "$installing" || exit 1
            configure run
            compile run glitchwerk
        fi
        installing=''
        finish
        debs=''
    fi
    # glitchwerk-cli builds while the window is open.
    cli=
    if grep -qx 'GLITCHWERK_CLI:BOOL=ON' "$root/build-run/CMakeCache.txt"; then
        cli_start=$SECONDS
        build_cli &
        cli=$!
    fi
    status=0
    "$root/build-run/app/glitchwerk" "$@" || status=$?
    if [ -n "$cli" ]; then
        ! kill -0 "$cli" 2>/dev/null || still_building $((SECONDS - cli_start))
        wait "$cli" || status=1
    fi
    exit "$status"
    ;;
build)
    deps run
    libretro
    build run
    ;;
test)
    deps test
    libretro
    build default
    # A build without tests fails here instead of passing as tested.
    cd "$root" && exec ctest --preset default --no-tests=error -j "$jobs"
    ;;
bench)
    deps bench
    build bench
    exec "$root/build-bench/bench/glitchwerk_bench" "$@"
    ;;
package)
    deps package
    libretro
    build run package
    # The package and the cores it recommends, as apt would install them:
    # never RetroArch.
    version=$(sed -n 's/^project(glitchwerk VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
    deb=$root/build-run/glitchwerk_${version}_$(dpkg --print-architecture).deb
    plan=$(apt-get install -s "$deb" libretro-nestopia libretro-gambatte libretro-core-info 2>&1) || {
        echo "$plan" >&2
        exit 1
    }
    if grep -q '^Inst retroarch' <<<"$plan"; then
        echo "Installing $deb with the cores would install RetroArch" >&2
        exit 1
    fi
    echo "$deb with the cores it recommends installs no RetroArch"
    ;;
windows)
    deps windows
    exec "$root/scripts/windows-tests.sh"
    ;;
windows-package)
    deps windows
    exec "$root/scripts/windows-package.sh"
    ;;
deps)
    deps "$@"
    ;;
format)
    command -v clang-format >/dev/null || {
        echo "Formatting needs clang-format: ./glitchwerk.sh deps ci, or apt-get install clang-format" >&2
        exit 1
    }
    cd "$root" && git ls-files '*.cpp' '*.h' | xargs clang-format -i
    ;;
clean)
    cd "$root" && rm -rf build build-run build-bench build-debug build-sanitize build-mingw build-libretro
    ;;
-h | --help | help)
    usage
    ;;
*)
    usage >&2
    exit 2
    ;;
esac
