#!/usr/bin/env bash
# A second copy of the installed program started in the same folder refuses
# to run and leaves the first copy's backup alone. A disk that fills up
# during the backup is reported, and the program ends normally.
source "$(dirname "$0")/lib.sh"
program=$(realpath "$1")

rom=$files/game.nes
other=$files/other.nes
write_counting_bytes "$rom" 300
printf 'another file' >"$other"
cp "$rom" "$work/pristine"
cp "$other" "$work/other"

start_display
start_program
first=$program_pid
open=$(wait_window "$first" Open)
type_into "$open" "$rom"
press "$open" Return
main=$(wait_window "$first" Glitchwerk)

start_program
second=$program_pid
open=$(wait_window "$second" Open)
type_into "$open" "$other"
press "$open" Return
answer_box "$second" none Return
wait_exit "$second"
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
file_size_limit=1 start_program
third=$program_pid
open=$(wait_window "$third" Open)
type_into "$open" "$other"
press "$open" Return
answer_box "$third" none Return
wait_exit "$third"
expect_bytes "$other" "$work/other" "its original after the failed backup"
[ ! -s "$files/Glitchwerk.dat" ] || fail "the failed backup left a partial copy"
