# shellcheck shell=bash
# SPDX-License-Identifier: MIT
# Sourced by the scripts that run Windows programs: a quiet Wine of their own
# in a new folder, kept out of this machine's menus and file types, on a
# private X server of the size given (WIDTHxHEIGHT), which wine_screen
# changes. Both are ended, and the folder removed, when the script exits.
private_wine() {
    wine_folder=$(mktemp -d "${TMPDIR:-/tmp}/glitchwerk-wine.XXXXXX")
    export WINEPREFIX=$wine_folder/prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
    trap 'wineserver -k 2>/dev/null || true; kill "$wine_xvfb"; rm -rf "$wine_folder"' EXIT
    wine_screen "$1"
    wineboot --init >/dev/null 2>&1
    wineserver --wait
}

# The X server, anew at the size given; Wine's programs, which would keep the
# old screen's size, are ended first.
wine_screen() {
    if [ -n "${wine_xvfb:-}" ]; then
        wineserver -k 2>/dev/null || true
        wineserver --wait 2>/dev/null || true
        kill "$wine_xvfb"
        rm -f "$wine_folder/display"
    fi
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "$1x24" 3>"$wine_folder/display" 2>/dev/null &
    wine_xvfb=$!
    until [ -s "$wine_folder/display" ]; do
        kill -0 "$wine_xvfb" 2>/dev/null || { echo "Xvfb did not start" >&2 && exit 1; }
        sleep 0.1
    done
    DISPLAY=:$(cat "$wine_folder/display")
    export DISPLAY
}
