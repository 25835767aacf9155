#!/usr/bin/env bash
# Counts, under valgrind's callgrind, the instructions that one call of each
# model's step executes in the host builds of every FMI version (fmiDoStep,
# fmi2DoStep, fmi3DoStep), next to the floor's (the model's own step loop,
# see bench/Floor.h), and those of setting and getting reals (fmiSetReal,
# fmi2SetReal, fmi3SetFloat64, and the getters). The counts do not depend on the
# machine's speed or load, only on the compiler and the code.
# SLAVE_BENCH_LIBRARY_DIR in the environment counts the libraries of another
# build instead.
#
#   scripts/count-instructions.sh [calls]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

calls=${1:-10000}
# The versions, by the tags slave_count knows them by (bench/FmiVersions.h).
versions=(fmi1 fmi2 fmi3)
cmake --preset host >/dev/null
cmake --build --preset host --target slave_count >/dev/null
count=build/host/bench/slave_count
# The models of the build, one identifier a line (written when it is configured).
mapfile -t models <build/host/models.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The instructions counted inside the subject's function, and what that
# calls, during a run of the program with the given number of calls.
instructions() {
    local model=$1 version=$2 subject=$3 function=$4 calls=$5 out=$work/callgrind.out
    valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect="$function" "$count" "$model" "$version" "$subject" "$calls" \
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
    local model=$1 version=$2 subject=$3 function elements
    read -r function elements < <("$count" "$model" "$version" "$subject" 1)
    local once twice
    once=$(instructions "$model" "$version" "$subject" "$function" "$calls")
    twice=$(instructions "$model" "$version" "$subject" "$function" $((2 * calls)))
    awk -v once="$once" -v twice="$twice" -v calls="$calls" -v elements="$elements" \
        'BEGIN { printf "%.1f", (twice - once) / calls / elements }'
}

echo "Instructions per call (valgrind --tool=callgrind), libraries in ${SLAVE_BENCH_LIBRARY_DIR:-build/host}"
printf '\n%-10s %-8s %10s %10s %8s\n' model version step floor ratio
for model in "${models[@]}"; do
    floor=$(per_call "$model" fmi1 floor)
    for version in "${versions[@]}"; do
        "$count" "$model" "$version" check
        step=$(per_call "$model" "$version" doStep)
        ratio=$(awk -v a="$step" -v b="$floor" 'BEGIN { printf "%.2f", a / b }')
        printf '%-10s %-8s %10s %10s %7sx\n' "$model" "$version" "$step" "$floor" "$ratio"
    done
done

# The switch to flush-to-zero and back that a 2.0 or 3.0 step makes around the
# arithmetic of a model validated under flush-to-zero, on its own.
printf '\n%-10s %18s %10s\n' model "floor in switch" floor
for model in "${models[@]}"; do
    status=0
    "$count" "$model" fmi1 floorMxcsr 1 >/dev/null || status=$?
    if ((status == 3)); then
        continue
    fi
    printf '%-10s %18s %10s\n' "$model" "$(per_call "$model" fmi1 floorMxcsr)" \
        "$(per_call "$model" fmi1 floor)"
done

printf '\n%-10s %-8s %10s %10s %12s %12s\n' model version "set(1)" "get(1)" "set/elem" "get/elem"
for model in "${models[@]}"; do
    for version in "${versions[@]}"; do
        printf '%-10s %-8s %10s %10s %12s %12s\n' "$model" "$version" \
            "$(per_call "$model" "$version" setReal)" "$(per_call "$model" "$version" getReal)" \
            "$(per_call "$model" "$version" setRealAll)" "$(per_call "$model" "$version" getRealAll)"
    done
done
echo
echo "set(1), get(1): one value per call; set/elem, get/elem: per element of a call of every"
echo "parameter and input (set) or every real value (get)."

# A Model Exchange master's solver stage: one input set and one output read,
# which the slave computes at that read (the input changes at every call).
printf '\n%-10s %-8s %14s\n' model version "set+get (ME)"
for model in "${models[@]}"; do
    for version in fmi2 fmi3; do
        printf '%-10s %-8s %14s\n' "$model" "$version" "$(per_call "$model" "$version" exchange)"
    done
done
