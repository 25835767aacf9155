#!/usr/bin/env bash
# Counts, under valgrind's callgrind, the instructions that one call of each
# model's fmiDoStep executes in the host build, next to the floor's (the same
# step written inline, see bench/Floor.h), and those of fmiSetReal and
# fmiGetReal. The counts do not depend on the machine's speed or load, only on
# the compiler and the code. SLAVE_BENCH_LIBRARY_DIR in the environment counts
# the libraries of another build instead.
#
#   scripts/count-instructions.sh [calls]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

calls=${1:-10000}
cmake --preset host >/dev/null
cmake --build --preset host --target slave_count >/dev/null
count=build/host/bench/slave_count
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The instructions counted inside the subject's function, and what that
# calls, during a run of the program with the given number of calls.
instructions() {
    local model=$1 subject=$2 function=$3 calls=$4 out=$work/callgrind.out
    valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect="$function" "$count" "$model" "$subject" "$calls" \
        >/dev/null 2>"$work/valgrind.log" || {
        cat "$work/valgrind.log" >&2
        exit 1
    }
    local total
    total=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$out")
    [[ -n $total ]] || total=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$out")
    echo "$total"
}

# Instructions per call (per element for the *All subjects): the difference
# between a run with twice the calls and one with the calls, so that the
# calls the program makes to set the slave up do not count.
per_call() {
    local model=$1 subject=$2 function elements
    read -r function elements < <("$count" "$model" "$subject" 1)
    local once twice
    once=$(instructions "$model" "$subject" "$function" "$calls")
    twice=$(instructions "$model" "$subject" "$function" $((2 * calls)))
    awk -v once="$once" -v twice="$twice" -v calls="$calls" -v elements="$elements" \
        'BEGIN { printf "%.1f", (twice - once) / calls / elements }'
}

echo "Instructions per call (valgrind --tool=callgrind), libraries in ${SLAVE_BENCH_LIBRARY_DIR:-build/host}"
printf '\n%-10s %10s %10s %8s\n' model fmiDoStep floor ratio
for model in Halvorn Pendrake Corvessa; do
    "$count" "$model" check
    step=$(per_call "$model" fmiDoStep)
    floor=$(per_call "$model" floor)
    ratio=$(awk -v a="$step" -v b="$floor" 'BEGIN { printf "%.2f", a / b }')
    printf '%-10s %10s %10s %7sx\n' "$model" "$step" "$floor" "$ratio"
done

printf '\n%-10s %14s %14s %16s %16s\n' model "fmiSetReal(1)" "fmiGetReal(1)" \
    "fmiSetReal/elem" "fmiGetReal/elem"
for model in Halvorn Pendrake Corvessa; do
    printf '%-10s %14s %14s %16s %16s\n' "$model" "$(per_call "$model" fmiSetReal)" \
        "$(per_call "$model" fmiGetReal)" "$(per_call "$model" fmiSetRealAll)" \
        "$(per_call "$model" fmiGetRealAll)"
done
