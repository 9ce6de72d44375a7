#!/bin/bash
# SPDX-License-Identifier: MIT
# The I/O fault sweep: runs a dialog session (Exit answered Yes, and No), one
# with the panel (kept history, a pick, Save copy as, Apply again, the copy
# saved over the first, Restore, Exit) and glitchwerk-cli once to count their
# file operations, then again for each
# operation N and each of fail, short and crash, and checks that no bytes were
# lost and no failure was told as a success. Usage: sweep.sh BUILD_DIR
set -u
build=$(realpath "${1:?usage: sweep.sh BUILD_DIR}")
shim=$build/tests/fault_sweep/libfault_shim.so
session=$build/tests/fault_sweep/fault_session
cli=$build/cli/glitchwerk-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 300000 /dev/urandom >"$work/original"
cli_args=(corrupt in.bin -o out.bin --seed 7 --range 1000:40000 --random
    --then --range 100:30000 --search-all --add 3)
runs=0 violations=0 start=$SECONDS

# DRIVER... under the shim in a fresh folder $dir with the original as its file.
under_shim() { # N MODE DRIVER...
    local n=$1 mode=$2
    shift 2
    rm -rf "$dir" && mkdir "$dir" && cp "$work/original" "$dir/$file"
    (cd "$dir" && GW_FAULT_DIR=$dir GW_FAULT_AT=$n GW_FAULT_MODE=$mode \
        GW_FAULT_LOG=$work/ops LD_PRELOAD=$shim timeout 60 "$@" >"$work/out" 2>&1
    exit $?) 2>/dev/null
}
violation() { # TEXT
    violations=$((violations + 1))
    echo "VIOLATION ${label}: $1"
}

# The original's bytes are in the file, the data file or a kept file told of.
nothing_lost() {
    local f
    cmp -s "$work/original" "$dir/game.bin" && return 0
    cmp -s "$work/original" "$dir/Glitchwerk.dat" && return 0
    for f in "$dir"/Glitchwerk-*.dat; do
        [[ -e $f ]] && grep -qF "${f##*/}" "$work/out" "$work/out2" 2>/dev/null &&
            cmp -s "$work/original" "$f" && return 0
    done
    return 1
}

check_session() { # STATUS MODE
    grep -q VIOLATION "$work/out" && violation "$(grep VIOLATION "$work/out" | head -1)"
    : >"$work/out2"
    if [[ $2 == crash ]]; then # a fresh run keeps the leftover and exits restoring
        (cd "$dir" && timeout 60 "$session" yes "$dir/game.bin" >"$work/out2" 2>&1) ||
            violation "the run after the crash: $(tr '\n' '|' <"$work/out2")"
    elif [[ $1 -gt 1 ]]; then
        violation "the driver ended with status $1"
    fi
    nothing_lost || violation "the original bytes are nowhere: $(tr '\n' '|' <"$work/out")"
}

check_cli() { # STATUS MODE
    cmp -s "$work/original" "$dir/in.bin" || violation "the input changed"
    if [[ -e $dir/out.bin ]]; then
        cmp -s "$work/reference" "$dir/out.bin" || violation "a wrong copy under OUTPUT's name"
    elif [[ $1 -eq 0 ]]; then
        violation "exit 0 without an output"
    fi
    if [[ $2 != crash ]] && compgen -G "$dir/.glitchwerk-*.partial" >/dev/null; then
        violation "a .partial file left after a failure"
    fi
    [[ $1 -eq 0 || $1 -eq 1 || $2 == crash ]] || violation "exit status $1"
}

sweep() { # NAME FILE CHECK DRIVER...
    local name=$1 check=$3 total n mode op status
    file=$2
    shift 3
    dir=$work/$name
    rm -f "$work/ops"
    under_shim 0 count "$@"
    total=$(wc -l <"$work/ops")
    cp "$work/ops" "$work/ops.$name"
    echo "$name: $total file operations"
    for ((n = 1; n <= total; n++)); do
        op=$(sed -n "${n}p" "$work/ops.$name")
        for mode in fail short crash; do
            if [[ $mode == short && ! $op =~ ^(p?read|p?write|fread|fwrite|copy_file_range)$ ]]; then
                continue
            fi
            label="$name N=$n $mode $op"
            under_shim "$n" "$mode" "$@"
            status=$?
            runs=$((runs + 1))
            "$check" "$status" "$mode"
        done
    done
}

(cd "$work" && cp original in.bin && "$cli" "${cli_args[@]}" >/dev/null && mv out.bin reference) ||
    { echo "glitchwerk-cli fails without faults" && exit 1; }
sweep session-yes game.bin check_session "$session" yes "$work/original"
sweep session-no game.bin check_session "$session" no "$work/original"
sweep session-panel game.bin check_session "$session" panel "$work/original"
sweep cli in.bin check_cli "$cli" "${cli_args[@]}"
echo "runs=$runs violations=$violations seconds=$((SECONDS - start))"
[[ $violations -eq 0 ]]
