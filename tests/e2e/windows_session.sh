#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# glitchwerk.exe under Wine, on a file named on its command line: corrupt a
# range with the mouse and keyboard, then exit restoring the file. Runs on the
# display and in the Wine prefix it is given, else on its own.
source "$(dirname "$0")/lib.sh"
program=$(realpath "$1")
export WINEDEBUG=-all

rom=$files/game.nes
write_counting_bytes "$rom" 256
cp "$rom" "$work/pristine"
cp "$rom" "$work/corrupted"
printf '\x94\x95\x96\x97' | dd of="$work/corrupted" bs=1 seek=$((0x14)) conv=notrunc status=none

[ -n "${DISPLAY:-}" ] || start_display
(cd "$files" && exec wine "$program" "$rom") >>"$work/program.log" 2>&1 &
pid=$!

main=$(wait_window "$pid" Glitchwerk)
expect_bytes "$files/Glitchwerk.dat" "$work/pristine" "the file named"
click "$main" range_start
type_into "$main" 10
click "$main" range_end
type_into "$main" 20
click "$main" search_range
click "$main" search_low
type_into "$main" 14
click "$main" search_high
type_into "$main" 18
click "$main" increase
click "$main" step
type_into "$main" 80
click "$main" corrupt
answer_box "$pid" "$main" Return
expect_bytes "$rom" "$work/corrupted" "the expected corruption"

# The exit prompt's default answer, Yes, restores the file.
click "$main" exit
answer_box "$pid" "$main" Return
wait_exit "$pid"
expect_bytes "$rom" "$work/pristine" "the original after exit"
if [ ! -f "$files/Glitchwerk.dat" ] || [ -s "$files/Glitchwerk.dat" ]; then
    fail "the data file is not there and empty after exit"
fi
