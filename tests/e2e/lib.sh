# shellcheck shell=bash
# SPDX-License-Identifier: MIT
# Shared by the end-to-end scenarios (sourced): a private X server, the
# installed program started in a scratch folder, and xdotool helpers that wait
# for the program's windows by name and type and click into them.
set -euo pipefail

readonly kWait=20 # seconds to wait for a window or for the program to end

work=$(mktemp -d "${TMPDIR:-/tmp}/glitchwerk-e2e.XXXXXX")
files=$work/files # the program's current directory, where its data file goes
mkdir -p "$files" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"

cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    wait
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    local log
    for log in program xvfb; do
        [ ! -s "$work/$log.log" ] || { echo "--- $log output:" >&2 && cat "$work/$log.log" >&2; }
    done
    exit 1
}

# Runs a command until it succeeds, failing with message $1 after $kWait seconds.
wait_for() {
    local end=$((SECONDS + kWait))
    until "${@:2}"; do
        ((SECONDS < end)) || fail "$1 within ${kWait}s"
        sleep 0.05
    done
}

# Starts Xvfb ($screen_size, 1024x768 unless set) on the first free display
# and points DISPLAY at it, once a client is served. The server must not reset
# when its last client leaves: a client connecting during the reset is turned
# away, and each xdotool call here is such a last client.
start_display() {
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 "${screen_size:-1024x768}x24" 3>"$work/display" 2>"$work/xvfb.log" &
    wait_for "Xvfb gave no display number" test -s "$work/display"
    DISPLAY=:$(cat "$work/display")
    export DISPLAY
    wait_for "display $DISPLAY did not answer" answers
}
answers() { xdotool getmouselocation >/dev/null 2>&1; }

# Starts $program (the scenario sets it) with the arguments given, in $files
# with a fresh user's environment, and with $file_size_limit (in KiB) when
# set; its process id is left in $program_pid.
# shellcheck disable=SC2154,SC2034
start_program() {
    (cd "$files" && ulimit -f "${file_size_limit:-unlimited}" && exec env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
        "$program" "$@") >>"$work/program.log" 2>&1 &
    program_pid=$!
}

visible_windows() { # pid name
    xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null || true
}

# Prints the id of a visible window of process $1 named $2 that is none of
# the windows given after them.
new_window() {
    local id
    kill -0 "$1" 2>/dev/null || fail "the program ended before showing a window '$2'"
    for id in $(visible_windows "$1" "$2"); do
        [[ " ${*:3} " == *" $id "* ]] || { echo "$id" && return; }
    done
    return 1
}
wait_window() { wait_for "no window '$2' appeared" new_window "$@"; }

closed() { [[ " $(visible_windows "$1" "$2" | tr '\n' ' ') " != *" $3 "* ]]; }
wait_closed() { wait_for "window '$2' still open" closed "$@"; } # pid name id

# Waits for process $1 to end and checks that it ended with status 0.
ended() { ! kill -0 "$1" 2>/dev/null; }
wait_exit() {
    wait_for "the program did not end" ended "$1"
    wait "$1" || fail "the program ended with status $?"
}

# Types text, or presses keys, into window $1 after giving it the focus.
type_into() {
    xdotool windowfocus --sync "$1"
    xdotool type --delay 5 -- "$2"
}
press() {
    xdotool windowfocus --sync "$1"
    xdotool key "${@:2}"
}

# Answers the message box of process $1 (named like its main window $2) with
# key $3, waiting for the box to appear and to go away.
answer_box() {
    local box
    box=$(wait_window "$1" Glitchwerk "$2")
    press "$box" "$3"
    wait_closed "$1" Glitchwerk "$box"
}

# The form's size and its controls' places, in dialog units.
readonly kFormWidth=222 kFormHeight=173
declare -A kPlace=(
    [range_start]="11 63 40 12" [range_end]="63 63 40 12"
    [search_range]="12 108 76 8" [search_low]="21 119 19 12" [search_high]="52 119 19 12"
    [increase]="119 108 58 8" [step]="180 111 19 12"
    [corrupt]="59 152 51 14" [restore]="112 152 51 14" [exit]="164 152 51 14"
)

# Clicks the middle of control $2 in window $1, scaling its place from dialog
# units to the window's size in pixels.
click() {
    # shellcheck disable=SC2034 # all set by xdotool's --shell output
    local x y w h WIDTH HEIGHT X Y SCREEN WINDOW
    read -r x y w h <<<"${kPlace[$2]}"
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove --window "$1" --sync $(((2 * x + w) * WIDTH / (2 * kFormWidth))) \
        $(((2 * y + h) * HEIGHT / (2 * kFormHeight))) click 1
}

# Checks that file $1 holds exactly the bytes of file $2, described by $3.
expect_bytes() {
    cmp "$1" "$2" >&2 || fail "$(basename "$1") differs from $3"
}

# Writes $2 bytes counting up from 00 (wrapping after FF) to file $1, with one
# printf of escapes made once for a round of 256 (a command per byte took
# half a minute for 4096 bytes on a small machine).
write_counting_bytes() {
    local round='' all='' i
    for ((i = 0; i < 256; i++)); do printf -v round '%s\\%03o' "$round" "$i"; done
    for ((i = 0; i < $2 / 256; i++)); do all+=$round; done
    printf '%b' "$all${round:0:4 * ($2 % 256)}" >"$1"
}
