#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A second copy of the installed program started in the same folder (with the
# file to edit given on its command line, as a file manager does) refuses to
# run and leaves the first copy's backup alone. A disk that fills up during
# the backup is reported, and the program ends normally.
# shellcheck disable=SC2119 # start_program passes on its own arguments, not ours
source "$(dirname "$0")/lib.sh"
program=$(realpath "$1")

rom=$files/game.nes
other=$files/other.nes
write_counting_bytes "$rom" 300
printf 'another file' >"$other"
cp "$rom" "$work/pristine"
cp "$other" "$work/other"

# Starts another copy that edits file $1 (named on its command line), refuses
# to go on with a message, and ends normally.
refused_run() {
    start_program "$1"
    answer_box "$program_pid" none Return
    wait_exit "$program_pid"
}

start_display
start_program
first=$program_pid
open=$(wait_window "$first" Open)
type_into "$open" "$rom"
press "$open" Return
main=$(wait_window "$first" Glitchwerk)

refused_run "$other"
expect_bytes "$files/Glitchwerk.dat" "$work/pristine" "the first copy's backup"
expect_bytes "$other" "$work/other" "its original after the refused start"

click "$main" exit
answer_box "$first" "$main" Return
wait_exit "$first"
expect_bytes "$rom" "$work/pristine" "the original after exit"
[ ! -s "$files/Glitchwerk.dat" ] || fail "the data file is not empty after exit"

# Files of at most 1 KiB stand in for a full disk.
write_counting_bytes "$other" 4096
cp "$other" "$work/other"
file_size_limit=1 refused_run "$other"
expect_bytes "$other" "$work/other" "its original after the failed backup"
[ ! -s "$files/Glitchwerk.dat" ] || fail "the failed backup left a partial copy"
