#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A new user's run of the installed program: pick a file, corrupt a range of
# it, restore it, corrupt it again with Enter, and exit restoring the file.
# shellcheck disable=SC2119 # start_program passes on its own arguments, not ours
source "$(dirname "$0")/lib.sh"
program=$(realpath "$1")

rom=$files/game.nes
write_counting_bytes "$rom" 256
cp "$rom" "$work/pristine"
# Range 10 to 20, bytes of value 14 up to 18, increased by 80.
cp "$rom" "$work/corrupted"
printf '\x94\x95\x96\x97' | dd of="$work/corrupted" bs=1 seek=$((0x14)) conv=notrunc status=none

start_display
start_program
pid=$program_pid

open=$(wait_window "$pid" Open)
[ -z "$(visible_windows "$pid" Glitchwerk)" ] || fail "the main window came before the file dialog"
type_into "$open" "$rom"
press "$open" Return
main=$(wait_window "$pid" Glitchwerk)
expect_bytes "$files/Glitchwerk.dat" "$work/pristine" "the file chosen"

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

click "$main" restore
answer_box "$pid" "$main" Return
expect_bytes "$rom" "$work/pristine" "the original after Restore"

# Enter in an entry field runs Re-Corrupt, the default button.
click "$main" step
press "$main" Return
answer_box "$pid" "$main" Return
expect_bytes "$rom" "$work/corrupted" "the expected corruption after Re-Corrupt"

# The exit prompt's default answer, Yes, restores the file before exiting.
click "$main" exit
answer_box "$pid" "$main" Return
wait_exit "$pid"
expect_bytes "$rom" "$work/pristine" "the original after exit"
if [ ! -f "$files/Glitchwerk.dat" ] || [ -s "$files/Glitchwerk.dat" ]; then
    fail "the data file is not there and empty after exit"
fi
