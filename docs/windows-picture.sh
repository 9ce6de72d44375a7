#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Draws the README's picture of the Windows window: glitchwerk.exe under Wine
# on a private X server, after a random corruption of offsets 10 to 800F of a
# scratch file, as docs/glitchwerk.png shows the Qt window. Needs xdotool and
# ImageMagick's import (apt-get install xdotool imagemagick), and the Windows
# build (make windows).
#   docs/windows-picture.sh [build-mingw/build/win32/glitchwerk.exe [docs/glitchwerk-windows.png]]
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build-mingw/build/win32/glitchwerk.exe}")
picture=$(realpath -m "${2:-docs/glitchwerk-windows.png}")

source scripts/private-wine.sh
private_wine 800x600
# Wine stands DejaVu Sans Mono, the Qt window's font, for the Courier New it
# lacks.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'DejaVu Sans Mono' /f >/dev/null 2>&1
wineserver --wait

roms=$WINEPREFIX/drive_c/ROMs # C:\ROMs, as the window shows it
mkdir -p "$roms"
head -c $((0x40010)) /dev/zero | tr '\0' 'Z' >"$roms/game.nes"
(cd "$roms" && exec wine "$program" game.nes) &
# A visible window named Glitchwerk other than $1.
window() {
    local id
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name '^Glitchwerk$' 2>/dev/null | grep -vx "${1:-none}" | head -1) &&
            [ -n "$id" ] && echo "$id" && return
        sleep 0.1
    done
    echo "no window" >&2
    return 1
}
main=$(window)
# Clicks the middle of a control placed x y width height in dialog units:
# the window is the form's 222 x 173 units, without a frame here.
click() {
    # shellcheck disable=SC2034 # set by xdotool's --shell output
    local WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$main")"
    xdotool mousemove --window "$main" --sync $(((2 * $1 + $3) * WIDTH / 444)) \
        $(((2 * $2 + $4) * HEIGHT / 346)) click 1
}
type_text() { xdotool type --delay 5 -- "$1"; }

click 11 63 40 12 && type_text 10   # range start
click 63 63 40 12 && type_text 8010 # range end
click 12 135 52 8                   # All Bytes
click 119 135 58 8                  # Random Byte
click 59 152 51 14                  # Corrupt
box=$(window "$main")
xdotool windowfocus --sync "$box" key Return
while xdotool search --onlyvisible --name '^Glitchwerk$' | grep -qx "$box"; do sleep 0.1; done
import -window "$main" "$picture"
echo "Drew $picture"
