#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a Windows test program under Wine for CTest. Under Wine such a process
# now and then stays on after its tests have ended; once GoogleTest has given
# its verdict, the process has 5 s to end by itself, then it is ended and the
# verdict stands.
set -u
output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$@" >"$output" 2>&1 &
program=$!
verdict='' since=0
while kill -0 "$program" 2>/dev/null; do
    if [ -z "$verdict" ]; then
        if grep -qE '^[0-9]+ FAILED TESTS?$|^ [0-9]+ FAILED TESTS?$' "$output"; then
            verdict=1 since=$SECONDS
        elif grep -qE '^\[  PASSED  \] [0-9]+ tests?\.$' "$output" &&
            ! grep -q '^\[  FAILED  \]' "$output"; then
            verdict=0 since=$SECONDS
        fi
    elif [ $((SECONDS - since)) -ge 5 ]; then
        kill -KILL "$program" 2>/dev/null
        wait "$program" 2>/dev/null
        cat "$output"
        echo "(the process stayed on after its tests had ended: ended)"
        exit "$verdict"
    fi
    sleep 0.2
done
wait "$program"
status=$?
cat "$output"
exit "$status"
