#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The dialog and its panel as the installed program opens them on a screen of
# the size given (WIDTHxHEIGHT), under the window manager given or none: both
# wholly on the screen, their frames included, and apart.
source "$(dirname "$0")/lib.sh"
program=$(realpath "$1")
screen_size=$2
manager=${3:-}

# The frame of window $1 as "left top right bottom": its own place widened by
# the edges the window manager drew around it, if any.
frame() {
    local x y w h edges l r t b
    x=$(xwininfo -id "$1" | sed -n 's/.*Absolute upper-left X: *//p')
    y=$(xwininfo -id "$1" | sed -n 's/.*Absolute upper-left Y: *//p')
    w=$(xwininfo -id "$1" | sed -n 's/.*Width: *//p')
    h=$(xwininfo -id "$1" | sed -n 's/.*Height: *//p')
    edges=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.* = //p' | tr -d ,)
    read -r l r t b <<<"${edges:-0 0 0 0}"
    echo "$((x - l)) $((y - t)) $((x + w + r)) $((y + h + b))"
}
managed() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
# Both frames, once they stay put.
settled() {
    places="$(frame "$main") $(frame "$panel")"
    [ "$places" = "${last:-}" ] || { last=$places && sleep 0.2 && return 1; }
}

write_counting_bytes "$files/game.nes" 256
start_display
if [ -n "$manager" ]; then
    "$manager" >"$work/manager.log" 2>&1 &
    wait_for "$manager did not start" managed
fi
start_program "$files/game.nes"
pid=$program_pid
main=$(wait_window "$pid" Glitchwerk)
panel=$(wait_window "$pid" "Glitchwerk panel")
wait_for "the windows did not settle" settled
read -r dl dt dr db pl pt pr pb <<<"$places"
echo "screen $screen_size, ${manager:-no window manager}: dialog $dl,$dt-$dr,$db panel $pl,$pt-$pr,$pb"
IFS=x read -r width height <<<"$screen_size"
for edge in "$dl" "$dt" "$pl" "$pt"; do ((edge >= 0)) || fail "a window is off the screen's top or left"; done
((dr <= width && pr <= width)) || fail "a window is off the screen's right"
((db <= height && pb <= height)) || fail "a window is off the screen's bottom"
((dr <= pl || pr <= dl || db <= pt || pb <= dt)) || fail "the windows overlap"

press "$main" Escape
answer_box "$pid" "$main" Return
wait_exit "$pid"
