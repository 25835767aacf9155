#!/usr/bin/env bash
# fmirun's cost per step against the bare FMI calls it makes (set the inputs,
# step, get the outputs), on each model's demonstration: the time per
# step (fastest of seven interleaved runs) and the instructions per step under
# valgrind's callgrind, with the rows written to a file and with none written
# (--summary-only); then the same with the inputs from a two-row input file,
# at 1 ms steps (4000 over the 4 s), the common case. See
# docs/performance.md.
#
#   scripts/fmirun-cost.sh [steps]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

steps=${1:-40000}
cmake --preset host >/dev/null
cmake --build --preset host --target fmirun_cost >/dev/null
cost=build/host/bench/fmirun_cost
# The models of the build, one identifier a line (written when it is configured).
mapfile -t models <build/host/models.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The instructions counted inside `function` and what it calls; `inputs` is
# "file" for a two-row input file, empty for the scenario.
inputs=
instructions() {
    local model=$1 subject=$2 function=$3 steps=$4 out=$work/callgrind.out
    valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect="$function" "$cost" "$model" "$subject" "$steps" $inputs \
        >/dev/null 2>"$work/valgrind.log" || {
        cat "$work/valgrind.log" >&2
        exit 1
    }
    sed -n 's/^summary: *\([0-9]*\).*/\1/p;s/^totals: *\([0-9]*\).*/\1/p' "$out" | head -1
}

# Per step: a run of `steps` steps less a run of one, over steps - 1, so that
# what a run does once (initialization, the header) does not count.
per_step() {
    local model=$1 subject=$2 function=$3 once many
    once=$(instructions "$model" "$subject" "$function" 1)
    many=$(instructions "$model" "$subject" "$function" "$steps")
    awk -v once="$once" -v many="$many" -v steps="$steps" \
        'BEGIN { printf "%.0f", (many - once) / (steps - 1) }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

count_all() {
    printf '\n%-9s %18s %18s %9s %18s %9s\n' model "bare (instr)" "rows (instr)" ratio \
        "summary (instr)" ratio
    for model in "${models[@]}"; do
        bare=$(per_step "$model" bare countedBare)
        rows=$(per_step "$model" rows countedRun)
        summary=$(per_step "$model" summary countedRun)
        printf '%-9s %18s %18s %8sx %18s %8sx\n' "$model" "$bare" "$rows" \
            "$(ratio "$rows" "$bare")" "$summary" "$(ratio "$summary" "$bare")"
    done
}

echo "fmirun against the bare calls, per step, $steps steps over each model's scenario"
count_all
scenario_steps=$steps
echo
echo "The same with the inputs from a two-row input file, 4000 steps of 1 ms"
inputs=file
steps=4000
count_all
inputs=
steps=$scenario_steps

printf '\n%-9s %18s %18s %9s %18s %9s\n' model "bare (ns)" "rows (ns)" ratio "summary (ns)" ratio
for model in "${models[@]}"; do
    read -r _ bare rows summary < <("$cost" "$model" time "$steps")
    printf '%-9s %18s %18s %8sx %18s %8sx\n' "$model" "$bare" "$rows" "$(ratio "$rows" "$bare")" \
        "$summary" "$(ratio "$summary" "$bare")"
done
